// One certificate exactly as the program carries it: DER bytes, unchanged.
#ifndef CERTINSTALL_RESOURCES_CERTIFICATE_BYTES_H
#define CERTINSTALL_RESOURCES_CERTIFICATE_BYTES_H

#include <vector>

#include "platform/win32.h"

typedef std::vector<BYTE> CertificateBytes;

#endif
