#!/usr/bin/env bash
# Installs the packages, builds, and starts zelUpdate-sim: the program on its simulated
# ControlPanel and control board, for trying it without hardware. The simulated flash is kept in
# $ZELUPDATE_SIM_DIR (default ~/.local/share/zelUpdate-sim); HEX files to try are in examples/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELUPDATE_BUILD_DIR:-$root/build}

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target zelUpdate-sim
echo "Example firmware to pick in the file dialog: $root/examples/"
exec "$build/app/zelUpdate-sim" "$@"
