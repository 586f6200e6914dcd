#!/bin/bash
# Makes the example HEX files in examples/, one for each target, from patterned data through GNU
# objcopy. The output depends on nothing but this script and objcopy, so running it again gives
# the same files.
#
#   controlpanel-example.hex  100 KiB from address 0 and a 256-byte block at 0x3F000, both
#                             above 64 KiB, so the file carries extended linear address records
#   controlboard-example.hex  12 KiB from address 0: data and end-of-file records only, as the
#                             control board's loader reads no address records
#
# Each region begins with a text banner padded with zeros to 64 bytes; every later 32-bit word
# holds its own address, big-endian, so any byte of a dump tells where it belongs.
#
# Usage: tools/make-examples.sh [OUTPUT_DIR]   (default: examples/ in the repository)
# Needs: python3, objcopy (binutils).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
output=${1:-$repo/examples}
for tool in python3 objcopy; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing" >&2; exit 1; }
done
mkdir -p "$output"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# pattern FILE ADDRESS SIZE BANNER: one region's bytes, as they lie from ADDRESS on.
pattern() {
    python3 - "$@" <<'PY'
import sys

path, address, size, banner = sys.argv[1], int(sys.argv[2], 0), int(sys.argv[3], 0), sys.argv[4]
head = banner.encode("ascii")
assert len(head) <= 64 and address % 4 == 0 and size % 4 == 0 and size >= 64
data = bytearray(head.ljust(64, b"\0"))
for word in range(address + 64, address + size, 4):
    data += word.to_bytes(4, "big")
with open(path, "wb") as f:
    f.write(data)
PY
}

# region NAME ADDRESS SIZE BANNER: the region as a HEX file of its own. Only the section moves:
# --change-addresses would move the start address too, which objcopy then writes as a record.
region() {
    pattern "$scratch/$1.bin" "$2" "$3" "$4"
    objcopy -I binary -O ihex --change-section-address ".data+$2" \
        "$scratch/$1.bin" "$scratch/$1.hex"
}

# Below 1 MiB objcopy marks each 64 KiB with an extended segment address record (02); the
# ControlPanel example uses the extended linear address record (04) with the same base, the form
# most firmware toolchains write for this flash.
to_linear() {
    python3 - "$@" <<'PY'
import sys

with open(sys.argv[1], "rb") as f:
    lines = f.read().split(b"\r\n")
out = []
for line in lines:
    if line[:9] == b":02000002":
        segment = int(line[9:13], 16)
        assert segment & 0x0FFF == 0, line
        value = segment >> 12
        body = bytes([2, 0, 0, 4, value >> 8, value & 0xFF])
        line = b":" + body.hex().upper().encode() + b"%02X" % (-sum(body) & 0xFF)
    out.append(line)
with open(sys.argv[2], "wb") as f:
    f.write(b"\r\n".join(out))
PY
}

# Joins region files in address order: every end-of-file record but the last goes.
join() {
    local target=$1
    shift
    : >"$scratch/joined.hex"
    local last=${!#}
    for piece in "$@"; do
        if [ "$piece" = "$last" ]; then
            cat "$piece" >>"$scratch/joined.hex"
        else
            grep -v '^:00000001FF' "$piece" >>"$scratch/joined.hex"
        fi
    done
    mv "$scratch/joined.hex" "$target"
}

region panel-main 0x00000 102400 "zelUpdate example firmware for the ControlPanel"
region panel-top 0x3F000 256 "zelUpdate example firmware: ControlPanel top block"
join "$scratch/panel.hex" "$scratch/panel-main.hex" "$scratch/panel-top.hex"
to_linear "$scratch/panel.hex" "$output/controlpanel-example.hex"

region board 0x0000 12288 "zelUpdate example firmware for the ZEL02 control board"
cp "$scratch/board.hex" "$output/controlboard-example.hex"

# What each file holds, and the rules the loaders set: 80 characters a line, no record above
# the target's limit, and only data and end-of-file records for the control board.
check() {
    python3 - "$@" <<'PY'
import collections, sys

path, limit, board = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "board"
types = collections.Counter()
base, low, high, longest = 0, None, 0, 0
for line in open(path, "rb").read().split(b"\r\n"):
    if not line:
        continue
    longest = max(longest, len(line))
    body = bytes.fromhex(line[1:].decode())
    assert sum(body) & 0xFF == 0, line
    count, address, kind = body[0], body[1] << 8 | body[2], body[3]
    types[kind] += 1
    if kind == 0:
        start = base + address
        low = start if low is None else min(low, start)
        high = max(high, start + count)
    elif kind == 2:
        base = (body[4] << 8 | body[5]) << 4
    elif kind == 4:
        base = (body[4] << 8 | body[5]) << 16
    assert not (board and kind not in (0, 1)), line
assert longest <= 80 and high <= limit
print("%s: data 0x%05X..0x%05X, records %s, longest line %d"
      % (path, low, high - 1, dict(sorted(types.items())), longest))
PY
}
check "$output/controlpanel-example.hex" 261144 panel
check "$output/controlboard-example.hex" 32256 board
