// The platform of the macOS `corvane`. Kept apart from the adapter so that the adapter can be
// tested in an executable that has a platform of its own.
#include "apple_platform.h"

namespace corvane {

Platform& defaultPlatform() {
  // Made on main's first call, before the system's frameworks open any file.
  static ApplePlatform platform;
  return platform;
}

}  // namespace corvane
