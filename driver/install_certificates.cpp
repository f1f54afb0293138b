#include "driver/install_certificates.h"

#include <exception>
#include <iostream>
#include <string>

#include "driver/distribution_type.h"
#include "resources/load_certificate_from_resources.h"
#include "store/install_certificate.h"

const std::array<std::uint16_t, 4> prodCertificateIds = {101, 102, 103, 104};
const std::array<std::uint16_t, 4> testCertificateIds = {105, 106, 107, 108};

int installCertificates(const char* argument) {
  // Outside the handler below: an unknown distribution ends the run before
  // any resource is read.
  const DistributionType distribution(std::string{argument});

  const std::array<std::uint16_t, 4>& ids =
      distribution.kind == DistributionType::Prod ? prodCertificateIds : testCertificateIds;

  bool everyCertificateInstalled = true;
  for (const std::uint16_t id : ids) {
    try {
      std::cout << "Wczytuję certyfikat z zasobów, ID: " << id << "..." << std::endl;
      const CertificateBytes bytes = loadCertificateFromResources(id, distribution);
      // The run goes on after a certificate that could not be installed; the
      // exit status still tells deployment tools that one is missing.
      if (installCertificate(bytes) != 0) {
        everyCertificateInstalled = false;
      }
    } catch (const std::exception& e) {
      std::cerr << "Podczas próby instalacji o ID: " << id << " wystąpił błąd: " << e.what() << std::endl;
      return 1;
    }
  }
  return everyCertificateInstalled ? 0 : 1;
}
