#!/usr/bin/env bash
# Uses the date library as other programs' builds would. Installs the build
# in $1 into an empty prefix and moves the prefix elsewhere (nothing may
# point back to where it was installed); builds it once more as a shared
# library (libbitwords.so.2) and installs that too. For each: every
# installed header compiles alone, the library defines (or, shared,
# exports) nothing outside namespace bitwords, and examples/adddates and
# tests/consumer (a project with names of its own that the library uses
# too, and a shared object with the library in it) build against it with
# CMake, and as one file with pkg-config, and run. Then the consumer takes
# the library's sources as a subproject (FetchContent), without
# GoogleTest, and must install only its own files; ignoring a load's result
# must warn; and adddates must say when the file is locked.
#
# CXX names the compiler; RUNTIME_FLAGS, the flags that link a sanitizer's
# or coverage's runtime where the library was built with one; LIBDIR, the
# library folder under the prefix (GNUInstallDirs' choice); TOOLCHAIN and
# EMULATOR, the toolchain file of a build for another machine and what runs
# its programs.
set -euo pipefail
build=$1
libdir=${LIBDIR:-lib}
read -ra emulator <<<"${EMULATOR:-}"
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
runtime=${RUNTIME_FLAGS:-}
cxx=${CXX:-c++}
cmake_args=(-G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_EXE_LINKER_FLAGS="$runtime"
  -DCMAKE_SHARED_LINKER_FLAGS="$runtime" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
[[ -z ${TOOLCHAIN:-} ]] || cmake_args+=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN")

expect() {  # wanted output and status, then the command
  local want=$1 status=$2 got code
  shift 2
  got=$("${emulator[@]}" "$@" 2>&1) && code=0 || code=$?
  [[ $got == "$want" && $code == "$status" ]] ||
    { printf 'got (%s):\n%s\nwanted (%s):\n%s\n' "$code" "$got" "$status" "$want"; exit 1; }
}
listing=$source/examples/listing.txt
mapfile -t dates <"$listing"
consumer_output() {  # the file the consumer used
  printf '25/12/2018\n1/1/2000\n25/12/2018\n1/1/2000\n'
  printf 'Numerical result out of range; %s/missing: Not a directory\n8 1' "$1"
}

# The static library as this build made it, and the same sources as a
# shared library: not in a sanitizer's or coverage's build (RUNTIME_FLAGS),
# whose own suite is what it is for, and which only take longer to build.
cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/static"
kinds=(static)
if [[ -z $runtime ]]; then
  kinds+=(shared)
  cmake -S "$source" -B "$work/shared-build" "${cmake_args[@]}" -DBUILD_SHARED_LIBS=ON \
    -DCMAKE_BUILD_TYPE=Debug -DBITWORDS_TESTS=OFF -DBITWORDS_PROGRAMS=OFF \
    -DBITWORDS_INSTALL=ON >/dev/null
  cmake --build "$work/shared-build" >/dev/null
  cmake --install "$work/shared-build" --prefix "$work/shared" >/dev/null
fi

checks=()
check() {  # static or shared: the installed library of that kind
  local kind=$1 prefix lib header name outside builds program source_file file clashing
  prefix=$work/$kind
  lib=$prefix/$libdir
  for header in "$prefix"/include/datelist/*.hpp; do
    name=datelist/$(basename "$header")
    printf '#include "%s"\n' "$name" |
      "$cxx" -std=c++20 -Wall -Wextra -Wpedantic -Werror -I"$prefix/include" -x c++ -fsyntax-only - ||
      { echo "$name does not compile alone"; exit 1; }
    ! grep -nE '\bPath\b|DateParser|(edge|dateparse|wide)\.hpp' "$header" ||
      { echo "$name shows the library's internals"; exit 1; }
  done
  # Names outside the namespace, less those the compiler makes: copies of
  # the standard library's templates and inline functions (placement new
  # among them, kept out of line where nothing is optimised), typeinfo (of
  # function types too, which a sanitizer makes), vtables, guard variables
  # and the runtime's helpers. Mangled names carry the namespace first,
  # whatever the return type.
  if [[ $kind == static ]]; then
    outside=$("${NM:-nm}" --defined-only -g "$lib/libbitwords_dates.a" | awk 'NF >= 3 { print $3 }' |
      grep -vE '^_ZT[ISV]|^_Z(Z|GVZ|GV)?N?K?(8bitwords|S[tabsiod]|9__gnu_cxx)|^_Zn[wa][jm]Pv$' |
      grep -vE '^(DW\.ref\.__gxx_personality_v0|__clang_call_terminate|__x86\.get_pc_thunk\..*)$' |
      "${CXXFILT:-c++filt}" || true)
  else
    [[ -e $lib/libbitwords.so.2 ]] || { echo "no libbitwords.so.2"; exit 1; }
    outside=$("${NM:-nm}" -D -C --defined-only "$lib/libbitwords.so.2" |
      awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' | grep -vE '^bitwords::|^BITWORDS' || true)
  fi
  [[ -z $outside ]] || { printf '%s: defined outside namespace bitwords:\n%s\n' "$kind" "$outside"; exit 1; }

  builds=$work/builds/$kind
  for program in examples/adddates tests/consumer; do
    cmake -S "$source/$program" -B "$builds/$program" "${cmake_args[@]}" \
      -DCMAKE_PREFIX_PATH="$prefix" -Dbitwords_DIR="$lib/cmake/bitwords" >/dev/null
    cmake --build "$builds/$program" >/dev/null
  done
  export PKG_CONFIG_PATH=$lib/pkgconfig LD_LIBRARY_PATH=$lib
  # shellcheck disable=SC2046,SC2086 # the flags are words
  for source_file in examples/adddates/adddates.cpp tests/consumer/clashing_names.cpp; do
    "$cxx" -std=c++20 -Wall -Wextra -Werror $(pkg-config --cflags bitwords) \
      -o "$builds/$(basename "$source_file" .cpp)-pc" "$source/$source_file" \
      $(pkg-config --libs --static bitwords) $runtime
  done

  # The example's dates, added in two runs (a date that does not fit left
  # out), make the example's file and listing.
  file=$builds/fechas.txt
  expect "$(head -n 2 "$listing")" 0 "$builds/examples/adddates/adddates" "$file" "${dates[@]:0:2}"
  expect "adddates: 32/1/2000: Numerical result out of range"$'\n'"$(cat "$listing")" 1 \
    "$builds/adddates-pc" "$file" 32/1/2000 "${dates[@]:2}"
  cmp -s "$file" "$source/examples/fechas.txt"
  for clashing in "$builds/tests/consumer/clashing_names" "$builds/clashing_names-pc"; do
    rm -f "$file"
    expect "$(consumer_output "$file")" 0 "$clashing" "$file"
  done
}
# Both kinds at once, for time.
for kind in "${kinds[@]}"; do
  check "$kind" &
  checks+=($!)
done
for pid in "${checks[@]}"; do wait "$pid"; done

if [[ -n $runtime ]]; then
  echo "built and ran against the installed library (static: a sanitizer's or coverage's build)"
  exit 0
fi

# As a subproject, from its sources, on a machine without GoogleTest: the
# consumer's own targets keep their names, and its install holds its own
# files alone.
cmake -S "$source/tests/consumer" -B "$work/subproject" "${cmake_args[@]}" --no-warn-unused-cli \
  -DBITWORDS_SOURCE_DIR="$source" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >/dev/null
cmake --build "$work/subproject" >/dev/null
rm -f "$work/fechas.txt"
expect "$(consumer_output "$work/fechas.txt")" 0 "$work/subproject/clashing_names" "$work/fechas.txt"
cmake --install "$work/subproject" --prefix "$work/consumer" >/dev/null
installed=$(cd "$work/consumer" && find . -type f -o -type l | sort | tr '\n' ' ')
[[ $installed == "./bin/clashing_names ./$libdir/libplugin.so " ]] ||
  { echo "the consumer's install holds more than its own files: $installed"; exit 1; }
grep -q '"clashing-names"' "$work/subproject/CPackConfig.cmake" ||
  { echo "bitwords took over the consumer's CPack"; exit 1; }

# A result that reports a failure is not to be ignored.
printf '#include "datelist/datefile.hpp"\nvoid f(bitwords::Date** d) { bitwords::loadDates(d, "x"); }\n' |
  "$cxx" -std=c++20 -Werror -I"$work/static/include" -x c++ -fsyntax-only - 2>/dev/null &&
  { echo "ignoring loadDates' result compiles without a warning"; exit 1; }

# A file that another process keeps locked.
file=$work/builds/static/fechas.txt
flock "$file" sleep 30 &
holder=$!
sleep 0.5
expect "adddates: $file: locked by another process" 1 \
  "$work/builds/static/examples/adddates/adddates" "$file"
kill "$holder"
echo "built and ran against the installed library, static and shared, and as a subproject"
