#!/usr/bin/env bash
# Peak memory of a conversion: `vkl convert` of a log of about 200 MB and of one of about
# 2 GB to CSV, to text and to an HTML page (decoded, four columns), written to standard
# output and thrown away. The converter reads and writes record by record, so the second
# should hold no more than 8 MiB more at its peak.
#
#   bench/convert-memory.sh [BUILD_DIR]      (default: build; needs about 2.3 GB free in /tmp)
#
# Peak resident set sizes are GNU time's (/usr/bin/time, Debian package "time").
set -euo pipefail
build="${1:-build}"
vkl="$build/tools/vkl/vkl"
[ -x "$vkl" ] || { echo "convert-memory: $vkl not found (build first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "convert-memory: /usr/bin/time is not installed (Debian package time)" >&2; exit 2; }
scratch=$(mktemp -d /tmp/vklconvmem.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# A simulated recording of N messages into one file (about 72 bytes a record).
make_log() {  # name, messages
  "$vkl" --home "$scratch/home" -q record --dir "$scratch" -o "$1" --max-size 4000 --messages "$2" >/dev/null
}
# Peak resident set of converting one log to standard output (thrown away), in KiB.
peak() {  # log name, format
  /usr/bin/time -f %M -o "$scratch/peak" "$vkl" --home "$scratch/home" -q convert "$scratch/$1.vkl" -o - \
    --format "$2" --columns "Index,PC Time Stamp,Signal,Decoded" >/dev/null 2>"$scratch/err"
  cat "$scratch/peak"
}

make_log small 2800000
make_log large 28000000
sb=$(stat -c %s "$scratch/small.vkl")
lb=$(stat -c %s "$scratch/large.vkl")
for format in csv text html; do
  small=$(peak small "$format")
  large=$(peak large "$format")
  awk -v f="$format" -v s="$small" -v l="$large" -v sb="$sb" -v lb="$lb" 'BEGIN {
    printf "vkl convert --format %s: peak %.1f MiB for a %.0f MB log, %.1f MiB for a %.0f MB log: %+.1f MiB (aim: within 8 MiB)\n",
      f, s / 1024, sb / 1e6, l / 1024, lb / 1e6, (l - s) / 1024 }'
done
