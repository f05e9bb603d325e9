#!/usr/bin/env bash
# `vkl info` beside the standard capture-summary tool, capinfos (Debian package
# wireshark-common), over files of the same record count and sizes: a log recorded by
# `vkl record`, and a packet capture with one packet per record of it, each as long as
# its record (bench_MakeCapture). The two run in turn, five times each; the medians and
# their ratio are printed. Without capinfos the script says so and times `vkl info` alone.
#
#   bench/info-vs-capinfos.sh [BUILD_DIR] [RECORDS]      (default: build, 2000000)
set -euo pipefail
build="${1:-build}"
records="${2:-2000000}"
vkl="$build/tools/vkl/vkl"
make_capture="$build/bench/bench_MakeCapture"
for tool in "$vkl" "$make_capture"; do
  [ -x "$tool" ] || { echo "info-vs-capinfos: $tool not found (build first)" >&2; exit 2; }
done
scratch=$(mktemp -d /tmp/vklinfo.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

"$vkl" --home "$scratch/home" -q record --dir "$scratch" -o log --messages "$records"
"$make_capture" "$scratch/log.vkl" "$scratch/capture.pcap" >/dev/null

# Wall seconds of one run, its output thrown away.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

have_capinfos=1
command -v capinfos >/dev/null || have_capinfos=0
: >"$scratch/vkl.times"
: >"$scratch/capinfos.times"
for _ in 1 2 3 4 5; do
  seconds "$vkl" --home "$scratch/home" info "$scratch/log.vkl" >>"$scratch/vkl.times"
  if [ "$have_capinfos" = 1 ]; then seconds capinfos "$scratch/capture.pcap" >>"$scratch/capinfos.times"; fi
done
vkl_s=$(median <"$scratch/vkl.times")
if [ "$have_capinfos" = 0 ]; then
  echo "vkl info over $records records: $vkl_s s (median of 5)"
  echo "capinfos is not installed (Debian package wireshark-common): no comparison"
  exit 0
fi
capinfos_s=$(median <"$scratch/capinfos.times")
awk -v n="$records" -v v="$vkl_s" -v c="$capinfos_s" 'BEGIN {
  printf "vkl info over %d records: %.3f s; capinfos over a capture of the same record count and sizes: %.3f s; ratio %.1f (median of 5 each; aim: at least 5)\n",
    n, v, c, c / v }'
