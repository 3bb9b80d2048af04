#!/usr/bin/env python3
"""A relay on 127.0.0.1 for the end-to-end tests that hands a server's
bytes to the client in small pieces, a little apart, so that TLS records
and handshake messages arrive cut anywhere, as over a slow line. What the
client sends goes through as it comes.

  trickle.py --to PORT [--piece N] [--gap SECONDS] [--port-file FILE]

Listens on a free port, printed on stdout and, with --port-file, written
to that file (whole, by a rename). Each connection is relayed in threads
of its own until either side closes; the relay runs until it is killed.
"""
import argparse
import os
import socket
import threading
import time


def pump_up(client, server):
    try:
        while True:
            data = client.recv(65536)
            if not data:
                break
            server.sendall(data)
    except OSError:
        pass
    try:
        server.shutdown(socket.SHUT_WR)
    except OSError:
        pass


def relay(client, port, piece, gap):
    try:
        server = socket.create_connection(("127.0.0.1", port))
    except OSError:
        client.close()
        return
    for end in (client, server):
        end.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    threading.Thread(target=pump_up, args=(client, server), daemon=True).start()
    try:
        while True:
            data = server.recv(65536)
            if not data:
                break
            for at in range(0, len(data), piece):
                client.sendall(data[at:at + piece])
                time.sleep(gap)
    except OSError:
        pass
    for end in (client, server):
        try:
            end.close()
        except OSError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--to", type=int, required=True)
    parser.add_argument("--piece", type=int, default=7)
    parser.add_argument("--gap", type=float, default=0.002)
    parser.add_argument("--port-file")
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    port = listener.getsockname()[1]
    print(port, flush=True)
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as out:
            out.write(f"{port}\n")
        os.rename(args.port_file + ".tmp", args.port_file)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=relay, args=(client, args.to, args.piece, args.gap), daemon=True).start()


if __name__ == "__main__":
    main()
