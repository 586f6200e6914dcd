#!/usr/bin/env bash
# zelupdate-cli-sim as a user runs it, its replies timed like hardware (its restarts short): a
# command that writes nothing leaves the flash files alone, and an update of each target leaves in
# its file exactly objcopy's image of the example.
#   sim-flash.sh ZELUPDATE_CLI_SIM EXAMPLES_DIR
set -euo pipefail
cli=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZELUPDATE_SIM_DIR=$work/flash XDG_STATE_HOME=$work/state ZELUPDATE_SIM_RESTART_MS=100
flash=$ZELUPDATE_SIM_DIR/1-1 # the one simulated unit's folder
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# objcopy's flat image of the example, padded with 0xFF to the flash's size.
image() {
    objcopy -I ihex -O binary --gap-fill 0xff "$examples/$1" "$work/image.bin"
    local used
    used=$(stat -c %s "$work/image.bin")
    { cat "$work/image.bin"; head -c $(($2 - used)) /dev/zero | tr '\0' '\377'; } >"$work/$3"
}
image controlboard-example.hex 32768 board.bin
image controlpanel-example.hex 262144 panel.bin

"$cli" --version >/dev/null
[[ $(tr -d '\377' <"$flash/controlboard.bin" | wc -c) == 0 ]] || fail "--version wrote the flash"

"$cli" update --target board "$examples/controlboard-example.hex" >"$work/out" 2>"$work/err" ||
    fail "the board update exited with $?: $(cat "$work/err")"
cmp "$flash/controlboard.bin" "$work/board.bin" ||
    fail "controlboard.bin differs from objcopy's image"
grep -qx "result: The ZEL02 firmware has been updated" "$work/out" || fail "$(cat "$work/out")"
inode=$(stat -c %i "$flash/controlboard.bin")

# list lets go of the ControlPanel (hid_exit) without writing to it. The flash files are mapped
# and written in place, never replaced.
"$cli" list >/dev/null || fail "list exited with $?"
[[ $(stat -c %i "$flash/controlboard.bin") == "$inode" ]] ||
    fail "list wrote controlboard.bin again"
"$cli" update --target panel "$examples/controlpanel-example.hex" >"$work/out" 2>"$work/err" ||
    fail "the panel update exited with $?: $(cat "$work/err")"
cmp "$flash/controlpanel.bin" "$work/panel.bin" ||
    fail "controlpanel.bin differs from objcopy's image"
cmp "$flash/controlboard.bin" "$work/board.bin" || fail "controlboard.bin changed"
echo "both updates left objcopy's images in the flash files; --version and list wrote none"
