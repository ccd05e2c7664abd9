#!/usr/bin/env bash
# Uses the installed date library as another program would: installs the
# build in $1 into an empty prefix, moves the prefix elsewhere (nothing may
# point back to where it was installed), checks that each installed header
# compiles alone and that the library defines nothing outside namespace
# bitwords, then builds examples/adddates and tests/consumer (a program
# with global names of its own that the library uses too) against it out of
# tree with CMake, and as one file with pkg-config, and runs them. CXX names the compiler; RUNTIME_FLAGS, the flags that link a
# sanitizer's or coverage's runtime where the library was built with one;
# LIBDIR, the library folder under the prefix (GNUInstallDirs' choice);
# TOOLCHAIN and EMULATOR, the toolchain file of a build for another machine
# and what runs its programs.
set -euo pipefail
build=$1
libdir=${LIBDIR:-lib}
read -ra emulator <<<"${EMULATOR:-}"
toolchain=()
source=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/installed" >/dev/null
mv "$work/installed" "$work/moved"
prefix=$work/moved
# A cross toolchain looks for packages under its own root only.
[[ -z ${TOOLCHAIN:-} ]] ||
  toolchain=(-DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -Dbitwords_DIR="$prefix/$libdir/cmake/bitwords")

runtime=${RUNTIME_FLAGS:-}
cxx=${CXX:-c++}
for header in "$prefix"/include/datelist/*.hpp; do
  name=datelist/$(basename "$header")
  printf '#include "%s"\n' "$name" |
    "$cxx" -std=c++20 -Wall -Wextra -Wpedantic -Werror -I"$prefix/include" -x c++ -fsyntax-only - ||
    { echo "$name does not compile alone"; exit 1; }
  ! grep -nE 'Path|DateParser|edge|_detail::' "$header" ||
    { echo "$name shows the library's internals"; exit 1; }
done
# Defined symbols, less those of the namespace and those the compiler makes
# (vague-linkage copies of the standard library's templates, whose names
# nm may print after a return type, and the runtime's helpers).
outside=$("${NM:-nm}" -C --defined-only -g "$prefix/$libdir/libbitwords_dates.a" |
  awk 'NF >= 3 { $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
  grep -vE '^([^ (]+ )*(bitwords|std|__gnu_cxx)::|^(typeinfo|vtable|guard variable) ' |
  grep -vE '^(DW\.ref\.__gxx_personality_v0|__clang_call_terminate|__x86\.get_pc_thunk\..*)$' || true)
[[ -z $outside ]] || { printf 'defined outside namespace bitwords:\n%s\n' "$outside"; exit 1; }

for program in examples/adddates tests/consumer; do
  cmake -S "$source/$program" -B "$work/$program" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    "${toolchain[@]}" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_EXE_LINKER_FLAGS="$runtime" \
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build "$work/$program" >/dev/null
done
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086 # the flags are words
for source_file in examples/adddates/adddates.cpp tests/consumer/clashing_names.cpp; do
  "$cxx" -Wall -Wextra -Werror $(pkg-config --cflags bitwords) \
    -o "$work/$(basename "$source_file" .cpp)-pc" "$source/$source_file" \
    $(pkg-config --libs bitwords) $runtime
done

file=$work/fechas.txt
expect() {
  local want=$1
  shift
  local got
  got=$("${emulator[@]}" "$@" 2>&1) && status=0 || status=$?
  [[ $got == "$want" ]] || { printf 'got:\n%s\nwanted:\n%s\n' "$got" "$want"; exit 1; }
  echo "$status"
}
[[ $(expect $'25/12/2018\n1/1/2000' "$work/examples/adddates/adddates" "$file" 25/12/2018 \
  1/1/2000) == 0 ]]
[[ $(expect $'adddates: 32/1/2000: Numerical result out of range\n25/12/2018\n1/1/2000\n14/7/1789' \
  "$work/adddates-pc" "$file" 32/1/2000 14/7/1789) == 1 ]]
[[ $(cat "$file") == $'845794\n36816\n474877' ]]
for clashing in "$work/tests/consumer/clashing_names" "$work/clashing_names-pc"; do
  rm -f "$file"
  [[ $(expect $'25/12/2018\n1/1/2000\n8 1' "$clashing" "$file") == 0 ]]
done
echo "built and ran against the installed library, with CMake and with pkg-config"
