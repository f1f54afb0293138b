// Certificate contexts on the host: DER parsed by OpenSSL's libcrypto, as
// strictly as crypt32 parses it. A context owns a copy of the encoded
// certificate and of its encoded issuer and subject names.
#include <openssl/x509.h>

#include <cstring>
#include <new>

#include "platform/host/last_error.h"

namespace {

struct HostCertificate {
  CERT_CONTEXT context;  // first, so that the context's address is the object's
  CERT_INFO info;
  BYTE* storage;  // encoded certificate, then issuer, then subject
};

// Why bytes that are not one DER certificate were refused, in crypt32's
// terms: no data, not a SEQUENCE (text, PEM armour), fewer bytes than the
// outer header declares, or anything else wrong inside.
DWORD parseError(const BYTE* bytes, DWORD size) {
  if (size == 0) {
    return kCryptErrorAsn1EndOfData;
  }
  if (bytes[0] != 0x30) {
    return kCryptErrorAsn1BadTag;
  }
  if (size < 2) {
    return kCryptErrorAsn1EndOfData;
  }
  DWORD declared = 0;
  DWORD header = 2;
  if (bytes[1] < 0x80) {
    declared = bytes[1];
  } else {
    const DWORD lengthBytes = bytes[1] & 0x7F;
    if (lengthBytes == 0 || lengthBytes > 4) {
      return kCryptErrorAsn1Corrupt;
    }
    if (size < 2 + lengthBytes) {
      return kCryptErrorAsn1EndOfData;
    }
    for (DWORD i = 0; i < lengthBytes; ++i) {
      declared = (declared << 8) | bytes[2 + i];
    }
    header += lengthBytes;
  }
  if (declared > size - header) {
    return kCryptErrorAsn1EndOfData;
  }
  return kCryptErrorAsn1Corrupt;
}

// The encoding of `name` as it stood in the certificate: OpenSSL keeps the
// bytes that it decoded.
int encodedName(const X509_NAME* name, const unsigned char** bytes, size_t* length) {
  return X509_NAME_get0_der(name, bytes, length);
}

// Parses exactly `size` bytes as one certificate, refusing anything that does
// not re-encode to the same bytes (BER length forms, trailing data).
X509* parseStrictDer(const BYTE* bytes, DWORD size) {
  const unsigned char* cursor = bytes;
  X509* certificate = d2i_X509(NULL, &cursor, static_cast<long>(size));
  if (certificate == NULL) {
    return NULL;
  }
  unsigned char* reencoded = NULL;
  const int reencodedSize = i2d_X509(certificate, &reencoded);
  const bool exact = cursor == bytes + size && reencodedSize == static_cast<int>(size) &&
                     std::memcmp(reencoded, bytes, size) == 0;
  OPENSSL_free(reencoded);
  if (!exact) {
    X509_free(certificate);
    return NULL;
  }
  return certificate;
}

}  // namespace

extern "C" PCCERT_CONTEXT CertCreateCertificateContext(DWORD dwCertEncodingType, const BYTE* pbCertEncoded,
                                                       DWORD cbCertEncoded) {
  if ((dwCertEncodingType & X509_ASN_ENCODING) == 0) {
    setLastError(kErrorInvalidArgument);
    return NULL;
  }
  if (pbCertEncoded == NULL && cbCertEncoded != 0) {
    setLastError(kErrorInvalidArgument);
    return NULL;
  }
  X509* certificate = pbCertEncoded == NULL ? NULL : parseStrictDer(pbCertEncoded, cbCertEncoded);
  if (certificate == NULL) {
    setLastError(parseError(pbCertEncoded, cbCertEncoded));
    return NULL;
  }

  const unsigned char* issuer = NULL;
  const unsigned char* subject = NULL;
  size_t issuerSize = 0;
  size_t subjectSize = 0;
  if (!encodedName(X509_get_issuer_name(certificate), &issuer, &issuerSize) ||
      !encodedName(X509_get_subject_name(certificate), &subject, &subjectSize)) {
    X509_free(certificate);
    setLastError(kCryptErrorAsn1Corrupt);
    return NULL;
  }

  HostCertificate* host = new (std::nothrow) HostCertificate();
  BYTE* storage = new (std::nothrow) BYTE[cbCertEncoded + issuerSize + subjectSize];
  if (host == NULL || storage == NULL) {
    delete host;
    delete[] storage;
    X509_free(certificate);
    setLastError(kErrorNotEnoughMemory);
    return NULL;
  }
  std::memcpy(storage, pbCertEncoded, cbCertEncoded);
  std::memcpy(storage + cbCertEncoded, issuer, issuerSize);
  std::memcpy(storage + cbCertEncoded + issuerSize, subject, subjectSize);
  X509_free(certificate);

  host->storage = storage;
  host->info.Issuer.cbData = static_cast<DWORD>(issuerSize);
  host->info.Issuer.pbData = storage + cbCertEncoded;
  host->info.Subject.cbData = static_cast<DWORD>(subjectSize);
  host->info.Subject.pbData = storage + cbCertEncoded + issuerSize;
  host->context.dwCertEncodingType = dwCertEncodingType;
  host->context.pbCertEncoded = storage;
  host->context.cbCertEncoded = cbCertEncoded;
  host->context.pCertInfo = &host->info;
  host->context.hCertStore = NULL;
  return &host->context;
}

extern "C" BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (pCertContext != NULL) {
    const HostCertificate* host = reinterpret_cast<const HostCertificate*>(pCertContext);
    delete[] host->storage;
    delete host;
  }
  return 1;
}
