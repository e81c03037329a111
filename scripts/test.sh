#!/usr/bin/env bash
# Builds Parlox with its tests (installing what is missing) and runs every test.
# Usage: scripts/test.sh [address|thread]   (optional sanitizer build in build-asan / build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
    "") build_dir=build; sanitizer="" ;;
    address) build_dir=build-asan; sanitizer=address ;;
    thread) build_dir=build-tsan; sanitizer=thread ;;
    *) echo "usage: scripts/test.sh [address|thread]" >&2; exit 2 ;;
esac
scripts/setup.sh "$build_dir" -DPARLOX_SANITIZER="$sanitizer"
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/app/qt.tsan.supp ${TSAN_OPTIONS:-}"
export ASAN_OPTIONS="detect_leaks=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1 ${UBSAN_OPTIONS:-}"
# The window tests start a session bus of their own for a stand-in notification service; the
# desktop test starts an X server, the accessibility bus and the Orca screen reader, reads the
# window through AT-SPI from Python, and looks for emoji in colour.
scripts/install_missing.sh dbus-daemon dbus-bin xvfb at-spi2-core orca python3-gi gir1.2-atspi-2.0 \
    fonts-noto-color-emoji
ctest --test-dir "$build_dir" --output-on-failure -j 2
