#include "driver/distribution_type.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/support/case_name.h"

namespace {

struct Accepted {
  const char* name;
  std::string argument;
  DistributionType::Kind kind;
  std::basic_string<WCHAR> text;
};
void PrintTo(const Accepted& c, std::ostream* os) { *os << c.name; }

class DistributionTypeAccepts : public testing::TestWithParam<Accepted> {};

TEST_P(DistributionTypeAccepts, ExactLowerCaseText) {
  const DistributionType distribution(GetParam().argument);
  EXPECT_EQ(distribution.kind, GetParam().kind);
  EXPECT_EQ(distribution.text, GetParam().text);
  EXPECT_EQ(DistributionType::fromString(GetParam().argument), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(Distributions, DistributionTypeAccepts,
                         testing::Values(Accepted{"prod", "prod", DistributionType::Prod, TEXT("prod")},
                                         Accepted{"test", "test", DistributionType::Test, TEXT("test")}),
                         CaseName());

struct Rejected {
  const char* name;
  std::string argument;
};
void PrintTo(const Rejected& c, std::ostream* os) { *os << c.name; }

class DistributionTypeRejects : public testing::TestWithParam<Rejected> {};

TEST_P(DistributionTypeRejects, WithTheUnknownDistributionMessage) {
  const char* const message = "DistributionType::fromString(): Nieznana wartość dystrybucji";
  try {
    DistributionType distribution(GetParam().argument);
    FAIL() << "constructed a distribution from \"" << GetParam().argument << "\"";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), message);
  }
  try {
    DistributionType::fromString(GetParam().argument);
    FAIL() << "fromString accepted \"" << GetParam().argument << "\"";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, DistributionTypeRejects,
    testing::Values(Rejected{"Capitals", "PROD"}, Rejected{"CapitalInitial", "Prod"},
                    Rejected{"TrailingBlank", "prod "}, Rejected{"LeadingBlank", " prod"},
                    Rejected{"LongerWord", "production"}, Rejected{"Prefix", "pro"},
                    Rejected{"TestCapitals", "TEST"}, Rejected{"TestTrailingNewline", "test\n"},
                    Rejected{"Empty", ""}, Rejected{"EmbeddedZero", std::string("prod\0", 5)},
                    Rejected{"ByteAbove0x7F", "prod\x80"}, Rejected{"PolishLetters", "pr\xc3\xb3\x64"},
                    Rejected{"LongArgument", std::string(100000, 'p')}),
    CaseName());

struct Widening {
  const char* name;
  std::string argument;
  std::basic_string<WCHAR> text;
};
void PrintTo(const Widening& c, std::ostream* os) { *os << c.name; }

class DistributionTypeText : public testing::TestWithParam<Widening> {};

TEST_P(DistributionTypeText, OneCodeUnitPerByteSignExtended) {
  EXPECT_EQ(DistributionType::textFromArgument(GetParam().argument), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DistributionTypeText,
    testing::Values(Widening{"Ascii", "prod", TEXT("prod")},
                    Widening{"Highest7Bit", "\x7f", std::basic_string<WCHAR>(1, static_cast<WCHAR>(0x007F))},
                    Widening{"Lowest8Bit", "\x80", std::basic_string<WCHAR>(1, static_cast<WCHAR>(0xFF80))},
                    Widening{"Highest8Bit", "\xff", std::basic_string<WCHAR>(1, static_cast<WCHAR>(0xFFFF))},
                    Widening{"Utf8Letter", "a\xc5\x82",
                             std::basic_string<WCHAR>{static_cast<WCHAR>(0x0061), static_cast<WCHAR>(0xFFC5),
                                                      static_cast<WCHAR>(0xFF82)}},
                    Widening{"Empty", "", std::basic_string<WCHAR>()}),
    CaseName());

}  // namespace
