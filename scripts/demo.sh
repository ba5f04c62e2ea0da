#!/usr/bin/env bash
# Sets up, builds and runs the program's main job: the availability report of both executables and
# one sample chat through the stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
bash scripts/build.sh -DCORVANE_BUILD_TESTS=OFF >/dev/null

show() {
  echo "\$ $*"
  local status=0
  "$@" || status=$?
  echo "(exit status $status)"
}

show build/corvane availability
show build/corvane-sim availability
# The macOS road (adapter and Swift bridge) on the stand-in framework, where Swift is installed.
[[ -x build/corvane-apple-sim ]] && show build/corvane-apple-sim availability
request='{"instructions":"Answer briefly.","messages":[{"role":"user","content":"What is a pivot table?"}],"temperature":0.2}'
echo "\$ echo '$request' | build/corvane-sim chat"
status=0
echo "$request" | build/corvane-sim chat || status=$?
echo "(exit status $status)"
