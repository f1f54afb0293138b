// certinstall: installs the certification authorities of one distribution,
// carried inside this executable, into the current user's ROOT and CA stores.
//
//   certinstall prod|test
//
// Exit status 0: every certificate of the distribution is in its store.
// Exit status 1: anything else (wrong arguments, a certificate missing from
// the executable, or one that could not be parsed or added).

#include <exception>
#include <iostream>

#include "driver/install_certificates.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::cerr << "Niepoprawna liczba argumentów dla programu instalującego certyfikaty." << std::endl;
    return 1;
  }
  try {
    return installCertificates(argv[1]);
  } catch (const std::exception& e) {
    // An unknown distribution, or memory exhausted before the first
    // certificate: reported plainly, with no abort and no crash report.
    std::cerr << e.what() << std::endl;
    return 1;
  }
}
