// The loader and the installer over the real platform: the host layer in the
// host build, kernel32 and crypt32 (under Wine here) in the Windows build.
// Installing changes the current user's stores, so the host build points
// them at a temporary directory and the Windows build runs in a throwaway
// prefix.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "resources/load_certificate_from_resources.h"
#include "store/install_certificate.h"
#include "tests/support/captured_streams.h"
#include "tests/support/case_name.h"

namespace {

std::vector<BYTE> readFile(const std::string& path) {
  std::vector<BYTE> bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    BYTE buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
  }
  return bytes;
}

std::vector<BYTE> certificateFile(int id) {
  return readFile(std::string(CERTINSTALL_TEST_CERTIFICATE_DIR) + "/" + std::to_string(id) + ".der");
}

DistributionType distributionWithText(const char* distribution, std::basic_string<WCHAR> typeName) {
  DistributionType d(distribution);
  d.text = typeName;
  return d;
}

struct Lookup {
  const char* name;
  const char* distribution;
  std::basic_string<WCHAR> typeName;
  int id;
};
void PrintTo(const Lookup& c, std::ostream* os) { *os << c.name; }

class LoaderFinds : public testing::TestWithParam<Lookup> {};

TEST_P(LoaderFinds, TheStoredBytesWhateverTheCaseOfTheTypeName) {
  const Lookup& l = GetParam();
  const std::vector<BYTE> expected = certificateFile(l.id);
  ASSERT_FALSE(expected.empty()) << "cannot read the certificate file of " << l.id;
  const CertificateBytes bytes = loadCertificateFromResources(static_cast<std::uint16_t>(l.id),
                                                              distributionWithText(l.distribution, l.typeName));
  EXPECT_EQ(bytes, expected);
  EXPECT_EQ(bytes.capacity(), expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Resources, LoaderFinds,
    testing::Values(Lookup{"ProdLowerCase", "prod", TEXT("prod"), 104}, Lookup{"ProdUpperCase", "prod", TEXT("PROD"), 104},
                    Lookup{"ProdCapitalInitial", "prod", TEXT("Prod"), 101},
                    Lookup{"TestLowerCase", "test", TEXT("test"), 107}, Lookup{"TestLastId", "test", TEXT("test"), 108}),
    CaseName());

class LoaderMisses : public testing::TestWithParam<Lookup> {};

TEST_P(LoaderMisses, WithTheResourceMessage) {
  const Lookup& l = GetParam();
  try {
    loadCertificateFromResources(static_cast<std::uint16_t>(l.id), distributionWithText(l.distribution, l.typeName));
    FAIL() << "found resource " << l.id;
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "loadCertificateFromResources(): hResource == NULL");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Resources, LoaderMisses,
    testing::Values(Lookup{"TestIdUnderProd", "prod", TEXT("prod"), 105}, Lookup{"ProdIdUnderTest", "test", TEXT("test"), 101},
                    Lookup{"BelowTheIds", "prod", TEXT("prod"), 100}, Lookup{"AboveTheIds", "test", TEXT("test"), 109},
                    Lookup{"ManifestIdUnderProd", "prod", TEXT("prod"), 1},
                    Lookup{"OtherTypeName", "prod", TEXT("prodx"), 101}),
    CaseName());

const std::string kParseFailure =
    "Nie udało się utworzyć kontekstu certyfikatu. Nie można zatem stwierdzić, czy certyfikat należy "
    "zainstalować w głównych, czy zaufanych certyfikatach urzędu.\nPrawdopodobny kod błędu: ";

struct Malformed {
  const char* name;
  std::vector<BYTE> bytes;
  const char* code;  // crypt32's code, written unsigned
};
void PrintTo(const Malformed& c, std::ostream* os) { *os << c.name; }

std::vector<BYTE> text(const std::string& s) { return std::vector<BYTE>(s.begin(), s.end()); }

std::vector<BYTE> truncated(int id, std::size_t size) {
  std::vector<BYTE> bytes = certificateFile(id);
  bytes.resize(size);
  return bytes;
}

class InstallerRefuses : public testing::TestWithParam<Malformed> {};

TEST_P(InstallerRefuses, BytesThatAreNotACertificate) {
  CapturedStreams streams;
  EXPECT_EQ(installCertificate(GetParam().bytes), 1627);
  EXPECT_EQ(streams.out.text, "");
  EXPECT_EQ(streams.err.text, kParseFailure + GetParam().code + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, InstallerRefuses,
    testing::Values(Malformed{"Empty", {}, "2148086018"},                          // CRYPT_E_ASN1_EOD
                    Malformed{"Text", text("certyfikat"), "2148086027"},           // CRYPT_E_ASN1_BADTAG
                    Malformed{"Pem", text("-----BEGIN CERTIFICATE-----\nMIIF"), "2148086027"},
                    Malformed{"TruncatedHeader", truncated(104, 100), "2148086018"}),
    CaseName());

TEST(Installer, AddsACertificateAndKeepsItOnASecondAdd) {
  const std::vector<BYTE> root = certificateFile(107);
  ASSERT_FALSE(root.empty());
  for (int attempt = 0; attempt < 2; ++attempt) {
    CapturedStreams streams;
    EXPECT_EQ(installCertificate(root), 0) << "attempt " << attempt;
    EXPECT_EQ(streams.out.text, "Poprawnie utworzono kontekst certyfikatu\n");
    EXPECT_EQ(streams.err.text, "");
  }
}

}  // namespace
