#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine: ctest's emulator for the Windows build, and the
# way scripts/test-windows.sh starts parlox.exe. Uses $WINEPREFIX when set (test-windows.sh makes
# one per run), else a prefix of its own under the temporary folder, made on first use.
set -euo pipefail
export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/parlox-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No browser or .NET runtime: their installers would stop the first start to ask.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=$(command -v wine64 || command -v wine)
exec "$wine" "$@"
