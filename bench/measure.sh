#!/usr/bin/env bash
# Builds the benchmark preset and measures datelist against the C stdio
# reference: the side-by-side benchmark on 1 and 10 million random dates,
# instructions per date under callgrind on 1 million, and peak memory on
# 10 million. Needs valgrind and GNU time (/usr/bin/time).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset bench >/dev/null
cmake --build --preset bench >/dev/null

files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
build/bench/bench/datelist_bench --keep="$files" --benchmark_color=false "$@"

per_date() { awk -v total="$1" -v n="$2" 'BEGIN { printf "%.0f", total / n }'; }
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
echo "  datelist  $(per_date "$(instructions "$PWD/build/bench/datelist")" 1000000)"
echo "  reference $(per_date "$(instructions "$PWD/build/bench/bench/stdio_datelist")" 1000000)"
echo "peak resident memory (10,000,000 dates):"
kib=$(peak_kib "$PWD/build/bench/datelist")
echo "  datelist  $kib KiB = $(awk -v k="$kib" 'BEGIN { printf "%.2f", k * 1024 / 1e7 }') bytes per date"
echo "  reference $(peak_kib "$PWD/build/bench/bench/stdio_datelist") KiB"
