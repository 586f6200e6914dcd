#!/usr/bin/env bash
# update --all on the simulated devices at hardware-like timing (1 ms a report, 1.5 s restarts):
# a plain update of one ControlPanel, then --all over 1 and over 4 units (ZELUPDATE_SIM_UNITS),
# alternating in one run. Prints each median wall time and the CPU time (user + sys of the whole
# process tree: zelupdate-cli-sim and its workers) per unit, and fails when four units take more
# than 1.3 times as long as the plain update of one, or use more than twice its CPU time a unit.
#
#   bench/update-all.sh [BUILD_DIR] [RUNS]     (defaults: build, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
cli=$build/cli/zelupdate-cli-sim
example=$root/examples/controlpanel-example.hex
[[ -x $cli ]] || { echo "$cli is not built: cmake --build $build" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Flash files, locks and history of their own; the sim's own timing, no faults.
export ZELUPDATE_SIM_DIR=$work/flash XDG_STATE_HOME=$work/state ZELUPDATE_LOCK_DIR=$work/locks
unset ZELUPDATE_SIM_RESTART_MS ZELUPDATE_SIM_FAULTS
mkdir -p "$ZELUPDATE_LOCK_DIR"

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# bash's `times` prints "0m1.250s 0m0.300s" for the children: user, then sys.
seconds() { awk -F'[ms]' '{ print $1 * 60 + $2 }' <<<"$1"; }

# Runs one update with the units given; appends its wall and CPU seconds to the named arrays.
run() {
    local units=$1 wallName=$2 cpuName=$3
    shift 3
    local start end usage
    start=$(date +%s%N)
    usage=$(
        ZELUPDATE_SIM_UNITS=$units "$cli" update --target panel "$@" "$example" \
            >"$work/out" 2>"$work/err" || { cat "$work/out" "$work/err" >&2; exit 1; }
        times
    ) || exit 1
    end=$(date +%s%N)
    read -r user sys <<<"$(tail -1 <<<"$usage")"
    eval "$wallName+=($(awk -v t=$((end - start)) 'BEGIN { print t / 1e9 }'))"
    eval "$cpuName+=($(awk -v u="$(seconds "$user")" -v s="$(seconds "$sys")" \
        'BEGIN { print u + s }'))"
}

singleWall=() singleCpu=() oneWall=() oneCpu=() fourWall=() fourCpu=()
for ((at = 0; at < runs; ++at)); do
    run 1-1 singleWall singleCpu
    run 1-1 oneWall oneCpu --all
    run 1-1,1-2,1-3,1-4 fourWall fourCpu --all
done

single=$(median "${singleWall[@]}") singleCpuMedian=$(median "${singleCpu[@]}")
one=$(median "${oneWall[@]}") oneCpuMedian=$(median "${oneCpu[@]}")
four=$(median "${fourWall[@]}") fourCpuMedian=$(median "${fourCpu[@]}")
printf 'median of %d runs     wall s   CPU s a unit\n' "$runs"
printf 'update, 1 unit       %6.2f   %6.3f\n' "$single" "$singleCpuMedian"
printf 'update --all, 1 unit %6.2f   %6.3f\n' "$one" "$oneCpuMedian"
printf 'update --all, 4 units%6.2f   %6.3f\n' "$four" "$(awk -v c="$fourCpuMedian" 'BEGIN { print c / 4 }')"
awk -v f="$four" -v s="$single" -v fc="$fourCpuMedian" -v sc="$singleCpuMedian" 'BEGIN {
    printf "4 units with --all: %.2f times the wall time of one update, %.2f times its CPU time a unit\n", f / s, fc / 4 / sc
    failed = 0
    if (f > 1.3 * s) { print "more than 1.3 times the wall time of one update" > "/dev/stderr"; failed = 1 }
    if (fc / 4 > 2 * sc) { print "more than twice the CPU time of one update, a unit" > "/dev/stderr"; failed = 1 }
    exit failed
}'
