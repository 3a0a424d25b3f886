#!/usr/bin/env bash
# Builds the receive-path fuzzer with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) in build-fuzz/ and runs it.
#   tools/fuzz.sh            1,000,000 executions
#   tools/fuzz.sh 60         60 seconds
#   tools/fuzz.sh -runs=N    N executions
# Prints the number of executions; exits non-zero on a finding, whose input is
# left in build-fuzz/findings/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/ensure-packages.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"

case "${1:-}" in
    "") budget=(-runs=1000000) ;;
    -runs=*) budget=("$1") ;;
    *[!0-9]* ) echo "usage: $0 [seconds|-runs=N]" >&2; exit 2 ;;
    *) budget=(-max_total_time="$1") ;;
esac

build="$top/build-fuzz"
CXX=clang++ CC=clang cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPANEL_FUZZ=ON -DPANEL_SANITIZE=ON >/dev/null
cmake --build "$build" -j2 --target receivepath_fuzzer

# New inputs go to the working corpus; the seeds in fuzz/corpus stay as they are.
mkdir -p "$build/corpus" "$build/findings"
log="$build/fuzz.log"
status=0
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/fuzz/receivepath_fuzzer" "${budget[@]}" -max_len=512 -print_final_stats=1 \
    -artifact_prefix="$build/findings/" "$build/corpus" "$top/fuzz/corpus" >"$log" 2>&1 \
    || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzzer: finding (exit $status), input in $build/findings/" >&2
    exit "$status"
fi
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
echo "fuzzer: ${runs} executions in ${seconds:-?} s, no finding"
