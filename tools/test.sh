#!/usr/bin/env bash
# Installs the packages, builds everything and the Debian package, and runs the whole test suite:
# the CTest tests (offscreen, on the simulated devices, on the real hidapi under umockdev, and on
# the package) and a one-minute run of the HEX loader's fuzzer. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELUPDATE_BUILD_DIR:-$root/build}

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)"
cmake --build "$build" --target package
QT_QPA_PLATFORM=offscreen ctest --test-dir "$build" --output-on-failure -j 2
"$root/tools/fuzz-hexloader.sh" 60
