// What the host layer promises beyond the installer's contract: where the
// stores live, what a stored certificate looks like, and how strictly bytes
// are parsed. Every test runs against a fresh XDG_DATA_HOME.
#include <dirent.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "store/install_certificate.h"
#include "tests/platform/temporary_data_home.h"
#include "tests/support/captured_streams.h"
#include "tests/support/case_name.h"

namespace {

std::vector<BYTE> readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

std::vector<BYTE> certificateFile(int id) {
  return readFile(std::string(CERTINSTALL_TEST_CERTIFICATE_DIR) + "/" + std::to_string(id) + ".der");
}

std::string thumbprint(const std::vector<BYTE>& bytes) {
  unsigned char digest[SHA_DIGEST_LENGTH];
  SHA1(bytes.data(), bytes.size(), digest);
  std::string hex;
  char digits[3];
  for (unsigned char b : digest) {
    std::snprintf(digits, sizeof digits, "%02X", b);
    hex += digits;
  }
  return hex;
}

std::set<std::string> listDirectory(const std::string& path) {
  std::set<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    closedir(dir);
  }
  return names;
}

void makeDirectories(const std::string& path) {
  for (std::string::size_type slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0777);
  }
  mkdir(path.c_str(), 0777);
}

class HostLayer : public testing::Test {
 protected:
  void SetUp() override {
    dataHome.reset(new TemporaryDataHome());
    root = dataHome->path();
    stores = root + "/certinstall/stores";
  }
  void TearDown() override { dataHome.reset(); }

  std::unique_ptr<TemporaryDataHome> dataHome;
  std::string root;
  std::string stores;
};

TEST_F(HostLayer, StoresEachCertificateByThumbprintInItsStore) {
  const std::vector<BYTE> rootCertificate = certificateFile(104);
  const std::vector<BYTE> intermediate = certificateFile(101);
  CapturedStreams streams;
  ASSERT_EQ(installCertificate(rootCertificate), 0);
  ASSERT_EQ(installCertificate(intermediate), 0);

  EXPECT_EQ(listDirectory(stores), (std::set<std::string>{"ROOT", "CA"}));
  EXPECT_EQ(listDirectory(stores + "/ROOT"), std::set<std::string>{thumbprint(rootCertificate) + ".der"});
  EXPECT_EQ(listDirectory(stores + "/CA"), std::set<std::string>{thumbprint(intermediate) + ".der"});
  EXPECT_EQ(readFile(stores + "/ROOT/" + thumbprint(rootCertificate) + ".der"), rootCertificate);
  EXPECT_EQ(readFile(stores + "/CA/" + thumbprint(intermediate) + ".der"), intermediate);
}

TEST_F(HostLayer, KeepsAFileThatIsAlreadyThere) {
  const std::vector<BYTE> certificate = certificateFile(107);
  const std::string path = stores + "/ROOT/" + thumbprint(certificate) + ".der";
  makeDirectories(stores + "/ROOT");
  writeFile(path, "kept as it is");

  CapturedStreams streams;
  EXPECT_EQ(installCertificate(certificate), 0);
  const std::vector<BYTE> kept = readFile(path);
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "kept as it is");
  EXPECT_EQ(listDirectory(stores + "/ROOT").size(), 1u);
}

TEST_F(HostLayer, StoreBlockedByAFileCannotBeOpened) {
  makeDirectories(stores);
  writeFile(stores + "/CA", "not a directory");

  CapturedStreams streams;
  EXPECT_EQ(installCertificate(certificateFile(105)), 1627);
  EXPECT_EQ(streams.out.text, "Poprawnie utworzono kontekst certyfikatu\n");
  EXPECT_EQ(streams.err.text, "Nie udało się otworzyć magazynu certyfikatów CA. Prawdopodobny kod błędu: 5\n");
}

// Only a certificate file counts as the copy already there.
TEST_F(HostLayer, CertificateBlockedByADirectoryIsNotAdded) {
  const std::vector<BYTE> certificate = certificateFile(106);
  makeDirectories(stores + "/CA/" + thumbprint(certificate) + ".der");
  CapturedStreams streams;
  EXPECT_EQ(installCertificate(certificate), 1627);
  EXPECT_EQ(streams.err.text, "Nie udało się dodać certyfikatu do magazynu CA. Prawdopodobny kod błędu: 5\n");
}

TEST_F(HostLayer, NoTemporaryFileIsLeftBehind) {
  const std::vector<BYTE> certificate = certificateFile(108);
  CapturedStreams streams;
  ASSERT_EQ(installCertificate(certificate), 0);
  EXPECT_EQ(listDirectory(stores + "/CA"), std::set<std::string>{thumbprint(certificate) + ".der"});
}

struct Fixture {
  const char* name;
  const char* file;
  const char* store;
};
void PrintTo(const Fixture& c, std::ostream* os) { *os << c.name; }

class HostLayerFiles : public HostLayer, public testing::WithParamInterface<Fixture> {};

// The store follows from the names alone: not the extensions, not the dates.
TEST_P(HostLayerFiles, ByTheNamesAlone) {
  const std::vector<BYTE> certificate = readFile(std::string(CERTINSTALL_TEST_FIXTURE_DIR) + "/" + GetParam().file);
  ASSERT_FALSE(certificate.empty());
  CapturedStreams streams;
  EXPECT_EQ(installCertificate(certificate), 0);
  EXPECT_EQ(streams.out.text, "Poprawnie utworzono kontekst certyfikatu\n");
  EXPECT_EQ(streams.err.text, "");
  EXPECT_EQ(listDirectory(stores), std::set<std::string>{GetParam().store});
  EXPECT_EQ(readFile(stores + "/" + GetParam().store + "/" + thumbprint(certificate) + ".der"), certificate);
}

INSTANTIATE_TEST_SUITE_P(Certificates, HostLayerFiles,
                         testing::Values(Fixture{"EndEntity", "end_entity.der", "CA"},
                                         Fixture{"SelfIssuedEndEntity", "self_issued_end_entity.der", "ROOT"},
                                         Fixture{"Expired", "expired_intermediate.der", "CA"},
                                         Fixture{"NotYetValid", "not_yet_valid_intermediate.der", "CA"}),
                         CaseName());

struct DataHome {
  const char* name;
  const char* xdg;  // nullptr: unset
  const char* expectedUnderRoot;
};
void PrintTo(const DataHome& c, std::ostream* os) { *os << c.name; }

class HostLayerDataHome : public HostLayer, public testing::WithParamInterface<DataHome> {};

TEST_P(HostLayerDataHome, ChoosesTheStoresDirectory) {
  const DataHome& d = GetParam();
  const std::string home = root + "/home";
  ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome == nullptr ? "" : oldHome;
  setenv("HOME", home.c_str(), 1);
  if (d.xdg == nullptr) {
    unsetenv("XDG_DATA_HOME");
  } else {
    setenv("XDG_DATA_HOME", (std::string(d.xdg) == "absolute" ? root + "/data" : std::string(d.xdg)).c_str(), 1);
  }

  CapturedStreams streams;
  const std::vector<BYTE> certificate = certificateFile(107);
  const int status = installCertificate(certificate);
  setenv("HOME", savedHome.c_str(), 1);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(readFile(root + d.expectedUnderRoot + "/certinstall/stores/ROOT/" + thumbprint(certificate) + ".der"),
            certificate);
}

INSTANTIATE_TEST_SUITE_P(Environment, HostLayerDataHome,
                         testing::Values(DataHome{"XdgDataHome", "absolute", "/data"},
                                         DataHome{"UnsetFallsBackToHome", nullptr, "/home/.local/share"},
                                         DataHome{"EmptyFallsBackToHome", "", "/home/.local/share"},
                                         DataHome{"RelativeIsIgnored", "relative/dir", "/home/.local/share"}),
                         CaseName());

struct Strict {
  const char* name;
  std::vector<BYTE> bytes;
  DWORD error;
};
void PrintTo(const Strict& c, std::ostream* os) { *os << c.name; }

std::vector<BYTE> withTrailingByte() {
  std::vector<BYTE> bytes = certificateFile(104);
  bytes.push_back(0x00);
  return bytes;
}

std::vector<BYTE> withoutLastByte() {
  std::vector<BYTE> bytes = certificateFile(104);
  bytes.pop_back();
  return bytes;
}

// The outer length in three bytes where two would do: valid BER, not DER.
std::vector<BYTE> withLongerLengthForm() {
  std::vector<BYTE> bytes = certificateFile(104);
  bytes[1] = 0x83;
  bytes.insert(bytes.begin() + 2, 0x00);
  return bytes;
}

class HostLayerParsing : public testing::TestWithParam<Strict> {};

TEST_P(HostLayerParsing, RefusesAnythingButOneDerCertificate) {
  const Strict& s = GetParam();
  EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, s.bytes.data(),
                                         static_cast<DWORD>(s.bytes.size())),
            nullptr);
  EXPECT_EQ(GetLastError(), s.error);
}

INSTANTIATE_TEST_SUITE_P(Bytes, HostLayerParsing,
                         testing::Values(Strict{"TrailingByte", withTrailingByte(), 0x80093103},
                                         Strict{"LastByteMissing", withoutLastByte(), 0x80093102},
                                         Strict{"LongerLengthForm", withLongerLengthForm(), 0x80093103}),
                         CaseName());

TEST(HostLayerNames, ContextGivesTheEncodedNamesAsTheyStand) {
  const std::vector<BYTE> rootBytes = certificateFile(104);
  const std::vector<BYTE> intermediateBytes = certificateFile(101);
  PCCERT_CONTEXT rootContext = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, rootBytes.data(),
                                                            static_cast<DWORD>(rootBytes.size()));
  PCCERT_CONTEXT intermediate = CertCreateCertificateContext(
      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, intermediateBytes.data(), static_cast<DWORD>(intermediateBytes.size()));
  ASSERT_NE(rootContext, nullptr);
  ASSERT_NE(intermediate, nullptr);

  const auto bytesOf = [](const CERT_NAME_BLOB& blob) { return std::vector<BYTE>(blob.pbData, blob.pbData + blob.cbData); };
  EXPECT_EQ(bytesOf(rootContext->pCertInfo->Issuer), bytesOf(rootContext->pCertInfo->Subject));
  EXPECT_EQ(bytesOf(intermediate->pCertInfo->Issuer), bytesOf(rootContext->pCertInfo->Subject));
  EXPECT_NE(intermediate->pCertInfo->Subject.cbData, intermediate->pCertInfo->Issuer.cbData);
  EXPECT_EQ(rootContext->pCertInfo->Subject.pbData[0], 0x30);  // a Name is a SEQUENCE, tag included
  EXPECT_EQ(std::vector<BYTE>(rootContext->pbCertEncoded, rootContext->pbCertEncoded + rootContext->cbCertEncoded),
            rootBytes);
  CertFreeCertificateContext(rootContext);
  CertFreeCertificateContext(intermediate);
}

struct OpenArguments {
  const char* name;
  LPCSTR provider;
  DWORD flags;
  std::basic_string<WCHAR> storeName;
  DWORD error;  // 0: opens
};
void PrintTo(const OpenArguments& c, std::ostream* os) { *os << c.name; }

class HostLayerOpen : public HostLayer, public testing::WithParamInterface<OpenArguments> {};

TEST_P(HostLayerOpen, OpensOnlyTheCurrentUsersSystemStoresByName) {
  const OpenArguments& o = GetParam();
  HCERTSTORE store = CertOpenStore(o.provider, 0, 0, o.flags, o.storeName.c_str());
  if (o.error == 0) {
    ASSERT_NE(store, nullptr);
    CertCloseStore(store, 0);
  } else {
    EXPECT_EQ(store, nullptr);
    EXPECT_EQ(GetLastError(), o.error);
  }
  // Nothing was made outside the stores directory.
  for (const std::string& name : listDirectory(root)) EXPECT_EQ(name, "certinstall");
  for (const std::string& name : listDirectory(root + "/certinstall")) EXPECT_EQ(name, "stores");
  for (const std::string& name : listDirectory(stores)) EXPECT_TRUE(name == "ROOT" || name == "CA") << name;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, HostLayerOpen,
    testing::Values(OpenArguments{"Root", CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER, TEXT("ROOT"), 0},
                    OpenArguments{"LowerCaseName", CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER, TEXT("ca"), 0},
                    OpenArguments{"PathInName", CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER,
                                  TEXT("../ROOT"), 0x80070057},
                    OpenArguments{"EmptyName", CERT_STORE_PROV_SYSTEM_W, CERT_SYSTEM_STORE_CURRENT_USER, TEXT(""),
                                  0x80070057},
                    OpenArguments{"OtherLocation", CERT_STORE_PROV_SYSTEM_W, 0x20000, TEXT("ROOT"), 0x80070057},
                    OpenArguments{"OtherProvider", reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(2)),
                                  CERT_SYSTEM_STORE_CURRENT_USER, TEXT("ROOT"), 120}),
    CaseName());

}  // namespace
