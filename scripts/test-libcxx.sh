#!/usr/bin/env bash
# Builds and tests everything the way a Mac compiles it, as near as Linux gets: clang 19 with LLVM's
# libc++ 19 and libc++abi 19, the upstream library closest to Xcode's. In build-libcxx/: the
# program, every platform layer (corvane-apple-sim too, where Swift is installed), the benchmark's
# programs and the unit and process tests, with GoogleTest compiled from Debian's sources against
# libc++; then the whole ctest suite. In build-libcxx-fuzz/: the fuzz targets, each run on its seed
# corpus and a few thousand inputs more. Every warning is an error here as everywhere.
#
# Upstream libc++ has no availability gates on Linux: what Apple's libc++ ships only on later macOS
# versions is checked apart, by scripts/check-apple-gates.py, first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh libcxx
python3 scripts/check-apple-gates.py
export CC=clang-19 CXX=clang++-19

# GoogleTest's prebuilt archives use libstdc++; built once from its sources for libc++.
gtest=$PWD/build-libcxx/googletest
if [[ ! -f $gtest/install/lib/libgtest.a ]]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$gtest/install" \
    >/dev/null
  ninja -C "$gtest/build" install >/dev/null
fi

cmake -S . -B build-libcxx -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_LIBCXX=ON \
  -DCORVANE_BUILD_TESTS=ON -DCORVANE_BUILD_BENCH=ON -DGTest_ROOT="$gtest/install" >/dev/null
if ! ninja -C build-libcxx >build-libcxx/build.log 2>&1; then
  tail -n 60 build-libcxx/build.log >&2
  exit 1
fi
ctest --test-dir build-libcxx --output-on-failure -j"$(nproc)"

cmake -S . -B build-libcxx-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_LIBCXX=ON \
  -DCORVANE_BUILD_TESTS=OFF -DCORVANE_SANITIZE=address,undefined -DCORVANE_BUILD_FUZZERS=ON \
  >/dev/null
if ! ninja -C build-libcxx-fuzz >build-libcxx-fuzz/build.log 2>&1; then
  tail -n 60 build-libcxx-fuzz/build.log >&2
  exit 1
fi
for fuzzer in build-libcxx-fuzz/fuzz/*_fuzzer; do
  target=$(basename "$fuzzer")
  options=(-runs=10000 -seed=1)
  [[ -f fuzz/$target.dict ]] && options+=(-dict="fuzz/$target.dict")
  # New inputs go to a folder of the build's own (the first one named), never into the committed
  # seed corpus.
  rm -rf "build-libcxx-fuzz/corpus/$target"
  mkdir -p "build-libcxx-fuzz/corpus/$target"
  if ! "$fuzzer" "${options[@]}" "build-libcxx-fuzz/corpus/$target" "fuzz/corpus/$target" \
    >"build-libcxx-fuzz/$target.log" 2>&1; then
    echo "== $target failed under libc++; the end of build-libcxx-fuzz/$target.log:"
    tail -n 40 "build-libcxx-fuzz/$target.log"
    exit 1
  fi
  echo "$target: its seed corpus and 10000 inputs under libc++, no finding"
done
