#include "store/install_certificate.h"

#include <cstddef>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace {

// A root names itself as its issuer. Comparing the bytes, not only the
// lengths, keeps an intermediate whose names merely have equal lengths out of
// the trusted roots.
CertType classify(const CERT_INFO& info) {
  const bool sameName = info.Issuer.cbData == info.Subject.cbData &&
                        (info.Issuer.cbData == 0 ||
                         std::memcmp(info.Issuer.pbData, info.Subject.pbData, info.Issuer.cbData) == 0);
  return sameName ? CertType::Root : CertType::Ca;
}

}  // namespace

std::basic_string<WCHAR> certTypeToString(CertType type) {
  switch (type) {
    case CertType::Root:
      return TEXT("ROOT");
    case CertType::Ca:
      return TEXT("CA");
  }
  throw std::runtime_error("certTypeToString(): Nieznany typ certyfikatu");
}

int installCertificate(const CertificateBytes& bytes) {
  PCCERT_CONTEXT context = CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,      // DER certificate
      bytes.empty() ? NULL : bytes.data(),          // first byte, none when empty
      static_cast<DWORD>(bytes.size()));            // byte count
  if (context == NULL) {
    // Read at once: writing to the console may change the thread's last error.
    const DWORD error = GetLastError();
    std::cerr << "Nie udało się utworzyć kontekstu certyfikatu"
              << ". Nie można zatem stwierdzić, czy certyfikat należy zainstalować w głównych, czy zaufanych certyfikatach urzędu.\n"
              << "Prawdopodobny kod błędu: " << error << std::endl;
    return ERROR_FUNCTION_FAILED;
  }
  std::cout << "Poprawnie utworzono kontekst certyfikatu" << std::endl;

  // Short names: neither string allocates, so nothing here can throw while
  // the context is held.
  char storeNameForMessages[8] = {};
  HCERTSTORE store;
  DWORD openError = 0;
  {
    // The wide name lives only as long as the open.
    const std::basic_string<WCHAR> storeName = certTypeToString(classify(*context->pCertInfo));
    for (std::size_t i = 0; i < storeName.size() && i + 1 < sizeof storeNameForMessages; ++i) {
      storeNameForMessages[i] = static_cast<char>(storeName[i]);  // "ROOT" or "CA": ASCII
    }
    store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W,         // a system store, by name
                          0,                                // no encoding needed to open
                          0,                                // default provider
                          CERT_SYSTEM_STORE_CURRENT_USER,   // the user who runs us
                          storeName.c_str());               // "ROOT" or "CA"
    if (store == NULL) {
      openError = GetLastError();
    }
  }
  if (store == NULL) {
    CertFreeCertificateContext(context);
    std::cerr << "Nie udało się otworzyć magazynu certyfikatów " << storeNameForMessages
              << ". Prawdopodobny kod błędu: " << openError << std::endl;
    return ERROR_FUNCTION_FAILED;
  }

  const BOOL added = CertAddCertificateContextToStore(store,
                                                      context,
                                                      CERT_STORE_ADD_USE_EXISTING,  // keep a copy already there
                                                      NULL);                        // no stored context wanted
  const DWORD addError = added ? 0 : GetLastError();
  CertFreeCertificateContext(context);  // the store keeps its own copy
  CertCloseStore(store, 0);             // no flags: a plain close
  if (!added) {
    std::cerr << "Nie udało się dodać certyfikatu do magazynu " << storeNameForMessages
              << ". Prawdopodobny kod błędu: " << addError << std::endl;
    return ERROR_FUNCTION_FAILED;
  }
  return 0;
}
