#include "sim_settings.h"

#include <charconv>
#include <cstring>

namespace corvane::sim {
namespace {

constexpr int versionPartMax = 999999;
constexpr std::uint64_t delayMsMax = 24ULL * 60 * 60 * 1000;

// One run of decimal digits, no sign, no spaces.
std::optional<int> parseVersionPart(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value <= versionPartMax ? std::optional<int>(value) : std::nullopt;
}

// A plain decimal number up to `most`: unset or unreadable, 0; larger, `most`.
std::uint64_t parseDecimal(const char* value, std::uint64_t most) {
  if (value == nullptr) return 0;
  const char* end = value + std::strlen(value);
  std::uint64_t number = 0;
  const auto [stop, error] = std::from_chars(value, end, number);
  if (error == std::errc::result_out_of_range) return most;
  if (error != std::errc() || stop != end) return 0;
  return number < most ? number : most;
}

}  // namespace

OsVersion parseOsVersion(const char* value) {
  if (value == nullptr) return {26, 0, 0};
  std::string_view rest(value);
  int parts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = rest.find('.');
    const auto part = parseVersionPart(rest.substr(0, dot));
    if (!part) return {};
    parts[i] = *part;
    if (dot == std::string_view::npos) return {parts[0], parts[1], parts[2]};
    rest.remove_prefix(dot + 1);
  }
  return {};  // a fourth part
}

bool versionAtLeast(OsVersion running, OsVersion wanted) { return running >= wanted; }

ModelAvailability parseAvailability(const char* value) {
  if (value == nullptr) return ModelAvailability::available;
  const std::string_view text(value);
  if (text == "available") return ModelAvailability::available;
  if (text == "deviceNotEligible") return ModelAvailability::deviceNotEligible;
  if (text == "appleIntelligenceNotEnabled") return ModelAvailability::appleIntelligenceNotEnabled;
  if (text == "modelNotReady") return ModelAvailability::modelNotReady;
  return ModelAvailability::unavailableOtherReason;
}

std::string_view availabilityName(ModelAvailability availability) {
  switch (availability) {
    case ModelAvailability::available:
      return "available";
    case ModelAvailability::deviceNotEligible:
      return "deviceNotEligible";
    case ModelAvailability::appleIntelligenceNotEnabled:
      return "appleIntelligenceNotEnabled";
    case ModelAvailability::modelNotReady:
      return "modelNotReady";
    case ModelAvailability::unavailableOtherReason:
      break;
  }
  return "other";
}

ModelFailure parseModelFailure(const char* value) {
  if (value == nullptr) return ModelFailure::decodingFailure;
  for (auto failure = ModelFailure::exceededContextWindowSize; failure != ModelFailure::nsError;
       failure = static_cast<ModelFailure>(static_cast<std::int32_t>(failure) + 1)) {
    if (failureName(failure) == value) return failure;
  }
  return ModelFailure::nsError;
}

std::uint64_t parseDelayMs(const char* value) { return parseDecimal(value, delayMsMax); }

std::uint64_t parseCount(const char* value) { return parseDecimal(value, 1'000'000'000); }

std::size_t pieceEnd(std::string_view answer, std::size_t from, std::uint64_t pieceLength) {
  const auto startsCodePoint = [&](std::size_t at) {
    return (static_cast<unsigned char>(answer[at]) & 0xC0) != 0x80;
  };
  std::size_t at = from + 1;
  if (pieceLength > 0) {
    for (std::uint64_t codePoints = 1; at < answer.size(); ++at) {
      if (startsCodePoint(at) && ++codePoints > pieceLength) break;
    }
    return at;
  }
  while (at < answer.size() && answer[at - 1] == ' ') ++at;  // a piece may begin with spaces
  while (at < answer.size() && answer[at] != ' ') ++at;
  while (at < answer.size() && answer[at] == ' ') ++at;
  return at;
}

}  // namespace corvane::sim
