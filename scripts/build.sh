#!/usr/bin/env bash
# Configures and builds the release build in build/: build/corvane and build/corvane-sim.
# CORVANE_BUILD_DIR puts the same build elsewhere (the benchmark builds its own copy that way).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${CORVANE_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
# Ninja's output goes to a log; a failed build shows its end on standard error, so that a caller
# that silences standard output still sees why.
if ! ninja -C "$build_dir" >"$build_dir/build.log" 2>&1; then
  tail -n 60 "$build_dir/build.log" >&2
  exit 1
fi
echo "built in $build_dir"
