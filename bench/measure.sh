#!/usr/bin/env bash
# Measures datelist on each code path, and the C stdio reference
# (bench/stdio_datelist.cpp), on every form of date file:
#
#   - instructions per date, start-up included, on random in-range dates:
#     one value per line with LF, the same with CRLF, and eight to a line
#     separated by spaces; every path must list each form byte for byte
#     alike. The AVX2 and portable paths are counted by callgrind on a
#     million dates (valgrind hides AVX-512, so under it the default build
#     takes its AVX2 path); the AVX-512 path by ../shared/tools/stepcount.c
#     (ptrace single-stepping, slow) on 100,000 dates, less the count of
#     the five-line example;
#   - whole-process wall time on 10,000,000 dates over the design floor
#     (../shared/tools/designfloor.c, -O3: the same reads and as many bytes
#     written, and the 12-byte records written once and read back once;
#     nothing parsed, no text made), both writing to /dev/null, run in
#     pairs by hyperfine; the median of three such ratios; and the load
#     alone (bench/load_only.cpp) over the floor's load (designfloor 0);
#   - start-up: the five-line example, over a static program that does
#     nothing, and over the reference;
#   - peak resident memory on 10,000,000 dates (GNU time);
#   - the in-process benchmark (Google Benchmark), where no flag says
#     otherwise.
#
# Needs valgrind, hyperfine, GNU time (/usr/bin/time) and gcc. Arguments go
# to the in-process benchmark; --quick skips it.
set -euo pipefail
cd "$(dirname "$0")/.."
tools=$(cd .. && pwd)/shared/tools
[[ -f $tools/stepcount.c && -f $tools/designfloor.c ]] ||
  { echo "measure.sh needs ../shared/tools/stepcount.c and designfloor.c beside the project"; exit 1; }
quick=0
if [[ ${1:-} == --quick ]]; then quick=1; shift; fi
# One build per path: the bench preset, and the same with the AVX2 path the
# best and with the portable path alone.
for build in bench:"" bench-avx2:-DBITWORDS_AVX512=OFF bench-portable:-DBITWORDS_SIMD=OFF; do
  cmake --preset bench -B "build/${build%%:*}" ${build#*:} >/dev/null
  cmake --build "build/${build%%:*}" >/dev/null
done
declare -A build=([avx512]=$PWD/build/bench/datelist [avx2]=$PWD/build/bench-avx2/datelist
  [portable]=$PWD/build/bench-portable/datelist)
reference=$PWD/build/bench/stdio_datelist
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gcc -O2 -o "$work/stepcount" "$tools/stepcount.c"
gcc -O3 -march=native -o "$work/designfloor" "$tools/designfloor.c"
printf 'int main(void) { return 0; }\n' | gcc -O2 -static -x c -o "$work/empty" -

echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores;" \
  "$(grep -o 'avx512[a-z_0-9]*' /proc/cpuinfo | sort -u | tr '\n' ' ')"
echo "date: $(date -u +%F); compiler: $(g++ --version | head -1)"
paths=(portable avx2)
if grep -qw avx512_vbmi2 /proc/cpuinfo; then paths+=(avx512); fi
echo "paths measured: ${paths[*]}"

# The benchmark writes its seeded files of random in-range dates, one per
# line; the other forms are made from them.
files=$work/files
build/bench/bench/datelist_bench --lines=100000,1000000,10000000 --keep="$files" \
  --benchmark_filter=none >/dev/null 2>&1
for n in 100000 1000000; do
  mkdir -p "$files/crlf-$n" "$files/spaces-$n"
  sed 's/$/\r/' "$files/$n/fechas.txt" >"$files/crlf-$n/fechas.txt"
  paste -d' ' - - - - - - - - <"$files/$n/fechas.txt" >"$files/spaces-$n/fechas.txt"
done

callgrind() {  # program, folder, dates: instructions per date
  (cd "$2" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p') | awk -v n="$3" '{ printf "%.1f", $1 / n }'
}
stepcount() {  # program, folder, dates: instructions per date, less start-up
  local all base
  all=$(cd "$2" && "$work/stepcount" "$1" 2>&1 >/dev/null | sed -n 's/^instructions: //p')
  base=$(cd examples && "$work/stepcount" "$1" 2>&1 >/dev/null | sed -n 's/^instructions: //p')
  awk -v a="$all" -v b="$base" -v n="$3" 'BEGIN { printf "%.1f", (a - b) / n }'
}
echo
echo "instructions per date:"
printf '  %-26s' form
for path in "${paths[@]}" reference; do printf '%10s' "$path"; done
echo
for form in :"one per line, LF" crlf-:"one per line, CRLF" spaces-:"eight to a line, spaces"; do
  prefix=${form%%:*}
  want=$(cd "$files/${prefix}1000000" && "${build[portable]}" | md5sum)
  printf '  %-26s' "${form#*:}"
  for path in "${paths[@]}"; do
    [[ $(cd "$files/${prefix}1000000" && "${build[$path]}" | md5sum) == "$want" ]] ||
      { echo "the $path path lists ${form#*:} differently"; exit 1; }
    if [[ $path == avx512 ]]; then
      printf '%10s' "$(stepcount "${build[$path]}" "$files/${prefix}100000" 100000)"
    else
      printf '%10s' "$(callgrind "${build[$path]}" "$files/${prefix}1000000" 1000000)"
    fi
  done
  printf '%10s\n' "$(callgrind "$reference" "$files/${prefix}1000000" 1000000)"
done

ratio() {  # program, folder, floor's argument: the program's median wall time over the floor's
  (cd "$2" && hyperfine -N --warmup 3 --runs 21 --style none --export-json "$work/h.json" \
    "$work/designfloor $3" "$1" --output=null >/dev/null 2>&1)
  python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"];
print(r[1]["median"] / r[0]["median"])' "$work/h.json"
}
median3() {  # program, folder, floor's argument: the middle of three ratios
  for _ in 1 2 3; do ratio "$@"; done | sort -g | sed -n 2p | awk '{ printf "%.2fx", $1 }'
}
echo
echo "10,000,000 dates, wall time over the design floor (median of three paired runs):"
bytes=$(cd "$files/10000000" && "${build[portable]}" | wc -c)
for path in "${paths[@]}"; do
  printf '  %-10s %s, the load alone %s\n' "$path" "$(median3 "${build[$path]}" "$files/10000000" "$bytes")" \
    "$(median3 "$(dirname "${build[$path]}")/bench/load_only" "$files/10000000" 0)"
done

echo
echo "start-up, the five-line example, over a static program that does nothing (hyperfine, medians):"
(cd examples && hyperfine -N --style none --warmup 50 --runs 2000 --export-json "$work/e.json" \
  "${build[avx512]}" "$work/empty" >/dev/null 2>&1)
python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"];
print("  %.3f" % (r[0]["median"] / r[1]["median"]))' "$work/e.json"
echo "and over the reference:"
(cd examples && hyperfine -N --style none --warmup 50 --runs 1000 --export-json "$work/s.json" \
  "${build[avx512]}" "$reference" >/dev/null 2>&1)
python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"];
print("  %.2f (%.2f ms over %.2f ms)" % (r[0]["median"] / r[1]["median"], r[0]["median"] * 1e3, r[1]["median"] * 1e3))' "$work/s.json"

echo
echo "peak resident memory, 10,000,000 dates:"
for path in "${paths[@]}"; do
  kib=$(cd "$files/10000000" && /usr/bin/time -f %M "${build[$path]}" 2>&1 >/dev/null | tail -1)
  printf '  %-10s %s KiB = %s bytes per date\n' "$path" "$kib" \
    "$(awk -v k="$kib" 'BEGIN { printf "%.2f", k * 1024 / 1e7 }')"
done

if ((!quick)); then
  echo
  build/bench/bench/datelist_bench --benchmark_color=false "$@"
fi
