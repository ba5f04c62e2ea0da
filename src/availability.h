// Whether the on-device model can be used here, and the `availability` command.
#pragma once

#include <optional>
#include <string_view>

namespace corvane {

class Platform;

inline constexpr std::string_view osTooOldMessage =
    "Requires macOS 26 or later with Apple Intelligence.";
inline constexpr std::string_view deviceNotEligibleMessage =
    "This device is not eligible for Apple Intelligence.";
inline constexpr std::string_view appleIntelligenceNotEnabledMessage =
    "Apple Intelligence is turned off. Enable it in System Settings.";
inline constexpr std::string_view modelNotReadyMessage =
    "The on-device model is downloading or not ready yet. Try again shortly.";
inline constexpr std::string_view modelUnavailableMessage =
    "Apple Intelligence is unavailable on this device.";

// The gate shared by `availability` and `chat`: nothing when the model can be used, else the reason
// in words for the end user. The model is not touched below macOS 26.
std::optional<std::string_view> unavailabilityMessage(Platform& platform);

// Prints {"available":true} or {"available":false,"reason":...}. Always returns normally.
void runAvailability(Platform& platform);

}  // namespace corvane
