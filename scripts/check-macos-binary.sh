#!/usr/bin/env bash
# Checks a macOS build of corvane as it must ship (macOS only: otool and lipo come with Xcode):
# - arm64 and nothing else;
# - runs from macOS 14.0 on (minos 14.0);
# - FoundationModels loaded weakly, so the program starts on macOS 14 and 15 where it is missing;
# - every other library from the system (/usr/lib, Swift's own from /usr/lib/swift, or /System),
#   none from Homebrew or any other place a user's Mac may lack.
# Prints one line per finding and exits 1 if there is any. Usage: check-macos-binary.sh BINARY
set -euo pipefail
binary=${1:?usage: check-macos-binary.sh BINARY}
[[ -f $binary ]] || { echo "no such file: $binary"; exit 1; }

failures=0
fail() {
  echo "FAIL: $binary: $*"
  failures=$((failures + 1))
}

archs=$(lipo -archs "$binary")
[[ $archs == arm64 ]] || fail "architectures are '$archs', not arm64 alone"

# Load commands as "COMMAND VALUE" lines: the library path of each LC_*DYLIB, the minos of
# LC_BUILD_VERSION.
commands=$(otool -l "$binary" | awk '
  $1 == "cmd" { cmd = $2 }
  $1 == "name" && cmd ~ /DYLIB$/ { print cmd, $2 }
  $1 == "minos" && cmd == "LC_BUILD_VERSION" { print cmd, $2 }')

minos=$(awk '$1 == "LC_BUILD_VERSION" { print $2 }' <<<"$commands")
[[ $minos == 14.0 ]] || fail "minimum macOS is '${minos:-unknown}', not 14.0"

framework=/System/Library/Frameworks/FoundationModels.framework/Versions/A/FoundationModels
loads=$(awk -v path="$framework" '$2 == path { print $1 }' <<<"$commands")
[[ $loads == LC_LOAD_WEAK_DYLIB ]] ||
  fail "FoundationModels is loaded by '${loads:-nothing}', not by LC_LOAD_WEAK_DYLIB alone"

while read -r cmd path; do
  [[ $cmd == LC_ID_DYLIB || $path == "$framework" ]] && continue
  case $path in
    /usr/lib/swift/* | /usr/lib/* | /System/*) ;;
    *) fail "$cmd $path is not a library of the system" ;;
  esac
done < <(awk '$1 ~ /DYLIB$/' <<<"$commands")

if ((failures > 0)); then
  echo "$binary: $failures finding(s)"
  exit 1
fi
echo "$binary: arm64 only, minos 14.0, FoundationModels weak, system libraries only"
