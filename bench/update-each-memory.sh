#!/usr/bin/env bash
# update --each's memory over a long run: bench_update_each over the control board's example
# (100 units unless given), then once over the ControlPanel's (30 units). Each run prints its
# resident memory after the first 10 units and after the last, and the growth per unit and in
# all; the script fails when a run grows by more than 1 MB (1024 kB).
#
#   bench/update-each-memory.sh [BUILD_DIR] [UNITS]     (defaults: build, 100)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
units=${2:-100}
bench=$build/bench/bench_update_each
[[ -x $bench ]] || { echo "$bench is not built: cmake --build $build" >&2; exit 2; }

QT_QPA_PLATFORM=offscreen "$bench" --target board --units "$units" --limit-kb 1024
QT_QPA_PLATFORM=offscreen "$bench" --target panel --units 30 --limit-kb 1024
