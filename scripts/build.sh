#!/usr/bin/env bash
# Configures and builds the release build in build/: build/corvane and build/corvane-sim.
# CORVANE_BUILD_DIR puts the same build elsewhere (the benchmark builds its own copy that way).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${CORVANE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
ninja -C "$build_dir"
