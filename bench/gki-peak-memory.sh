#!/usr/bin/env bash
# Peak memory of the GKI conversions: `vkl export-gki` of a recorded log of SMALL and of
# LARGE megabytes, and `vkl import-gki` of the GKI files they give. Records and messages
# are written as they are made, so the larger input should hold no more than 16 MiB more
# at its peak.
#
#   bench/gki-peak-memory.sh [BUILD_DIR] [SMALL_MB] [LARGE_MB]   (default: build 200 2000)
#
# Peak resident set sizes are GNU time's (/usr/bin/time, Debian package "time").
set -euo pipefail
build="${1:-build}"; small="${2:-200}"; large="${3:-2000}"
vkl="$build/tools/vkl/vkl"
[ -x "$vkl" ] || { echo "gki-peak-memory: $vkl not found (build first)" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "gki-peak-memory: /usr/bin/time is not installed (Debian package time)" >&2; exit 2; }
scratch=$(mktemp -d /tmp/vklgkimem.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# Peak resident set of one vkl run, in KiB.
peak() {
  /usr/bin/time -f %M -o "$scratch/peak" "$vkl" --home "$scratch/home" -q --no "$@" >/dev/null 2>&1 || true
  cat "$scratch/peak"
}

# A recorded log of about MB megabytes (one message is about 72 bytes on average).
make_log() {  # name, MB
  "$vkl" --home "$scratch/home" -q record --dir "$scratch" -o "$1" --max-size 4000 \
    --messages $(( $2 * 1048576 / 72 )) >/dev/null
}

report() {  # what, small KiB, large KiB
  awk -v what="$1" -v s="$2" -v l="$3" -v sm="$small" -v lm="$large" 'BEGIN {
    printf "%s: peak %.1f MiB at %d MB, %.1f MiB at %d MB: %+.1f MiB (aim: within 16 MiB)\n",
      what, s / 1024, sm, l / 1024, lm, (l - s) / 1024 }'
}

make_log small "$small"
make_log large "$large"
echo "inputs: $(stat -c %s "$scratch/small.vkl") and $(stat -c %s "$scratch/large.vkl") bytes"
export_small=$(peak export-gki "$scratch/small.vkl")
export_large=$(peak export-gki "$scratch/large.vkl")
import_small=$(peak import-gki "$scratch/small.gki" -o "$scratch/back-small.vkl")
import_large=$(peak import-gki "$scratch/large.gki" -o "$scratch/back-large.vkl")
report "vkl export-gki LOG" "$export_small" "$export_large"
report "vkl import-gki GKI" "$import_small" "$import_large"
