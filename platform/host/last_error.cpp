// The calling thread's last-error code, as kernel32 keeps it.
#include "platform/host/last_error.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = 0;
}

void setLastError(DWORD code) { lastError = code; }

extern "C" DWORD GetLastError(void) { return lastError; }

DWORD windowsErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ENOTDIR:
    case EEXIST:
    case EISDIR:
      return kErrorAccessDenied;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    default:
      return kErrorGenFailure;
  }
}
