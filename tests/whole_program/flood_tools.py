#!/usr/bin/env python3
"""Helpers of the whole-program load tests (loopback only).

  send PORT COUNT RATE SEED SIZES_FILE
      Fires COUNT datagrams at 127.0.0.1:PORT, RATE per second (0: as fast as it can),
      sizes drawn from SEED: one in a hundred empty, one in a hundred of the largest size
      IPv4 allows (65,507 bytes), the rest anywhere between. Writes the sizes, one a line,
      to SIZES_FILE and prints "<sent> <seconds> <achieved rate>".

  answers LOG FIRST_LINE SIZES_FILE
      Reads the operation log (code page 932) from line FIRST_LINE (0-based) on and checks
      its arrival lines against the sizes sent. Prints "<lines> <empty> <other> <in_order>
      <first_other>": arrival lines in all, those for empty datagrams, lines of any other
      kind, whether the logged sizes are the sent ones in order with some left out (1/0),
      and the first line of another kind (or "-").

  lines LOG...
      Counts the lines of the given log files together.
"""
import os
import random
import socket
import sys
import time

LARGEST = 65507
ARRIVAL = "バイトの応答データを受信しました。"
EMPTY = "通信エラーが発生しました。"


def send(port, count, rate, seed, sizes_file):
    rng = random.Random(seed)
    blob = memoryview(os.urandom(LARGEST))
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    to = ("127.0.0.1", port)
    sizes = []
    start = time.perf_counter()
    for i in range(count):
        draw = rng.random()
        size = 0 if draw < 0.01 else LARGEST if draw < 0.02 else rng.randint(1, LARGEST - 1)
        if rate > 0:
            due = start + i / rate
            while True:
                ahead = due - time.perf_counter()
                if ahead <= 0:
                    break
                if ahead > 0.002:
                    time.sleep(ahead - 0.001)
        try:
            sock.sendto(blob[:size], to)
        except OSError:
            continue  # not sent (no buffer): not counted
        sizes.append(size)
    seconds = time.perf_counter() - start
    with open(sizes_file, "w") as out:
        out.write("".join(f"{s}\n" for s in sizes))
    print(len(sizes), f"{seconds:.3f}", f"{len(sizes) / seconds:.0f}" if seconds > 0 else 0)


def messages(path):
    with open(path, "rb") as f:
        for raw in f.read().split(b"\r\n"):
            if not raw:
                continue
            # code, date, time, host, then the message
            parts = raw.decode("cp932", errors="replace").split(" ", 4)
            yield parts[4] if len(parts) == 5 else raw.decode("cp932", errors="replace")


def answers(log, first_line, sizes_file):
    with open(sizes_file) as f:
        sent = [int(line) for line in f if line.strip()]
    logged = []
    other = 0
    first_other = "-"
    for i, message in enumerate(messages(log)):
        if i < first_line:
            continue
        if message == EMPTY:
            logged.append(0)
        elif message.endswith(ARRIVAL) and message[: -len(ARRIVAL)].isdigit():
            logged.append(int(message[: -len(ARRIVAL)]))
        else:
            other += 1
            if first_other == "-":
                first_other = message.replace(" ", "_")
    # Loopback keeps the order; the kernel may only leave datagrams out.
    at = 0
    in_order = True
    for size in logged:
        while at < len(sent) and sent[at] != size:
            at += 1
        if at == len(sent):
            in_order = False
            break
        at += 1
    print(len(logged), logged.count(0), other, int(in_order), first_other)


def lines(paths):
    total = 0
    for path in paths:
        if os.path.exists(path):
            with open(path, "rb") as f:
                total += f.read().count(b"\r\n")
    print(total)


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "send":
        send(int(args[0]), int(args[1]), float(args[2]), int(args[3]), args[4])
    elif command == "answers":
        answers(args[0], int(args[1]), args[2])
    elif command == "lines":
        lines(args)
    else:
        sys.exit(f"unknown command {command}")
