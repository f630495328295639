# Sourced by the checks of the release's zips (windows_zip.sh, web_zip.sh)
# after tests/support/checks.sh, with $work set.
#
# unpack_zip ZIP KIND FILE...: checks the zip's name (tolmar-VERSION-KIND.zip;
# its one folder must carry the same name, so two releases unpacked side by
# side stay apart), unpacks it into an empty folder as a viewer's unzip
# would, and checks that gave exactly that folder holding FILEs as plain,
# non-empty files (a FILE may be in a folder of its own: LICENSES/x.txt). Sets top (the folder's name) and dir (its path); ends the
# run when there is nothing to go on with.
unpack_zip() {
  local zip=$1 kind=$2 listing expected f
  shift 2
  top=$(basename "$zip" .zip)
  [[ $top =~ ^tolmar-[0-9A-Za-z.+~-]+-$kind$ ]] || { fail "the zip is named tolmar-VERSION-$kind.zip: $(basename "$zip")"; finish; }
  mkdir -p "$work/unpacked"
  # Never asks about a name stored twice (stdin is empty, -n keeps the
  # first): the listing below then shows one file where the zip had more.
  unzip -q -n "$zip" -d "$work/unpacked" </dev/null >"$work/unzip.log" 2>&1 ||
    { fail "unzip unpacks the zip:"; sed 's/^/  /' "$work/unzip.log"; finish; }
  # Each entry with its type (d folder, f plain file, l link; an empty file
  # is "empty"), so a link, an empty file or a stray entry shows up.
  listing=$(cd "$work/unpacked" && find . -mindepth 1 \( -type f -empty -printf 'empty %P\n' -o -printf '%y %P\n' \) |
    LC_ALL=C sort -k2)
  expected=$({
    echo "d $top"
    for f in "$@"; do
      echo "f $top/$f"
      [[ $f != */* ]] || echo "d $top/${f%/*}"
    done
  } | LC_ALL=C sort -u -k2)
  [ "$listing" = "$expected" ] && pass "the zip unpacks to $top/ with exactly $* as plain, non-empty files" ||
    { fail "the zip unpacks to $top/ with exactly $* as plain, non-empty files; it gave:"; sed 's/^/  /' <<<"$listing"; }
  dir=$work/unpacked/$top
}
