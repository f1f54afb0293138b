// Counts the heap allocations that loadCertificateFromResources makes for each
// certificate of both distributions, over the host platform layer, and prints
// one line per certificate: id, distribution, resource size, number of
// allocations and their sizes.
//
// Every operator new of the process is counted while `counting` is set; the
// distribution is made before and the returned bytes are freed after, so the
// figures are the loader's alone.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "driver/distribution_type.h"
#include "driver/install_certificates.h"
#include "resources/load_certificate_from_resources.h"

namespace {

bool counting = false;
std::size_t allocationCount = 0;
std::size_t allocationSizes[16];  // the first ones; the count goes on past them

void* allocate(std::size_t size) {
  if (counting) {
    if (allocationCount < sizeof allocationSizes / sizeof allocationSizes[0]) {
      allocationSizes[allocationCount] = size;
    }
    ++allocationCount;
  }
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) {
    throw std::bad_alloc();
  }
  return memory;
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

void measure(const char* name, const std::array<std::uint16_t, 4>& ids) {
  const DistributionType distribution{std::string(name)};
  for (const std::uint16_t id : ids) {
    allocationCount = 0;
    std::size_t resourceSize = 0;
    {
      counting = true;
      CertificateBytes bytes = loadCertificateFromResources(id, distribution);
      counting = false;
      resourceSize = bytes.size();
    }
    std::string sizes;
    for (std::size_t i = 0; i < allocationCount && i < sizeof allocationSizes / sizeof allocationSizes[0]; ++i) {
      sizes += (i == 0 ? "" : " ") + std::to_string(allocationSizes[i]);
    }
    std::printf("%5u  %-4s  %13zu  %11zu  %s\n", static_cast<unsigned>(id), name, resourceSize, allocationCount,
                sizes.empty() ? "-" : sizes.c_str());
  }
}

}  // namespace

int main() {
  std::printf("%5s  %-4s  %13s  %11s  %s\n", "id", "dist", "size (bytes)", "allocations", "allocated (bytes)");
  measure("prod", prodCertificateIds);
  measure("test", testCertificateIds);
  return 0;
}
