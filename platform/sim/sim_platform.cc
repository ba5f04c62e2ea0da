// The stand-in platform of corvane-sim: the system and the model are the stand-in's (sim_model.h),
// driven by CORVANE_SIM_* environment variables and traced; a generation runs on a thread of its
// own, as the system's would.
#include <utility>

#include "platform.h"
#include "posix_platform.h"
#include "sim_model.h"

namespace corvane {
namespace {

class SimPlatform final : public PosixPlatform {
 public:
  bool osVersionAtLeast(OsVersion wanted) override { return sim::osVersionAtLeast(wanted); }
  ModelAvailability modelAvailability() override { return sim::modelAvailability(); }
  std::error_code startGeneration(GenerationJob job,
                                  GenerationCompletion& completion) noexcept override {
    return startGenerationThread(std::move(job), completion, sim::respond);
  }
};

}  // namespace

Platform& defaultPlatform() {
  static SimPlatform platform;
  return platform;
}

}  // namespace corvane
