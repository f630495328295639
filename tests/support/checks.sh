# Sourced by the shell test drivers (tests/windows/ci.sh, tests/web/ci.sh):
# one PASS/FAIL line per check, and a closing count whose exit status says
# whether everything passed (and that anything ran at all).
passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
  exit $?
}
