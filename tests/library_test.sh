#!/usr/bin/env bash
# Uses the installed date library as another program would: installs the
# build in $1 into an empty prefix, moves the prefix elsewhere (nothing may
# point back to where it was installed), then builds examples/adddates
# against it out of tree with CMake, and as one file with pkg-config, and
# runs both. CXX names the compiler; RUNTIME_FLAGS, the flags that link a
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
cmake -S "$source/examples/adddates" -B "$work/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  "${toolchain[@]}" -DCMAKE_CXX_COMPILER="${CXX:-c++}" -DCMAKE_EXE_LINKER_FLAGS="$runtime" \
  -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$work/cmake" >/dev/null
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086 # the flags are words
"${CXX:-c++}" -Wall -Wextra -Werror $(pkg-config --cflags bitwords) -o "$work/onefile" \
  "$source/examples/adddates/adddates.cpp" $(pkg-config --libs bitwords) $runtime

file=$work/fechas.txt
expect() {
  local want=$1
  shift
  local got
  got=$("${emulator[@]}" "$@" 2>&1) && status=0 || status=$?
  [[ $got == "$want" ]] || { printf 'got:\n%s\nwanted:\n%s\n' "$got" "$want"; exit 1; }
  echo "$status"
}
[[ $(expect $'25/12/2018\n1/1/2000' "$work/cmake/adddates" "$file" 25/12/2018 1/1/2000) == 0 ]]
[[ $(expect $'adddates: 32/1/2000: Numerical result out of range\n25/12/2018\n1/1/2000\n14/7/1789' \
  "$work/onefile" "$file" 32/1/2000 14/7/1789) == 1 ]]
[[ $(cat "$file") == $'845794\n36816\n474877' ]]
echo "built and ran against the installed library, with CMake and with pkg-config"
