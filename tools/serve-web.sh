#!/usr/bin/env bash
# Serves the web build (build-web/, or the folder given) on 127.0.0.1 and
# prints the address to open. Port 8080 unless given; Ctrl+C stops it.
# Usage: tools/serve-web.sh [DIR] [PORT]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:-$here/../build-web}
if [ ! -f "$dir/index.html" ]; then
  echo "serve-web: $dir has no index.html; build it first: cmake --preset web && cmake --build --preset web" >&2
  exit 2
fi
exec node "$here/serve-web.js" "$dir" "${2:-8080}"
