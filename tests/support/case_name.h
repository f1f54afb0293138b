// Test tables: every case struct has a `name`, which names the test.
#ifndef CERTINSTALL_TESTS_SUPPORT_CASE_NAME_H
#define CERTINSTALL_TESTS_SUPPORT_CASE_NAME_H

#include <gtest/gtest.h>

#include <string>

struct CaseName {
  template <typename Case>
  std::string operator()(const testing::TestParamInfo<Case>& info) const {
    return info.param.name;
  }
};

#endif
