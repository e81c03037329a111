#!/usr/bin/env bash
# A room shared by the Windows build (under Wine) and the Linux build on loopback, both ways round:
# the Windows peer hosting a Linux client, and a Linux host with a Windows client. A tap between
# client and host records the bytes each way; they, and what each peer's log shows, must equal
# those of a room of two Linux peers. Then files both ways through the host in each pairing: each
# side offers a file and saves the other's; sha256sum checks what was saved. Needs Wine set up
# (scripts/test-windows.sh does that).
# Usage: scripts/interop-windows.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
windows_dir=$1
linux_dir=$2
# A Linux build of the suite (scripts/test.sh's) serves as it is; else one without the Qt window.
[ -f "$linux_dir/CMakeCache.txt" ] || cmake -S . -B "$linux_dir" -G Ninja -DPARLOX_BUILD_APP=OFF >/dev/null
cmake --build "$linux_dir" -j2 --target interop_peer >/dev/null
cmake --build "$windows_dir" -j2 --target interop_peer >/dev/null
out=$(mktemp -d "${TMPDIR:-/tmp}/parlox-interop.XXXXXX")
trap 'rm -rf "$out"' EXIT

linux_peer=("$linux_dir/tests/interop_peer")
windows_peer=(scripts/wine-run.sh "$windows_dir/tests/interop_peer.exe")
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
# The number to type into a Port field so that the program uses this TCP port.
number_for() { echo $(((($1 & 255) << 8) | ($1 >> 8))); }

failed=0
fail() {
    echo "interop: $*" >&2
    failed=1
}

# run_room NAME HOST_SIDE CLIENT_SIDE: each side "linux" or "windows".
run_room() {
    local name=$1 host_side=$2 client_side=$3
    local -n host_cmd="${host_side}_peer" client_cmd="${client_side}_peer"
    local host_port tap_port
    host_port=$(free_port)
    tap_port=$(free_port)
    python3 tests/interop/wire_tap.py "$tap_port" "$host_port" "$out/$name" >"$out/$name.tap" &
    local tap=$!
    timeout 120 "${host_cmd[@]}" host Host "$(number_for "$host_port")" >"$out/$name.host" 2>&1 &
    local host=$!
    # Wine's first start of a program takes a while; wait for the host's room and the tap.
    for _ in $(seq 600); do
        grep -qs READY "$out/$name.host" && grep -qs LISTENING "$out/$name.tap" && break
        sleep 0.1
    done
    timeout 120 "${client_cmd[@]}" client Guest "$(number_for "$tap_port")" >"$out/$name.client" 2>&1 ||
        fail "$name: the $client_side client failed: $(cat "$out/$name.client")"
    wait "$host" || fail "$name: the $host_side host failed: $(cat "$out/$name.host")"
    wait "$tap" || fail "$name: the wire tap failed"
    # What differs between rooms by design: the ports, the host machine's banner lines, the line
    # ends of Windows' console output, and whether the host's word of the client's own departure,
    # and of its own as it closes the room, still reached the wire before the client had gone.
    python3 - "$out/$name.down" <<'PY'
import re, sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[1], "wb").write(re.sub(rb"(logoff\n-?[0-9]+\n)+$", b"", data))
PY
    for side in host client; do
        tr -d '\r' <"$out/$name.$side" | sed -n '/^LOG$/,$p' |
            sed -e 's/on port:\? [0-9]*/on port N/' -e '/^     [0-9]*) /d' >"$out/$name.$side.shown"
    done
}

run_room linux linux linux
run_room windows-host windows linux
run_room windows-client linux windows

# run_files NAME HOST_SIDE CLIENT_SIDE: a room without a tap, each side offering a file (3 MB and
# some bytes, random) and saving the other's, in a folder of its own.
run_files() {
    local name=$1 host_side=$2 client_side=$3
    local -n host_cmd="${host_side}_peer" client_cmd="${client_side}_peer"
    local folder="$out/files-$name" port
    mkdir -p "$folder"
    head -c 3145745 /dev/urandom >"$folder/from-host.bin"
    head -c 1048583 /dev/urandom >"$folder/from-client.bin"
    # The folder as each side names it: Wine sees the Linux root as drive Z:.
    where() { [ "$1" = windows ] && echo "$(winepath -w "$folder")\\" || echo "$folder/"; }
    port=$(free_port)
    timeout 120 "${host_cmd[@]}" host Host "$(number_for "$port")" "$(where "$host_side")" \
        >"$out/$name.files-host" 2>&1 &
    local host=$!
    for _ in $(seq 600); do
        grep -qs READY "$out/$name.files-host" && break
        sleep 0.1
    done
    timeout 120 "${client_cmd[@]}" client Guest "$(number_for "$port")" "$(where "$client_side")" \
        >"$out/$name.files-client" 2>&1 ||
        fail "$name files: the $client_side client failed: $(cat "$out/$name.files-client")"
    wait "$host" || fail "$name files: the $host_side host failed: $(cat "$out/$name.files-host")"
    (cd "$folder" && sha256sum from-host.bin | sed 's/from-host/client-got/' | sha256sum -c --quiet &&
        sha256sum from-client.bin | sed 's/from-client/host-got/' | sha256sum -c --quiet) ||
        fail "$name files: a saved file differs from the one offered"
    [ -z "$(find "$folder" -name '*.part')" ] || fail "$name files: a part file was left behind"
}

run_files linux linux linux
run_files windows-host windows linux
run_files windows-client linux windows

grep -q "$(printf 'hello from the client \xe2\x82\xac %%n')" "$out/linux.host.shown" ||
    fail "the reference room did not carry the client's line"
for room in windows-host windows-client; do
    for file in up down host.shown client.shown; do
        cmp -s "$out/linux.$file" "$out/$room.$file" ||
            fail "$room: $file differs from the Linux room: $(diff <(cat -A "$out/linux.$file") <(cat -A "$out/$room.$file") | head -20)"
    done
done
((failed == 0)) && echo "interop: both ways round, the same bytes on the wire and the same logs; files saved whole both ways"
exit "$failed"
