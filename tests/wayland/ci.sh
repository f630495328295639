#!/usr/bin/env bash
# The Linux program on a real Wayland compositor: sway headless with one
# 1280x720 output, run as a user that lives as long as the run, with
# PipeWire (and its PulseAudio server) as that user's sound, at output scale
# 1 and 2. The program, built with the default preset in build-wayland/
# and copied to a folder of the run's own (where that user can reach it,
# wherever the clone is), is
# started as a person starts it, from a folder holding
# tolmar.mp3, with nothing set but the session; so is the portable x86-64
# archive when one is given: unpacked, its launcher in its folder, with the
# SDL and music it carries and the event log built with it. A virtual
# keyboard that stays stands for a person's; others come and go, as
# on-screen and remote-desktop keyboards do, and type the Escape. Every
# verdict waits for an event: the program's event log
# (tests/support/event_log.c), the window in sway's tree, a screenshot that
# changed. Needs root (useradd). Prints PASS/FAIL per
# check and "N passed, M failed, K skipped"; exits non-zero on any failure.
# Usage: tests/wayland/ci.sh [ARCHIVE [EVENT_LOG]]
#   ARCHIVE: tolmar-VERSION-linux-x86_64.tar.gz; without it only the build
#   EVENT_LOG: the event log built with the archive's program (default
#   build-release/linux-archive/x86_64/checks/libevent_log.so)
set -uo pipefail
archive=${1:+$(realpath "$1")}
archive_shim=$(realpath -m "${2:-$(dirname "$0")/../../build-release/linux-archive/x86_64/checks/libevent_log.so}")
cd "$(dirname "$0")/../.."

source tests/support/checks.sh
source tests/support/script_lib.sh # $work, make_mp3; helpers ended at exit

[ "$(id -u)" -eq 0 ] || { skip_check "the Wayland checks make a user: run them as root"; finish; }
for tool in sway swaymsg wtype grim pipewire wireplumber pipewire-pulse dbus-daemon pactl setpriv compare; do
  command -v "$tool" >/dev/null || { fail "$tool is missing (tools/packages/test.txt)"; finish; }
done
# Built in a folder of the clone's own, where the compiler cache finds the
# test command's objects, then copied out to where the user can reach it.
# (The program finds its audio library through a path from its own folder.)
{ cmake --preset default -B build-wayland -DCMAKE_BUILD_RPATH_USE_ORIGIN=ON "${launcher[@]}" &&
  cmake --build build-wayland --target tolmar event_log &&
  mkdir -p "$work/build/tests/support" "$work/build/src/audio/sdl" && cp build-wayland/tolmar "$work/build/" &&
  cp build-wayland/src/audio/sdl/libaudio.so "$work/build/src/audio/sdl/" &&
  cp build-wayland/tests/support/libevent_log.so "$work/build/tests/support/"; } \
  >"$work/build.log" 2>&1 && pass "build (default preset)" ||
  { fail "build (default preset)"; tail -n 30 "$work/build.log"; finish; }
if [ -n "$archive" ]; then
  mkdir "$work/archive" && tar -xzf "$archive" -C "$work/archive" && [ -x "$work"/archive/*/tolmar ] &&
    cp "$archive_shim" "$work/libevent_log.so" && pass "unpacked $(basename "$archive")" ||
    { fail "unpacking $archive with its event log $archive_shim"; finish; }
fi

# --- The session: a user, its runtime folder, D-Bus, PipeWire, sway ----------
# A user of this run's own, removed at exit after its programs.
user=tolmar-wl-$$
useradd --system --no-create-home --shell /usr/sbin/nologin "$user" || { fail "useradd $user"; finish; }
trap 'cleanup; userdel -f "$user" 2>/dev/null' EXIT
chmod 711 "$work"
home=$work/home
rt=$work/runtime
mkdir -p "$home/.config/pipewire/pipewire.conf.d" "$rt"
chmod 700 "$rt"
# A sink that plays at real-time pace into nothing, the session's default.
cat >"$home/.config/pipewire/pipewire.conf.d/sink.conf" <<'EOF'
context.objects = [
  { factory = adapter args = { factory.name = support.null-audio-sink node.name = tolmar_sink
      media.class = Audio/Sink audio.position = [ FL FR ] } }
]
EOF
cat >"$work/sway.conf" <<'EOF'
output HEADLESS-1 resolution 1280x720
xwayland disable
EOF
chown -R "$user:" "$home" "$rt"

# The user's environment: what a desktop session gives its programs.
session_env() {
  echo HOME="$home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$rt" DBUS_SESSION_BUS_ADDRESS=unix:path="$rt/bus" \
    ${wayland:+WAYLAND_DISPLAY=$wayland} ${swaysock:+SWAYSOCK=$swaysock}
}
as_user() { setpriv --reuid="$user" --regid="$user" --init-groups env -i $(session_env) "$@"; }
# Starts a session service as the user; it is ended at exit.
serve() {
  (exec setpriv --reuid="$user" --regid="$user" --init-groups env -i $(session_env) "$@" >>"$work/session.log" 2>&1) &
  helpers+=($!)
}
# until_true SECONDS WHAT COMMAND...: polls COMMAND every 0.1 s.
until_true() {
  local limit=$1 what=$2 i
  shift 2
  for i in $(seq $((limit * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  last_err=$work/session.log
  fail "$what: not within $limit s"
  finish
}
sway_up() {
  wayland=$(cd "$rt" && ls wayland-? 2>/dev/null | head -n 1)
  swaysock=$(ls "$rt"/sway-ipc.*.sock 2>/dev/null | head -n 1)
  [ -n "$wayland" ] && [ -n "$swaysock" ] && as_user swaymsg -t get_outputs >/dev/null 2>&1
}
sink_up() { as_user pactl list short sinks 2>/dev/null | grep -q tolmar_sink; }

serve dbus-daemon --session --nofork --address="unix:path=$rt/bus"
until_true 30 "the session bus" test -S "$rt/bus"
serve pipewire
serve wireplumber
serve pipewire-pulse
serve env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$work/sway.conf"
until_true 60 "sway headless" sway_up
until_true 60 "PipeWire's null sink" sink_up
pass "sway, PipeWire and its sink, as user $user"
# A person's keyboard: a virtual one that stays for the whole session.
serve wtype -k Control_L -s 3600000

dir=$work/run
mkdir -p "$dir"
(cd "$dir" && make_mp3 tolmar.mp3 4 44100 2)
chown -R "$user:" "$dir"

# --- One run ---------------------------------------------------------------
# Starts $program in the folder $from with the event log $shim, its output
# and log in $dir; sets pid.
start() {
  rm -f "$dir"/events.txt "$dir"/std*.txt "$dir"/*.png
  (cd "$from" && exec setpriv --reuid="$user" --regid="$user" --init-groups env -i $(session_env) \
    LD_PRELOAD="$shim" TOLMAR_EVENT_LOG="$dir/events.txt" "$program" >"$dir/stdout.txt" 2>"$dir/stderr.txt") &
  pid=$!
  helpers+=("$pid")
  last_err=$dir/stderr.txt
}
running() { kill -0 "$pid" 2>/dev/null; }
# wait_run SECONDS COMMAND...: polls COMMAND while the program runs; false if it ended or time ran out.
wait_run() {
  local i
  for i in $(seq $(($1 * 10))); do
    "${@:2}" && return 0
    running || return 1
    sleep 0.1
  done
  return 1
}
logged() { [ -f "$dir/events.txt" ] && awk "$1 { found = 1 } END { exit !found }" "$dir/events.txt"; }
field() { awk -v k="$1" -v f="$2" '$1 == k { print $f; exit }' "$dir/events.txt"; }
window_rect() {
  as_user swaymsg -t get_tree | awk '/"rect":/ { r = 1 } /"(deco_rect|window_rect|geometry)":/ { r = 0 }
    r && /"width"/ { w = $2 } r && /"height"/ { h = $2 } /"app_id": "tolmar"/ { print w "x" h; exit }' | tr -d ','
}
window_shown() { [ -n "$(window_rect)" ]; }
shot() { as_user grim -o HEADLESS-1 "$dir/$1.png"; }
changed_since() { shot now && [ "$(compare -metric AE "$dir/$1.png" "$dir/now.png" null: 2>&1)" != 0 ]; }
# Keyboards that come and go, as on-screen and remote-desktop ones do: ten
# (each wtype makes one with its own keymap), then one that types Escape.
# The run must end with status 0 and one newline. Every run, crashed or not,
# is counted in runs, and one a signal ended in crashes.
ended() {
  runs=$((runs + 1))
  [ "$1" -gt 128 ] && crashes=$((crashes + 1))
}
# A run that ended or hung before its Escape: stopped WHAT.
stopped() {
  running && { kill -9 "$pid"; wait "$pid"; fail "$1: it hung"; return; }
  wait "$pid"
  local status=$?
  ended "$status"
  fail "$1 (status $status)"
}
keyboards_then_escape() {
  local i
  for i in $(seq 10); do as_user wtype x; done
  as_user wtype -k Escape
  for i in $(seq 600); do running || break; sleep 0.1; done
  running && { kill -9 "$pid"; wait "$pid"; fail "$1: Escape did not end the run within 60 s"; return 1; }
  wait "$pid"
  local status=$?
  ended "$status"
  [ "$status" -eq 0 ] && [ "$(od -An -c "$dir/stdout.txt" | tr -d ' ')" = '\n' ] && return 0
  fail "$1: status $status, standard output $(od -An -c "$dir/stdout.txt" | head -n 2 | tr -s ' ')"
  return 1
}
# The detail at the scale of one pixel in a screenshot: the mean difference
# between diagonal neighbours over that between pixels 3 apart. The
# triangles' noise changes from pixel to pixel, so it is near 1 (0.99) at the
# screen's resolution; a frame drawn at half that and stretched repeats or
# blends each pixel into the next, whatever the filter: 0.75 for nearest
# neighbour, 0.46 to 0.69 for the smooth ones.
pixel_detail() {
  local near far
  near=$(convert "$1" -colorspace gray \( +clone -roll +1+1 \) -compose difference -composite -shave 4x4 -format '%[fx:mean]' info:)
  far=$(convert "$1" -colorspace gray \( +clone -roll +3+3 \) -compose difference -composite -shave 4x4 -format '%[fx:mean]' info:)
  awk -v n="${near:-0}" -v f="${far:-0}" 'BEGIN { printf "%.2f", (f > 0 ? n / f : 0) }'
}
lit() { logged '$1 == "frame" && $3 == 1'; }

# The build, then the archive: its launcher in its folder, with its music.
use() {  # NAME: the build or the archive
  if [ "$1" = build ]; then
    program=$work/build/tolmar from=$dir shim=$work/build/tests/support/libevent_log.so
  else
    from=$(echo "$work"/archive/*) program=./tolmar shim=$work/libevent_log.so
  fi
}
for name in build ${archive:+archive}; do
  use "$name"
  runs=0 crashes=0
  for scale in 1 2; do
    as_user swaymsg output HEADLESS-1 scale "$scale" >/dev/null
    # Each run starts while the seat has no active keyboard (the last one to
    # type has gone; an output change gives it one again), so sway sends the
    # program no keymap before the window's first modifiers: SDL 2.26 took that
    # for a keymap and died of SIGSEGV.
    as_user wtype x
    s="$name, scale $scale"
    start
    if wait_run 120 lit && wait_run 60 window_shown; then
      size="$(field drawable 2)x$(field drawable 3)"
      view="$(field viewport 2)x$(field viewport 3)"
      [ "$size" = 1280x720 ] && [ "$view" = 1280x720 ] &&
        pass "$s: drawable $size and GL viewport $view in a $(window_rect) window" ||
        fail "$s: drawable $size, viewport $view, window $(window_rect); the output has 1280x720 pixels"
      wait_run 60 logged '$1 == "sound"' && [ $(($(field sound 2) - $(field clock 2))) -ge 3000 ] &&
        pass "$s: music from $(($(field sound 2) - $(field clock 2))) ms, after the lead-in" ||
        fail "$s: no music after the lead-in"
      shot before
      detail=$(pixel_detail "$dir/before.png")
      [ "$(identify -format %wx%h "$dir/before.png")" = 1280x720 ] && awk -v d="$detail" 'BEGIN { exit !(d > 0.85) }' &&
        pass "$s: the screen is drawn at full resolution (detail $detail)" ||
        fail "$s: the screen looks stretched (detail $detail; at full resolution near 1, stretched at most 0.76)"
      as_user swaymsg '[app_id="tolmar"] kill' >/dev/null
      wait_run 60 changed_since before && pass "$s: it keeps drawing after a close request" ||
        fail "$s: a close request ended or froze it"
      if running; then
        keyboards_then_escape "$s" &&
          pass "$s: after 10 keyboards came and went, Escape ends it with status 0 and one newline"
      else
        stopped "$s: ended before Escape"
      fi
    else
      stopped "$s: no lit frame in a sway window"
    fi
    # Two more runs of the keyboards alone.
    for run in 2 3; do
      start
      if wait_run 120 lit; then keyboards_then_escape "$s, run $run"; else stopped "$s, run $run: no lit frame"; fi
    done
  done
  [ "$crashes" -eq 0 ] && pass "$name: keyboards that came and went: none of $runs runs crashed" ||
    fail "$name: keyboards that came and went: $crashes of $runs runs crashed"
done

# --- The output changes while the piece plays ----------------------------------
# From 1280x720 at scale 1 the output becomes 1920x1080, then scale 2, then
# 1280x720 at scale 2, as in a person's display settings. After each change,
# once the sizes settle, the event log's view lines show the viewport on the
# whole drawable, of the output's pixels (for SDL 2.0.14, the archive's, at
# the first scale, which it keeps); after the first, a screenshot shows the
# picture beyond the 1280x720 corner it had.
settled() {  # FROM WINDOW: past FROM view lines, the first frame in a WINDOW-sized window whose sizes stay
  awk -v from="$1" -v want="$2" '$1 != "view" || ++n <= from { next }
    hit && $4 " " $5 " " $6 " " $7 " " $8 " " $9 == last { print; exit }
    hit || $8 "x" $9 == want { hit = 1; last = $4 " " $5 " " $6 " " $7 " " $8 " " $9 }' "$dir/events.txt"
}
has_settled() { [ -n "$(settled "$@")" ]; }
change() {  # SWAY_OUTPUT_ARGS WINDOW DRAWABLE
  local from
  from=$(grep -c '^view ' "$dir/events.txt")
  as_user swaymsg output HEADLESS-1 $1 >/dev/null
  wait_run 60 has_settled "$from" "$2" || { stopped "$s, $1: no frame in a $2 window"; return 1; }
  read -r _ _ _ w h vw vh _ <<<"$(settled "$from" "$2")"
  [ "${vw}x$vh ${w}x$h" = "${w}x$h $3" ] && pass "$s, $1: the viewport on the whole ${w}x$h drawable" ||
    fail "$s, $1: viewport ${vw}x$vh on a ${w}x$h drawable; $3 expected"
}
for name in build ${archive:+archive}; do
  use "$name"
  s="$name, output changes" runs=0 crashes=0
  as_user swaymsg output HEADLESS-1 mode 1280x720 scale 1 >/dev/null
  start
  wait_run 120 lit || { stopped "$s: no lit frame"; continue; }
  change "mode 1920x1080" 1920x1080 1920x1080 || continue
  shot before
  for i in $(seq 10); do  # new frames until one is lit outside the lower left 1280x720
    wait_run 60 changed_since before || break
    lit_outside=$(convert "$dir/now.png" -fill black -draw 'rectangle 0,360 1279,1079' -format '%[max]' info:)
    [ "$lit_outside" != 0 ] && break
    mv "$dir/now.png" "$dir/before.png"
  done
  [ "$lit_outside" != 0 ] && pass "$s: the picture reaches beyond the first 1280x720 corner (frame $i)" ||
    fail "$s: $i frames on the 1920x1080 output, all black beyond the first 1280x720 corner"
  [ "$name" = build ] && want="1920x1080 1280x720" || want="960x540 640x360"
  change "scale 2" 960x540 "${want% *}" && change "mode 1280x720" 640x360 "${want#* }" &&
    keyboards_then_escape "$s" && pass "$s: Escape ends it with status 0 and one newline"
done
as_user swaymsg output HEADLESS-1 mode 1280x720 scale 1 >/dev/null

# No EGL for Wayland's GL window, an X server beside it: SDL's own choice,
# X11 with GLX, draws (lit frames, and no window in sway's tree).
start_display 640x480
for name in build ${archive:+archive}; do
  use "$name"
  printf '#!/bin/sh\nDISPLAY=%s __EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent exec %s\n' "$DISPLAY" "$program" >"$work/egl-less"
  chmod 755 "$work/egl-less"
  program=$work/egl-less
  start
  wait_run 120 lit && ! window_shown && pass "$name, no EGL for Wayland: it draws through X11" && kill "$pid" ||
    stopped "$name, no EGL for Wayland: no lit frame through X11"
done
finish
