#!/usr/bin/env python3
"""An address that never answers, on loopback: a listener on [::1]:PORT whose
backlog is full, so that the kernel drops every further SYN and a client's
connect stays pending (no refusal, no connection) until it gives up.

    fullbacklog.py PORT    prints "ready" once the backlog is full, then
                           waits until it is killed
"""
import socket
import sys
import time

port = int(sys.argv[1])
listener = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
listener.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("::1", port))
listener.listen(0)  # one connection waits to be accepted; nothing more
fillers = []
for _ in range(2):
    filler = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    filler.setblocking(False)
    filler.connect_ex(("::1", port))
    fillers.append(filler)
time.sleep(0.2)
print("ready", flush=True)
while True:
    time.sleep(3600)
