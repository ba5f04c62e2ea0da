#!/usr/bin/env bash
# Runs a corvane executable once as an application would, shows what it answered and holds the run
# to the contract: exactly one line on standard output, a JSON object, nothing on standard error, and
# the exit status its reply documents (0 for an availability report, an answer or a failed
# generation; 1 for an unknown command or a refused chat). Standard input is passed on.
#
# Usage: check-reply.sh [--expect REPLY STATUS] BINARY [ARGUMENT...]
# With --expect, the reply line and the status must be exactly these.
set -euo pipefail
expected_reply="" expected_status=""
if [[ ${1:-} == --expect ]]; then
  expected_reply=$2 expected_status=$3
  shift 3
fi
binary=${1:?usage: check-reply.sh [--expect REPLY STATUS] BINARY [ARGUMENT...]}
shift

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
"$binary" "$@" >"$work/out" 2>"$work/err" || status=$?
echo "$binary $*: status $status, reply: $(cat "$work/out")"

failures=()
[[ -s $work/err ]] && failures+=("standard error is not empty: $(head -c 500 "$work/err")")
lines=$(wc -l <"$work/out" | tr -d ' ')
[[ $lines == 1 && $(tail -c 1 "$work/out" | od -An -c | tr -d ' ') == '\n' ]] ||
  failures+=("standard output is not one line ended by a line feed")
# The kind of reply: "answer", "availability", "error", or what is wrong with it.
kind=$(python3 -c '
import json, sys
try:
    reply = json.loads(sys.stdin.buffer.read())
except ValueError as error:
    sys.exit(print(f"not JSON ({error})"))
if not isinstance(reply, dict):
    print("not a JSON object")
elif "content" in reply and reply.get("finishReason") == "stop":
    print("answer")
elif isinstance(reply.get("available"), bool):
    print("availability")
elif isinstance(reply.get("error"), str):
    print("error")
else:
    print("an object of no documented reply")
' <"$work/out")
case $kind in
  answer | availability) [[ $status == 0 ]] || failures+=("a reply of kind $kind with status $status") ;;
  error) [[ $status == 0 || $status == 1 ]] || failures+=("an error reply with status $status") ;;
  *) failures+=("the reply is $kind") ;;
esac
if [[ -n $expected_status ]]; then
  [[ $(cat "$work/out") == "$expected_reply" ]] || failures+=("the reply is not $expected_reply")
  [[ $status == "$expected_status" ]] || failures+=("the status is not $expected_status")
fi

for failure in "${failures[@]}"; do echo "FAIL: $failure"; done
[[ ${#failures[@]} -eq 0 ]]
