#!/usr/bin/env bash
# ostrel-respond under paced loads of requests on loopback: per rate, requests sent,
# answers received, their share, the requests the responder reported (its lines, written
# to a file as an operator would keep them), the kernel's drops on its socket, and its CPU.
# The device is the Modbus sample: pattern, CRC check of the request, an answer with its CRC.
# Usage: respond_bench.sh path/to/ostrel-respond
#   OSTREL_BENCH_RATES    requests per second (default "5000 10000 20000 40000")
#   OSTREL_BENCH_SECONDS  seconds per rate (default 5)
set -uo pipefail
exe=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
rates=${OSTREL_BENCH_RATES:-5000 10000 20000 40000}
seconds=${OSTREL_BENCH_SECONDS:-5}
source "$here/../tests/whole_program/lib.sh"
require_tools python3 awk
hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
drops() {
  awk -v port=":$(printf %04X "$1")" 'NR > 1 && substr($2, length($2) - 4) == port { print $NF; exit }' /proc/net/udp
}
echo "ostrel-respond under paced requests ($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%8s %8s %8s %9s %8s %6s %6s\n' rate sent answered answered% lines drops cpu%
for rate in $rates; do
  port=$(free_port)
  "$exe" --rules "$here/../samples/modbus-device.rules.json" --port "$port" \
    >"$work/lines" 2>/dev/null &
  pid=$!
  sleep 0.3
  before=$(cpu_ticks "$pid")
  read -r sent answered achieved < <(python3 "$here/respond_client.py" "$port" "$rate" "$seconds" \
    "010300000002C40B")
  after=$(cpu_ticks "$pid")
  dropped=$(drops "$port")
  kill -TERM "$pid"; wait "$pid" 2>/dev/null
  lines=$(wc -l <"$work/lines")
  awk -v r="$achieved" -v s="$sent" -v a="$answered" -v l="$lines" -v d="${dropped:-?}" \
    -v c="$((after - before))" -v hz="$hz" -v t="$seconds" \
    'BEGIN { printf "%8d %8d %8d %8.2f%% %8d %6s %5.1f%%\n", r, s, a, 100 * a / s, l, d, 100 * c / hz / (t + 0.5) }'
done
