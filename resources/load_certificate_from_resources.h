// Copies one certificate out of the program's own resources.
#ifndef CERTINSTALL_RESOURCES_LOAD_CERTIFICATE_FROM_RESOURCES_H
#define CERTINSTALL_RESOURCES_LOAD_CERTIFICATE_FROM_RESOURCES_H

#include <cstdint>

#include "driver/distribution_type.h"
#include "resources/certificate_bytes.h"

// Returns the bytes of the resource whose type name is the distribution's text
// (matched without regard to case) and whose integer ID is `id`, in whatever
// language it is stored. Throws std::runtime_error naming the platform value
// that came back null; allocation failures pass through.
CertificateBytes loadCertificateFromResources(std::uint16_t id, const DistributionType& distribution);

#endif
