#include "sim_settings.h"

#include <gtest/gtest.h>

namespace corvane::sim {
namespace {

TEST(SimSettings, OsVersionForms) {
  struct Case {
    const char* value;
    OsVersion version;
  };
  const Case cases[] = {
      {nullptr, {26, 0, 0}},  {"26", {26, 0, 0}},     {"15.4", {15, 4, 0}},
      {"26.0.1", {26, 0, 1}}, {"100", {100, 0, 0}},   {"abc", {0, 0, 0}},
      {"", {0, 0, 0}},        {"26.", {0, 0, 0}},     {".26", {0, 0, 0}},
      {" 26", {0, 0, 0}},     {"-26", {0, 0, 0}},     {"26.0.0.1", {0, 0, 0}},
      {"26.x", {0, 0, 0}},    {"9999999", {0, 0, 0}}, {"99999999999999999999", {0, 0, 0}},
  };
  for (const auto& c : cases) {
    const OsVersion got = parseOsVersion(c.value);
    EXPECT_EQ(std::tie(got.major, got.minor, got.patch),
              std::tie(c.version.major, c.version.minor, c.version.patch))
        << (c.value ? c.value : "unset");
  }
}

TEST(SimSettings, VersionComparisonIsByPart) {
  EXPECT_TRUE(versionAtLeast({26, 0, 0}, {26, 0, 0}));
  EXPECT_TRUE(versionAtLeast({27, 0, 0}, {26, 5, 5}));
  EXPECT_TRUE(versionAtLeast({26, 0, 1}, {26, 0, 0}));
  EXPECT_FALSE(versionAtLeast({25, 9, 9}, {26, 0, 0}));
  EXPECT_FALSE(versionAtLeast({0, 0, 0}, {26, 0, 0}));
}

TEST(SimSettings, AvailabilityWordsAreExact) {
  EXPECT_EQ(parseAvailability(nullptr), ModelAvailability::available);
  EXPECT_EQ(parseAvailability("available"), ModelAvailability::available);
  EXPECT_EQ(parseAvailability("modelNotReady"), ModelAvailability::modelNotReady);
  EXPECT_EQ(parseAvailability("deviceNotEligible"), ModelAvailability::deviceNotEligible);
  EXPECT_EQ(parseAvailability("appleIntelligenceNotEnabled"),
            ModelAvailability::appleIntelligenceNotEnabled);
  for (const char* other : {"", "Available", "modelnotready", "futureReason"}) {
    EXPECT_EQ(parseAvailability(other), ModelAvailability::unavailableOtherReason) << other;
  }
  EXPECT_EQ(availabilityName(ModelAvailability::unavailableOtherReason), "other");
}

TEST(SimSettings, DelayFallsBackToZeroAndIsCapped) {
  EXPECT_EQ(parseDelayMs(nullptr), 0u);
  EXPECT_EQ(parseDelayMs("250"), 250u);
  EXPECT_EQ(parseDelayMs("abc"), 0u);
  EXPECT_EQ(parseDelayMs("-5"), 0u);
  EXPECT_EQ(parseDelayMs("5ms"), 0u);
  EXPECT_EQ(parseDelayMs("999999999999999999999999"), 86400000u);
}

}  // namespace
}  // namespace corvane::sim
