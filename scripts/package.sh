#!/usr/bin/env bash
# Builds the Debian package of Parlox in build-package/ (installing what is missing) and prints its
# path. Install it with: sudo apt install ./build-package/parlox_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install_missing.sh cmake ninja-build g++ libgtest-dev qt6-base-dev dpkg-dev file \
    pkg-config libavahi-client-dev libssl-dev

build_dir=build-package
# Debian's hardening flags (fortified functions, full RELRO with immediate binding). Only the programs
# and the files installed beside them are built, not the tests and benchmarks.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target parlox parlox-room parlox-bridge parlox_documents
rm -f "$build_dir"/parlox_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
ls "$PWD/$build_dir"/parlox_*.deb
