#!/usr/bin/env bash
# Builds the benchmark preset and measures datelist against the C stdio
# reference: the whole-process start-up on the shipped five-line example,
# the side-by-side benchmark on 1 and 10 million random dates,
# instructions per date under callgrind on 1 million, and peak memory on
# 10 million. Needs valgrind and GNU time (/usr/bin/time); uses hyperfine
# for the start-up where it is installed, a paired loop otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null
datelist=$PWD/build/bench/datelist
reference=$PWD/build/bench/bench/stdio_datelist

echo "start-up, whole process on examples/fechas.txt (5 dates):"
if command -v hyperfine >/dev/null; then
  (cd examples && hyperfine -N --style basic --warmup 50 --runs 1000 \
    -n datelist "$datelist" -n reference "$reference")
else
  # Each run of the one paired with a run of the other, 1000 times.
  (cd examples &&
    a=0 b=0 &&
    for _ in $(seq 1000); do
      t0=$EPOCHREALTIME; "$datelist" >/dev/null; t1=$EPOCHREALTIME
      "$reference" >/dev/null; t2=$EPOCHREALTIME
      a=$(awk -v a="$a" -v x="$t0" -v y="$t1" 'BEGIN { print a + y - x }')
      b=$(awk -v b="$b" -v x="$t1" -v y="$t2" 'BEGIN { print b + y - x }')
    done &&
    awk -v a="$a" -v b="$b" 'BEGIN { printf "  datelist %.3f ms, reference %.3f ms a run: %.2fx\n", a, b, a / b }')
fi
echo

files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
build/bench/bench/datelist_bench --keep="$files" --benchmark_color=false "$@"

per_date() { awk -v total="$1" -v n="$2" 'BEGIN { printf "%.1f", total / n }'; }
instructions() {
  (cd "$files/1000000" &&
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$1" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
}
peak_kib() {
  (cd "$files/10000000" && /usr/bin/time -f %M "$1" 2>&1 >/dev/null | tail -1)
}

echo
echo "instructions per date (callgrind, 1,000,000 dates):"
echo "  datelist  $(per_date "$(instructions "$datelist")" 1000000)"
echo "  reference $(per_date "$(instructions "$reference")" 1000000)"
echo "peak resident memory (10,000,000 dates):"
kib=$(peak_kib "$datelist")
echo "  datelist  $kib KiB = $(awk -v k="$kib" 'BEGIN { printf "%.2f", k * 1024 / 1e7 }') bytes per date"
echo "  reference $(peak_kib "$reference") KiB"
