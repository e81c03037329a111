#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 (installing what is missing) and packs them:
# <build dir>/parlox.exe and parlox-room.exe (the room without a window, a console program),
# statically linked so that they start on a bare Windows 10 or 11, and parlox-windows-x86_64.zip
# beside them with the programs and a short README.txt.
# Usage: scripts/build-windows.sh [build dir]   (default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${1:-build-windows}"
scripts/install_missing.sh cmake make g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
    googletest zip
cmake -S . -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target parlox parlox-room
programs=(parlox.exe parlox-room.exe)

# Only system DLLs may be needed: a libstdc++, libgcc or winpthread DLL would be missing on a
# machine without mingw-w64.
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|ws2_32|iphlpapi|msvcrt|advapi32|shell32|ole32|oleaut32|winmm|bcrypt|api-ms-win-.*)\.dll$'
for program in "${programs[@]}"; do
    exe="$build_dir/$program"
    x86_64-w64-mingw32-strip "$exe"
    if x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' |
        grep -Ev "$system_dlls"; then
        echo "build-windows: $exe needs the DLLs above" >&2
        exit 1
    fi
done

package="$build_dir/package"
rm -rf "$package" && mkdir -p "$package"
for program in "${programs[@]}"; do
    cp "$build_dir/$program" "$package/$program"
done
sed 's/$/\r/' docs/windows-readme.txt >"$package/README.txt"
rm -f "$build_dir/parlox-windows-x86_64.zip"
(cd "$package" && zip -q -9 ../parlox-windows-x86_64.zip "${programs[@]}" README.txt)
echo "Built ${programs[*]} in $build_dir and $build_dir/parlox-windows-x86_64.zip"
