#!/usr/bin/env bash
# Checks the integration kit against the built executables: the JSON Schemas (validated with the
# ajv pinned in schema/package-lock.json) and the Node and Python clients. The executables are
# $CORVANE_SIM and $CORVANE, by default build/corvane-sim and build/corvane.
set -euo pipefail
cd "$(dirname "$0")/.."
CORVANE_SIM=$(realpath "${CORVANE_SIM:-build/corvane-sim}")
CORVANE=$(realpath "${CORVANE:-build/corvane}")
export CORVANE_SIM CORVANE

npm ci --prefix schema --no-audit --no-fund --loglevel=error >/dev/null
PYTHONDONTWRITEBYTECODE=1 python3 -m unittest discover -s clients/python
node --test schema/test/replies.test.js clients/node/test/corvane.test.js
