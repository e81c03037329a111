#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) in build-fuzz and runs each for MINUTES.
# Usage: tests/fuzz/run.sh [MINUTES]   (default 1; fractions such as 0.5 work)
# The seeds in tests/fuzz/corpus/<target> stay untouched; what a run learns goes to
# build-fuzz/corpus/<target>, and any crashing input to build-fuzz/findings/<target>/.
# Exits non-zero when a target finds a fault.
set -euo pipefail
cd "$(dirname "$0")/../.."
minutes="${1:-1}"
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60); print (s < 1 ? 1 : s) }')
targets=(block_parser_fuzz client_data_fuzz server_data_fuzz framer_fuzz)

scripts/install_missing.sh clang-14 libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DPARLOX_FUZZ=ON \
    -DPARLOX_BUILD_APP=OFF >/dev/null
ninja -j2 -C build-fuzz "${targets[@]}" >/dev/null

export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
failed=0
for target in "${targets[@]}"; do
    name="${target%_fuzz}"
    work="build-fuzz/corpus/$name"
    findings="build-fuzz/findings/$name"
    mkdir -p "$work" "$findings"
    echo "== $target: ${seconds}s"
    if ! build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" "tests/fuzz/corpus/$name" \
        >"build-fuzz/$name.log" 2>&1; then
        echo "!! $target found a fault; input in $findings/, log in build-fuzz/$name.log"
        tail -n 40 "build-fuzz/$name.log"
        failed=1
    fi
    grep -E '^Done |^stat::(new_units_added|peak_rss_mb)' "build-fuzz/$name.log" || true
done
exit "$failed"
