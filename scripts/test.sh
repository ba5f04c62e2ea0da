#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests and the process tests of every executable
# (ctest), the schema checks and the client tests (scripts/test-clients.sh), and the packages
# (scripts/test-package.sh). With a Swift toolchain (swiftc on PATH or in /opt/swift), the process
# tests run corvane-apple-sim too: the macOS adapter and Swift bridge on a stand-in framework.
# Each suite is one line with its counts (its output is shown only when it fails); the last line
# is the total, "total: N passed, N failed", and the exit status is 0 only when nothing failed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
if ! command -v swiftc >/dev/null && [[ ! -x /opt/swift/usr/bin/swiftc ]]; then
  echo "no Swift toolchain (swiftc): skipping corvane-apple-sim, the macOS bridge on the stand-in framework"
fi
# The `dev` preset: the release build in build/ with the tests, every warning an error.
bash scripts/build.sh dev
source scripts/suites.sh
suite "unit and process tests (ctest)" ctest ctest --preset dev -j"$(nproc)"
suite "test scripts" unittest python3 -m unittest discover -s scripts/test
bash scripts/test-clients.sh
suite "packages (.deb and .tar.gz)" check bash scripts/test-package.sh build
suites_total
