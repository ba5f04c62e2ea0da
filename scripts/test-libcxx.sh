#!/usr/bin/env bash
# Builds and tests everything the way a Mac compiles it, as near as Linux gets: clang 19 with LLVM's
# libc++ 19 and libc++abi 19, the upstream library closest to Xcode's. The `libcxx` preset (in
# build-libcxx/): the program, every platform layer (corvane-apple-sim too, where Swift is
# installed), the benchmark's programs and the unit and process tests, with GoogleTest compiled
# from Debian's sources against libc++, then the whole ctest suite. The `libcxx-fuzz` preset (in
# build-libcxx-fuzz/): the fuzz targets, each run on its seed corpus and 10000 inputs more. Every
# warning is an error in both.
#
# Upstream libc++ has no availability gates on Linux: what Apple's libc++ ships only on later macOS
# versions is checked apart, by scripts/check-apple-gates.py, first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh libcxx
python3 scripts/check-apple-gates.py
for preset in libcxx libcxx-fuzz; do
  bash scripts/build.sh "$preset"
  ctest --preset "$preset" -j"$(nproc)"
done
