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

# The packages owning the files named on standard input, one a line, each
# file asked for under all its paths, all in one query; files that do not
# exist are left out.
owning_packages() {
  local f
  while read -r f; do
    [ -e "$f" ] && path_variants "$f"
  done | sort -u | xargs -r dpkg-query -S 2>/dev/null | sed 's/: .*//' | tr ',' '\n' |
    sed 's/^ *//; s/:.*//' | sort -u
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
