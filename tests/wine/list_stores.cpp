// Test tool: shows what the current user's ROOT and CA stores hold, through
// the same certificate API that the installer uses, and marks a stored
// certificate with a friendly name so that a later run can be seen to keep it.
//
//   list_stores
//       one line per certificate: <store> TAB <SHA-1, upper-case hex> TAB
//       <friendly name, UTF-8>; "<store> TAB absent" for a store that does
//       not exist. Exit status 0, or 2 when a store cannot be read.
//   list_stores set-friendly-name <store> <thumbprint> <name>
//       exit status 0, 1 when the certificate is not in the store, 2 on any
//       other failure.
//
// Stores are opened with CERT_STORE_OPEN_EXISTING_FLAG, so that looking never
// creates a store: a store that the installer has not touched stays absent.

#define UNICODE
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const wchar_t* const kStores[] = {L"ROOT", L"CA"};

std::string toUtf8(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), NULL, 0, NULL, NULL);
  std::string narrow(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0], size, NULL, NULL);
  return narrow;
}

// Command-line arguments arrive in the ANSI code page, as the installer's do.
std::wstring fromAnsi(const char* narrow) {
  const int size = MultiByteToWideChar(CP_ACP, 0, narrow, -1, NULL, 0);
  std::wstring wide(size > 0 ? size - 1 : 0, L'\0');
  if (size > 1) {
    MultiByteToWideChar(CP_ACP, 0, narrow, -1, &wide[0], size);
  }
  return wide;
}

HCERTSTORE openStore(const std::wstring& name, DWORD extraFlags) {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                       CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG | extraFlags,
                       name.c_str());
}

std::string thumbprint(PCCERT_CONTEXT context) {
  BYTE hash[20];
  DWORD size = sizeof hash;
  if (!CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
    return "?";
  }
  std::string hex;
  char digits[3];
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", hash[i]);
    hex += digits;
  }
  return hex;
}

std::wstring friendlyName(PCCERT_CONTEXT context) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, NULL, &size) || size < sizeof(wchar_t)) {
    return std::wstring();
  }
  std::vector<wchar_t> name(size / sizeof(wchar_t) + 1, L'\0');
  if (!CertGetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, name.data(), &size)) {
    return std::wstring();
  }
  return std::wstring(name.data());
}

int listStores() {
  for (const wchar_t* name : kStores) {
    const std::string storeName = toUtf8(name);
    HCERTSTORE store = openStore(name, CERT_STORE_READONLY_FLAG);
    if (store == NULL) {
      const DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND) {
        std::printf("%s\tabsent\n", storeName.c_str());
        continue;
      }
      std::fprintf(stderr, "cannot open %s: error %lu\n", storeName.c_str(), error);
      return 2;
    }
    PCCERT_CONTEXT context = NULL;
    while ((context = CertEnumCertificatesInStore(store, context)) != NULL) {
      std::printf("%s\t%s\t%s\n", storeName.c_str(), thumbprint(context).c_str(), toUtf8(friendlyName(context)).c_str());
    }
    CertCloseStore(store, 0);
  }
  return 0;
}

bool parseThumbprint(const char* text, BYTE (&hash)[20]) {
  if (std::strlen(text) != 40) {
    return false;
  }
  for (int i = 0; i < 20; ++i) {
    unsigned int byte;
    if (std::sscanf(text + 2 * i, "%2x", &byte) != 1) {
      return false;
    }
    hash[i] = static_cast<BYTE>(byte);
  }
  return true;
}

int setFriendlyName(const char* storeName, const char* thumbprintText, const char* name) {
  BYTE hash[20];
  if (!parseThumbprint(thumbprintText, hash)) {
    std::fprintf(stderr, "not a SHA-1 thumbprint: %s\n", thumbprintText);
    return 2;
  }
  HCERTSTORE store = openStore(fromAnsi(storeName), 0);
  if (store == NULL) {
    std::fprintf(stderr, "cannot open %s: error %lu\n", storeName, GetLastError());
    return 2;
  }
  CRYPT_HASH_BLOB hashBlob = {sizeof hash, hash};
  PCCERT_CONTEXT context = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &hashBlob, NULL);
  if (context == NULL) {
    CertCloseStore(store, 0);
    std::fprintf(stderr, "%s holds no certificate %s\n", storeName, thumbprintText);
    return 1;
  }
  const std::wstring wideName = fromAnsi(name);
  CRYPT_DATA_BLOB nameBlob = {static_cast<DWORD>((wideName.size() + 1) * sizeof(wchar_t)),
                              reinterpret_cast<BYTE*>(const_cast<wchar_t*>(wideName.c_str()))};
  const BOOL set = CertSetCertificateContextProperty(context, CERT_FRIENDLY_NAME_PROP_ID, 0, &nameBlob);
  DWORD error = GetLastError();
  // Wine's crypt32 writes a changed property to the registry only when the
  // store is committed with the force flag; Windows has written it already.
  const BOOL committed = set && CertControlStore(store, CERT_STORE_CTRL_COMMIT_FORCE_FLAG, CERT_STORE_CTRL_COMMIT, NULL);
  if (set && !committed) {
    error = GetLastError();
  }
  CertFreeCertificateContext(context);
  CertCloseStore(store, 0);
  if (!committed) {
    std::fprintf(stderr, "cannot set the friendly name: error %lu\n", error);
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 1) {
    return listStores();
  }
  if (argc == 5 && std::strcmp(argv[1], "set-friendly-name") == 0) {
    return setFriendlyName(argv[2], argv[3], argv[4]);
  }
  std::fprintf(stderr, "usage: list_stores [set-friendly-name <store> <thumbprint> <name>]\n");
  return 2;
}
