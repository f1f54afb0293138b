#include "driver/install_certificates.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/support/captured_streams.h"
#include "tests/support/case_name.h"

namespace {

const std::vector<BYTE> kRootName = {0x30, 0x03, 'R', 'o', 'o'};
const std::vector<BYTE> kCaName = {0x30, 0x01, 'C'};

// Each resource's bytes are three long, so every parse shows "bytes, 3".
void addBothSets() {
  for (DWORD id = 101; id <= 104; ++id) fakeAddResource("PROD", id, {0x30, 0x01, static_cast<BYTE>(id)});
  for (DWORD id = 105; id <= 108; ++id) fakeAddResource("TEST", id, {0x30, 0x01, static_cast<BYTE>(id)});
}

std::string progress(int id) { return "Wczytuję certyfikat z zasobów, ID: " + std::to_string(id) + "...\n"; }
const std::string kParsed = "Poprawnie utworzono kontekst certyfikatu\n";

std::vector<std::string> loadCalls(int id, const std::string& text, const std::string& type) {
  const std::string resource = type + " #" + std::to_string(id);
  return {"GetModuleHandleW(NULL)", "FindResourceW(module, #" + std::to_string(id) + ", \"" + text + "\")",
          "LoadResource(module, resource " + resource + ")", "SizeofResource(module, resource " + resource + ")",
          "LockResource(memory " + resource + ")"};
}

// The calls of a pass after its load. `context` and `store` count from 1 over
// the run: every certificate opens and closes its own store.
std::vector<std::string> installCalls(int context, int store, const std::string& storeName) {
  const std::string c = "context " + std::to_string(context);
  const std::string s = "store " + std::to_string(store);
  return {"CertCreateCertificateContext(0x10001, bytes, 3)",
          "CertOpenStore(10, 0, 0, 0x10000, \"" + storeName + "\")",
          "CertAddCertificateContextToStore(" + s + ", " + c + ", 2, NULL)", "CertFreeCertificateContext(" + c + ")",
          "CertCloseStore(" + s + ", 0)"};
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct RunCase {
  const char* name;
  const char* argument;
  std::function<void()> script;
  int status;
  std::string out;
  std::string err;
  std::vector<std::string> calls;
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class InstallCertificates : public testing::TestWithParam<RunCase> {
 protected:
  void SetUp() override {
    fakeReset();
    addBothSets();
  }
};

TEST_P(InstallCertificates, OutputStatusAndCalls) {
  const RunCase& run = GetParam();
  run.script();
  CapturedStreams streams(fakeNoteStreamWrite);

  EXPECT_EQ(installCertificates(run.argument), run.status);

  EXPECT_EQ(streams.out.text, run.out);
  EXPECT_EQ(streams.err.text, run.err);
  EXPECT_TRUE(streams.out.everyLineFlushed());
  EXPECT_TRUE(CapturedStreams::errorStreamUnitBufferedAndTied());
  EXPECT_EQ(fakeCalls(), run.calls);
}

void prodRootLast() {
  for (int i = 0; i < 3; ++i) fakeNextCertificateNames(kRootName, kCaName);
  fakeNextCertificateNames(kRootName, kRootName);
}

void testRootThird() {
  for (int i = 0; i < 2; ++i) fakeNextCertificateNames(kRootName, kCaName);
  fakeNextCertificateNames(kRootName, kRootName);
  fakeNextCertificateNames(kRootName, kCaName);
}

const std::string kLoaderFailure = "loadCertificateFromResources(): hResource == NULL";
const std::string kParseFailure =
    "Nie udało się utworzyć kontekstu certyfikatu. Nie można zatem stwierdzić, czy certyfikat należy "
    "zainstalować w głównych, czy zaufanych certyfikatach urzędu.\nPrawdopodobny kod błędu: 2148086027\n";

INSTANTIATE_TEST_SUITE_P(
    Runs, InstallCertificates,
    testing::Values(
        RunCase{"ProdAllWell", "prod", prodRootLast, 0,
            progress(101) + kParsed + progress(102) + kParsed + progress(103) + kParsed + progress(104) + kParsed, "",
            join({loadCalls(101, "prod", "PROD"), installCalls(1, 1, "CA"), loadCalls(102, "prod", "PROD"),
                  installCalls(2, 2, "CA"), loadCalls(103, "prod", "PROD"), installCalls(3, 3, "CA"),
                  loadCalls(104, "prod", "PROD"), installCalls(4, 4, "ROOT")})},
        RunCase{"TestAllWell", "test", testRootThird, 0,
            progress(105) + kParsed + progress(106) + kParsed + progress(107) + kParsed + progress(108) + kParsed, "",
            join({loadCalls(105, "test", "TEST"), installCalls(1, 1, "CA"), loadCalls(106, "test", "TEST"),
                  installCalls(2, 2, "CA"), loadCalls(107, "test", "TEST"), installCalls(3, 3, "ROOT"),
                  loadCalls(108, "test", "TEST"), installCalls(4, 4, "CA")})},
        RunCase{"LoaderFailsOnFirstId", "prod", [] { fakeFailCall("FindResourceW", 1, 1814); }, 1, progress(101),
            "Podczas próby instalacji o ID: 101 wystąpił błąd: " + kLoaderFailure + "\n",
            {"GetModuleHandleW(NULL)", "FindResourceW(module, #101, \"prod\")"}},
        RunCase{"LoaderFailsOnSecondId", "test", [] { fakeFailCall("FindResourceW", 2, 1814); }, 1,
            progress(105) + kParsed + progress(106),
            "Podczas próby instalacji o ID: 106 wystąpił błąd: " + kLoaderFailure + "\n",
            join({loadCalls(105, "test", "TEST"), installCalls(1, 1, "CA"),
                  {"GetModuleHandleW(NULL)", "FindResourceW(module, #106, \"test\")"}})},
        // A certificate that cannot be installed does not stop the run, but
        // the run no longer reports success.
        RunCase{"ParseFailureGoesOnAndFails", "prod",
            [] {
              fakeFailCall("CertCreateCertificateContext", 2, 0x8009310B);
              for (int i = 0; i < 2; ++i) fakeNextCertificateNames(kRootName, kCaName);
              fakeNextCertificateNames(kRootName, kRootName);
            },
            1, progress(101) + kParsed + progress(102) + progress(103) + kParsed + progress(104) + kParsed,
            kParseFailure,
            join({loadCalls(101, "prod", "PROD"), installCalls(1, 1, "CA"), loadCalls(102, "prod", "PROD"),
                  {"CertCreateCertificateContext(0x10001, bytes, 3)", "GetLastError() = 2148086027"},
                  loadCalls(103, "prod", "PROD"), installCalls(2, 2, "CA"), loadCalls(104, "prod", "PROD"),
                  installCalls(3, 3, "ROOT")})},
        RunCase{"OpenFailureGoesOnAndFails", "prod",
            [] {
              prodRootLast();
              fakeFailCall("CertOpenStore", 1, 5);
            },
            1, progress(101) + kParsed + progress(102) + kParsed + progress(103) + kParsed + progress(104) + kParsed,
            "Nie udało się otworzyć magazynu certyfikatów CA. Prawdopodobny kod błędu: 5\n",
            join({loadCalls(101, "prod", "PROD"),
                  {"CertCreateCertificateContext(0x10001, bytes, 3)", "CertOpenStore(10, 0, 0, 0x10000, \"CA\")",
                   "GetLastError() = 5", "CertFreeCertificateContext(context 1)"},
                  loadCalls(102, "prod", "PROD"), installCalls(2, 1, "CA"), loadCalls(103, "prod", "PROD"),
                  installCalls(3, 2, "CA"), loadCalls(104, "prod", "PROD"), installCalls(4, 3, "ROOT")})},
        RunCase{"AddFailureOnTheRootFails", "test",
            [] {
              testRootThird();
              fakeFailCall("CertAddCertificateContextToStore", 3, 0x80070005);
            },
            1, progress(105) + kParsed + progress(106) + kParsed + progress(107) + kParsed + progress(108) + kParsed,
            "Nie udało się dodać certyfikatu do magazynu ROOT. Prawdopodobny kod błędu: 2147942405\n",
            join({loadCalls(105, "test", "TEST"), installCalls(1, 1, "CA"), loadCalls(106, "test", "TEST"),
                  installCalls(2, 2, "CA"), loadCalls(107, "test", "TEST"),
                  {"CertCreateCertificateContext(0x10001, bytes, 3)", "CertOpenStore(10, 0, 0, 0x10000, \"ROOT\")",
                   "CertAddCertificateContextToStore(store 3, context 3, 2, NULL)", "GetLastError() = 2147942405",
                   "CertFreeCertificateContext(context 3)", "CertCloseStore(store 3, 0)"},
                  loadCalls(108, "test", "TEST"), installCalls(4, 4, "CA")})}),
    CaseName());

class InstallCertificatesRejects : public testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    fakeReset();
    addBothSets();
  }
};

TEST_P(InstallCertificatesRejects, UnknownDistributionBeforeAnyResource) {
  CapturedStreams streams(fakeNoteStreamWrite);
  try {
    installCertificates(GetParam());
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "DistributionType::fromString(): Nieznana wartość dystrybucji");
  }
  EXPECT_EQ(streams.out.text, "");
  EXPECT_EQ(streams.err.text, "");
  EXPECT_TRUE(fakeCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Arguments, InstallCertificatesRejects, testing::Values("PROD", "", "prod ", "tests"));

}  // namespace
