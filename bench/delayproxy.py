#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that holds every byte back for a set time in
each direction, so that a client and a server on the same machine talk as
over a link with a round trip of twice the delay. Bandwidth is not
limited; the order of the bytes is kept.

  delayproxy.py --target PORT --delay MS [--port P] [--port-file FILE]

--port 0 (the default) takes a free port; once listening, the port is
printed on stdout and, with --port-file, written to that file (whole, by a
rename). Runs until it is killed.
"""
import argparse
import asyncio
import os
import socket
import sys

HOST = "127.0.0.1"  # never anything else


async def relay(reader, writer, delay):
    """Reads from one side, writes each piece to the other side once it is
    `delay` seconds old. The writer runs apart from the reader, so that a
    slow reader on the far side never delays the clock of what comes in."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def forward():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                try:
                    writer.write_eof()
                except OSError:
                    pass
                return
            writer.write(data)
            try:
                await writer.drain()
            except OSError:
                return

    sender = asyncio.create_task(forward())
    try:
        while True:
            try:
                data = await reader.read(65536)
            except OSError:
                data = b""
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
        await sender
    finally:
        sender.cancel()


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def serve(options):
    delay = options.delay / 1000.0

    async def client(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(HOST, options.target)
        except OSError:
            client_writer.close()
            return
        no_delay(client_writer)
        no_delay(server_writer)
        await asyncio.gather(relay(client_reader, server_writer, delay),
                             relay(server_reader, client_writer, delay),
                             return_exceptions=True)
        for writer in (client_writer, server_writer):
            writer.close()

    server = await asyncio.start_server(client, HOST, options.port)
    port = server.sockets[0].getsockname()[1]
    print(port, flush=True)
    if options.port_file:
        with open(options.port_file + ".tmp", "w") as out:
            out.write("%d\n" % port)
        os.rename(options.port_file + ".tmp", options.port_file)
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay", type=float, required=True, help="milliseconds, each direction")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    options = parser.parse_args()
    try:
        asyncio.run(serve(options))
    except KeyboardInterrupt:
        sys.exit(0)


if __name__ == "__main__":
    main()
