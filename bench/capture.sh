#!/usr/bin/env bash
# Capture throughput: tolmar-capture rendering the whole piece to .mp4 at
# 60 fps, in video seconds per wall second, against its two floors measured
# in the same round, back to back:
#   render  the program's run on the capture platform, every frame read back,
#           nothing encoded;
#   encode  the encoder half alone (conversion, H.264 + AAC, muxing) on as
#           many frames of the piece held in memory;
# both from one run of bench/capture_floor.cpp.
#
#   bash bench/capture.sh            one round at 1280x720 and 1920x1080
# Environment: ROUNDS (default 1), SIZES (default "1280x720 1920x1080"),
# FRAMES (default 8161, the whole piece; fewer stop the run early),
# TOLMAR_BENCH_BUILD (build folder, default build-bench).
# Writes build-bench/bench-results/capture/results.md (raw log beside it).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLMAR_BENCH_BUILD:-$root/build-bench}
out=$build/bench-results/capture
ROUNDS=${ROUNDS:-1}
SIZES=${SIZES:-1280x720 1920x1080}
FPS=60
FRAMES=${FRAMES:-8161}  # 180 lead-in frames and 7981 timeline frames at 60 fps

for tool in cmake ninja python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "capture.sh: $tool is missing" >&2; exit 1; }
done
echo "== building in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLMAR_BENCH=ON -DTOLMAR_TESTS=OFF -DTOLMAR_CAPTURE=ON >/dev/null
cmake --build "$build" --target tolmar-capture capture_floor soundtrack

mkdir -p "$out"
cd "$out"
"$build/tools/soundtrack/soundtrack" tolmar.mp3 >/dev/null
export EGL_PLATFORM=surfaceless
log=$out/runs.log
: >"$log"
{
  echo "date=$(date -u +%Y-%m-%dT%H:%M:%SZ) commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo -)"
  echo "nproc=$(nproc) load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$out/machine.txt"

load() { cut -d' ' -f1 /proc/loadavg; }

for round in $(seq 1 "$ROUNDS"); do
  for size in $SIZES; do
    echo "== round $round at $size"
    floors=$("$build/bench/capture_floor" "$size" $FPS "$FRAMES" floor.mp4)
    echo "round=$round size=$size what=render wall_s=$(echo "$floors" | sed -n 's/.*render_s=\([^ ]*\).*/\1/p') load=$(load)" >>"$log"
    echo "round=$round size=$size what=encode wall_s=$(echo "$floors" | sed -n 's/.*encode_s=\([^ ]*\).*/\1/p') load=$(load)" >>"$log"
    /usr/bin/time -f "wall_s=%e user_s=%U sys_s=%S maxrss_kb=%M" -o time.txt env TOLMAR_CAPTURE_FRAME_LIMIT="$FRAMES" \
      "$build/tools/capture/tolmar-capture" --quiet --size "$size" video.mp4 2>capture.err
    echo "round=$round size=$size what=capture $(cat time.txt) bytes=$(stat -c %s video.mp4) load=$(load)" >>"$log"
    tail -n 3 "$log"
    rm -f floor.mp4 video.mp4
  done
done
echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"

python3 - "$log" "$FRAMES" "$FPS" >"$out/results.md" <<'PY'
import re, statistics, sys
log, frames, fps = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
video_s = frames / fps
runs = {}
for line in open(log):
    f = dict(re.findall(r"(\w+)=(\S+)", line))
    cpu = float(f.get("user_s", 0)) + float(f.get("sys_s", 0))
    runs.setdefault((f["size"], f["round"]), {})[f["what"]] = float(f["wall_s"]), cpu
print(f"| size | capture | render floor | encode floor | capture / slower floor | target |")
print(f"| --- | --- | --- | --- | --- | --- |")
for size in sorted({s for s, _ in runs}, key=lambda s: int(s.split("x")[0])):
    rounds = [r for (s, _), r in runs.items() if s == size and len(r) == 3]
    speed = lambda what: statistics.median(video_s / r[what][0] for r in rounds)
    ratio = statistics.median((video_s / r["capture"][0]) / min(video_s / r["render"][0], video_s / r["encode"][0]) for r in rounds)
    cpu = statistics.median(r["capture"][1] / video_s for r in rounds)
    print(f"| {size}@{fps} | {speed('capture'):.2f}x ({cpu:.2f} CPU s per video s) | {speed('render'):.2f}x | {speed('encode'):.2f}x | **{ratio:.2f}x** | >= 0.9x |")
print(f"\nvideo seconds per wall second, median of {len(rounds)} round(s); {video_s:.3f} s of video each run")
PY
cat "$out/results.md"
