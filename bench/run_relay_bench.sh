#!/usr/bin/env bash
# Runs the relay comparison: our host next to ngircd, ncat --chat and the loopback floor, medians
# of 5 runs. Installs what is missing (Debian 12), builds relay_bench and runs it.
# Usage: bench/run_relay_bench.sh [relay_bench arguments, e.g. --runs 3]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev ngircd ncat)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
        sudo_cmd=()
    elif command -v sudo >/dev/null; then
        sudo_cmd=(sudo)
    else
        echo "Missing packages (${missing[*]}): run this command as root, or install them with apt-get." >&2
        exit 1
    fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Should the package start a system-wide ngircd (port 6667), it is left alone: the bench runs its
# own on a free loopback port and stops it.

build_dir=build-bench
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARLOX_BUILD_APP=OFF >/dev/null
cmake --build "$build_dir" --target relay_bench -j "$(nproc)"

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
"$build_dir/bench/relay_bench" "$@"
