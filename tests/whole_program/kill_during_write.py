#!/usr/bin/env python3
"""Kills a process (SIGKILL) at a chosen point of a series of writes to a file.

  kill_during_write.py FILE PID STATES WRITE PHASE READY_FILE

FILE goes through the versions in STATES (the file's successive contents, separated by
NUL bytes), each write replacing it by a hidden temporary sibling ".NAME.XXXXXX" renamed
over it. PHASE "during": kills PID as soon as FILE is version WRITE and a temporary
sibling exists, that is while write number WRITE (counted from 0) is under way. PHASE
"after": kills PID 0 to 2 ms after FILE has become version WRITE + 1. Creates READY_FILE
once it watches. Prints "killed <version seen last>", or "missed <version>" when the
point did not come within 5 s.
"""
import os
import random
import signal
import sys
import time


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def main():
    path, pid, states_file, write, phase, ready = sys.argv[1], int(sys.argv[2]), sys.argv[3], \
        int(sys.argv[4]), sys.argv[5], sys.argv[6]
    with open(states_file, "rb") as f:
        states = f.read().split(b"\0")
    folder, name = os.path.split(path)
    prefix = "." + name + "."
    version = -1
    open(ready, "w").close()
    end = time.monotonic() + 5
    while time.monotonic() < end:
        content = read(path)
        if content in states:
            version = states.index(content)
        if phase == "during":
            if version == write and any(n.startswith(prefix) for n in os.listdir(folder)):
                break
        elif version == write + 1:
            time.sleep(random.uniform(0, 0.002))
            break
    else:
        print("missed", version)
        return
    os.kill(pid, signal.SIGKILL)
    print("killed", version)


if __name__ == "__main__":
    main()
