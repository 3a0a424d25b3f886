#!/usr/bin/env bash
# Builds the fuzzers with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# on) in build-fuzz/ and runs each in turn: the receive path, the SCPI
# parser and number reader, then the ONC RPC codec (record marking, call
# headers, VXI-11 and portmapper arguments).
#   tools/fuzz.sh                 1,000,000 executions each
#   tools/fuzz.sh 60              60 seconds each
#   tools/fuzz.sh -runs=N         N executions each
#   tools/fuzz.sh 60 scpi         only the named fuzzer (receivepath, scpi or oncrpc)
# Prints the number of executions of each; exits non-zero on a finding, whose
# input is left in build-fuzz/findings/.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/tools/ensure-packages.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"

case "${1:-}" in
    "") budget=(-runs=1000000) ;;
    -runs=*) budget=("$1") ;;
    *[!0-9]* ) echo "usage: $0 [seconds|-runs=N] [receivepath|scpi|oncrpc]..." >&2; exit 2 ;;
    *) budget=(-max_total_time="$1") ;;
esac
shift || true
names=("$@")
[ ${#names[@]} -eq 0 ] && names=(receivepath scpi oncrpc)

build="$top/build-fuzz"
CXX=clang++ CC=clang cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPANEL_FUZZ=ON -DPANEL_SANITIZE=ON >/dev/null

# Seeds stay as they are in fuzz/; new inputs go to a working corpus.
seeds_of() {
    case "$1" in
        receivepath) echo "$top/fuzz/corpus" ;;
        scpi) echo "$top/fuzz/scpi-corpus" ;;
        oncrpc) echo "$top/fuzz/oncrpc-corpus" ;;
        *) echo "unknown fuzzer: $1" >&2; exit 2 ;;
    esac
}
corpus_of() {
    case "$1" in
        receivepath) echo "$build/corpus" ;;
        *) echo "$build/$1-corpus" ;;
    esac
}

mkdir -p "$build/findings"
for name in "${names[@]}"; do
    seeds=$(seeds_of "$name")
    corpus=$(corpus_of "$name")
    cmake --build "$build" -j2 --target "${name}_fuzzer"
    mkdir -p "$corpus"
    log="$build/$name-fuzz.log"
    status=0
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/${name}_fuzzer" "${budget[@]}" -max_len=512 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$name-" "$corpus" "$seeds" >"$log" 2>&1 \
        || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$log"
        echo "$name fuzzer: finding (exit $status), input in $build/findings/" >&2
        exit "$status"
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log")
    echo "$name fuzzer: ${runs} executions in ${seconds:-?} s, no finding"
done
