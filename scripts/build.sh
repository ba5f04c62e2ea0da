#!/usr/bin/env bash
# Configures and builds the release build in build/: build/corvane and build/corvane-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
ninja -C build
