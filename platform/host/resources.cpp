// Module resources on the host: the program's own certificates, looked up in
// the embedded table by type name (without regard to case) and integer ID.
// There is one module, the program itself, and no languages: each resource
// is stored once.
#include <cstdint>

#include "platform/host/embedded_resources.h"
#include "platform/host/last_error.h"

namespace {

// Stands for the running executable; never dereferenced.
HMODULE ownModule() {
  static char module;
  return reinterpret_cast<HMODULE>(&module);
}

WCHAR upper(WCHAR c) { return (c >= u'a' && c <= u'z') ? static_cast<WCHAR>(c - u'a' + u'A') : c; }

bool sameTypeName(LPCWSTR a, LPCWSTR b) {
  for (; *a != 0 && *b != 0; ++a, ++b) {
    if (upper(*a) != upper(*b)) {
      return false;
    }
  }
  return *a == *b;
}

// An integer identifier carries its value in the low 16 bits and nothing above.
bool isIntResource(LPCWSTR name) { return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0; }

}  // namespace

extern "C" HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName != NULL) {
    setLastError(kErrorModNotFound);
    return NULL;
  }
  return ownModule();
}

extern "C" HRSRC FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  if (hModule != ownModule()) {
    setLastError(kErrorInvalidHandle);
    return NULL;
  }
  // Only what the program uses: a named type and an integer ID.
  if (lpType == NULL || isIntResource(lpType) || !isIntResource(lpName)) {
    setLastError(kErrorResourceTypeNotFound);
    return NULL;
  }
  const DWORD id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(lpName));
  bool typeFound = false;
  for (const EmbeddedResource* r = embeddedResources; r->type != NULL; ++r) {
    if (sameTypeName(r->type, lpType)) {
      typeFound = true;
      if (r->id == id) {
        return reinterpret_cast<HRSRC>(const_cast<EmbeddedResource*>(r));
      }
    }
  }
  setLastError(typeFound ? kErrorResourceNameNotFound : kErrorResourceTypeNotFound);
  return NULL;
}

extern "C" HGLOBAL LoadResource(HMODULE hModule, HRSRC hResInfo) {
  if (hModule != ownModule() || hResInfo == NULL) {
    setLastError(kErrorInvalidHandle);
    return NULL;
  }
  return const_cast<BYTE*>(reinterpret_cast<const EmbeddedResource*>(hResInfo)->data);
}

extern "C" DWORD SizeofResource(HMODULE hModule, HRSRC hResInfo) {
  if (hModule != ownModule() || hResInfo == NULL) {
    setLastError(kErrorInvalidHandle);
    return 0;
  }
  return reinterpret_cast<const EmbeddedResource*>(hResInfo)->size;
}

// As on Windows, the loaded handle already is the address of the data.
extern "C" LPVOID LockResource(HGLOBAL hResData) { return hResData; }
