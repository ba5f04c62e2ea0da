#!/usr/bin/env bash
# Builds everything with clang's sanitizers and runs the tests on it: the whole suite with
# AddressSanitizer and UndefinedBehaviorSanitizer (the `asan-ubsan` preset, in build-asan-ubsan/),
# and the tests labelled `threads` (the generation thread and its hand-over, in process and in the
# executables) with ThreadSanitizer (the `tsan` preset, in build-tsan/). The process tests run the
# sanitized executables; a finding ends the run it happens in with status 86 and a report on
# standard error, which fails the test that started it. The presets hold the sanitizers' options.
# Usage: test-sanitizers.sh [asan-ubsan|tsan] (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh sanitizers
presets=("$@")
[[ ${#presets[@]} -eq 0 ]] && presets=(asan-ubsan tsan)

for preset in "${presets[@]}"; do
  bash scripts/build.sh "$preset"
  # ThreadSanitizer maps its shadow memory at fixed addresses; without address-space
  # randomisation it starts on every kernel, whatever its randomisation settings.
  norandom=()
  if [[ $preset == tsan ]] && setarch "$(uname -m)" -R true 2>/dev/null; then
    norandom=(setarch "$(uname -m)" -R)
  fi
  "${norandom[@]}" ctest --preset "$preset" -j"$(nproc)"
done
