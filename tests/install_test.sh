#!/usr/bin/env bash
# Installs the build in $1 into an empty prefix, checks that both programs,
# both manual pages (compressed) and the copyright file arrive, that the
# programs run (through $EMULATOR, if given: the emulator of a build for
# another machine), and that the pages render without a warning.
set -euo pipefail
build=$1
read -ra emulator <<<"${EMULATOR:-}"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/datelist bin/maskcheck share/man/man1/datelist.1.gz share/man/man1/maskcheck.1.gz \
  share/doc/bitwords/copyright; do
  [[ -f $prefix/$f ]] || { echo "missing: $f"; exit 1; }
done
[[ $("${emulator[@]}" "$prefix/bin/maskcheck") == incorrecto ]] ||
  { echo "installed maskcheck misbehaves"; exit 1; }
source=$(cd "$(dirname "$0")/.." && pwd)
(cd "$source/examples" && "${emulator[@]}" "$prefix/bin/datelist" | cmp -s - listing.txt) ||
  { echo "installed datelist lists the example otherwise than examples/listing.txt"; exit 1; }

for page in "$prefix"/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -t -Tutf8 -ww -z 2>&1)
  [[ -z $warnings ]] || { echo "$page: $warnings"; exit 1; }
  rendered=$(zcat "$page" | groff -man -t -Tutf8 -P-cbou 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" DIAGNOSTICS EXAMPLES; do
    grep -q "^$section" <<<"$rendered" || { echo "$page: no $section section"; exit 1; }
  done
done
echo "installed and rendered"
