#include "availability.h"

#include "platform.h"
#include "reply.h"

namespace corvane {

std::optional<std::string_view> unavailabilityMessage(Platform& platform) {
  if (!platform.osVersionAtLeast(modelMinimumOs)) return osTooOldMessage;
  switch (platform.modelAvailability()) {
    case ModelAvailability::available:
      return std::nullopt;
    case ModelAvailability::deviceNotEligible:
      return deviceNotEligibleMessage;
    case ModelAvailability::appleIntelligenceNotEnabled:
      return appleIntelligenceNotEnabledMessage;
    case ModelAvailability::modelNotReady:
      return modelNotReadyMessage;
    case ModelAvailability::unavailableOtherReason:
      break;
  }
  return modelUnavailableMessage;
}

void runAvailability(Platform& platform) {
  emitBuilt(platform, [&] {
    ResponseObject reply;
    if (const auto reason = unavailabilityMessage(platform)) {
      reply.set("available", false).set("reason", std::string(*reason));
    } else {
      reply.set("available", true);
    }
    return reply;
  });
}

}  // namespace corvane
