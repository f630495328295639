#!/usr/bin/env bash
# The Debian packages as a viewer gets them, the piece's (tolmar) and the
# capture tool's for this machine's Debian release (tolmar-capture): their
# metadata and contents, their dependencies against what their binaries
# really load, lintian, and the packages unpacked into a temporary root
# (dpkg-deb -x, nothing installed on the system) and run from there: the
# launcher from an empty folder plays the installed soundtrack, from a
# folder with a tolmar.mp3 plays that file, and tolmar-capture finds the
# installed soundtrack too.
# Usage: deb_test.sh DEB CAPTURE_DEB
# Environment: TOLMAR_EVENT_SHIM (tests/support's event log library) and
# PCM_MATCH (tests/reliability's pcm_match), from the default build.
# Prints PASS per check; at the first failure prints FAIL with what the
# program said and exits 1.
deb=$(realpath "${1:-}" 2>/dev/null)
capture_deb=$(realpath "${2:-}" 2>/dev/null)
[ -f "$deb" ] && [ -f "$capture_deb" ] || { echo "usage: deb_test.sh DEB CAPTURE_DEB (.deb files)" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
version=$(head -n 1 "$here/../../VERSION")
debian_release=$(. /etc/os-release && echo "$VERSION_ID")
. "$here/../support/dpkg_lib.sh"
. "$here/../support/program_lib.sh"  # goes to a temporary folder
. "$here/play_lib.sh"
[ -x "${PCM_MATCH:-}" ] && [ -f "${TOLMAR_EVENT_SHIM:-}" ] ||
  die "PCM_MATCH and TOLMAR_EVENT_SHIM must name the default build's pcm_match and event log library"

field() { dpkg-deb -f "$1" "$2"; }
root=$work/root

# check_package DEB NAME VERSION EXPECTED-FILES: the file name and control
# fields, no maintainer scripts, the contents, owners and modes; then the
# package unpacked into $root.
check_package() {
  local deb=$1 name=$2 version=$3 expected=$4 scripts listing files odd
  [ "$(basename "$deb")" = "${name}_${version}_amd64.deb" ] ||
    die "file name $(basename "$deb"), expected ${name}_${version}_amd64.deb"
  [ "$(field "$deb" Package) $(field "$deb" Version) $(field "$deb" Architecture)" = "$name $version amd64" ] ||
    die "control: $(field "$deb" Package) $(field "$deb" Version) $(field "$deb" Architecture)"
  [ -n "$(field "$deb" Description)" ] && [ -n "$(field "$deb" Maintainer)" ] || die "$name: no Description or Maintainer"
  # No maintainer scripts: nothing of ours goes where ldconfig or a trigger
  # would have to know of it.
  scripts=$(dpkg-deb -I "$deb" | awk '$NF ~ /^(preinst|postinst|prerm|postrm|triggers)$/ { print $NF }')
  [ -z "$scripts" ] || die "maintainer scripts in $name: $scripts"
  listing=$(dpkg-deb -c "$deb")
  files=$(awk '$1 !~ /^d/ { print $NF }' <<<"$listing" | sort)
  [ "$files" = "$expected" ] || die "$name's contents differ from the expected files:
$(diff <(echo "$expected") <(echo "$files"))"
  odd=$(awk '$2 != "root/root" || ($NF ~ /\/bin\/./ && $1 != "-rwxr-xr-x") || ($NF ~ /\/share\// && $1 !~ /^(-rw-r--r--|drwxr-xr-x)$/)' <<<"$listing")
  [ -z "$odd" ] || die "$name's owners or modes: $odd"
  pass "$name $version amd64: no maintainer scripts; the $(wc -l <<<"$files") files expected, owned by root, programs executable"
  dpkg-deb -x "$deb" "$root" || die "dpkg-deb -x $name"
}

# --- Metadata and contents ---------------------------------------------------------
check_package "$deb" tolmar "$version" "./usr/bin/picture-fit
./usr/bin/tolmar
./usr/lib/tolmar/libaudio.so
./usr/libexec/tolmar/tolmar
./usr/share/applications/tolmar.desktop
./usr/share/doc/tolmar/changelog.gz
./usr/share/doc/tolmar/copyright
./usr/share/icons/hicolor/256x256/apps/tolmar.png
./usr/share/man/man1/picture-fit.1.gz
./usr/share/man/man6/tolmar.6.gz
./usr/share/tolmar/tolmar.mp3"
check_package "$capture_deb" tolmar-capture "$version+deb$debian_release" "./usr/bin/tolmar-capture
./usr/share/doc/tolmar-capture/changelog.gz
./usr/share/doc/tolmar-capture/copyright
./usr/share/man/man1/tolmar-capture.1.gz"
[ "$(field "$capture_deb" Depends | tr ',' '\n' | grep -c "^ *tolmar (= $version)$")" = 1 ] ||
  die "tolmar-capture does not depend on tolmar (= $version), whose soundtrack it plays: $(field "$capture_deb" Depends)"

# --- Dependencies ----------------------------------------------------------------
# Every library a package's binaries load (ldd, through the program's rpath
# to its private library) is ours or comes with the declared dependencies;
# each declared dependency is behind a library some binary links directly,
# except those loaded at run time: libGL (SDL opens it for the window's
# context) and Mesa's GL drivers (libGL loads them), and the piece's package
# for the capture tool (its soundtrack), which stands for what that brings.
# check_depends NAME DEPENDS ALSO-BROUGHT ELF...
check_depends() {
  local name=$1 declared=$2 depends loaded used closure missing direct d alternatives
  depends=$(tr ',|' '\n\n' <<<"$declared, $3" | sed 's/(.*)//; s/ //g' | awk 'NF' | grep -vx tolmar | with_providers)
  shift 3
  loaded=$(for f in "$@"; do ldd "$f"; done)
  grep -q 'not found' <<<"$loaded" && die "$name: libraries not found: $(grep 'not found' <<<"$loaded" | sort -u)"
  used=$(awk '$2 == "=>" && $3 ~ /^\// { print $3 }' <<<"$loaded" | grep -v "^$root" | owning_packages)
  closure=$(dependency_closure $depends)
  missing=$(comm -23 <(echo "$used") <(echo "$closure"))
  [ -z "$missing" ] || die "$name's binaries load libraries of packages its Depends do not bring: $(echo $missing)"
  direct=$(for f in "$@"; do readelf -d "$f" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; done | sort -u |
    while read -r soname; do awk -v s="$soname" '$1 == s && $3 ~ /^\// { print $3; exit }' <<<"$loaded"; done |
    grep -v "^$root" | owning_packages)
  for d in $(tr ',' '\n' <<<"$declared" | sed 's/(.*)//; s/ //g'); do
    case "$d" in libgl1 | libgl1-mesa-dri | tolmar) continue ;; esac
    alternatives=$(tr '|' '\n' <<<"$d" | with_providers)
    [ -n "$(comm -12 <(sort <<<"$alternatives") <(echo "$direct"))" ] ||
      die "$name depends on $d, which no binary links"
  done
  pass "$name's dependencies: $(wc -l <<<"$used") packages loaded, all brought by the $(tr ',' '\n' <<<"$declared" | wc -l) declared; none declared in vain"
}
grep -q "libaudio.so => $root/usr/libexec/tolmar/../../lib/tolmar/libaudio.so" <(ldd "$root/usr/libexec/tolmar/tolmar") ||
  die "the program does not find its audio library in the package"
check_depends tolmar "$(field "$deb" Depends)" "" "$root/usr/libexec/tolmar/tolmar" "$root/usr/lib/tolmar/libaudio.so" \
  "$root/usr/bin/picture-fit"
check_depends tolmar-capture "$(field "$capture_deb" Depends)" "$(field "$deb" Depends)" "$root/usr/bin/tolmar-capture"

# --- lintian -------------------------------------------------------------------
findings=$(lintian --fail-on error,warning "$deb" "$capture_deb" 2>/dev/null) || die "lintian: $findings"
pass "lintian on both: no errors or warnings${findings:+ ($(grep -c . <<<"$findings") notes)}"

# --- The installed tools answer --version --------------------------------------
for tool in tolmar tolmar-capture picture-fit; do
  said=$("$root/usr/bin/$tool" --version 2>&1)
  [ "$said" = "$tool $version" ] || die "$tool --version said '$said'"
done
"$root/usr/bin/tolmar" extra >/dev/null 2>&1
[ $? -eq 2 ] || die "the launcher takes no arguments, but 'tolmar extra' did not end with status 2"
pass "tolmar, tolmar-capture and picture-fit --version say $version; tolmar refuses arguments with status 2"

# --- The launcher, run as a viewer does --------------------------------------------
program=$root/usr/bin/tolmar
soundtrack=$root/usr/share/tolmar/tolmar.mp3
start_xvfb -wr
mkdir "$work/empty"
play_in "$work/empty" "$soundtrack" "the installed soundtrack" "launcher started from an empty folder"
[ -z "$(ls -A "$work/empty" | grep -v -e '^audio.raw$' -e '^std...\.txt$' -e '^events.txt$' -e '^match.txt$')" ] ||
  die "the run left files in the folder it was started from: $(ls -A "$work/empty")"

mkdir "$work/own"
make_mp3 "$work/own/tolmar.mp3" 2 44100 2
play_in "$work/own" "$work/own/tolmar.mp3" "the folder's tolmar.mp3" "launcher started from a folder with its own tolmar.mp3"
"$PCM_MATCH" "$work/own/audio.raw" "$soundtrack" >/dev/null 2>&1 &&
  die "the folder's own tolmar.mp3 run matches the installed soundtrack too; the check proves nothing"

# --- tolmar-capture from an empty folder ------------------------------------------
case_dir=$work/capture
mkdir "$case_dir"
(cd "$case_dir" && timeout 600 "$root/usr/bin/tolmar-capture" --quiet --size 64x36 --fps 2 piece.mkv \
  >stdout.txt 2>stderr.txt) || die "tolmar-capture in an empty folder: status $?"
streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$work/capture/piece.mkv" | sort | paste -sd ' ')
seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$work/capture/piece.mkv")
[ "$streams" = "audio video" ] && awk -v s="$seconds" 'BEGIN { exit !(s > 130) }' ||
  die "tolmar-capture: streams '$streams', $seconds s"
pass "tolmar-capture from an empty folder finds the installed soundtrack: video and audio, $seconds s"
