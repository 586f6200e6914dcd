#!/usr/bin/env bash
# One whole update of each target with its example file, through the zelupdate-cli-sim process
# and through bench_update's in-process sequence with the window's fixed waits, alternating in one
# run; both on the simulated devices at 1 ms a report with the hardware's restart times (1.5 s).
# Prints each median and fails when the command line's ControlPanel update, which follows the unit
# through its restarts instead of waiting 3 s for each, takes more than 80% of the window's, or
# its control-board update (the same fixed wait) more than 2% longer. Then one ControlPanel update
# through zelupdate-cli-sim with a restart of 6 s, longer than the window's wait: it must succeed.
#
#   bench/cli-update-vs-bench.sh [BUILD_DIR] [RUNS]     (defaults: build, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
cli=$build/cli/zelupdate-cli-sim
bench=$build/bench/bench_update
for program in "$cli" "$bench"; do
    [[ -x $program ]] || { echo "$program is not built: cmake --build $build" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Flash files and history of their own, so that neither the user's nor another run's count.
export ZELUPDATE_SIM_DIR=$work/flash XDG_STATE_HOME=$work/state

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

failed=0
for target in panel board; do
    case $target in
    panel) example=controlpanel-example.hex name=BM_UpdateControlPanel limit=0.80 ;;
    board) example=controlboard-example.hex name=BM_UpdateControlBoard limit=1.02 ;;
    esac
    cliTimes=() benchTimes=()
    for ((run = 0; run < runs; ++run)); do
        start=$(date +%s%N)
        "$cli" update --target "$target" "$root/examples/$example" >/dev/null 2>"$work/err" ||
            { cat "$work/err" >&2; exit 1; }
        end=$(date +%s%N)
        cliTimes+=($(((end - start) / 1000)))
        # bench_update reports its real time in seconds.
        seconds=$("$bench" --benchmark_filter="^$name" --benchmark_format=json 2>/dev/null |
            sed -n 's/.*"real_time": *\([0-9.e+-]*\).*/\1/p')
        [[ -n $seconds ]] || { echo "bench_update gave no time for $name" >&2; exit 1; }
        benchTimes+=("$(awk -v s="$seconds" 'BEGIN { printf "%.0f", s * 1e6 }')")
    done
    cliMedian=$(median "${cliTimes[@]}")
    benchMedian=$(median "${benchTimes[@]}")
    percent=$(awk -v c="$cliMedian" -v b="$benchMedian" 'BEGIN { printf "%+.2f", (c - b) * 100 / b }')
    printf '%s: zelupdate-cli-sim %.3f s, bench_update %.3f s (median of %d), %s%%\n' "$target" \
        "$(awk -v t="$cliMedian" 'BEGIN { print t / 1e6 }')" \
        "$(awk -v t="$benchMedian" 'BEGIN { print t / 1e6 }')" "$runs" "$percent"
    if awk -v c="$cliMedian" -v b="$benchMedian" -v l="$limit" 'BEGIN { exit !(c > b * l) }'; then
        echo "$target: the command line takes more than $limit times the window's time" >&2
        failed=1
    fi
done

start=$(date +%s%N)
if ZELUPDATE_SIM_RESTART_MS=6000 "$cli" update --target panel \
    "$root/examples/controlpanel-example.hex" >/dev/null 2>"$work/err"; then
    end=$(date +%s%N)
    printf 'panel, 6 s restarts: zelupdate-cli-sim updated it in %.3f s\n' \
        "$(awk -v t="$(((end - start) / 1000))" 'BEGIN { print t / 1e6 }')"
else
    echo "panel, 6 s restarts: zelupdate-cli-sim failed:" >&2
    cat "$work/err" >&2
    failed=1
fi
exit $failed
