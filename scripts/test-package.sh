#!/usr/bin/env bash
# Checks the packages as a user gets them: makes the .deb and the .tar.gz from the build in
# $1 (default build/), holds the .deb to lintian (no error, no warning; each tag it no longer
# raises is an override in packaging/lintian-overrides, with its reason), and in what each
# package unpacks to, the manual page and the changelog of this version, and the Python client
# installing into a fresh virtual environment with no index and answering through corvane-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v lintian >/dev/null || { echo "no lintian: bash scripts/install-deps.sh test installs it" >&2; exit 1; }
build=$(realpath "${1:-build}")
version=$(sed -n 's/^project(corvane VERSION \([^ ]*\).*/\1/p' CMakeLists.txt)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G "DEB;TGZ" -B "$scratch/out" >/dev/null 2>&1) || {
  echo "cpack failed in $build" >&2
  exit 1
}
deb=$(echo "$scratch"/out/*.deb)
archive=$(echo "$scratch"/out/*.tar.gz)
# lintian warns that it runs as root, on standard error; its findings go to standard output.
if ! findings=$(lintian --fail-on error,warning --info "$deb" 2>/dev/null); then
  echo "lintian on $(basename "$deb"):" >&2
  echo "$findings" >&2
  exit 1
fi
[[ -z $findings ]] || { echo "lintian: $findings" >&2; exit 1; }

mkdir "$scratch/deb" "$scratch/archive"
dpkg-deb -x "$deb" "$scratch/deb"
tar -xzf "$archive" -C "$scratch/archive"
for prefix in "$scratch/deb/usr" "$scratch"/archive/corvane-*/; do
  name=${prefix#"$scratch/"}
  name=${name%%/*}
  man=$prefix/share/man/man1
  [[ $(readlink "$man/corvane-sim.1.gz") == corvane.1.gz ]] || { echo "$name: no corvane-sim.1.gz link" >&2; exit 1; }
  zcat "$man/corvane.1.gz" | head -1 | grep -q "\"corvane $version\"" || {
    echo "$name: the manual page is not that of version $version" >&2
    exit 1
  }
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$man/corvane.1.gz" 2>&1 >/dev/null)
  [[ -z $warnings ]] || { echo "$name: corvane.1: $warnings" >&2; exit 1; }
  zcat "$prefix/share/doc/corvane/changelog.gz" | head -1 | grep -q "^corvane ($version) " || {
    echo "$name: the changelog's last entry is not version $version" >&2
    exit 1
  }
  python3 -m venv "$scratch/venv-$name"
  "$scratch/venv-$name/bin/pip" install -q --no-input --no-index --disable-pip-version-check \
    "$prefix/share/corvane/clients/python"
  answer=$(cd "$scratch" && env -i PATH="$PATH" CORVANE_EXECUTABLE="$build/corvane-sim" CORVANE_SIM_RESPONSE=ok \
    "$scratch/venv-$name/bin/python" -c 'import corvane_client as c; print(c.chat({"messages": [{"role": "user", "content": "Hi"}]}).content)')
  [[ $answer == ok ]] || { echo "$name: the Python client installed from it answered: $answer" >&2; exit 1; }
done
echo "packages: lintian clean on $(basename "$deb"); manual page, changelog and an offline Python client install in it and in $(basename "$archive")"
