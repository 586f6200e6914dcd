#!/usr/bin/env bash
# Runs inside umockdev-run, the emulated ControlPanel at USB port 1-1.2 answering from a recorded
# ControlPanel update: the real zelupdate-cli on the real hidapi updates it, while this script makes
# the unit leave the bus and come back at each of its restarts, by hiding its hidraw node from
# umockdev's sysfs and showing it again. Once the unit is back from its first restart and written,
# a second zelupdate-cli finds it attached and must be refused, naming the first: the lock taken
# before the restart still holds.
#   lock-through-restart.sh ZELUPDATE_CLI HEX_FILE
set -euo pipefail
cli=$1
file=$2
[[ -n ${UMOCKDEV_DIR:-} ]] || { echo "FAIL: not under umockdev-run" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZELUPDATE_LOCK_DIR=$work/locks XDG_STATE_HOME=$work/state
node=$UMOCKDEV_DIR/sys/class/hidraw/hidraw0
mark=$ZELUPDATE_LOCK_DIR/zelupdate-port-1-1.2.lock
deadline_s=60 # generous: a loaded machine

fail() {
    echo "FAIL: $*" >&2
    echo "--- first update's standard error:" >&2
    cat "$work/first.err" >&2 || true
    exit 1
}

# Waits for the first update's lock file to name `phase`. The update stays there until this
# script moves the unit, so no phase it waits for can pass unseen.
await() {
    local end=$((SECONDS + deadline_s))
    until grep -qx "phase=$1" "$mark" 2>/dev/null; do
        kill -0 "$first" 2>/dev/null || fail "the update ended before phase $1"
        ((SECONDS < end)) || fail "no phase $1 within $deadline_s s"
        sleep 0.01
    done
}
leave() { mv "$node" "$work/hidden"; }
come_back() { mv "$work/hidden" "$node"; }

# umockdev starts a node's script again once no one holds the node; the recorded conversation goes
# on through the restarts, so the node is held here, never read or written.
exec 3<>/dev/hidraw0
"$cli" update --target panel --port 1-1.2 "$file" >"$work/first.out" 2>"$work/first.err" 3>&- &
first=$!

await departing # into its bootloader
leave
await returning
come_back
# Written and verified, its exit command sent: the unit is attached until it leaves.
await departing
set +e
"$cli" update --target panel --port 1-1.2 "$file" >"$work/second.out" 2>"$work/second.err" 3>&-
second=$?
set -e
leave
await returning
come_back

set +e
wait "$first"
code=$?
set -e
((code == 0)) || fail "the first update exited with $code"
grep -qx "result: The ControlPanel firmware has been updated" "$work/first.out" ||
    fail "first update: $(cat "$work/first.out")"
((second == 4)) || fail "the second update exited with $second: $(cat "$work/second.err")"
expected="The ControlPanel at USB port 1-1.2 is being updated by zelupdate-cli (process $first)"
grep -qxF "$expected" "$work/second.err" || fail "the second update said: $(cat "$work/second.err")"
echo "the lock taken before the ControlPanel's restart refused a second update after it"
