# shellcheck shell=bash
# The awk programs below are in single quotes on purpose: awk, not the shell, reads their $n.
# shellcheck disable=SC2016

# Runs test suites quietly, for scripts/test.sh and scripts/test-clients.sh (sourced by both):
# each suite's output goes to a log, shown only when the suite fails, and the suite is one line
# with its counts. The script that sourced this first ends with the total, on a line of its own
# ("total: N passed, N failed"), and fails when any suite did.

# Counts of every suite so far, one "passed failed skipped" line each, shared with the scripts
# this one runs.
if [[ -z ${CORVANE_TEST_TALLY:-} ]]; then
  CORVANE_TEST_TALLY=$(mktemp)
  export CORVANE_TEST_TALLY
  suites_own_tally=true
else
  suites_own_tally=false
fi

# suite NAME FORMAT COMMAND...: runs COMMAND; FORMAT says how it reports its counts: "ctest",
# "unittest" (Python's), "tap" (Node's test runner) or "check" (one check, passed when the command
# succeeds).
suite() {
  local name=$1 format=$2 log status=0 passed=0 failed=0 skipped=0
  shift 2
  log=$(mktemp)
  "$@" >"$log" 2>&1 || status=$?
  case $format in
    ctest)
      read -r failed total < <(sed -n 's/.* tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/\1 \2/p' "$log") || true
      skipped=$(sum '/^[[:space:]]*[0-9]+ - .* \(Skipped\)$/ { n++ }' "$log")
      passed=$((${total:-0} - ${failed:-0} - skipped))
      ;;
    unittest)
      local ran
      ran=$(sum '/^Ran [0-9]+ tests? in / { n += $2 }' "$log")
      # The closing line: "OK", "OK (skipped=1)" or "FAILED (failures=1, errors=2, skipped=3)".
      local counts='/^(OK|FAILED) \(/ { while (match($0, /[a-z]+=[0-9]+/)) {
        split(substr($0, RSTART, RLENGTH), count, "="); if (count[1] ~ WHAT) n += count[2]
        $0 = substr($0, RSTART + RLENGTH) } }'
      failed=$(sum "${counts//WHAT//^(failures|errors)$/}" "$log")
      skipped=$(sum "${counts//WHAT//^skipped$/}" "$log")
      # Failed subtests count one each, so there can be more failures than tests.
      passed=$((ran - failed - skipped < 0 ? 0 : ran - failed - skipped))
      ;;
    tap)
      passed=$(sum '/^# pass [0-9]+$/ { n += $3 }' "$log")
      failed=$(sum '/^# fail [0-9]+$/ { n += $3 }' "$log")
      skipped=$(sum '/^# skipped [0-9]+$/ { n += $3 }' "$log")
      ;;
    check) [[ $status -eq 0 ]] && passed=1 ;;
  esac
  # A runner that failed without counting a failure (it did not start, or crashed) is one.
  [[ $status -ne 0 && $failed -eq 0 ]] && failed=1
  if [[ $failed -ne 0 ]]; then
    tail -n 100 "$log"
  elif [[ $format == check ]]; then
    tail -n 1 "$log" | sed 's/^/  /'
  fi
  rm -f "$log"
  echo "$name: $passed passed, $failed failed$([[ $skipped -eq 0 ]] || echo ", $skipped skipped")"
  echo "$passed $failed $skipped" >>"$CORVANE_TEST_TALLY"
}

# sum AWK FILE: what the awk program adds up in n over FILE's lines (0 when nothing matches).
sum() {
  awk "$1"' END { print n + 0 }' "$2"
}

# The closing line, by the script that sourced this first; its exit status says whether all passed.
suites_total() {
  [[ $suites_own_tally == true ]] || return 0
  local passed failed skipped
  read -r passed failed skipped < <(awk '{ p += $1; f += $2; s += $3 } END { print p + 0, f + 0, s + 0 }' "$CORVANE_TEST_TALLY")
  rm -f "$CORVANE_TEST_TALLY"
  echo "total: $passed passed, $failed failed$([[ $skipped -eq 0 ]] || echo ", $skipped skipped")"
  [[ $failed -eq 0 ]]
}
