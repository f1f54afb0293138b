// The host layer's per-thread last-error code, in Windows' numbering.
#ifndef CERTINSTALL_PLATFORM_HOST_LAST_ERROR_H
#define CERTINSTALL_PLATFORM_HOST_LAST_ERROR_H

#include "platform/win32.h"

// Windows codes that the host layer reports.
const DWORD kErrorFileNotFound = 2;
const DWORD kErrorPathNotFound = 3;
const DWORD kErrorAccessDenied = 5;
const DWORD kErrorInvalidHandle = 6;
const DWORD kErrorNotEnoughMemory = 8;
const DWORD kErrorGenFailure = 31;
const DWORD kErrorDiskFull = 112;
const DWORD kErrorCallNotImplemented = 120;
const DWORD kErrorModNotFound = 126;
const DWORD kErrorFilenameExcedRange = 206;
const DWORD kErrorResourceTypeNotFound = 1813;
const DWORD kErrorResourceNameNotFound = 1814;
const DWORD kErrorInvalidArgument = 0x80070057;   // E_INVALIDARG
const DWORD kCryptErrorAsn1EndOfData = 0x80093102;  // CRYPT_E_ASN1_EOD
const DWORD kCryptErrorAsn1Corrupt = 0x80093103;    // CRYPT_E_ASN1_CORRUPT
const DWORD kCryptErrorAsn1BadTag = 0x8009310B;     // CRYPT_E_ASN1_BADTAG

void setLastError(DWORD code);

// The Windows code closest to a failed file-system call's errno.
DWORD windowsErrorFromErrno(int error);

#endif
