#!/usr/bin/env bash
# Configures and builds one preset of CMakePresets.json, by default `release` (build/corvane and
# build/corvane-sim). With --no-configure, a build directory that exists keeps its settings and is
# only brought up to date. CMake's and Ninja's output go to a log; a failed step shows its end on
# standard error, so that a caller that silences standard output still sees why.
# Usage: build.sh [--no-configure] [PRESET]
set -euo pipefail
cd "$(dirname "$0")/.."
configure=true
if [[ ${1:-} == --no-configure ]]; then
  configure=false
  shift
fi
preset=${1:-release}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! {
  if [[ $configure == true ]]; then cmake --preset "$preset"; fi
  cmake --build --preset "$preset"
} >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  exit 1
fi
echo "built the $preset preset"
