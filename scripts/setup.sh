#!/usr/bin/env bash
# Installs what building Parlox needs when it is missing (Debian 12), then configures and builds.
# Usage: scripts/setup.sh BUILD_DIR [extra cmake arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${1:-build}
shift || true

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev qt6-base-dev fonts-liberation \
    fonts-dejavu-core xauth xvfb pkg-config libavahi-client-dev libssl-dev

cmake -S . -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
