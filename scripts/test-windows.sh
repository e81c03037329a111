#!/usr/bin/env bash
# Cross-builds the Windows programs and their tests (installing what is missing) and runs them under
# Wine on a virtual display: the net, chat and command suites and the dialog tests through ctest,
# the protocol's fuzz corpus through the Windows parser, a room shared by the Windows and the
# Linux build on loopback, and parlox-room.exe in a console with a Linux client. Wine's prefix is made once per run in a temporary folder.
# Usage: scripts/test-windows.sh   (builds in build-windows; the Linux peer from build or build-interop)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install_missing.sh wine wine64 xvfb xauth cmake make ninja-build g++ libgtest-dev

# Everything below runs on one X server: the dialogs need a display, and Wine makes one anyway.
if [ -z "${PARLOX_WINDOWS_DISPLAY_UP:-}" ]; then
    export PARLOX_WINDOWS_DISPLAY_UP=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

scripts/build-windows.sh build-windows
cmake --build build-windows -j2

WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/parlox-wine.XXXXXX")"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
echo "Making the Wine prefix in $WINEPREFIX"
# Without the 32-bit Wine, wineboot complains and fails on the 32-bit half; the 64-bit prefix is
# made all the same.
timeout 300 wineboot -i >/dev/null 2>&1 || true
# The registry reaches the disk when the Wine server ends.
timeout 120 wineserver -w
[ -f "$WINEPREFIX/system.reg" ] || { echo "test-windows: Wine made no prefix" >&2; exit 1; }
# One Wine server for the whole run instead of one per program.
wineserver -p >/dev/null 2>&1
# Wine's services start with the first program and keep its output open. Started here, they hold
# /dev/null rather than the pipe through which ctest reads a test's output and waits for its end.
scripts/wine-run.sh cmd /c exit >/dev/null 2>&1 </dev/null || true

timeout 900 ctest --test-dir build-windows --output-on-failure -j 2

echo "Fuzz corpus through the Windows parser"
for target in build-windows/tests/fuzz/*_replay.exe; do
    name=$(basename "$target" _replay.exe)
    echo "== $name"
    timeout 300 scripts/wine-run.sh "$target" tests/fuzz/corpus/"$name"/*
done

# The Linux side: the suite's own build when scripts/test.sh made one.
linux_build=build
[ -f build/CMakeCache.txt ] || linux_build=build-interop
scripts/interop-windows.sh build-windows "$linux_build"
scripts/room-windows.sh build-windows
