#!/usr/bin/env bash
# Every program the scripts of a package set call comes with the set: a
# package of tools/packages/SET.txt (with the sets it builds on), one of
# their dependencies, or one every Debian system has. The programs are the
# words in command position in the scripts, read from bash's own parse of
# each (comments and line breaks gone), that name a program on this
# machine; a word that names none is not looked at (a missing program fails
# its script loudly; one that is installed here but not by the set is what
# would fail on a fresh machine). A program counts as brought when any of
# its places on PATH belongs to a package of the set. Programs that the
# C++ and JavaScript tests start are not read.
# Usage: set_programs_test.sh SOURCE_DIR
set -uo pipefail
source "$(dirname "$0")/../support/script_lib.sh"
source "$(dirname "$0")/../support/checks.sh"
source "$(dirname "$0")/../support/dpkg_lib.sh"
root=$(cd "$1" && pwd) || die "no source folder $1"
cd "$root"

# The words in command position of the scripts named.
called_words() {
  local f
  for f in "$@"; do
    bash -c 'eval "__script() {
$(cat "$1")
}" && declare -f __script' _ "$f" || echo "FAIL: bash cannot read $f" >&2
  done | sed -e 's/\$(/\n/g; s/ && /\n/g; s/ || /\n/g; s/ | /\n/g; s/; /\n/g; s/`/\n/g' \
             -e "s/ -c '/\n/g; s/^[[:space:]]*( /\n/" |
    awk '{
      i = 1  # past assignments, keywords and the wrappers that run a command
      while (i <= NF && ($i ~ /^[A-Za-z_][A-Za-z_0-9]*=/ || $i ~ /^(if|then|do|else|elif|while|until|!|exec|command|nice|env|time|\(|\{)$/)) i++
      if ($i == "timeout") i += 2
      if (i <= NF && $i ~ /^[a-z][a-z0-9._+-]*$/) print $i
    }' | sort -u
}

# SET SCRIPT...: the programs the scripts call that the set does not bring.
# Every place of every program is asked of dpkg in one query.
check_set() {
  local set=$1 word place uncovered count
  shift
  dependency_closure $(bash tools/setup-debian.sh --list "$set") >"$work/covered" || { fail "no set $set"; return; }
  for word in $(called_words "$@"); do
    [ "$(type -t "$word")" = file ] || continue  # a builtin, keyword or no program here
    for place in $(type -a -P "$word"); do echo "$word $place"; done
  done >"$work/places"
  count=$(cut -d' ' -f1 "$work/places" | sort -u | wc -l)
  uncovered=$(awk 'FILENAME == ARGV[1] { covered[$1] = 1; next }
                   FILENAME == ARGV[2] { who[$1] = who[$1] " " $2; if ($2 in covered) brought[$1] = 1; next }
                   !($1 in brought) && !($1 in said) { said[$1] = 1; printf " %s (%s)", $1, (who[$1] == "" ? "no package" : substr(who[$1], 2)) }' \
              "$work/covered" <(owners_of <"$work/places") "$work/places")
  if [ -n "$uncovered" ]; then
    fail "the $set set does not bring what its scripts call:$uncovered"
  else
    pass "the $set set brings the $count programs its $# scripts call"
  fi
}

shopt -s nullglob globstar
check_set run demo.sh tools/setup-debian.sh
check_set tools tools/picture-fit/regenerate.sh
check_set web tests/web/*.sh bench/web/*.sh
check_set release tools/release.sh tools/release/*.sh tests/release/*.sh
check_set bench bench/**/*.sh
check_set test test.sh tests/**/*.sh
finish
