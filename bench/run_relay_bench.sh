#!/usr/bin/env bash
# Runs the relay comparison: our host next to ngircd, ncat --chat and the loopback floor, medians
# of 5 runs. Installs what is missing (Debian 12), builds relay_bench and runs it.
# Usage: bench/run_relay_bench.sh [relay_bench arguments, e.g. --runs 3]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev ngircd ncat
# Should the package start a system-wide ngircd (port 6667), it is left alone: the bench runs its
# own on a free loopback port and stops it.

build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLOX_BUILD_APP=OFF >/dev/null
cmake --build "$build_dir" --target relay_bench -j "$(nproc)"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
"$build_dir/bench/relay_bench" "$@"
