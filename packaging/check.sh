#!/usr/bin/env bash
# Builds the Debian packages from the build in $1 (cpack -G DEB), checks
# their contents, runs the programs of the one and builds a program against
# the library of the other, each unpacked into an empty folder, and has
# lintian (where installed) look for what Debian would object to.
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The library folder as GNUInstallDirs chose it for this build, and the
# packages' architecture as dpkg names this machine's.
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
(cd "$build" && rm -f ./*.deb && cpack -G DEB >/dev/null)
programs=$(ls "$build"/bitwords_*_"$arch".deb)
dev=$(ls "$build"/bitwords-dev_*_"$arch".deb)

has() {  # package, then the paths it must hold
  local deb=$1 contents
  shift
  contents=$(dpkg-deb -c "$deb" | awk '{ print $NF }')
  for path in "$@"; do
    grep -qx "./$path" <<<"$contents" || { echo "$(basename "$deb") lacks $path"; exit 1; }
  done
}
has "$programs" usr/bin/datelist usr/bin/maskcheck usr/share/man/man1/datelist.1.gz \
  usr/share/man/man1/maskcheck.1.gz usr/share/doc/bitwords/copyright
has "$dev" usr/include/datelist/datecodec.hpp usr/include/datelist/datefile.hpp \
  "usr/$libdir/libbitwords_dates.a" "usr/$libdir/cmake/bitwords/bitwordsConfig.cmake" \
  "usr/$libdir/cmake/bitwords/bitwordsConfigVersion.cmake" "usr/$libdir/pkgconfig/bitwords.pc" \
  usr/share/doc/bitwords-dev/copyright
if dpkg-deb -c "$dev" | grep -E 'dateparse|widescan|widepath|fdio|_detail|tests/|bench/'; then
  echo "bitwords-dev holds files that are not the library's interface"
  exit 1
fi
for deb in "$programs" "$dev"; do
  echo "$(basename "$deb"): $(dpkg-deb -f "$deb" Package Version Section Depends | tr '\n' ' ')"
done

dpkg-deb -x "$programs" "$work/programs"
(cd "$source/examples" && [[ $("$work/programs/usr/bin/datelist" | head -1) == 25/12/2018 ]]) ||
  { echo "the packaged datelist misbehaves"; exit 1; }
[[ $("$work/programs/usr/bin/maskcheck") == incorrecto ]] ||
  { echo "the packaged maskcheck misbehaves"; exit 1; }
dpkg-deb -x "$dev" "$work/dev"
cmake -S "$source/examples/adddates" -B "$work/adddates" -G Ninja \
  -DCMAKE_PREFIX_PATH="$work/dev/usr" >/dev/null
cmake --build "$work/adddates" >/dev/null
[[ $("$work/adddates/adddates" "$work/fechas.txt" 20/7/1969) == 20/7/1969 ]] ||
  { echo "a program built against the packaged library misbehaves"; exit 1; }

if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$programs" "$dev" 2>&1 | grep -v 'root privileges' || true
  lintian --fail-on error "$programs" "$dev" >/dev/null 2>&1 || { echo "lintian found errors"; exit 1; }
fi
echo "packages built, checked and run"
