#!/usr/bin/env bash
# Runs an executable many times under a resource limit and counts how the runs end: the
# measurements behind docs/robustness.md where a limit makes the outcome vary from run to run
# (thread start-up, address-space layout, the stack's random placement) or where a run may wait for
# ever, which a process test cannot wait for.
#
# Usage: measure-limits.sh BINARY LIMIT RUNS VALUE... [-- ARGUMENT...]
#   LIMIT: stack (KiB of main-thread stack), nofile (open descriptors), as (MiB of address space)
# Standard input is a file holding the request in $MEASURE_REQUEST (default: one user message); the
# arguments default to "chat". The environment is emptied (env -i) but for $MEASURE_ENV, so that its
# size, which takes stack, is the same on every machine. A run still going after
# $MEASURE_TIMEOUT seconds (default 5) is killed and counted as waiting.
#
# Prints one line per value: how many runs exited with one line on standard output and nothing on
# standard error ("answered", with the statuses seen), exited otherwise (with what they printed),
# ended by a signal (by name, with how many had printed their line first), or waited.
set -euo pipefail
binary=${1:?usage: measure-limits.sh BINARY LIMIT RUNS VALUE... [-- ARGUMENT...]}
limit=${2:?limit: stack, nofile or as}
runs=${3:?number of runs per value}
shift 3
values=()
while [[ $# -gt 0 && $1 != -- ]]; do
  values+=("$1")
  shift
done
[[ ${1:-} == -- ]] && shift
arguments=("$@")
[[ ${#arguments[@]} -eq 0 ]] && arguments=(chat)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
default_request='{"messages":[{"role":"user","content":"Hello"}]}'
printf '%s' "${MEASURE_REQUEST:-$default_request}" >"$work/in"
read -r -a environment <<<"${MEASURE_ENV:-}"

for value in "${values[@]}"; do
  case $limit in
    stack) option=--stack=$((value * 1024)) ;;
    nofile) option=--nofile=$value ;;
    as) option=--as=$((value * 1024 * 1024)) ;;
    *) echo "unknown limit $limit" >&2 && exit 2 ;;
  esac
  declare -A outcomes=()
  for ((run = 0; run < runs; run++)); do
    status=0
    # In a subshell of its own that does not end by running it, so that the report of a run's signal
    # goes to that subshell's discarded standard error.
    (
      env -i "${environment[@]}" timeout -s KILL "${MEASURE_TIMEOUT:-5}" prlimit "$option" \
        "$binary" "${arguments[@]}" <"$work/in" >"$work/out" 2>"$work/err"
      exit $?
    ) 2>/dev/null || status=$?
    lines=$(wc -l <"$work/out" | tr -d ' ')
    bytes=$(wc -c <"$work/out" | tr -d ' ')
    printed="$lines line(s), $(wc -c <"$work/err" | tr -d ' ') bytes on stderr"
    if ((status == 137)); then
      outcome="waited (killed after ${MEASURE_TIMEOUT:-5} s; $printed)"
    elif ((status > 128)); then
      outcome="ended by SIG$(kill -l $((status - 128))) ($printed)"
    elif [[ $lines == 1 && $bytes -gt 0 && ! -s $work/err ]]; then
      outcome="answered, status $status"
    else
      outcome="exited $status ($printed: $(cat "$work/err" "$work/out" | head -c 80 | tr '\n' ' '))"
    fi
    outcomes[$outcome]=$((${outcomes[$outcome]:-0} + 1))
  done
  summary=""
  for outcome in "${!outcomes[@]}"; do summary+="; ${outcomes[$outcome]} $outcome"; done
  echo "$limit $value: ${summary#; }"
  unset outcomes
done
