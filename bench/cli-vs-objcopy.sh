#!/usr/bin/env bash
# Times `zelupdate-cli check --target panel` against `objcopy -I ihex -O binary` on the same full
# ControlPanel image (261,144 bytes of data, 16,327 records), as whole processes side by side in
# one run: hyperfine when installed (apt-get install hyperfine), else an interleaved loop timed
# with date. Prints each command's median and fails when the check is the slower.
#
#   bench/cli-vs-objcopy.sh [BUILD_DIR] [RUNS]     (defaults: build, 50)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-50}
cli=$build/cli/zelupdate-cli
writer=$build/bench/write_full_hex
for program in "$cli" "$writer"; do
    [[ -x $program ]] || { echo "$program is not built: cmake --build $build" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
hex=$work/full.hex
"$writer" "$hex"
check=("$cli" check --target panel "$hex")
objcopy=(objcopy -I ihex -O binary "$hex" "$work/full.bin")
# Both must succeed on the file, or the times mean nothing. The check warns that the image reaches
# into the page of the ControlPanel's image limit, which is what a full image does.
"${check[@]}" >/dev/null 2>&1 || { echo "the check failed on $hex" >&2; exit 1; }
"${objcopy[@]}"
echo "file: $(wc -c <"$hex") bytes, $(wc -l <"$hex") lines; $runs runs each"

if command -v hyperfine >/dev/null; then
    hyperfine -N --warmup 5 --runs "$runs" --export-json "$work/times.json" \
        "${check[*]}" "${objcopy[*]}" >&2
    # The two medians, in seconds, in the order of the commands.
    mapfile -t medians < <(grep -o '"median": *[0-9.e+-]*' "$work/times.json" |
        sed 's/.*: *//' | awk '{ printf "%.0f\n", $1 * 1e6 }')
    echo "timed with $(hyperfine --version)"
else
    declare -a checkTimes objcopyTimes
    for ((run = 0; run < runs; ++run)); do
        start=$(date +%s%N)
        # Output is discarded, as hyperfine discards it.
        "${check[@]}" >/dev/null 2>&1
        middle=$(date +%s%N)
        "${objcopy[@]}" >/dev/null 2>&1
        end=$(date +%s%N)
        checkTimes+=($(((middle - start) / 1000)))
        objcopyTimes+=($(((end - middle) / 1000)))
    done
    median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
    medians=("$(median "${checkTimes[@]}")" "$(median "${objcopyTimes[@]}")")
    echo "timed with date +%s%N (hyperfine is not installed)"
fi

printf 'median zelupdate-cli check --target panel: %6d us\n' "${medians[0]}"
printf 'median objcopy -I ihex -O binary:          %6d us\n' "${medians[1]}"
if ((medians[0] > medians[1])); then
    echo "the check is slower than objcopy" >&2
    exit 1
fi
echo "the check takes $((medians[0] * 100 / medians[1]))% of objcopy's time"
