#!/usr/bin/env bash
# A whole ControlPanel update of the example file through zelupdate-cli-sim (1 ms a report,
# restarts of 1.5 s), without and with --record, alternating in one run. Prints the recording's
# size plain and gzip-compressed, each median time, and the overhead; fails when recording makes
# the update more than 5% slower.
#
#   bench/record-overhead.sh [BUILD_DIR] [RUNS]     (defaults: build, 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
cli=$build/cli/zelupdate-cli-sim
[[ -x $cli ]] || { echo "$cli is not built: cmake --build $build" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZELUPDATE_SIM_DIR=$work/flash XDG_STATE_HOME=$work/state
hex=$root/examples/controlpanel-example.hex

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# update [ARGUMENTS...]: one update, its wall time in microseconds on standard output.
update() {
    local start end
    start=$(date +%s%N)
    "$cli" update --target panel "$@" "$hex" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

plain=() recorded=() gzipped=()
for ((run = 0; run < runs; ++run)); do
    plain+=("$(update)")
    recorded+=("$(update --record "$work/update.jsonl")")
    gzipped+=("$(update --record "$work/update.jsonl.gz")")
done

plainMedian=$(median "${plain[@]}")
recordedMedian=$(median "${recorded[@]}")
gzippedMedian=$(median "${gzipped[@]}")
echo "recording: $(stat -c %s "$work/update.jsonl") bytes plain, $(stat -c %s "$work/update.jsonl.gz") bytes gzip"
echo "update without --record: $((plainMedian / 1000)) ms (median of $runs)"
echo "update with --record:    $((recordedMedian / 1000)) ms plain, $((gzippedMedian / 1000)) ms gzip"
failed=0
for median in "$recordedMedian" "$gzippedMedian"; do
    overhead=$(awk -v a="$median" -v b="$plainMedian" 'BEGIN { printf "%.2f", (a - b) * 100 / b }')
    echo "overhead: $overhead%"
    awk -v o="$overhead" 'BEGIN { exit !(o > 5) }' && failed=1
done
exit $failed
