// Which distribution a run installs: the argument's text and its kind.
#ifndef CERTINSTALL_DRIVER_DISTRIBUTION_TYPE_H
#define CERTINSTALL_DRIVER_DISTRIBUTION_TYPE_H

#include <cstdint>
#include <string>

#include "platform/win32.h"

class DistributionType {
 public:
  enum Kind : std::int32_t { Prod = 1, Test = 2 };

  // Throws std::runtime_error unless `narrowText` is exactly "prod" or "test".
  explicit DistributionType(const std::string& narrowText);

  // Exact, case-sensitive match; throws std::runtime_error for anything else.
  static Kind fromString(const std::string& narrowText);

  // The argument as 16-bit code units: each byte taken as a signed char, so
  // bytes from 0x80 up are sign-extended (0x80 becomes 0xFF80). No code page
  // is involved.
  static std::basic_string<WCHAR> textFromArgument(const std::string& narrowText);

  // One code unit per byte of the argument; it also names the resource type.
  std::basic_string<WCHAR> text;
  Kind kind;
};

#endif
