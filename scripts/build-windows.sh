#!/usr/bin/env bash
# Cross-builds the Windows program with mingw-w64 (installing what is missing) and packs it:
# <build dir>/parlox.exe, statically linked so that it starts on a bare Windows 10 or 11, and
# parlox-windows-x86_64.zip beside it with the program and a short README.txt.
# Usage: scripts/build-windows.sh [build dir]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-windows}"
scripts/install_missing.sh cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    googletest zip
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target parlox
exe="$build_dir/parlox.exe"
x86_64-w64-mingw32-strip "$exe"

# Only system DLLs may be needed: a libstdc++, libgcc or winpthread DLL would be missing on a
# machine without mingw-w64.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|ws2_32|iphlpapi|msvcrt|advapi32|shell32|ole32|oleaut32|winmm|api-ms-win-.*)\.dll$'
if x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' |
    grep -Ev "$system_dlls"; then
    echo "build-windows: $exe needs the DLLs above" >&2
    exit 1
fi

package="$build_dir/package"
rm -rf "$package" && mkdir -p "$package"
cp "$exe" "$package/parlox.exe"
sed 's/$/\r/' docs/windows-readme.txt >"$package/README.txt"
rm -f "$build_dir/parlox-windows-x86_64.zip"
(cd "$package" && zip -q -9 ../parlox-windows-x86_64.zip parlox.exe README.txt)
echo "Built $exe and $build_dir/parlox-windows-x86_64.zip"
