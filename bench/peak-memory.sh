#!/usr/bin/env bash
# Peak memory of the message path: `vkl record` of 250,000 and of 4,000,000 messages, and
# `vkl replay --into` of the 250,000-record log and of the 4,000,000-record one. The
# queue between the bus and the logger is bounded in bytes ("Message Queue MB"), so a
# run sixteen times longer should hold no more than 16 MiB more at its peak.
#
# Then conversion: `vkl convert` of a log of about 200 MB and of one of about 2 GB, to
# text and to an HTML page, written to standard output and thrown away (the logs need
# 2.2 GB of disk). The converter reads one record at a time and writes row by row, so
# the larger log should hold no more than 8 MiB more at its peak.
#
#   bench/peak-memory.sh [BUILD_DIR]      (default: build)
#
# Peak resident set sizes are GNU time's (/usr/bin/time, Debian package "time").
set -euo pipefail
build="${1:-build}"
vkl="$build/tools/vkl/vkl"
[ -x "$vkl" ] || { echo "peak-memory: $vkl not found (build first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "peak-memory: /usr/bin/time is not installed (Debian package time)" >&2; exit 2; }
scratch=$(mktemp -d /tmp/vklmem.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Peak resident set of one vkl run, in KiB.
peak() {
  /usr/bin/time -f %M -o "$scratch/peak" "$vkl" --home "$scratch/home" -q "$@" >/dev/null
  cat "$scratch/peak"
}

report() {  # what, small KiB, large KiB
  awk -v what="$1" -v s="$2" -v l="$3" 'BEGIN {
    printf "%s: peak %.1f MiB at 250,000, %.1f MiB at 4,000,000: %+.1f MiB (aim: within 16 MiB)\n",
      what, s / 1024, l / 1024, (l - s) / 1024 }'
}

record_small=$(peak record --dir "$scratch" -o small --messages 250000)
record_large=$(peak record --dir "$scratch" -o large --messages 4000000)
replay_small=$(peak replay "$scratch/small.vkl" --speed 0 --into "$scratch/copy-small")
replay_large=$(peak replay "$scratch/large.vkl" --speed 0 --into "$scratch/copy-large")
report "vkl record --messages N" "$record_small" "$record_large"
report "vkl replay LOG --into COPY (N records)" "$replay_small" "$replay_large"

# About 72 bytes a message from the simulated device: 2,900,000 make some 200 MB.
"$vkl" --home "$scratch/home" -q record --dir "$scratch" -o log200 --max-size 4000 --messages 2900000
"$vkl" --home "$scratch/home" -q record --dir "$scratch" -o log2000 --max-size 4000 --messages 29000000
small_mb=$(( $(stat -c %s "$scratch/log200.vkl") / 1048576 ))
large_mb=$(( $(stat -c %s "$scratch/log2000.vkl") / 1048576 ))
for format in text html; do
  s=$(peak convert "$scratch/log200.vkl" -o - --format "$format" --columns "Index,PC Time Stamp,Signal,Data")
  l=$(peak convert "$scratch/log2000.vkl" -o - --format "$format" --columns "Index,PC Time Stamp,Signal,Data")
  awk -v f="$format" -v sm="$small_mb" -v lm="$large_mb" -v s="$s" -v l="$l" 'BEGIN {
    printf "vkl convert --format %s: peak %.1f MiB at %d MB, %.1f MiB at %d MB: %+.1f MiB (aim: within 8 MiB)\n",
      f, s / 1024, sm, l / 1024, lm, (l - s) / 1024 }'
done
