#!/usr/bin/env bash
# Sets up, builds and runs every test (unit tests and process tests of every executable, then the
# schema checks and the client tests). With a Swift toolchain (swiftc on PATH or in /opt/swift),
# the process tests run corvane-apple-sim too: the macOS adapter and Swift bridge on a stand-in
# framework.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
if ! command -v swiftc >/dev/null && [[ ! -x /opt/swift/usr/bin/swiftc ]]; then
  echo "no Swift toolchain (swiftc): skipping corvane-apple-sim, the macOS bridge on the stand-in framework"
fi
bash scripts/build.sh -DCORVANE_BUILD_TESTS=ON >/dev/null
ctest --test-dir build --output-on-failure -j"$(nproc)"
bash scripts/test-clients.sh
