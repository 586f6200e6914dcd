#!/usr/bin/env bash
# Makes the recordings in this folder again, with zelupdate-cli-sim itself:
#   tests/recordings/make-recordings.sh build/cli/zelupdate-cli-sim
# Each runs on freshly powered simulated units, timed like hardware, in a folder of its own.
set -euo pipefail

cli=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
examples=$(cd "$here/../../examples" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$examples/controlpanel-example.hex" "$examples/controlboard-example.hex" "$work/"

# record NAME EXPECTED-STATUS [VARIABLE=VALUE...] -- ARGUMENTS...
record() {
    local name=$1 expected=$2
    shift 2
    local settings=()
    while [ "$1" != "--" ]; do
        settings+=("$1")
        shift
    done
    shift
    rm -rf "$work/sim" "$work/state" "$work/run"
    mkdir -p "$work/run"
    local status=0
    (cd "$work" && env ZELUPDATE_SIM_DIR="$work/sim" XDG_STATE_HOME="$work/state" \
        XDG_RUNTIME_DIR="$work/run" "${settings[@]}" \
        "$cli" "$@" --record "$here/$name.jsonl.gz" >/dev/null 2>&1) || status=$?
    if [ "$status" -ne "$expected" ]; then
        echo "$name: exit status $status, not $expected" >&2
        exit 1
    fi
    echo "$name: $(stat -c %s "$here/$name.jsonl.gz") bytes"
}

record panel-update 0 -- update --target panel controlpanel-example.hex
record board-update 0 -- update --target board controlboard-example.hex
record probe-restart 0 -- probe --restart --yes
# The fourth page read back has a flipped bit.
record board-read-back-mismatch 1 ZELUPDATE_SIM_FAULTS=corrupt-read-back@Nn:3 -- \
    update --target board controlboard-example.hex
# Written and verified, but the unit never comes back from its restart into its application.
record panel-never-back 6 ZELUPDATE_SIM_RESTARTS=never-returns:1 -- \
    update --target panel --restart-timeout 2 controlpanel-example.hex
