#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing, so that a machine that
# already has them starts at once. Usage: install-deps.sh build|test|sanitizers|libcxx|lint|bench
set -euo pipefail

packages=(cmake ninja-build g++ libboost-json1.81-dev)
if [[ "${1:-build}" =~ ^(test|sanitizers|libcxx)$ ]]; then
  packages+=(libgtest-dev python3)
fi
# The schema checks validate with Debian's jsonschema (draft 2020-12), under the system's Python;
# the Python client's install test makes a virtual environment, which Debian's Python does with
# python3-venv; the Node client's declarations are checked with TypeScript's tsc; the .deb is
# held to lintian.
if [[ "${1:-build}" == test ]]; then
  packages+=(python3-jsonschema python3-venv node-typescript lintian)
fi
# Sanitizer builds and fuzzers: Debian's clang 14 (the presets name clang-14) with its sanitizer
# and libFuzzer runtimes, llvm-symbolizer for readable reports, and fast_float, the decoder
# fuzzer's reference for numbers.
if [[ "${1:-build}" == sanitizers ]]; then
  packages+=(clang-14 libclang-rt-14-dev llvm-14 libfast-float-dev)
fi
# The build a Mac makes, as near as Linux gets: clang 19 with LLVM's libc++ 19 and libc++abi 19,
# and clang 19's sanitizer and libFuzzer runtimes for the fuzz targets.
if [[ "${1:-build}" == libcxx ]]; then
  packages+=(clang-19 libc++-19-dev libc++abi-19-dev libclang-rt-19-dev libfast-float-dev)
fi

# The lint: shellcheck, clang-format 19, and a virtual environment for check-jsonschema from PyPI.
if [[ "${1:-build}" == lint ]]; then
  packages=(shellcheck clang-format-19 python3-venv)
fi
# The benchmark: hyperfine, valgrind (callgrind counts instructions), GNU time for peak memory and
# Python for the table.
if [[ "${1:-build}" == bench ]]; then
  packages+=(hyperfine valgrind time python3)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
# The client tests need Node.js with npm (to pack and install the Node package) and Python 3: any
# installation will do.
if [[ "${1:-build}" == test ]]; then
  command -v node >/dev/null || missing+=(nodejs)
  command -v npm >/dev/null || missing+=(npm)
  command -v python3 >/dev/null || missing+=(python3)
fi
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
