#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with AddressSanitizer and UndefinedBehaviorSanitizer (the
# `fuzz` preset, in build-fuzz/) and runs each for SECONDS (default 60), as many at once as there
# are cores, starting from its committed seed corpus. New inputs go to build-fuzz/corpus/<target>/, the input of a
# failure to build-fuzz/artifacts/, each run's log to build-fuzz/logs/<target>.log.
# Usage: fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -eq 0 ]] && targets=(request_decoder_fuzzer reply_writer_fuzzer text_fuzzer prompt_fuzzer)

bash scripts/install-deps.sh sanitizers
bash scripts/build.sh fuzz >/dev/null

export UBSAN_OPTIONS=print_stacktrace=1
run() {
  local target=$1
  local corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus" build-fuzz/artifacts build-fuzz/logs
  local options=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1
                 -artifact_prefix="build-fuzz/artifacts/$target-")
  [[ -f fuzz/$target.dict ]] && options+=(-dict="fuzz/$target.dict")
  "build-fuzz/fuzz/$target" "${options[@]}" "$corpus" "fuzz/corpus/$target" \
    >"build-fuzz/logs/$target.log" 2>&1
}

# Up to one target per core at a time.
declare -A pids=()
failed=()
for target in "${targets[@]}"; do
  while (( $(jobs -rp | wc -l) >= $(nproc) )); do wait -n || true; done
  run "$target" &
  pids[$target]=$!
done
for target in "${targets[@]}"; do
  if ! wait "${pids[$target]}"; then failed+=("$target"); fi
done

for target in "${targets[@]}"; do
  log=build-fuzz/logs/$target.log
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  time=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n1)
  echo "$target: ${runs:-?} executions in ${time:-?} s, corpus $(find "build-fuzz/corpus/$target" -type f | wc -l) inputs"
done
if [[ ${#failed[@]} -gt 0 ]]; then
  for target in "${failed[@]}"; do
    echo "== $target failed; the end of build-fuzz/logs/$target.log:"
    tail -n 60 "build-fuzz/logs/$target.log"
  done
  exit 1
fi
