// The platform of the macOS `corvane`. Kept apart from the adapter so that the adapter can be
// tested in an executable that has a platform of its own.
#include "apple_platform.h"
#include "standard_streams.h"

namespace corvane {

Platform& defaultPlatform() {
  holdStandardOutputDescriptors();  // before the system's frameworks open any file
  static ApplePlatform platform;
  return platform;
}

}  // namespace corvane
