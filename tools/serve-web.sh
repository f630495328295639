#!/usr/bin/env bash
# Serves the web build (build-web/, or the folder given) on 127.0.0.1 and
# prints the address to open. Port 8080 unless given (0 picks a free one);
# Ctrl+C stops it.
# Usage: tools/serve-web.sh [DIR] [PORT]
# Exit status: 1 the port cannot be listened on, 2 bad arguments.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-$here/../build-web}
port=${2:-8080}
if [ $# -gt 2 ]; then
  echo "serve-web: too many arguments; usage: tools/serve-web.sh [DIR] [PORT]" >&2
  exit 2
fi
if [ ! -f "$dir/index.html" ]; then
  echo "serve-web: $dir has no index.html; build it first: cmake --preset web && cmake --build --preset web" >&2
  exit 2
fi
if ! [[ "$port" =~ ^[0-9]{1,5}$ ]] || [ "$((10#$port))" -gt 65535 ]; then
  echo "serve-web: '$port' is not a port; give a number from 1 to 65535 (0 picks a free one): tools/serve-web.sh $dir PORT" >&2
  exit 2
fi
exec node "$here/serve-web.js" "$dir" "$((10#$port))"
