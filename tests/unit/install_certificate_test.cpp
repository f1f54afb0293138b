#include "store/install_certificate.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/support/captured_streams.h"
#include "tests/support/case_name.h"

namespace {

const std::vector<BYTE> kRootName = {0x30, 0x03, 'R', 'o', 'o'};
const std::vector<BYTE> kCaName = {0x30, 0x04, 'S', 'u', 'b', '1'};
const std::vector<BYTE> kOtherNameOfRootLength = {0x30, 0x03, 'X', 'o', 'o'};

const char* const kParsed = "Poprawnie utworzono kontekst certyfikatu\n";
const std::string kParseFailure =
    "Nie udało się utworzyć kontekstu certyfikatu. Nie można zatem stwierdzić, czy certyfikat należy "
    "zainstalować w głównych, czy zaufanych certyfikatach urzędu.\nPrawdopodobny kod błędu: ";

const std::string kCreate = "CertCreateCertificateContext(0x10001, bytes, 7)";
const std::string kOpenRoot = "CertOpenStore(10, 0, 0, 0x10000, \"ROOT\")";
const std::string kOpenCa = "CertOpenStore(10, 0, 0, 0x10000, \"CA\")";
const std::string kAdd = "CertAddCertificateContextToStore(store 1, context 1, 2, NULL)";
const std::string kFree = "CertFreeCertificateContext(context 1)";
const std::string kClose = "CertCloseStore(store 1, 0)";

struct Outcome {
  const char* name;
  std::vector<BYTE> issuer;
  std::vector<BYTE> subject;
  const char* failingOperation;  // nullptr: everything succeeds
  DWORD lastError;
  int status;
  std::string out;
  std::string err;
  std::vector<std::string> calls;
};
void PrintTo(const Outcome& c, std::ostream* os) { *os << c.name; }

class InstallCertificate : public testing::TestWithParam<Outcome> {
 protected:
  void SetUp() override { fakeReset(); }
};

// The last-error code must be read before anything is written: every write to
// the captured streams replaces it with kFakeErrorAfterWrite.
TEST_P(InstallCertificate, ChoosesStoreReportsAndReleases) {
  const Outcome& o = GetParam();
  fakeNextCertificateNames(o.issuer, o.subject);
  if (o.failingOperation != nullptr) fakeFailCall(o.failingOperation, 1, o.lastError);
  const CertificateBytes bytes = {0x30, 0x82, 0x00, 0x03, 0x02, 0x01, 0x05};
  CapturedStreams streams(fakeNoteStreamWrite);

  EXPECT_EQ(installCertificate(bytes), o.status);

  EXPECT_EQ(streams.out.text, o.out);
  EXPECT_EQ(streams.err.text, o.err);
  EXPECT_TRUE(streams.out.everyLineFlushed());
  EXPECT_TRUE(CapturedStreams::errorStreamUnitBufferedAndTied());
  EXPECT_EQ(fakeCalls(), o.calls);
  ASSERT_EQ(fakeParses().size(), 1u);
  EXPECT_EQ(fakeParses()[0].data, bytes.data());
  EXPECT_EQ(fakeParses()[0].size, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstallCertificate,
    testing::Values(
        Outcome{"RootToRootStore", kRootName, kRootName, nullptr, 0, 0, kParsed, "",
                {kCreate, kOpenRoot, kAdd, kFree, kClose}},
        Outcome{"ShorterSubjectToCaStore", kCaName, kRootName, nullptr, 0, 0, kParsed, "",
                {kCreate, kOpenCa, kAdd, kFree, kClose}},
        Outcome{"LongerSubjectToCaStore", kRootName, kCaName, nullptr, 0, 0, kParsed, "",
                {kCreate, kOpenCa, kAdd, kFree, kClose}},
        // Equal lengths are not enough to be trusted as a root.
        Outcome{"EqualLengthDifferentNamesToCaStore", kRootName, kOtherNameOfRootLength, nullptr, 0, 0, kParsed,
                "", {kCreate, kOpenCa, kAdd, kFree, kClose}},
        Outcome{"ParseFailure", kRootName, kRootName, "CertCreateCertificateContext", 0x8009310B, 1627, "",
                kParseFailure + "2148086027\n", {kCreate, "GetLastError() = 2148086027"}},
        Outcome{"ParseFailureLargestCode", kRootName, kRootName, "CertCreateCertificateContext", 0xFFFFFFFF, 1627,
                "", kParseFailure + "4294967295\n", {kCreate, "GetLastError() = 4294967295"}},
        Outcome{"OpenFailureFreesContextAndClosesNothing", kRootName, kRootName, "CertOpenStore", 5, 1627,
                kParsed, "Nie udało się otworzyć magazynu certyfikatów ROOT. Prawdopodobny kod błędu: 5\n",
                {kCreate, kOpenRoot, "GetLastError() = 5", kFree}},
        Outcome{"AddFailureFreesContextThenClosesStore", kCaName, kRootName, "CertAddCertificateContextToStore",
                0x80070005, 1627, kParsed,
                "Nie udało się dodać certyfikatu do magazynu CA. Prawdopodobny kod błędu: 2147942405\n",
                {kCreate, kOpenCa, kAdd, "GetLastError() = 2147942405", kFree, kClose}}),
    CaseName());

TEST(InstallCertificateBytes, EmptyBytesAreParsedFromNullAndFail) {
  fakeReset();
  fakeFailCall("CertCreateCertificateContext", 1, 0x80093102);
  CapturedStreams streams(fakeNoteStreamWrite);

  EXPECT_EQ(installCertificate(CertificateBytes()), 1627);

  ASSERT_EQ(fakeParses().size(), 1u);
  EXPECT_EQ(fakeParses()[0].data, nullptr);
  EXPECT_EQ(fakeParses()[0].size, 0u);
  EXPECT_EQ(streams.err.text, kParseFailure + "2148086018\n");
  EXPECT_EQ(streams.out.text, "");
}

struct StoreName {
  const char* name;
  CertType type;
  std::basic_string<WCHAR> storeName;
};
void PrintTo(const StoreName& c, std::ostream* os) { *os << c.name; }

class CertTypeToString : public testing::TestWithParam<StoreName> {};

TEST_P(CertTypeToString, NamesTheSystemStore) { EXPECT_EQ(certTypeToString(GetParam().type), GetParam().storeName); }

INSTANTIATE_TEST_SUITE_P(Types, CertTypeToString,
                         testing::Values(StoreName{"Root", CertType::Root, TEXT("ROOT")},
                                         StoreName{"Ca", CertType::Ca, TEXT("CA")}),
                         CaseName());

class CertTypeToStringRejects : public testing::TestWithParam<int> {};

TEST_P(CertTypeToStringRejects, OtherValues) {
  try {
    certTypeToString(static_cast<CertType>(GetParam()));
    FAIL() << "no exception for " << GetParam();
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "certTypeToString(): Nieznany typ certyfikatu");
  }
}

INSTANTIATE_TEST_SUITE_P(Values, CertTypeToStringRejects, testing::Values(0, 3, -1));

}  // namespace
