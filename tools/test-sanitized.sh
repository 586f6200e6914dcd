#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole CTest
# suite on it, offscreen. Any memory error, leak or undefined behaviour fails its test; the script
# exits non-zero on any failure.
#   tools/test-sanitized.sh      build tree: $ZEL_ASAN_BUILD_DIR or build-asan
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZEL_ASAN_BUILD_DIR:-$root/build-asan}

generator=()
if command -v ninja >/dev/null; then
    generator=(-G Ninja)
fi
# Undefined behaviour stops the test at once, so no finding scrolls past in a passing run.
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZELUPDATE_BENCH=OFF -DCMAKE_CXX_FLAGS="$sanitize" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitize" -DCMAKE_SHARED_LINKER_FLAGS="$sanitize"
cmake --build "$build" -j 2
# The package_* tests check the Debian package of this very build.
cmake --build "$build" --target package

export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$root/tools/lsan-qt-offscreen.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1"
# Qt is built without frame pointers: only the slow unwinder gives the whole stack of an
# allocation, which the suppressions match on.
asan="detect_leaks=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1"

status=0
umockdev='^(hidraw_|cli_umockdev_)'
ASAN_OPTIONS=$asan ctest --test-dir "$build" --output-on-failure -j 2 -E "$umockdev" || status=1
# umockdev-run preloads its own library, which puts the sanitizer's runtime second in line.
ASAN_OPTIONS=$asan:verify_asan_link_order=0 \
    ctest --test-dir "$build" --output-on-failure -j 2 -R "$umockdev" || status=1
exit $status
