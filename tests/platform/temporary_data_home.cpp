// The host build keeps the current user's stores under $XDG_DATA_HOME. The
// platform tests add certificates, so the whole test program gets a fresh
// one of its own, and the user's real stores are never touched.
#include <ftw.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

class TemporaryDataHome : public testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/certinstall-platform-tests-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    path = pattern;
    setenv("XDG_DATA_HOME", path.c_str(), 1);
  }
  void TearDown() override {
    EXPECT_EQ(nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS), 0);
  }

 private:
  std::string path;
};

const testing::Environment* const temporaryDataHome = testing::AddGlobalTestEnvironment(new TemporaryDataHome);

}  // namespace
