#!/usr/bin/env python3
"""Passes one TCP connection on 127.0.0.1 through and records its bytes in each direction.

Usage: wire_tap.py LISTEN_PORT TARGET_PORT OUT_PREFIX
Prints LISTENING once it listens, then accepts one connection on LISTEN_PORT, connects to TARGET_PORT, relays until both sides have
closed, and writes OUT_PREFIX.up (client to host) and OUT_PREFIX.down (host to client). Gives up
after 60 seconds.
"""
import select
import socket
import sys


def main():
    listen_port, target_port, prefix = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", listen_port))
    server.listen(1)
    print("LISTENING", flush=True)
    server.settimeout(60)
    client, _ = server.accept()
    host = socket.create_connection(("127.0.0.1", target_port), timeout=10)
    streams = {client: (host, bytearray()), host: (client, bytearray())}
    open_ends = {client, host}
    while open_ends:
        ready, _, _ = select.select(list(open_ends), [], [], 60)
        if not ready:
            break
        for end in ready:
            data = end.recv(65536)
            other, record = streams[end]
            if data:
                record += data
                try:
                    other.sendall(data)
                except OSError:
                    pass  # that end has gone; what was sent toward it is still recorded
            else:
                open_ends.discard(end)
                try:
                    other.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
    open(prefix + ".up", "wb").write(streams[client][1])
    open(prefix + ".down", "wb").write(streams[host][1])


if __name__ == "__main__":
    main()
