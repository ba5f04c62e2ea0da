#!/usr/bin/env bash
# Checks the integration kit against the built executables: the JSON Schemas (validated with
# Debian's python3-jsonschema, so with the system's Python) and the Node and Python clients: their
# tests, mypy --strict on the Python package and tsc on the Node declarations, both packages packed
# as they are published (npm pack; an sdist and a wheel checked by twine) and installed as an
# application installs them, with no registry; and what the documentation says to type. The executables are $CORVANE_SIM and $CORVANE, by default build/corvane-sim and
# build/corvane.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVANE_SIM=$(realpath "${CORVANE_SIM:-build/corvane-sim}")
CORVANE=$(realpath "${CORVANE:-build/corvane}")
export CORVANE_SIM CORVANE PYTHONDONTWRITEBYTECODE=1

# mypy, build and twine from PyPI, in a virtual environment of their own: made on the first run and
# again only when these pins change. (The Python client's build backend is its own.)
tools="build-clients/venv"
pins=(mypy==2.4.1 build==1.6.1 twine==7.0.0)
if [[ "$(cat "$tools/pins" 2>/dev/null)" != "${pins[*]}" ]]; then
  rm -rf "$tools"
  python3 -m venv "$tools"
  "$tools/bin/pip" install --quiet --disable-pip-version-check "${pins[@]}"
  echo "${pins[*]}" >"$tools/pins"
fi
export CORVANE_CLIENT_TOOLS=$PWD/$tools/bin

source scripts/suites.sh
suite "schema checks" unittest /usr/bin/python3 -m unittest discover -s schema/test
suite "Python client" unittest python3 -m unittest discover -s clients/python
suite "Node client" tap node --test clients/node/test/corvane.test.js clients/node/test/types.test.js clients/node/test/install.test.js
# The protocol page's and the README's commands, the shutdown recipes and the demo, as written.
suite "documentation" unittest python3 -m unittest discover -s docs/test

# The install tree of the CMake build the executables come from: each relative link of the
# installed README resolves, and both client packages build from there.
install_tree() (
  build=$1
  prefix=$(mktemp -d)
  trap 'rm -rf "$prefix"' EXIT
  cmake --install "$build" --prefix "$prefix" >/dev/null
  doc=$prefix/share/doc/corvane
  mapfile -t links < <(grep -o '](\([^)#:]*\))' "$doc/README.md" | sed 's/^](\(.*\))$/\1/')
  for link in "${links[@]}"; do
    [[ -e $doc/$link ]] || { echo "installed README: broken link $link"; return 1; }
  done
  clients=$prefix/share/corvane/clients
  (cd "$clients/node" && npm pack --silent --pack-destination "$prefix" >/dev/null)
  "$CORVANE_CLIENT_TOOLS/python" -m build --no-isolation --outdir "$prefix" "$clients/python" >/dev/null
  echo "the README's ${#links[@]} links resolve; both client packages build from it"
)
build=$(dirname "$CORVANE_SIM")
if [[ -f $build/cmake_install.cmake ]]; then
  suite "install tree" check install_tree "$build"
else
  echo "no CMake build beside $CORVANE_SIM: the install tree is not checked"
fi
suites_total
