// The bridge's version test (foundation_models_bridge.h) on macOS. The Linux build against the
// stand-in framework takes the version from its environment instead, since Foundation there
// reports the kernel's.

import Foundation
internal import CFoundationModelsBridge

@implementation @_cdecl("corvane_fm_os_at_least")
nonisolated func corvane_fm_os_at_least(
  _ major: Int32, _ minor: Int32, _ patch: Int32
) -> Int32 {
  let version = OperatingSystemVersion(
    majorVersion: Int(major), minorVersion: Int(minor), patchVersion: Int(patch))
  return ProcessInfo.processInfo.isOperatingSystemAtLeast(version) ? 1 : 0
}
