#!/usr/bin/env bash
# Installs the packages, builds everything and the Debian package with Qt 5 (the default, in
# build/) and with Qt 6 (in build-qt6/), runs the whole test suite on each: the CTest tests
# (offscreen, on the simulated devices, on the real hidapi under umockdev, and on the package),
# then a one-minute run of the HEX loader's fuzzer. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELUPDATE_BUILD_DIR:-$root/build}
build_qt6=${ZELUPDATE_QT6_BUILD_DIR:-$root/build-qt6}

"$root/tools/install-deps.sh"
for qt in 5 6; do
    folder=$build
    [ "$qt" = 5 ] || folder=$build_qt6
    cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELUPDATE_QT=$qt
    cmake --build "$folder" -j "$(nproc)"
    cmake --build "$folder" --target package
done
# Both suites run whatever the first gives, so that one run tells about both.
failed=()
# Most tests wait on simulated hardware (a report a millisecond, restarts, time-outs) rather than
# compute, so two a core run side by side.
jobs=$(($(nproc) * 2))
for folder in "$build" "$build_qt6"; do
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$folder" --output-on-failure -j "$jobs" ||
        failed+=("ctest in $folder")
done
"$root/tools/fuzz-hexloader.sh" 60 || failed+=("the fuzzer")
if [ ${#failed[@]} -gt 0 ]; then
    printf 'tools/test.sh: failed: %s\n' "${failed[@]}" >&2
    exit 1
fi
