# Sourced by the shell test drivers (tests/windows/ci.sh, tests/web/ci.sh,
# tests/release/ci.sh and the release checks they run): one PASS, FAIL or
# SKIP line per check, and a closing count, "N passed, N failed, N skipped",
# whose exit status says whether everything passed. A run where nothing ran
# at all fails; one where every check was skipped says so and does not. A
# driver that points last_err at the standard error of the program it last
# ran gets that shown under a failure.
passed=0
failed=0
skipped=0
last_err=/dev/null
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() {
  echo "FAIL: $1"
  failed=$((failed + 1))
  [ -s "$last_err" ] && tail -n 20 "$last_err" | sed 's/^/  stderr: /'
  return 0
}
skip_check() { echo "SKIP: $1"; skipped=$((skipped + 1)); }
# Adds what a sub-run printed to LOG (its PASS, FAIL and SKIP lines) to the
# counts. A sub-run that ended with status 77 is a skip (one, if it printed
# no SKIP line of its own); any other status but 0 without a FAIL line
# counts as one failure: add_checks LOG STATUS WHAT
SKIP_STATUS=77
add_checks() {
  passed=$((passed + $(grep -c '^PASS:' "$1")))
  failed=$((failed + $(grep -c '^FAIL:' "$1")))
  skipped=$((skipped + $(grep -c '^SKIP:' "$1")))
  if [ "$2" -eq "$SKIP_STATUS" ]; then
    grep -q '^SKIP:' "$1" || skip_check "$3"
  elif [ "$2" -ne 0 ]; then
    grep -q '^FAIL:' "$1" || fail "$3 ended with status $2"
  fi
}
finish() {
  local all=""
  [ "$passed" -eq 0 ] && [ "$failed" -eq 0 ] && [ "$skipped" -gt 0 ] && all=": every check skipped"
  echo "$passed passed, $failed failed, $skipped skipped$all"
  [ "$failed" -eq 0 ] && [ $((passed + skipped)) -gt 0 ]
  exit $?
}
