#!/usr/bin/env bash
# What one run of ostrel-send costs a script that calls it, timed from outside with
# farm-bench (the whole process: start-up, settings, log, check, cycle, exit):
#   answered - one answered cycle against a loopback echo peer, paired with
#              `ostrel-send --version` (the process start-up alone): the ratio says what
#              the cycle adds to starting the program;
#   waiting  - one cycle waiting 3 s for an answer from a silent peer: the CPU time over
#              the wall time says what a waiting cycle costs.
# Needs farm-bench, python3 and an ICMP socket for the check (root, or a group inside
# net.ipv4.ping_group_range).
# Usage: cli_run.sh path/to/ostrel-send [runs]        (about 30 s with 30 runs)
set -uo pipefail
exe=$(readlink -f "$1")
runs=${2:-30}

source "$(dirname "$0")/../tests/whole_program/lib.sh"
require_tools farm-bench python3
require_reachability_check

# peer MODE PORT: a loopback peer that echoes each datagram (MODE echo) or keeps silent.
peer() {
  python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[2])))
while True:
    data, sender = s.recvfrom(65536)
    if sys.argv[1] == "echo":
        s.sendto(data, sender)' "$1" "$2" &
  pids+=($!)
}
echo_port=$(free_port)
silent_port=$(free_port)
peer echo "$echo_port"
peer silent "$silent_port"
sleep 0.5

dir="$work/app"
mkdir -p "$dir/Config"
cp "$exe" "$dir/ostrel-send"
write_settings "$dir" "$(free_port)" "$echo_port" 'SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
"$dir/ostrel-send" --hex "01 02 03 04" --quiet | grep -q 'Answered: 1 ' ||
  { echo "FAIL: the echo peer did not answer"; exit 1; }

echo "== answered: one cycle against an echo peer (A) vs. start-up alone (B)"
farm-bench -n "$runs" --vs "$dir/ostrel-send --version" -- "$dir/ostrel-send" --hex "01 02 03 04" --quiet
echo
echo "== waiting: one cycle waiting 3 s for a silent peer"
farm-bench -n 3 --warmup 0 --timeout 60 -- "$dir/ostrel-send" --hex 01 --port "$silent_port" \
  --timeout 3000 --quiet
