#!/usr/bin/python3
"""Cross-checks our CRCs against crcmod (Debian's python3-crcmod) on random inputs: every
catalogue model from its listed parameters, and random custom models of widths 8, 16, 24,
32 and 64 with every combination of refin and refout.

Usage: crc_crosscheck.py PATH/TO/crc_probe
"""
import random
import re
import subprocess
import sys

try:
    import crcmod
except ImportError:
    print("SKIP: python3-crcmod is not installed (scripts/setup.sh installs it)")
    sys.exit(77)

probe = sys.argv[1]
rng = random.Random(20261208)


def reflect(value, width):
    return int(format(value, "0%db" % width)[::-1], 2)


def reference(width, poly, init, refin, refout, xorout, data):
    # crcmod takes the polynomial with its top bit, one flag for refin and refout, and the
    # register's starting value (reflected for a reflected register); refout unlike refin
    # and xorout are applied here.
    start = reflect(init, width) if refin else init
    register = crcmod.mkCrcFun((1 << width) | poly, initCrc=start, rev=refin, xorOut=0)(data)
    if refin != refout:
        register = reflect(register, width)
    return register ^ xorout


line_form = re.compile(r"^(\S+) width=(\d+) poly=0x(\w+) init=0x(\w+) refin=(true|false) "
                       r"refout=(true|false) xorout=0x(\w+) check=0x(\w+)( aliases=\S+)?$")
models = []
for line in subprocess.run([probe, "--list"], check=True, capture_output=True,
                           text=True).stdout.splitlines():
    m = line_form.match(line)
    if not m:
        sys.exit("unexpected listing line: %r" % line)
    name, width, poly, init, refin, refout, xorout, check = m.groups()[:8]
    params = (int(width), int(poly, 16), int(init, 16), refin == "true", refout == "true",
              int(xorout, 16))
    if reference(*params, b"123456789") != int(check, 16):
        sys.exit("%s: crcmod disagrees with the listed check value" % name)
    models.append((name, params))

for _ in range(200):
    width = rng.choice([8, 16, 24, 32, 64])
    params = (width, rng.getrandbits(width) | 1, rng.getrandbits(width), rng.random() < 0.5,
              rng.random() < 0.5, rng.getrandbits(width))
    models.append(("%x,%x,%x,%d,%d,%x" % (params[0], params[1], params[2], params[3], params[4],
                                          params[5]), params))

cases = []
for name, params in models:
    for _ in range(20):
        data = bytes(rng.getrandbits(8) for _ in range(rng.choice([0, 1, 2, 7, 8, 63, 300])))
        cases.append((name, params, data))

request = "".join("%s %s\n" % (name, data.hex()) for name, _, data in cases)
answer = subprocess.run([probe], input=request, check=True, capture_output=True,
                        text=True).stdout.split()
if len(answer) != len(cases):
    sys.exit("the probe answered %d lines to %d" % (len(answer), len(cases)))
failures = 0
for (name, params, data), ours in zip(cases, answer):
    theirs = reference(*params, data)
    if int(ours, 16) != theirs:
        failures += 1
        if failures <= 10:
            print("%s over %s: ours %s, crcmod %x" % (name, data.hex() or "(nothing)", ours, theirs))
print("%d models, %d inputs, %d differ" % (len(models), len(cases), failures))
sys.exit(1 if failures else 0)
