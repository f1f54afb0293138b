#include "driver/distribution_type.h"

#include <stdexcept>

std::basic_string<WCHAR> DistributionType::textFromArgument(const std::string& narrowText) {
  std::basic_string<WCHAR> wide;
  wide.reserve(narrowText.size());
  for (char byte : narrowText) {
    wide.push_back(static_cast<WCHAR>(static_cast<std::int16_t>(static_cast<signed char>(byte))));
  }
  return wide;
}

DistributionType::DistributionType(const std::string& narrowText)
    : text(textFromArgument(narrowText)), kind(fromString(narrowText)) {
  if (text.empty()) {
    throw std::runtime_error("DistributionType(): Tekst dystrybucji (DistributionType::text) nie został przypisany");
  }
}

DistributionType::Kind DistributionType::fromString(const std::string& narrowText) {
  if (narrowText == "prod") {
    return Prod;
  }
  if (narrowText == "test") {
    return Test;
  }
  throw std::runtime_error("DistributionType::fromString(): Nieznana wartość dystrybucji");
}
