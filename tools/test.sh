#!/usr/bin/env bash
# Builds the project, checks that every source of the programs compiles for
# Windows (tools/portability-check.sh) and runs every test; fuzzes the receive
# path and the SCPI parser for 30 seconds each; then builds it again with AddressSanitizer
# and UndefinedBehaviorSanitizer in build-asan/ and runs every test there (any
# report fails the run).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/ensure-packages.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

build="$top/build"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
"$top/tools/portability-check.sh" "$build" | grep -v '^ok '
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2)

"$top/tools/fuzz.sh" 30

asan="$top/build-asan"
cmake -S "$top" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPANEL_SANITIZE=ON >/dev/null
cmake --build "$asan" -j"$(nproc)"
(cd "$asan" &&
    QT_QPA_PLATFORM=offscreen \
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions="$top/tools/lsan.supp" \
    ctest --output-on-failure -j2)
