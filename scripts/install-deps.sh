#!/usr/bin/env bash
# Installs the Debian packages a task needs, only those that are missing, so that a machine that
# already has them starts at once. Usage: install-deps.sh build|test
set -euo pipefail

packages=(cmake ninja-build g++ libboost-json1.81-dev libutf8proc-dev)
if [[ "${1:-build}" == test ]]; then
  packages+=(libgtest-dev unicode-data)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
