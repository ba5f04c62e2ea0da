#!/usr/bin/env bash
# Checks the integration kit against the built executables: the JSON Schemas (validated with
# Debian's python3-jsonschema, so with the system's Python) and the Node and Python clients: their
# tests, mypy --strict on the Python package, both packages packed as they are published (npm pack;
# an sdist and a wheel checked by twine) and installed as an application installs them, with no
# registry. The executables are $CORVANE_SIM and $CORVANE, by default build/corvane-sim and
# build/corvane.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVANE_SIM=$(realpath "${CORVANE_SIM:-build/corvane-sim}")
CORVANE=$(realpath "${CORVANE:-build/corvane}")
export CORVANE_SIM CORVANE PYTHONDONTWRITEBYTECODE=1

# mypy, build (with the build backend, flit_core) and twine from PyPI, in a virtual environment of
# their own: made on the first run and again only when these pins change.
tools=build-clients/venv
pins=(mypy==2.4.1 build==1.6.1 flit_core==4.2.0 twine==7.0.0)
if [[ "$(cat "$tools/pins" 2>/dev/null)" != "${pins[*]}" ]]; then
  rm -rf "$tools"
  python3 -m venv "$tools"
  "$tools/bin/pip" install --quiet --disable-pip-version-check "${pins[@]}"
  echo "${pins[*]}" >"$tools/pins"
fi
export CORVANE_CLIENT_TOOLS=$PWD/$tools/bin

/usr/bin/python3 -m unittest discover -s schema/test
python3 -m unittest discover -s clients/python
node --test clients/node/test/corvane.test.js clients/node/test/install.test.js
