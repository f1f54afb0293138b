#include "resources/load_certificate_from_resources.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/support/case_name.h"

namespace {

const std::vector<BYTE> kCertificate = {0x30, 0x82, 0x00, 0x03, 0x01, 0x02, 0x03};

class LoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    fakeReset();
    fakeAddResource("PROD", 104, kCertificate);
  }
};

TEST_F(LoaderTest, CopiesTheResourceAfterTheLookupInOrder) {
  const CertificateBytes bytes = loadCertificateFromResources(104, DistributionType("prod"));
  EXPECT_EQ(bytes, kCertificate);
  EXPECT_EQ(bytes.capacity(), kCertificate.size());
  EXPECT_EQ(fakeCalls(), (std::vector<std::string>{
                             "GetModuleHandleW(NULL)",
                             "FindResourceW(module, #104, \"prod\")",
                             "LoadResource(module, resource PROD #104)",
                             "SizeofResource(module, resource PROD #104)",
                             "LockResource(memory PROD #104)",
                         }));
}

TEST_F(LoaderTest, EmptyResourceGivesEmptyBytesWithoutStorage) {
  fakeAddResource("TEST", 105, {});
  const CertificateBytes bytes = loadCertificateFromResources(105, DistributionType("test"));
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(bytes.capacity(), 0u);
}

TEST_F(LoaderTest, TwoCallsGiveIndependentCopies) {
  CertificateBytes first = loadCertificateFromResources(104, DistributionType("prod"));
  const CertificateBytes second = loadCertificateFromResources(104, DistributionType("prod"));
  first[0] = 0x00;
  EXPECT_EQ(second, kCertificate);
  EXPECT_NE(first.data(), second.data());
}

struct LoaderFailure {
  const char* name;
  const char* operation;
  const char* message;
  std::vector<std::string> calls;
};
void PrintTo(const LoaderFailure& c, std::ostream* os) { *os << c.name; }

class LoaderFails : public testing::TestWithParam<LoaderFailure> {
 protected:
  void SetUp() override {
    fakeReset();
    fakeAddResource("PROD", 104, kCertificate);
  }
};

TEST_P(LoaderFails, ThrowsNamingTheNullValueAndStops) {
  fakeFailCall(GetParam().operation, 1, 1814);
  try {
    loadCertificateFromResources(104, DistributionType("prod"));
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
  // The loader never reads the last-error code and stops at the failed call.
  EXPECT_EQ(fakeCalls(), GetParam().calls);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, LoaderFails,
    testing::Values(
        LoaderFailure{"FindResource", "FindResourceW", "loadCertificateFromResources(): hResource == NULL",
                      {"GetModuleHandleW(NULL)", "FindResourceW(module, #104, \"prod\")"}},
        LoaderFailure{"LoadResource", "LoadResource", "loadCertificateFromResources(): hMemory == NULL",
                      {"GetModuleHandleW(NULL)", "FindResourceW(module, #104, \"prod\")",
                       "LoadResource(module, resource PROD #104)"}},
        LoaderFailure{"LockResource", "LockResource", "loadCertificateFromResources(): lpAddress == NULL",
                      {"GetModuleHandleW(NULL)", "FindResourceW(module, #104, \"prod\")",
                       "LoadResource(module, resource PROD #104)", "SizeofResource(module, resource PROD #104)",
                       "LockResource(memory PROD #104)"}}),
    CaseName());

TEST_F(LoaderTest, SizeAboveTheLargestVectorIsALengthError) {
  fakeOverrideResourceSize(2147483648u);
  try {
    loadCertificateFromResources(104, DistributionType("prod"));
    FAIL() << "no exception";
  } catch (const std::length_error& e) {
    EXPECT_STREQ(e.what(), "loadCertificateFromResources(): size > 2147483647");
  }
  // Refused before anything was allocated or copied: the lock was the last call.
  EXPECT_EQ(fakeCalls().back(), "LockResource(memory PROD #104)");
}

}  // namespace
