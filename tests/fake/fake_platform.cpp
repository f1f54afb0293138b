// The scripted platform: records each call and answers from the script.
#include "tests/fake/fake_platform.h"

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>

namespace {

struct Resource {
  std::string type;
  DWORD id;
  std::vector<BYTE> bytes;
};

struct Context {
  CERT_CONTEXT context;  // first, so that the context's address is the object's
  CERT_INFO info;
  std::vector<BYTE> issuer;
  std::vector<BYTE> subject;
  int number;
  bool freed;
};

struct Fake {
  std::vector<std::string> calls;
  std::vector<std::unique_ptr<Resource>> resources;
  std::map<std::string, std::map<int, DWORD>> failures;
  std::map<std::string, int> callCounts;
  std::vector<std::pair<std::vector<BYTE>, std::vector<BYTE>>> nextNames;
  std::vector<std::unique_ptr<Context>> contexts;  // kept after freeing, so that a later use shows
  std::vector<FakeParse> parses;
  int stores = 0;
  bool sizeOverridden = false;
  DWORD sizeOverride = 0;
  DWORD lastError = 0;
};

Fake& fake() {
  static Fake instance;
  return instance;
}

char moduleTag;
char storeTags[64];

HMODULE fakeModule() { return reinterpret_cast<HMODULE>(&moduleTag); }

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A wide name as the log shows it: ASCII as is, anything else as \uXXXX.
std::string narrow(LPCWSTR text) {
  if (text == NULL) return "NULL";
  std::string out;
  for (; *text != 0; ++text) {
    const unsigned unit = static_cast<unsigned>(*text);
    if (unit >= 0x20 && unit < 0x7F) {
      out.push_back(static_cast<char>(unit));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", unit);
      out += escaped;
    }
  }
  return out;
}

std::string hex(ULONG_PTR value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

std::string moduleName(HMODULE module) { return module == fakeModule() ? "module" : "unknown module"; }

std::string resourceName(const void* handle) {
  for (const auto& r : fake().resources) {
    if (handle == r.get()) return "resource " + r->type + " #" + std::to_string(r->id);
    if (handle == &r->bytes) return "memory " + r->type + " #" + std::to_string(r->id);
  }
  return "unknown resource";
}

std::string contextName(PCCERT_CONTEXT context) {
  for (const auto& c : fake().contexts) {
    if (context == &c->context) return (c->freed ? "freed context " : "context ") + std::to_string(c->number);
  }
  return context == NULL ? "NULL" : "unknown context";
}

std::string storeName(HCERTSTORE store) {
  if (store >= static_cast<void*>(storeTags) && store < static_cast<void*>(storeTags + sizeof storeTags)) {
    return "store " + std::to_string(static_cast<char*>(store) - storeTags + 1);
  }
  return store == NULL ? "NULL" : "unknown store";
}

void record(const std::string& call) { fake().calls.push_back(call); }

// Counts the call and tells whether the script makes it fail.
bool scriptedFailure(const std::string& operation) {
  Fake& f = fake();
  const int number = ++f.callCounts[operation];
  const auto op = f.failures.find(operation);
  if (op == f.failures.end()) return false;
  const auto failure = op->second.find(number);
  if (failure == op->second.end()) return false;
  f.lastError = failure->second;
  return true;
}

// The resource memory handle is the address of its bytes' vector, so that an
// empty resource still has a non-null handle.
const Resource* resourceOfMemory(HGLOBAL memory) {
  for (const auto& r : fake().resources) {
    if (memory == &r->bytes) return r.get();
  }
  return NULL;
}

}  // namespace

void fakeReset() { fake() = Fake(); }

const std::vector<std::string>& fakeCalls() { return fake().calls; }

void fakeAddResource(const std::string& type, DWORD id, const std::vector<BYTE>& bytes) {
  fake().resources.push_back(std::unique_ptr<Resource>(new Resource{type, id, bytes}));
}

void fakeOverrideResourceSize(DWORD size) {
  fake().sizeOverridden = true;
  fake().sizeOverride = size;
}

void fakeFailCall(const std::string& operation, int callNumber, DWORD lastError) {
  fake().failures[operation][callNumber] = lastError;
}

void fakeNextCertificateNames(const std::vector<BYTE>& issuer, const std::vector<BYTE>& subject) {
  fake().nextNames.emplace_back(issuer, subject);
}

void fakeNoteStreamWrite() { fake().lastError = kFakeErrorAfterWrite; }

const std::vector<FakeParse>& fakeParses() { return fake().parses; }

extern "C" HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  record("GetModuleHandleW(" + narrow(lpModuleName) + ")");
  if (scriptedFailure("GetModuleHandleW")) return NULL;
  return fakeModule();
}

extern "C" HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  const ULONG_PTR name = reinterpret_cast<ULONG_PTR>(lpName);
  const std::string nameText = (name >> 16) == 0 ? "#" + std::to_string(name) : "\"" + narrow(lpName) + "\"";
  record("FindResourceW(" + moduleName(hModule) + ", " + nameText + ", \"" + narrow(lpType) + "\")");
  if (scriptedFailure("FindResourceW")) return NULL;
  for (const auto& r : fake().resources) {
    if (hModule == fakeModule() && (name >> 16) == 0 && r->id == name && upper(r->type) == upper(narrow(lpType))) {
      return reinterpret_cast<HRSRC>(r.get());
    }
  }
  fake().lastError = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND
  return NULL;
}

extern "C" HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  record("LoadResource(" + moduleName(hModule) + ", " + resourceName(hResInfo) + ")");
  if (scriptedFailure("LoadResource")) return NULL;
  return &reinterpret_cast<Resource*>(hResInfo)->bytes;
}

extern "C" DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  record("SizeofResource(" + moduleName(hModule) + ", " + resourceName(hResInfo) + ")");
  if (scriptedFailure("SizeofResource")) return 0;
  if (fake().sizeOverridden) return fake().sizeOverride;
  return static_cast<DWORD>(reinterpret_cast<Resource*>(hResInfo)->bytes.size());
}

extern "C" LPVOID LockResource(HGLOBAL hResData) {
  record("LockResource(" + resourceName(hResData) + ")");
  if (scriptedFailure("LockResource")) return NULL;
  // An empty resource still has an address, as on Windows.
  static BYTE emptyResource;
  const Resource* r = resourceOfMemory(hResData);
  if (r == NULL) return NULL;
  return r->bytes.empty() ? &emptyResource : const_cast<BYTE*>(r->bytes.data());
}

extern "C" PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                       DWORD cbCertEncoded) {
  Fake& f = fake();
  record("CertCreateCertificateContext(" + hex(dwCertEncodingType) + ", " +
         (pbCertEncoded == NULL ? "NULL" : "bytes") + ", " + std::to_string(cbCertEncoded) + ")");
  f.parses.push_back(FakeParse{pbCertEncoded, cbCertEncoded});
  if (scriptedFailure("CertCreateCertificateContext")) return NULL;

  std::unique_ptr<Context> c(new Context());
  c->issuer = {0x30, 0x01, 'I'};
  c->subject = {0x30, 0x02, 'S', 'S'};
  if (!f.nextNames.empty()) {
    c->issuer = f.nextNames.front().first;
    c->subject = f.nextNames.front().second;
    f.nextNames.erase(f.nextNames.begin());
  }
  c->info.Issuer = CERT_NAME_BLOB{static_cast<DWORD>(c->issuer.size()), c->issuer.data()};
  c->info.Subject = CERT_NAME_BLOB{static_cast<DWORD>(c->subject.size()), c->subject.data()};
  c->context.dwCertEncodingType = dwCertEncodingType;
  c->context.pCertInfo = &c->info;
  c->number = static_cast<int>(f.contexts.size()) + 1;
  f.contexts.push_back(std::move(c));
  return &f.contexts.back()->context;
}

extern "C" HCERTSTORE CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                                    DWORD dwFlags, const void* pvPara) {
  Fake& f = fake();
  record("CertOpenStore(" + std::to_string(reinterpret_cast<ULONG_PTR>(lpszStoreProvider)) + ", " +
         std::to_string(dwEncodingType) + ", " + std::to_string(hCryptProv) + ", " + hex(dwFlags) + ", \"" +
         narrow(static_cast<LPCWSTR>(pvPara)) + "\")");
  if (scriptedFailure("CertOpenStore")) return NULL;
  if (f.stores >= static_cast<int>(sizeof storeTags)) return NULL;
  return &storeTags[f.stores++];
}

extern "C" BOOL CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                                 DWORD dwAddDisposition, PCCERT_CONTEXT* ppStoreContext) {
  record("CertAddCertificateContextToStore(" + storeName(hCertStore) + ", " + contextName(pCertContext) + ", " +
         std::to_string(dwAddDisposition) + ", " + (ppStoreContext == NULL ? "NULL" : "pointer") + ")");
  if (scriptedFailure("CertAddCertificateContextToStore")) return 0;
  return 1;
}

extern "C" BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  record("CertFreeCertificateContext(" + contextName(pCertContext) + ")");
  for (const auto& c : fake().contexts) {
    if (pCertContext == &c->context) c->freed = true;  // a later use shows as "freed context N"
  }
  return 1;
}

extern "C" BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags) {
  record("CertCloseStore(" + storeName(hCertStore) + ", " + std::to_string(dwFlags) + ")");
  return 1;
}

extern "C" DWORD GetLastError(void) {
  record("GetLastError() = " + std::to_string(fake().lastError));
  return fake().lastError;
}

#if defined(_WIN32) && defined(__GNUC__)
// <windows.h> declares these operations dllimport, so the program's code
// calls them through import-table pointers (__imp_ symbols) that GNU ld takes
// from kernel32's and crypt32's import libraries. Defining the pointers here
// points them at the fake. (MSVC's linker makes them itself, warning LNK4217.)
#ifdef __i386__
#define FAKE_IMPORT(name, argumentBytes) \
  extern "C" decltype(&name) const fakeImport##name __asm__("__imp__" #name "@" #argumentBytes) = &name;
#else
#define FAKE_IMPORT(name, argumentBytes) \
  extern "C" decltype(&name) const fakeImport##name __asm__("__imp_" #name) = &name;
#endif
FAKE_IMPORT(GetModuleHandleW, 4)
FAKE_IMPORT(FindResourceW, 12)
FAKE_IMPORT(LoadResource, 8)
FAKE_IMPORT(SizeofResource, 8)
FAKE_IMPORT(LockResource, 4)
FAKE_IMPORT(CertCreateCertificateContext, 12)
FAKE_IMPORT(CertOpenStore, 20)
FAKE_IMPORT(CertAddCertificateContextToStore, 16)
FAKE_IMPORT(CertFreeCertificateContext, 4)
FAKE_IMPORT(CertCloseStore, 8)
FAKE_IMPORT(GetLastError, 0)
#endif
