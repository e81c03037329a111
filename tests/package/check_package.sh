#!/usr/bin/env bash
# CI: what installing Parlox puts on a machine. Validates the desktop entry, the AppStream metainfo
# and the icons of a `cmake --install` into a scratch prefix; builds the .deb (scripts/package.sh)
# and runs lintian on it; installs it with dpkg, starts /usr/bin/parlox offscreen and ends it with a
# close request (SIGTERM, as a session logout sends); checks the room's systemd unit (in place, not
# enabled, verified by systemd-analyze) and runs /usr/bin/parlox-room until SIGTERM; removes the
# package and checks that every file it put is gone. Installing needs root (or sudo). About three
# minutes with the build.
set -euo pipefail
cd "$(dirname "$0")/../.."

if [ "$(id -u)" -eq 0 ]; then as_root=(); else as_root=(sudo); fi
scripts/install_missing.sh desktop-file-utils appstream lintian librsvg2-bin systemd
deb=$(scripts/package.sh | tail -n 1)

scratch=$(mktemp -d)
pid=""
room_pid=""
cleanup() {
    [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
    [ -z "$room_pid" ] || kill -KILL "$room_pid" 2>/dev/null || true
    if dpkg-query -W -f='${Status}' parlox 2>/dev/null | grep -q "install ok installed"; then
        "${as_root[@]}" dpkg -r parlox >/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
    echo "check_package: $*" >&2
    exit 1
}

echo "== cmake --install: desktop entry, metainfo, icons"
cmake --install build-package --prefix "$scratch/usr" >/dev/null
share=$scratch/usr/share
desktop=$(echo "$share"/applications/*.desktop)
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml
[ -x "$scratch/usr/bin/$(sed -n 's/^Exec=//p' "$desktop")" ] || fail "Exec names no installed program"
icon=$(sed -n 's/^Icon=//p' "$desktop")
for size in 16 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/$icon.png
    file "$png" | grep -q "PNG image data, $size x $size" || fail "no $size px icon: $png"
done
[ -f "$share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon"
res/icons/make_icons.sh "$scratch/icons"
diff -r "$scratch/icons" res/icons/hicolor >/dev/null ||
    fail "the PNG icons differ from res/parlox.svg: run res/icons/make_icons.sh"

echo "== lintian $deb"
lintian --fail-on error "$deb" 2> >(grep -v "running with root privileges" >&2)

echo "== dpkg -i, start, close request, dpkg -r"
"${as_root[@]}" dpkg -i "$deb" >/dev/null
dpkg-query -L parlox >"$scratch/files"
# From / with a bare environment: nothing of the clone can be found.
mkdir -m 700 "$scratch/runtime"
(cd / && exec env -i PATH=/usr/bin:/bin HOME="$scratch" XDG_RUNTIME_DIR="$scratch/runtime" \
    QT_QPA_PLATFORM=offscreen /usr/bin/parlox) &
pid=$!
# Once the program catches SIGTERM (bit 14 of its caught-signal mask) the window is up and a close
# request takes the usual close path.
for _ in $(seq 200); do
    mask=$(awk '/^SigCgt:/ {print $2}' "/proc/$pid/status" 2>/dev/null) || fail "parlox ended early"
    (((0x$mask >> 14) & 1)) && break
    sleep 0.1
done
(((0x$mask >> 14) & 1)) || fail "parlox did not get ready within 20 s"
kill -TERM "$pid"
for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "parlox did not close within 10 s of SIGTERM"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "parlox ended with status $status after SIGTERM"

echo "== the room's unit and the console programs"
unit=$(grep '/systemd/system/parlox-room@\.service$' "$scratch/files") ||
    fail "the package has no parlox-room@.service"
systemd-analyze verify --man=no "$unit" || fail "systemd-analyze finds fault with $unit"
# Disabled until the administrator enables an instance: nothing links to it.
[ -z "$(find /etc/systemd/system -name 'parlox-room@*' 2>/dev/null)" ] ||
    fail "installing the package enabled a room"
/usr/bin/parlox-bridge --help | grep -q "usage: parlox-bridge" || fail "parlox-bridge does not start"
# The installed room: its banner on standard output, and SIGTERM ends it with status 0. The port
# number is a high one picked at random; a port in use is said on standard error.
room_out=$scratch/room.out
(cd / && exec env -i PATH=/usr/bin:/bin /usr/bin/parlox-room --port $((20000 + RANDOM % 20000)) \
    --name "Package check") >"$room_out" 2>&1 &
room_pid=$!
for _ in $(seq 100); do
    grep -q -- '^----------------------------------------$' "$room_out" && break
    kill -0 "$room_pid" 2>/dev/null || fail "parlox-room ended early: $(cat "$room_out")"
    sleep 0.1
done
grep -q -- '^----- Hosting on port: ' "$room_out" || fail "parlox-room showed no banner"
kill -TERM "$room_pid"
status=0
wait "$room_pid" || status=$?
room_pid=""
[ "$status" -eq 0 ] || fail "parlox-room ended with status $status after SIGTERM"

"${as_root[@]}" dpkg -r parlox >/dev/null
while read -r path; do
    if [ -d "$path" ]; then
        # A directory stays only while another package owns it or something else lives in it.
        dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ] ||
            fail "dpkg -r left the empty directory $path"
    elif [ -e "$path" ] || [ -L "$path" ]; then
        fail "dpkg -r left $path"
    fi
done <"$scratch/files"
echo "check_package: all passed"
