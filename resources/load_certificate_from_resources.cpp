#include "resources/load_certificate_from_resources.h"

#include <cstring>
#include <stdexcept>

#include "platform/win32.h"

namespace {
const DWORD kMaxCertificateSize = 2147483647;
}

CertificateBytes loadCertificateFromResources(std::uint16_t id, const DistributionType& distribution) {
  // No name: the executable of the running process, which holds the resources.
  HMODULE hModule = GetModuleHandleW(NULL);

  HRSRC hResource;
  {
    // The type name lives only as long as the lookup.
    const std::basic_string<WCHAR> typeName = distribution.text;
    hResource = FindResourceW(hModule,                 // the program itself
                              MAKEINTRESOURCEW(id),    // integer ID, no name string
                              typeName.c_str());       // "prod"/"test"; case is ignored
  }
  if (hResource == NULL) {
    throw std::runtime_error("loadCertificateFromResources(): hResource == NULL");
  }

  HGLOBAL hMemory = LoadResource(hModule,     // the module that holds it
                                 hResource);  // the resource found above
  if (hMemory == NULL) {
    throw std::runtime_error("loadCertificateFromResources(): hMemory == NULL");
  }

  // Taken before the lock; a size of 0 is an empty resource, not a failure.
  const DWORD size = SizeofResource(hModule, hResource);  // bytes of the resource's data

  const void* lpAddress = LockResource(hMemory);  // address of its first byte, read only
  if (lpAddress == NULL) {
    throw std::runtime_error("loadCertificateFromResources(): lpAddress == NULL");
  }

  // The most that a byte vector holds on the 32-bit target; checked here so
  // that every build refuses the same sizes.
  if (size > kMaxCertificateSize) {
    throw std::length_error("loadCertificateFromResources(): size > 2147483647");
  }

  // One allocation of exactly the resource's size, then one copy. The
  // resource handles belong to the executable's image and are never released.
  CertificateBytes bytes;
  if (size != 0) {
    bytes.resize(size);
    std::memcpy(bytes.data(), lpAddress, size);
  }
  return bytes;
}
