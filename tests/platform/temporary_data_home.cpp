#include "tests/platform/temporary_data_home.h"

#include <ftw.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }

// The platform tests of the installer add certificates too: the whole test
// program gets a data home of its own.
class ProgramDataHome : public testing::Environment {
 public:
  void SetUp() override { dataHome.reset(new TemporaryDataHome()); }
  void TearDown() override { dataHome.reset(); }

 private:
  std::unique_ptr<TemporaryDataHome> dataHome;
};

const testing::Environment* const programDataHome = testing::AddGlobalTestEnvironment(new ProgramDataHome);

}  // namespace

TemporaryDataHome::TemporaryDataHome() {
  const char* old = std::getenv("XDG_DATA_HOME");
  hadOldValue = old != nullptr;
  oldValue = hadOldValue ? old : "";
  char pattern[] = "/tmp/certinstall-platform-tests-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("TemporaryDataHome(): mkdtemp failed");
  }
  directory = pattern;
  setenv("XDG_DATA_HOME", directory.c_str(), 1);
}

TemporaryDataHome::~TemporaryDataHome() {
  EXPECT_EQ(nftw(directory.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS), 0) << "cannot remove " << directory;
  if (hadOldValue) {
    setenv("XDG_DATA_HOME", oldValue.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}
