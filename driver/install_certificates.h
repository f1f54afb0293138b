// The install run: one distribution's certificates, in order, into their stores.
#ifndef CERTINSTALL_DRIVER_INSTALL_CERTIFICATES_H
#define CERTINSTALL_DRIVER_INSTALL_CERTIFICATES_H

#include <array>
#include <cstdint>

// Resource IDs in the order of installation.
extern const std::array<std::uint16_t, 4> prodCertificateIds;
extern const std::array<std::uint16_t, 4> testCertificateIds;

// Installs the distribution that `argument` names and returns the exit status:
// 0 when every certificate is in its store, 1 otherwise. An unrecognised
// argument throws std::runtime_error before any certificate is touched.
int installCertificates(const char* argument);

#endif
