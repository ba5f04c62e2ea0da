#!/usr/bin/env bash
# The performance benchmark: builds the release build and the floors, generates the inputs,
# times everything with hyperfine (warm-ups, many runs, medians), counts the instructions of the
# 10 KiB chats with callgrind (which do not move with the machine's noise) and prints one table of
# each figure against its floor, with the ratio, the target and peak memory.
#
# Usage: bash bench/run.sh
#
# The build is the `bench` preset: the release build with the floors and the generator, in a
# directory of its own (build-bench/release, or $CORVANE_BENCH_BUILD_DIR) so that a benchmark never
# reconfigures build/. Inputs are generated there too.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${CORVANE_BENCH_BUILD_DIR:-build-bench/release}
work=$build/bench-data
mkdir -p "$work"

# Tools: the project's build dependencies, hyperfine, valgrind, GNU time and Python.
bash scripts/install-deps.sh bench

echo "building the release build and the floors in $build (the bench preset)"
CORVANE_BUILD_DIR=$build bash scripts/build.sh bench >/dev/null

corvane=$build/corvane
sim=$build/corvane-sim
floor=$build/bench/process_floor
thread_floor=$build/bench/thread_floor
parse_floor=$build/bench/parse_floor

# Every message is about 670 bytes, so the sizes differ only in the number of messages. The
# multilingual request holds Chinese, Japanese and Korean text and emoji sequences: 23 KiB of them,
# more bytes than the context budget has characters, so that its characters are counted (a request
# whose bytes fit the budgets needs no counting).
echo "generating the requests in $work"
generate() {  # name messages bytes [non-ASCII percent | multilingual]
  "$build/bench/generate_request" "${@:2}" >"$work/$1.json"
}
generate small 15 10240
generate multilingual 34 23552 multilingual
generate 1mb 1563 1048576
generate 8mb 12500 8388608
generate 64mb 100000 67108864

# Only the variables each figure sets reach the stand-in.
unset CORVANE_SIM_OS_VERSION CORVANE_SIM_AVAILABILITY CORVANE_SIM_RESPONSE CORVANE_SIM_ERROR \
  CORVANE_SIM_DELAY_MS CORVANE_SIM_TRACE

results=$work/results
rm -rf "$results"
mkdir -p "$results"

# Every command is started directly by hyperfine (-N): a shell's start-up would cost more than the
# programs under test, and subtracting it is too noisy at this scale.
bench() {  # name warmups runs command...
  local name=$1 warmup=$2 runs=$3
  shift 3
  if ! hyperfine -N --style none --warmup "$warmup" --runs "$runs" \
    --export-json "$results/$name.json" "$@" >"$results/hyperfine.log" 2>&1; then
    cat "$results/hyperfine.log" >&2
    exit 1
  fi
}

# Peak resident memory of one run in KiB: the median of three runs.
peak() {  # name input command...
  local name=$1 input=$2
  shift 2
  local samples=()
  for _ in 1 2 3; do
    /usr/bin/time -f %M -o "$results/time.out" "$@" <"$input" >/dev/null 2>&1 || true
    samples+=("$(tail -n 1 "$results/time.out")")
  done
  printf '%s\n' "${samples[@]}" | sort -n | sed -n 2p | sed "s/^/$name /" >>"$results/peak.txt"
}

with_stdin=$build/bench/with_stdin

# A figure is only worth having for a run that answers: check each input gets a content reply.
for input in small multilingual 1mb 8mb 64mb; do
  if ! "$sim" chat <"$work/$input.json" | grep -q '^{"content":"'; then
    echo "corvane-sim chat does not answer $work/$input.json" >&2
    exit 1
  fi
done

echo "timing start-up"
bench startup 100 1000 "$floor" "$corvane availability" "$sim availability"
peak process-floor /dev/null "$floor"
peak availability /dev/null "$corvane" availability
peak availability-sim /dev/null "$sim" availability

echo "timing the small chat"
# hyperfine gives no standard input, so the chat is started through with_stdin, and so is the
# floor once more: the difference of those two is what with_stdin costs, taken off the chat's time
# against the process floor. Against the thread floor, which reads the same request, the two are
# compared as both are started, through with_stdin.
export CORVANE_SIM_RESPONSE="Group the rows by month, then add a sum of sales."
bench small 50 1000 "$floor" "$with_stdin $work/small.json $floor" \
  "$with_stdin $work/small.json $sim chat" "$with_stdin $work/small.json $thread_floor"
peak chat-small "$work/small.json" "$sim" chat

echo "timing the streamed small chat"
# The whole streamed answer against chat's on the same request, and how soon the first piece
# comes against chat's one line; the stand-in answers at once, so this is the cost of streaming.
bench stream-small 50 1000 "$with_stdin $work/small.json $sim chat" \
  "$with_stdin $work/small.json $sim stream"
"$build/bench/first_line" 501 "$work/small.json" "$sim" chat >"$results/first-line-chat.json"
"$build/bench/first_line" 501 "$work/small.json" "$sim" stream >"$results/first-line-stream.json"

echo "counting the instructions of the small chats"
# The median of three callgrind runs each (they differ by a few instructions at most), written as
# "name count" lines.
instructions() {  # name input command...
  local name=$1 input=$2
  shift 2
  local samples=()
  for run in 1 2 3; do
    valgrind --tool=callgrind --callgrind-out-file="$results/$name.$run.callgrind" "$@" \
      <"$input" >/dev/null 2>"$results/valgrind.log"
    samples+=("$(sed -n 's/^summary: //p' "$results/$name.$run.callgrind")")
  done
  printf '%s\n' "${samples[@]}" | sort -n | sed -n 2p | sed "s/^/$name /" \
    >>"$results/instructions.txt"
}
instructions chat-small "$work/small.json" "$sim" chat
instructions chat-multilingual "$work/multilingual.json" "$sim" chat
instructions thread-floor "$work/small.json" "$thread_floor"
unset CORVANE_SIM_RESPONSE

echo "timing the large chats"
# The stand-in answers with the prompt it was given: the whole condensed conversation comes back.
bench 1mb 3 30 "$with_stdin $work/1mb.json $parse_floor" "$with_stdin $work/1mb.json $sim chat"
bench 8mb 2 15 "$with_stdin $work/8mb.json $parse_floor" "$with_stdin $work/8mb.json $sim chat"
bench 64mb 1 10 "$with_stdin $work/64mb.json $parse_floor" "$with_stdin $work/64mb.json $sim chat"
for size in 1mb 8mb 64mb; do
  peak "parse-floor-$size" "$work/$size.json" "$parse_floor"
  peak "chat-$size" "$work/$size.json" "$sim" chat
done

echo "timing the large chat through a pipe"
# As an application sends it: the request arrives through a pipe, whose size is not known ahead.
# Started through sh, whose start-up hyperfine subtracts; it is small beside these times.
if ! hyperfine --style none --warmup 1 --runs 10 --export-json "$results/pipe.json" \
  "cat $work/64mb.json | $parse_floor" "cat $work/64mb.json | $sim chat" \
  >"$results/hyperfine.log" 2>&1; then
  cat "$results/hyperfine.log" >&2
  exit 1
fi
peak_piped() {  # name command...
  local name=$1
  shift
  local samples=()
  for _ in 1 2 3; do
    # Through a pipe, not from the file: dd is the writer at the other end.
    dd if="$work/64mb.json" bs=1M status=none |
      /usr/bin/time -f %M -o "$results/time.out" "$@" >/dev/null 2>&1 || true
    samples+=("$(tail -n 1 "$results/time.out")")
  done
  printf '%s\n' "${samples[@]}" | sort -n | sed -n 2p | sed "s/^/$name /" >>"$results/peak.txt"
}
peak_piped parse-floor-pipe "$parse_floor"
peak_piped chat-pipe "$sim" chat

python3 bench/report.py "$results" "$work"
