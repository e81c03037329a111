#!/usr/bin/env bash
# Takes docs/window-windows.png and docs/window-windows-dark.png: the Windows dialog under Wine on
# a virtual display, showing a room, light and dark. Needs the Windows build
# (scripts/build-windows.sh or scripts/test-windows.sh).
# Usage: scripts/screenshot-windows.sh [build dir]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-windows}"
scripts/install_missing.sh wine wine64 xvfb xauth
cmake --build "$build_dir" -j2 --target dialog_screenshot >/dev/null
for theme in light dark; do
picture=docs/window-windows.png
[ "$theme" = dark ] && picture=docs/window-windows-dark.png
bmp="$(mktemp "${TMPDIR:-/tmp}/parlox-window.XXXXXX.bmp")"
trap 'rm -f "$bmp"' EXIT
# Everything on one virtual display, for Wine's desktop starts with its first program. Without a
# window manager there, Wine draws the title bar and frame itself only when told not to leave them
# to one. Wine reads the Unix path of the picture as one on drive Z:, where the whole file system is.
bmp="$bmp" build_dir="$build_dir" theme="$theme" xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    for value in Managed Decorated; do
        scripts/wine-run.sh reg add "HKCU\\Software\\Wine\\X11 Driver" /v "$value" /t REG_SZ /d N /f
    done
    if [ "$theme" = dark ]; then
        scripts/wine-run.sh "$build_dir/tests/dialog_screenshot.exe" "$bmp" dark
    else
        scripts/wine-run.sh "$build_dir/tests/dialog_screenshot.exe" "$bmp"
    fi
' >/dev/null 2>&1
# The BMP (bottom-up, 24-bit BGR) as a PNG, without an imaging library.
python3 - "$bmp" "$picture" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
offset, = struct.unpack_from("<I", data, 10)
width, height = struct.unpack_from("<ii", data, 18)
stride = (width * 3 + 3) & ~3
rows = []
for y in range(height - 1, -1, -1):
    row = data[offset + y * stride: offset + y * stride + width * 3]
    rgb = bytearray(row)
    rgb[0::3], rgb[2::3] = row[2::3], row[0::3]
    rows.append(b"\0" + bytes(rgb))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
rm -f "$bmp"
echo "Wrote $picture"
done
