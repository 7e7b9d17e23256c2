#!/usr/bin/env python3
"""Paced loopback client of the responder benchmark.

  respond_client.py PORT RATE SECONDS HEX

Sends the request HEX to 127.0.0.1:PORT at RATE datagrams a second for SECONDS, and
counts the answers that come back (until 0.5 s after the last request). It wakes about
every millisecond, sends the requests due by then and reads the answers waiting, so it
keeps its rate without spinning. Prints "<sent> <answered> <achieved rate>".
"""
import socket
import sys
import time


def main(port, rate, seconds, request):
    count = int(rate * seconds)
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
    sock.setblocking(False)
    to = ("127.0.0.1", port)
    sent = answered = 0

    def drain():
        nonlocal answered
        while True:
            try:
                sock.recv(65536)
            except BlockingIOError:
                return
            answered += 1

    start = time.perf_counter()
    i = 0
    while i < count:
        due = min(int((time.perf_counter() - start) * rate) + 1, count)
        while i < due:
            try:
                sock.sendto(request, to)
                sent += 1
            except OSError:
                pass  # not sent (no buffer): not counted
            i += 1
        drain()
        time.sleep(0.001)
    elapsed = time.perf_counter() - start
    end = time.perf_counter() + 0.5
    while time.perf_counter() < end:
        drain()
        time.sleep(0.005)
    print(sent, answered, f"{sent / elapsed:.0f}")


if __name__ == "__main__":
    a = sys.argv[1:]
    main(int(a[0]), float(a[1]), float(a[2]), bytes.fromhex(a[3]))
