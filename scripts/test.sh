#!/usr/bin/env bash
# Sets up, builds and runs every test (unit tests and process tests of both executables, then the
# schema checks and the client tests).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh test
bash scripts/build.sh -DCORVANE_BUILD_TESTS=ON >/dev/null
ctest --test-dir build --output-on-failure -j"$(nproc)"
bash scripts/test-clients.sh
