#!/usr/bin/env bash
# Configures and builds one preset of CMakePresets.json, by default `release` (build/corvane and
# build/corvane-sim). With --no-configure, a build directory that exists keeps its settings and is
# only brought up to date. CMake's and Ninja's output go to a log; a failed step shows its end on
# standard error, so that a caller that silences standard output still sees why.
# CORVANE_BUILD_DIR puts the preset's build elsewhere than its own directory.
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
elsewhere=()
[[ -n ${CORVANE_BUILD_DIR:-} ]] && elsewhere=(-B "$CORVANE_BUILD_DIR")
if ! {
  if [[ $configure == true ]]; then cmake --preset "$preset" "${elsewhere[@]}"; fi
  if [[ -n ${CORVANE_BUILD_DIR:-} ]]; then
    cmake --build "$CORVANE_BUILD_DIR"
  else
    cmake --build --preset "$preset"
  fi
} >"$log" 2>&1; then
  tail -n 60 "$log" >&2
  exit 1
fi
echo "built the $preset preset"
