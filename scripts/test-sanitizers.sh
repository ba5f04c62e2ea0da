#!/usr/bin/env bash
# Builds everything with clang's sanitizers and runs the tests on it: the whole suite with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, and the chat tests (the worker
# thread and the semaphore hand-over, in process and in the executables) with ThreadSanitizer in
# build-tsan/. The process tests run the sanitized executables; a finding ends the run it happens
# in with status 86 and a report on standard error, which fails the test that started it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh sanitizers

symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
common=""
[[ -x $symbolizer ]] && common="external_symbolizer_path=$symbolizer:"
export ASAN_OPTIONS="${common}exitcode=86:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="${common}exitcode=86:print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="${common}exitcode=86:halt_on_error=1:second_deadlock_stack=1"

build() {
  local dir=$1 sanitizers=$2
  CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCORVANE_SANITIZE="$sanitizers" >/dev/null
  if ! ninja -C "$dir" >"$dir/build.log" 2>&1; then
    tail -n 60 "$dir/build.log" >&2
    exit 1
  fi
}

build build-asan address,undefined
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"

# ThreadSanitizer maps its shadow memory at fixed addresses; without address-space randomisation
# it starts on every kernel, whatever its randomisation settings.
build build-tsan thread
norandom=()
setarch "$(uname -m)" -R true 2>/dev/null && norandom=(setarch "$(uname -m)" -R)
# Rows under a file-size limit are left out: ThreadSanitizer's run-time writes a file of its own at
# start, and is ended by SIGXFSZ there before the program runs.
"${norandom[@]}" ctest --test-dir build-tsan --output-on-failure -j"$(nproc)" \
  -R '^(Chat[A-Za-z]*|Process)\.' -E '100MB|AMillion|TheMillionth|Longest|1MBOf|FileSizeLimit'
