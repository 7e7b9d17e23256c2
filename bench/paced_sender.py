#!/usr/bin/env python3
"""Paced loopback sender of the whole-program flood benchmark.

  paced_sender.py PORT RATE SECONDS SEED MIN_SIZE MAX_SIZE SIZES_FILE [status]

Sends RATE datagrams a second for SECONDS to 127.0.0.1:PORT, each of a random size in
MIN_SIZE..MAX_SIZE (random bytes, sizes drawn from SEED). With "status", every datagram
is one device's status report instead: MIN_SIZE random bytes that stay the same but for a
4-byte counter at offset 4, one up per datagram. It wakes about every
millisecond and sends the datagrams due by then, so it keeps its rate without spinning on
a core the program needs. Writes the sizes, one a line, to SIZES_FILE and prints
"<sent> <seconds> <achieved rate>".
"""
import os
import random
import socket
import sys
import time


def main(port, rate, seconds, seed, min_size, max_size, sizes_file, status=False):
    rng = random.Random(seed)
    count = int(rate * seconds)
    if status:
        sizes = [min_size] * count
        report = bytearray(os.urandom(min_size))
        blob = memoryview(b"".join(bytes(report[:4]) + i.to_bytes(4, "big") + bytes(report[8:])
                                   for i in range(count)))
        offsets = [i * min_size for i in range(count)]
    else:
        sizes = [rng.randint(min_size, max_size) for _ in range(count)]
        blob = memoryview(os.urandom(max_size + 4096))
        offsets = [rng.randrange(4096) for _ in range(count)]
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4 << 20)
    sendto = sock.sendto
    to = ("127.0.0.1", port)
    sent = []
    last_ns = 0
    start = time.perf_counter()
    i = 0
    while i < count:
        due = int((time.perf_counter() - start) * rate) + 1
        while i < min(due, count):
            size, at = sizes[i], offsets[i]
            try:
                sendto(blob[at:at + size], to)
                last_ns = time.monotonic_ns()
                sent.append(size)
            except OSError:
                pass  # not sent (no buffer): not counted
            i += 1
        time.sleep(0.001)
    elapsed = time.perf_counter() - start
    with open(sizes_file, "w") as out:
        out.write("".join(f"{s}\n" for s in sent))
    print(len(sent), f"{elapsed:.3f}", f"{len(sent) / elapsed:.0f}", last_ns)


if __name__ == "__main__":
    a = sys.argv[1:]
    main(int(a[0]), float(a[1]), float(a[2]), int(a[3]), int(a[4]), int(a[5]), a[6],
         len(a) > 7 and a[7] == "status")
