#!/usr/bin/env bash
# Runs the relay comparison: our host and the hosting window next to ngircd, ncat --chat and the
# loopback floor, medians of 5 runs with their range, and draws the chart docs/relay_bench.png
# from the same run's data. Installs what is missing (Debian 12), builds and runs relay_bench.
# Usage: bench/run_relay_bench.sh [relay_bench arguments, e.g. --runs 3 --clients 32]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev qt6-base-dev ngircd ncat gnuplot-nox \
    fonts-dejavu-core
# Should the package start a system-wide ngircd (port 6667), it is left alone: the bench runs its
# own on a free loopback port and stops it.

build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLOX_BUILD_APP=ON >/dev/null
cmake --build "$build_dir" --target relay_bench window_bench -j "$(nproc)" >/dev/null

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')," \
    "$(. /etc/os-release && echo "$PRETTY_NAME")"
QT_QPA_PLATFORM=offscreen "$build_dir/bench/relay_bench" --data "$data" "$@"

# One chart per room size measured, from this run's own samples.
for table in "$data"/throughput_*.dat; do
    n=${table##*_}
    n=${n%.dat}
    chart=docs/relay_bench_$n.png
    gnuplot -e "dir='$data'; out='$chart'; n=$n" bench/relay_chart.gp 2>/dev/null
    echo "Chart: $chart"
done
