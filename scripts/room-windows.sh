#!/usr/bin/env bash
# parlox-room.exe under Wine, as a Windows user runs it in a console: its banner and the room's
# lines on standard output, a raw client from Linux in the room, Ctrl+C (Wine turns SIGINT into
# the console's Ctrl+C event) ending the room for that client with exit status 0, and a second
# room on the same port failing with the window's error text and status 1. Needs Wine set up
# (scripts/test-windows.sh does that).
# Usage: scripts/room-windows.sh WINDOWS_BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
windows_dir=$1
out=$(mktemp -d "${TMPDIR:-/tmp}/parlox-room-windows.XXXXXX")
room=""
cleanup() {
    [ -z "$room" ] || kill -KILL "$room" 2>/dev/null || true
    rm -rf "$out"
}
trap cleanup EXIT
fail() {
    echo "room-windows: $*" >&2
    exit 1
}

tcp_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
number=$(((($tcp_port & 255) << 8) | ($tcp_port >> 8)))
scripts/wine-run.sh "$windows_dir/parlox-room.exe" --port "$number" --name "Wine room" \
    >"$out/room.out" 2>"$out/room.err" </dev/null &
room=$!
# Wine's first start of a program takes a while.
for _ in $(seq 600); do
    grep -qs -- '^----------------------------------------' "$out/room.out" && break
    kill -0 "$room" 2>/dev/null || fail "parlox-room.exe ended early: $(cat "$out/room.err")"
    sleep 0.1
done
tr -d '\r' <"$out/room.out" | grep -q "^----- Hosting on port: $number -----$" ||
    fail "no banner: $(cat "$out/room.out")"

# A client in the room says a line, then the room gets Ctrl+C: the client hears the host leave.
python3 - "$tcp_port" "$room" <<'PY' || fail "the client did not see the room as it should"
import os, signal, socket, sys, time
port, room = int(sys.argv[1]), int(sys.argv[2])
client = socket.create_connection(("127.0.0.1", port), timeout=20)
def read_until(text):
    data = b""
    deadline = time.monotonic() + 20
    while text not in data and time.monotonic() < deadline:
        chunk = client.recv(4096)
        if not chunk:
            break
        data += chunk
    return data
client.sendall(b"login\nAnn\n")
assert b"login\n-1\nWine room\n" in read_until(b"\nAnn\n")
client.sendall("msg\nhello from Linux \u20ac %n\n".encode())
assert read_until("hello from Linux \u20ac %n\n".encode())
os.kill(room, signal.SIGINT)
assert read_until(b"logoff\n-1\n").endswith(b"logoff\n-1\n")
assert client.recv(4096) == b""
PY
status=0
wait "$room" || status=$?
room=""
[ "$status" -eq 0 ] || fail "parlox-room.exe ended with status $status after Ctrl+C"
tr -d '\r' <"$out/room.out" | grep -qF "<Ann>: hello from Linux € %n" ||
    fail "the room's output lacks the client's line: $(cat "$out/room.out")"

# The port taken by a listener of Linux's: the second room says so and ends with status 1.
python3 - "$tcp_port" "$windows_dir" "$number" <<'PY' || fail "a port in use was not reported"
import socket, subprocess, sys
port, windows_dir, number = int(sys.argv[1]), sys.argv[2], sys.argv[3]
holder = socket.socket()
holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
holder.bind(("0.0.0.0", port))
holder.listen()
run = subprocess.run(["scripts/wine-run.sh", windows_dir + "/parlox-room.exe", "--port", number],
                     capture_output=True, timeout=120, stdin=subprocess.DEVNULL)
err = run.stderr.replace(b"\r", b"")
assert run.returncode == 1, run.returncode
assert b"<<Error: WSAEADDRINUSE\nAddress already in use>>\n" in err, err
PY
echo "room-windows: parlox-room.exe hosts, shows its log, ends on Ctrl+C and reports a port in use"
