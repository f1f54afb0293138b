// The program's one window onto the platform.
//
// On Windows this is the only file that includes the Windows headers. Elsewhere
// it declares stand-ins for exactly the types, constants and operations that
// the resource loader and the certificate installer use, under their Windows
// names and with their Windows values, so that the product code is the same
// text in every build. The host build supplies these operations from
// platform/host/; the unit tests link a scripted fake in their place.
#ifndef CERTINSTALL_PLATFORM_WIN32_H
#define CERTINSTALL_PLATFORM_WIN32_H

#ifdef _WIN32

#ifndef UNICODE
#define UNICODE
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <wincrypt.h>

#else

#include <cstddef>
#include <cstdint>

// Wide strings are 16-bit code units, as on Windows.
typedef char16_t WCHAR;
typedef const WCHAR* LPCWSTR;
typedef const char* LPCSTR;
#define TEXT(quote) u##quote

typedef std::uint8_t BYTE;
typedef std::uint32_t DWORD;
typedef int BOOL;
typedef void* LPVOID;
typedef std::uintptr_t ULONG_PTR;

typedef struct HINSTANCE__* HMODULE;
typedef struct HRSRC__* HRSRC;
typedef void* HGLOBAL;
typedef void* HCERTSTORE;
typedef ULONG_PTR HCRYPTPROV_LEGACY;

// An integer resource identifier: the ID in the low 16 bits of a pointer.
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<std::uint16_t>(i))))

typedef struct {
  DWORD cbData;
  BYTE* pbData;
} CERT_NAME_BLOB;

// Only the members that the installer reads.
typedef struct {
  CERT_NAME_BLOB Issuer;
  CERT_NAME_BLOB Subject;
} CERT_INFO, *PCERT_INFO;

typedef struct {
  DWORD dwCertEncodingType;
  BYTE* pbCertEncoded;
  DWORD cbCertEncoded;
  PCERT_INFO pCertInfo;
  HCERTSTORE hCertStore;
} CERT_CONTEXT;
typedef const CERT_CONTEXT* PCCERT_CONTEXT;

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000
#define CERT_STORE_PROV_SYSTEM_W (reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(10)))
#define CERT_SYSTEM_STORE_CURRENT_USER 0x00010000
#define CERT_STORE_ADD_USE_EXISTING 2

#define ERROR_FUNCTION_FAILED 1627

extern "C" {
// kernel32: the program's own resources.
HMODULE GetModuleHandleW(LPCWSTR lpModuleName);
HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo);
DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo);
LPVOID LockResource(HGLOBAL hResData);

// crypt32: parsing a certificate and adding it to a store.
PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded, DWORD cbCertEncoded);
HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv, DWORD dwFlags, const void* pvPara);
BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext);
BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext);
BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags);

// kernel32: the calling thread's last-error code.
DWORD GetLastError(void);
}

#endif  // _WIN32

#endif  // CERTINSTALL_PLATFORM_WIN32_H
