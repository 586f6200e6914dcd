#!/usr/bin/env bash
# Builds the HEX loader's libFuzzer target with clang and runs it for the given number of seconds
# (default 60) on a scratch copy of fuzz/corpus. Exits non-zero on any finding; the input that
# caused it is left in the build tree's findings/ folder.
#   tools/fuzz-hexloader.sh [seconds]      build tree: $ZEL_FUZZ_BUILD_DIR or build-fuzz
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEL_FUZZ_BUILD_DIR:-$root/build-fuzz}

generator=()
if command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
# The fuzz folder configures on its own, so neither Qt nor hidapi is needed here.
CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" "${generator[@]}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target fuzz_hexloader -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$build/findings"
cp "$root"/fuzz/corpus/* "$work/corpus/"

echo "fuzz_hexloader: running for ${seconds}s"
"$build/fuzz_hexloader" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -dict="$root/fuzz/hex.dict" -artifact_prefix="$build/findings/" -print_final_stats=1 \
    "$work/corpus"
