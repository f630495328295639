# Sourced by the shell test drivers (tests/windows/ci.sh, tests/web/ci.sh):
# one PASS/FAIL line per check, and a closing count whose exit status says
# whether everything passed (and that anything ran at all). A driver that
# points last_err at the standard error of the program it last ran gets that
# shown under a failure.
passed=0
failed=0
last_err=/dev/null
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() {
  echo "FAIL: $1"
  failed=$((failed + 1))
  [ -s "$last_err" ] && tail -n 20 "$last_err" | sed 's/^/  stderr: /'
  return 0
}
# Adds what a sub-run printed to LOG (its PASS and FAIL lines) to the counts;
# a sub-run that ended with STATUS other than 0 or 77 (skipped) without
# saying FAIL counts as one failure: add_checks LOG STATUS WHAT
add_checks() {
  passed=$((passed + $(grep -c '^PASS:' "$1")))
  failed=$((failed + $(grep -c '^FAIL:' "$1")))
  [ "$2" -eq 0 ] || [ "$2" -eq 77 ] || grep -q '^FAIL:' "$1" || fail "$3 ended with status $2"
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit $?
}
