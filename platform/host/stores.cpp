// The current user's system stores on the host: one directory per store,
// $XDG_DATA_HOME/certinstall/stores/<NAME>/ (~/.local/share when
// XDG_DATA_HOME is unset), one file per certificate named by its upper-case
// SHA-1 thumbprint plus ".der", holding exactly its bytes.
#include <fcntl.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "platform/host/last_error.h"

namespace {

struct HostStore {
  std::string directory;
};

// Absolute paths only: a relative XDG_DATA_HOME is to be ignored.
bool dataHome(std::string* path) {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != NULL && xdg[0] == '/') {
    *path = xdg;
    return true;
  }
  const char* home = std::getenv("HOME");
  if (home != NULL && home[0] == '/') {
    *path = std::string(home) + "/.local/share";
    return true;
  }
  return false;
}

// Store names are case-insensitive, as on Windows; only letters, digits and
// '_' are accepted so that a name can never leave the stores directory.
bool storeDirectoryName(LPCWSTR name, std::string* directoryName) {
  directoryName->clear();
  for (; *name != 0; ++name) {
    const WCHAR c = *name;
    if (c >= u'a' && c <= u'z') {
      directoryName->push_back(static_cast<char>(c - u'a' + 'A'));
    } else if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_') {
      directoryName->push_back(static_cast<char>(c));
    } else {
      return false;
    }
  }
  return !directoryName->empty();
}

// mkdir -p; returns 0 or the errno of the step that failed.
int makeDirectories(const std::string& path) {
  for (std::string::size_type slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      return errno;
    }
    struct stat status;
    if (stat(prefix.c_str(), &status) != 0) {
      return errno;
    }
    if (!S_ISDIR(status.st_mode)) {
      return ENOTDIR;
    }
    if (slash == std::string::npos) {
      return 0;
    }
  }
}

std::string thumbprint(const BYTE* bytes, DWORD size) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(bytes, size, digest);
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char b : digest) {
    text.push_back(hex[b >> 4]);
    text.push_back(hex[b & 0x0F]);
  }
  return text;
}

bool writeAll(int fd, const BYTE* bytes, DWORD size) {
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes += written;
    size -= static_cast<DWORD>(written);
  }
  return true;
}

// Writes the file under a temporary name and links it into place, so that
// the store never holds a partly written certificate and a file that appears
// meanwhile is kept, not replaced. Returns 0, EEXIST when a file was there
// first, or the errno of the step that failed.
int writeAtomically(const std::string& directory, const std::string& path, const BYTE* bytes, DWORD size) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(&temporary[0]);
  if (fd < 0) {
    return errno;
  }
  int error = 0;
  if (!writeAll(fd, bytes, size) || fsync(fd) != 0) {
    error = errno;
  }
  if (close(fd) != 0 && error == 0) {
    error = errno;
  }
  if (error == 0 && link(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  unlink(temporary.c_str());
  if (error == 0) {
    // Make the new name itself survive a crash.
    const int directoryFd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
    if (directoryFd >= 0) {
      fsync(directoryFd);
      close(directoryFd);
    }
  }
  return error;
}

}  // namespace

// Neither call lets an exception out: a C interface, like the one it stands in for.
extern "C" HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                                    DWORD dwFlags, const void* pvPara) try {
  (void)dwEncodingType;  // not needed to open a system store
  (void)hCryptProv;
  if (lpszStoreProvider != CERT_STORE_PROV_SYSTEM_W) {
    setLastError(kErrorCallNotImplemented);
    return NULL;
  }
  std::string name;
  if (dwFlags != CERT_SYSTEM_STORE_CURRENT_USER || pvPara == NULL ||
      !storeDirectoryName(static_cast<LPCWSTR>(pvPara), &name)) {
    setLastError(kErrorInvalidArgument);
    return NULL;
  }
  std::string home;
  if (!dataHome(&home)) {
    setLastError(kErrorPathNotFound);
    return NULL;
  }
  std::unique_ptr<HostStore> store(new HostStore());
  store->directory = home + "/certinstall/stores/" + name;
  if (const int error = makeDirectories(store->directory)) {
    setLastError(windowsErrorFromErrno(error));
    return NULL;
  }
  if (access(store->directory.c_str(), W_OK | X_OK) != 0) {
    setLastError(windowsErrorFromErrno(errno));
    return NULL;
  }
  return store.release();
} catch (const std::bad_alloc&) {
  setLastError(kErrorNotEnoughMemory);
  return NULL;
}

extern "C" BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                 DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) try {
  // Only what the program asks for: keep a copy that is already there.
  if (hCertStore == NULL || pCertContext == NULL || dwAddDisposition != CERT_STORE_ADD_USE_EXISTING ||
      ppStoreContext != NULL) {
    setLastError(kErrorInvalidArgument);
    return 0;
  }
  const HostStore* store = static_cast<const HostStore*>(hCertStore);
  const std::string path =
      store->directory + "/" + thumbprint(pCertContext->pbCertEncoded, pCertContext->cbCertEncoded) + ".der";

  // A certificate file already there is kept as it is; anything else in its
  // place (a directory, a link) means the store cannot take it.
  struct stat status;
  if (lstat(path.c_str(), &status) == 0) {
    if (S_ISREG(status.st_mode)) {
      return 1;
    }
    setLastError(kErrorAccessDenied);
    return 0;
  }
  if (errno != ENOENT) {
    setLastError(windowsErrorFromErrno(errno));
    return 0;
  }
  const int error =
      writeAtomically(store->directory, path, pCertContext->pbCertEncoded, pCertContext->cbCertEncoded);
  if (error == EEXIST && lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    return 1;  // written by someone else meanwhile
  }
  if (error != 0) {
    setLastError(windowsErrorFromErrno(error));
    return 0;
  }
  return 1;
} catch (const std::bad_alloc&) {
  setLastError(kErrorNotEnoughMemory);
  return 0;
}

extern "C" BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  (void)dwFlags;
  delete static_cast<HostStore*>(hCertStore);
  return 1;
}
