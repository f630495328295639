# What dpkg and apt know of files and packages, for the checks that compare
# what a build or a package needs with what a set of packages brings
# (tests/setup/, tests/release/deb_test.sh). Sourced.

# The paths dpkg may know the file FILE under: as named, as its target, and
# on the other side of the /bin, /sbin, /lib -> /usr merge (dpkg knows a file
# under the path its package shipped), one a line.
path_variants() {
  local p
  for p in "$1" "$(realpath "$1")"; do
    echo "$p"
    case "$p" in
    /usr/bin/* | /usr/sbin/* | /usr/lib/* | /usr/lib64/*) echo "${p#/usr}" ;;
    /bin/* | /sbin/* | /lib/* | /lib64/*) echo "/usr$p" ;;
    esac
  done
}

# For lines "KEY FILE" on standard input, a line "KEY PACKAGE" for each
# package that owns FILE under any of its paths; every path is asked of dpkg
# in one query. Files no package owns give no line.
owners_of() {
  local key file variants
  variants=$(while read -r key file; do path_variants "$file" | sed "s|^|$key |"; done | sort -u)
  awk -F': ' 'FILENAME == ARGV[1] { if (NF == 2 && $1 !~ / / || $1 ~ /, /) { n = split($1, p, ", ")
                 for (i = 1; i <= n; i++) { sub(/:.*/, "", p[i]); owners[$2] = owners[$2] " " p[i] } }
               next }
               { split($0, kv, " "); n = split(owners[kv[2]], o, " "); for (i = 1; i <= n; i++) print kv[1], o[i] }' \
    <(cut -d' ' -f2 <<<"$variants" | sort -u | xargs -r dpkg-query -S 2>/dev/null) <(echo "$variants") | sort -u
}

# The packages owning the files named on standard input, one a line; files
# that do not exist are left out.
owning_packages() {
  local f
  while read -r f; do [ -e "$f" ] && echo "$f $f"; done | owners_of | cut -d' ' -f2 | sort -u
}

# The installed packages that PACKAGE... bring along (Depends and
# Pre-Depends, recursively, themselves included) and those every Debian
# system has (essential or required), one a line.
dependency_closure() {
  (
    apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
      --no-breaks --no-replaces --no-enhances "$@" | grep -v '^ ' | tr -d '<>'
    dpkg-query -W -f='${Package} ${Essential} ${Priority}\n' | awk '$2 == "yes" || $3 == "required" { print $1 }'
  ) | sed 's/:.*//' | sort -u
}

# The package names on standard input, each followed by the installed
# packages that provide it (Debian 13's libmpg123-0t64 provides the
# libmpg123-0 a package built on Debian 12 depends on), one a line.
with_providers() {
  awk -F'\t' 'FILENAME == "-" { wanted[$1] = 1; print $1; next }
               { n = split($2, p, ", "); for (i = 1; i <= n; i++) { sub(/ .*/, "", p[i]); if (p[i] in wanted) print $1 } }' \
    - <(dpkg-query -W -f='${Package}\t${Provides}\n')
}
