// Puts one certificate into the right certificate store of the current user.
#ifndef CERTINSTALL_STORE_INSTALL_CERTIFICATE_H
#define CERTINSTALL_STORE_INSTALL_CERTIFICATE_H

#include <string>

#include "platform/win32.h"
#include "resources/certificate_bytes.h"

enum class CertType { Root = 1, Ca = 2 };

// The store's system name: "ROOT" or "CA". Throws std::runtime_error for any
// other value.
std::basic_string<WCHAR> certTypeToString(CertType type);

// Parses `bytes`, files the certificate under ROOT when its encoded issuer and
// subject names are the same bytes and under CA otherwise, and adds it to that
// store of the current user, keeping a copy that is already there. Returns 0
// when the certificate is in its store afterwards, ERROR_FUNCTION_FAILED
// (1627) on any failure, each failure reported on standard error.
int installCertificate(const CertificateBytes& bytes);

#endif
