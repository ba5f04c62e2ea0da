#include "availability.h"

#include <gtest/gtest.h>

#include "support/fake_platform.h"

namespace corvane {
namespace {

using testing::FakePlatform;

TEST(Availability, OldSystemNeverTouchesTheModel) {
  FakePlatform platform;
  platform.osSupported = false;
  EXPECT_EQ(unavailabilityMessage(platform), osTooOldMessage);
  EXPECT_EQ(platform.calls, std::vector<std::string>{"osVersion 26.0.0"});
}

TEST(Availability, EachStateHasItsMessage) {
  const std::pair<ModelAvailability, std::optional<std::string_view>> cases[] = {
      {ModelAvailability::available, std::nullopt},
      {ModelAvailability::deviceNotEligible, "This device is not eligible for Apple Intelligence."},
      {ModelAvailability::appleIntelligenceNotEnabled,
       "Apple Intelligence is turned off. Enable it in System Settings."},
      {ModelAvailability::modelNotReady,
       "The on-device model is downloading or not ready yet. Try again shortly."},
      {ModelAvailability::unavailableOtherReason,
       "Apple Intelligence is unavailable on this device."},
  };
  for (const auto& [state, message] : cases) {
    FakePlatform platform;
    platform.availability = state;
    EXPECT_EQ(unavailabilityMessage(platform), message);
    EXPECT_EQ(platform.calls, (std::vector<std::string>{"osVersion 26.0.0", "availability"}));
  }
}

TEST(Availability, ReportHasReasonOnlyWhenUnavailable) {
  FakePlatform usable;
  runAvailability(usable);
  EXPECT_EQ(usable.output, "{\"available\":true}\n");

  FakePlatform old;
  old.osSupported = false;
  runAvailability(old);
  EXPECT_EQ(old.output,
            "{\"available\":false,\"reason\":\"Requires macOS 26 or later with Apple "
            "Intelligence.\"}\n");
}

}  // namespace
}  // namespace corvane
