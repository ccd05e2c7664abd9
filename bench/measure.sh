#!/usr/bin/env bash
# Measures datelist against the C stdio reference (bench/stdio_datelist.cpp)
# on every form of date file, for the default build (wide path where the
# processor has AVX2) and the portable one (BITWORDS_SIMD off):
#
#   - instructions per date under callgrind, start-up included, on 1,000,000
#     random dates: one value per line with LF, the same with CRLF, and eight
#     to a line separated by spaces; the two builds' listings must be
#     byte-identical on each;
#   - whole-process wall time, each run of datelist paired with one of the
#     reference and the median of the pairs' ratios taken: the shipped
#     five-line example (start-up) and 10,000,000 dates;
#   - peak resident memory on 10,000,000 dates (GNU time);
#   - the in-process benchmark (Google Benchmark), where no flag says
#     otherwise.
#
# Needs valgrind and GNU time (/usr/bin/time); uses hyperfine for the
# start-up's absolute times where it is installed. Arguments go to the
# in-process benchmark; --quick skips it.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
if [[ ${1:-} == --quick ]]; then quick=1; shift; fi
for preset in bench bench-portable; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" >/dev/null
done
datelist=$PWD/build/bench/datelist
portable=$PWD/build/bench-portable/datelist
reference=$PWD/build/bench/bench/stdio_datelist

echo "machine: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores; $(date -u +%F)"

files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
# The benchmark writes its seeded files of random in-range dates, one per
# line; the other forms are made from the million.
build/bench/bench/datelist_bench --lines=1000000,10000000 --keep="$files" \
  --benchmark_filter=none >/dev/null 2>&1
mkdir -p "$files/crlf" "$files/spaces"
sed 's/$/\r/' "$files/1000000/fechas.txt" >"$files/crlf/fechas.txt"
paste -d' ' - - - - - - - - <"$files/1000000/fechas.txt" >"$files/spaces/fechas.txt"

instructions() {  # program, folder: instructions per date on a million
  (cd "$2" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p') | awk '{ printf "%.1f", $1 / 1000000 }'
}
echo
echo "instructions per date (callgrind, 1,000,000 dates, start-up included):"
printf '  %-34s %10s %10s %10s\n' form default portable reference
for form in 1000000:"one per line, LF" crlf:"one per line, CRLF" spaces:"eight to a line, spaces"; do
  dir=$files/${form%%:*}
  cmp -s <(cd "$dir" && "$datelist") <(cd "$dir" && "$portable") ||
    { echo "the portable build lists ${form#*:} differently"; exit 1; }
  printf '  %-34s %10s %10s %10s\n' "${form#*:}" "$(instructions "$datelist" "$dir")" \
    "$(instructions "$portable" "$dir")" "$(instructions "$reference" "$dir")"
done

paired() {  # runs, folder: median of datelist's wall time over the reference's, pair by pair
  (cd "$2" && for _ in $(seq "$1"); do
    t0=$EPOCHREALTIME; "$datelist" >/dev/null; t1=$EPOCHREALTIME
    "$reference" >/dev/null; t2=$EPOCHREALTIME
    echo "$t0 $t1 $t2"
  done) | awk '{ print ($2 - $1) / ($3 - $2) }' | sort -g |
    awk '{ r[NR] = $1 } END { m = NR % 2 ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2;
                              printf "%.3f (1/%.1f)", m, 1 / m }'
}
echo
echo "wall time, datelist over the reference (median of paired runs):"
echo "  start-up, examples/fechas.txt (5 dates), 1000 pairs: $(paired 1000 examples)"
echo "  10,000,000 dates, 7 pairs:                         $(paired 7 "$files/10000000")"
if command -v hyperfine >/dev/null; then
  (cd examples && hyperfine -N --style basic --warmup 50 --runs 1000 \
    -n datelist "$datelist" -n reference "$reference" | grep -E '^(Benchmark| *Time)')
fi

peak_kib() { (cd "$files/10000000" && /usr/bin/time -f %M "$1" 2>&1 >/dev/null | tail -1); }
echo
echo "peak resident memory (10,000,000 dates):"
kib=$(peak_kib "$datelist")
echo "  datelist  $kib KiB = $(awk -v k="$kib" 'BEGIN { printf "%.2f", k * 1024 / 1e7 }') bytes per date"
echo "  reference $(peak_kib "$reference") KiB"

if ((!quick)); then
  echo
  build/bench/bench/datelist_bench --benchmark_color=false "$@"
fi
