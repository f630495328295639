#!/usr/bin/env bash
# tools/serve-web.sh answers a taken or a bad port with one line in its own
# name that says what to do, and a defined status (1 and 2), never Node's
# stack trace; a file it cannot read gets 403, and it serves on. Serves a
# folder of its own on a free port (0) to take one.
# Usage: serve_web_test.sh SOURCE_DIR   (exit 77: no node, skipped)
set -uo pipefail
. "$(dirname "$0")/../support/script_lib.sh"
tool=$(cd "$1" && pwd)/tools/serve-web.sh
command -v node >/dev/null || skip "no node"

dir=$work
echo '<p>page</p>' >"$dir/index.html"
if [ "$(id -u)" -eq 0 ]; then
  ln -s /proc/sys/vm/drop_caches "$dir/unreadable.mp3"  # write-only even for root, who reads past modes
else
  echo x >"$dir/unreadable.mp3" && chmod 000 "$dir/unreadable.mp3"
fi

# expect_line STATUS PREFIX TEXT...: the last run's stderr is one line starting with
# PREFIX and holding each TEXT, its status STATUS.
expect_line() {
  local status=$1 prefix=$2 err
  shift 2
  [ "$run_status" -eq "$status" ] || die "status $run_status, not $status; it said: $run_err"
  [ "$(printf '%s\n' "$run_err" | wc -l)" -eq 1 ] || die "more than one line: $run_err"
  [[ "$run_err" == "$prefix"* ]] || die "does not start with '$prefix': $run_err"
  for err in "$@"; do
    [[ "$run_err" == *"$err"* ]] || die "does not say '$err': $run_err"
  done
}
run() { run_err=$(bash "$tool" "$@" 2>&1 >/dev/null); run_status=$?; }

coproc server { exec bash "$tool" "$dir" 0 2>&1; }
helpers+=("$server_PID")
read -r url <&"${server[0]}" || die "the server said nothing"
port=${url##*:}
port=${port%/}
[[ "$port" =~ ^[0-9]+$ ]] || die "no address printed: $url"
answers=$(node -e '
  const get = (name) => new Promise((r) => require("http").get(process.argv[1] + name, (a) => r(a.resume().statusCode))
                                                .on("error", (e) => r(e.code)));
  (async () => console.log(await get("unreadable.mp3"), await get("index.html")))();' "$url")
[ "$answers" = "403 200" ] || die "an unreadable file and then the page: $answers, not 403 200"

run "$dir" "$port"
expect_line 1 "serve-web: port $port on 127.0.0.1 is already in use" "second argument" "tools/serve-web.sh"
for bad in 65536 80x -1; do
  run "$dir" "$bad"
  expect_line 2 "serve-web: '$bad' is not a port" "from 1 to 65535"
done
run "$dir/nothing-here" 0
expect_line 2 "serve-web: $dir/nothing-here has no index.html" "cmake --preset web"
echo "PASS: an unreadable file gets 403 and the server serves on; a taken port, bad ports and a folder without a page each get one line of serve-web's own"
