#!/usr/bin/env bash
# Sets up, builds and runs the program's main job: the availability report of each executable,
# then one sample chat through the stand-in, twice: answered with its prompt echoed (what
# corvane-sim answers by default, having no model) and with a fixed answer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build
# A fresh build is the release preset, without the tests (they need packages the demo does not
# install); an existing one (the tests' `dev` preset, which shares build/) keeps its settings.
if [[ -f build/CMakeCache.txt ]]; then
  bash scripts/build.sh --no-configure release >/dev/null
else
  bash scripts/build.sh release >/dev/null
fi

show() {
  echo "\$ $*"
  local status=0
  "$@" || status=$?
  echo "(exit status $status)"
}

# Runs a chat with `request` on standard input and `variables` in the environment, showing it as
# the shell line that does the same.
chat() {
  local request=$1 status=0 shown="" assignment
  shift
  for assignment in "$@"; do shown+="${assignment%%=*}='${assignment#*=}' "; done
  echo "\$ echo '$request' | ${shown}build/corvane-sim chat"
  echo "$request" | env "$@" build/corvane-sim chat || status=$?
  echo "(exit status $status)"
}

show build/corvane availability
show build/corvane-sim availability
# The macOS road (adapter and Swift bridge) on the stand-in framework, where Swift is installed.
if [[ -x build/corvane-apple-sim ]]; then
  show build/corvane-apple-sim availability
fi
request='{"instructions":"Answer briefly.","messages":[{"role":"user","content":"What is a pivot table?"}],"temperature":0.2}'
echo
echo "# corvane-sim has no model: unless CORVANE_SIM_RESPONSE sets one, its answer is the prompt"
echo "# it was given, echoed, which shows what the request became."
chat "$request"
echo
echo "# With a fixed answer, as an integration test sets it:"
chat "$request" "CORVANE_SIM_RESPONSE=A table that summarises rows by the values of chosen columns."
