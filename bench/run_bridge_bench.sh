#!/usr/bin/env bash
# Runs bridge_bench: a line's trip from one room to another through two bridges and two linked
# ngircd servers on loopback (median and p99 of each run, and their spread), and a bridge's memory
# under bursts of lines. Prints the machine, its load before and after, and the figures. Installs
# what is missing (Debian 12) and builds in build-bench/.
# Usage: bench/run_bridge_bench.sh [--runs N] [--lines N] [--burst N]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev pkg-config libavahi-client-dev \
    libssl-dev ngircd
build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target bridge_bench -j "$(nproc)" >/dev/null
echo "machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1)"
"$build_dir/bench/bridge_bench" "$@"
