#!/usr/bin/env bash
# Checks the integration kit against the built executables: the JSON Schemas (validated with
# Debian's python3-jsonschema, so with the system's Python) and the Node and Python clients, each
# also packed and installed as an application installs it (pip fetches the Python package's build
# backend from PyPI; npm needs no registry). The executables are $CORVANE_SIM and $CORVANE, by
# default build/corvane-sim and build/corvane.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVANE_SIM=$(realpath "${CORVANE_SIM:-build/corvane-sim}")
CORVANE=$(realpath "${CORVANE:-build/corvane}")
export CORVANE_SIM CORVANE PYTHONDONTWRITEBYTECODE=1

/usr/bin/python3 -m unittest discover -s schema/test
python3 -m unittest discover -s clients/python
node --test clients/node/test/corvane.test.js clients/node/test/install.test.js
