#!/usr/bin/env bash
# A peer for the conversion speed: tshark printing four fields of 1,000,000 packets of 60
# bytes (tshark -T fields), beside vkl converting 1,000,000 records of 60 data bytes to
# CSV with four columns, in the same run, files in memory where the system offers it.
# Not part of the tests or CI; tshark comes from Debian's tshark package:
#   DEBIAN_FRONTEND=noninteractive apt-get install -y tshark
#   bash bench/peer_tshark.sh [build directory]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
vkl="$build/tools/vkl/vkl"
if ! command -v tshark >/dev/null; then
  echo "peer_tshark: tshark is not installed; nothing to compare"
  exit 0
fi
[ -x "$vkl" ] || { echo "peer_tshark: $vkl is not built" >&2; exit 1; }
dir="$(mktemp -d /dev/shm/vklpeer.XXXXXX 2>/dev/null || mktemp -d)"
trap 'rm -rf "$dir"' EXIT
count=1000000

# The capture: Ethernet frames of 60 bytes. The log: signal messages of the bundled
# database (PDCP_STATS_IND, 4104) of 60 data bytes, laid out as docs/FORMAT.md says.
python3 - "$dir" "$count" <<'EOF'
import struct, sys
d, n = sys.argv[1], int(sys.argv[2])
with open(d + "/peer.pcap", "wb") as f:
    f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    for i in range(n):
        frame = bytes(6) + bytes([2, 0, 0, 0, 0, 1]) + b"\x88\xb5" + bytes((i + k) & 0xFF for k in range(46))
        f.write(struct.pack("<IIII", 1300000000 + i // 1000, (i % 1000) * 1000, 60, 60) + frame)
records = bytearray()
for i in range(1, n + 1):
    data = bytearray(60)
    data[0] = 6
    data[12] = 40
    data[16:20] = struct.pack("<I", 4104)
    data[20:60] = bytes((i * 7 + k) & 0xFF for k in range(12, 52))
    records += struct.pack("<ii8HI", 1, 0, 2011, 3, 4, 3, 14, 5, 9, i % 1000, 60) + data + struct.pack("<Qi", i, 0)
def text(s):
    return bytes([len(s)]) + s.encode()
header = (text("Header Version 1.0") + text("KOVA Ver. 0.20.5.83") + text("") + text("")
          + struct.pack("<I", 0xFFFFFFFF) + text("") + struct.pack("<III", 0, 1, 0)
          + struct.pack("<8H", 2011, 3, 4, 3, 14, 5, 9, 0))
with open(d + "/peer.vkl", "wb") as f:
    f.write(struct.pack("<I", 4 + len(records)) + records + header)
EOF

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
t_tshark=$(seconds tshark -r "$dir/peer.pcap" -T fields -e frame.number -e frame.time_relative -e eth.type -e data.data)
t_vkl=$(seconds "$vkl" --home "$dir/home" -q convert "$dir/peer.vkl" -o - --format csv --sync \
  --columns "Index,PC Time Stamp,Signal,Data")
printf 'tshark -T fields: %.0f packets/s\n' "$(echo "$count / $t_tshark" | bc -l)"
printf 'vkl convert (CSV, 4 columns, decoded): %.0f records/s = %.1f x tshark\n' \
  "$(echo "$count / $t_vkl" | bc -l)" "$(echo "$t_tshark / $t_vkl" | bc -l)"
