#!/usr/bin/env bash
# The whole program under a paced flood of answers, and its start-up, measured from
# outside under Xvfb (loopback only):
#   start-up - time from exec to the main window visible, and resident memory 2 s later,
#              median of OSTREL_BENCH_STARTS starts; with a second executable (an earlier
#              build) both are started in turn in the same run and shown side by side;
#   flood    - a send cycle waits for its answer (UdpAnsTimeOut 100 s) while datagrams of
#              1 to 1,400 random bytes arrive at the local port at each rate for
#              OSTREL_BENCH_SECONDS; per rate: datagrams sent, arrival lines logged (sizes
#              checked in order), the kernel's drops on the program's socket (/proc/net/udp)
#              and machine-wide (RcvbufErrors of /proc/net/snmp), the longest stall of the
#              event loop and the time from the last datagram's send to the answer grid's
#              last paint (the probe library, preloaded) and the process's CPU.
# Also prints the receive buffer the kernel granted the program's socket (ss).
# Usage: flood_bench.sh path/to/ostrel path/to/libloop_stall_probe.so [path/to/earlier/ostrel]
#        (about 2 minutes; `ninja -C build flood_bench` runs it without the earlier build)
#   OSTREL_BENCH_RATES    datagrams per second (default "2000 5000 10000 20000")
#   OSTREL_BENCH_SECONDS  seconds of sending per rate (default 10)
#   OSTREL_BENCH_STATUS   a size in bytes: instead of random datagrams, a device's status
#                         reports of that size, the same but for a 4-byte counter
#                         (e.g. 64; at least 8)
#   OSTREL_BENCH_STARTS   starts of each executable for the start-up figures (default 5)
#   OSTREL_RMEM_MAX       caps the receive buffer the program asks for, as net.core.rmem_max
#                         would (e.g. 212992, Debian's default); unset: the machine's limit
# With an earlier executable, the flood runs for it too, after this one.
set -uo pipefail
exe=$(readlink -f "$1")
probe=$(readlink -f "$2")
base_exe=${3:+$(readlink -f "$3")}
here=$(cd "$(dirname "$0")" && pwd)
rates=${OSTREL_BENCH_RATES:-2000 5000 10000 20000}
seconds=${OSTREL_BENCH_SECONDS:-10}
starts=${OSTREL_BENCH_STARTS:-5}
tools="$here/../tests/whole_program"

source "$tools/lib.sh"
require_tools Xvfb xdotool socat iconv python3 awk ss od
require_reachability_check
start_xvfb
[ -f "$probe" ] || { echo "FAIL: no stall probe at $2"; exit 1; }

monotonic_ns() { python3 -c 'import time; print(time.monotonic_ns())'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"; }
rcvbuf_errors() { awk '/^Udp:/ { if (!n++) { for (i = 1; i <= NF; i++) if ($i == "RcvbufErrors") c = i } else print $c }' /proc/net/snmp; }
hz=$(getconf CLK_TCK)
echo "flood benchmark of $exe under Xvfb ($(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
[ -n "${OSTREL_RMEM_MAX:-}" ] && echo "receive buffer requests capped at $OSTREL_RMEM_MAX bytes"

# --- Start-up ---------------------------------------------------------------------------
# start_once EXE NAME: prints "<ms to the visible main window> <VmRSS KiB 2 s later>".
start_once() {
  local dir pid t0 t1 id=""
  dir=$(new_program_folder "$2" "$1")
  write_settings "$dir" "$(free_port)" "$(free_port)" 'SendInterval=10\r\nSendIntervalUnit=2\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
  t0=$(monotonic_ns)
  (cd "$work" && exec "$dir/ostrel" 2>/dev/null) & pid=$!
  for _ in $(seq 3000); do
    id=$(xdotool search --onlyvisible --pid "$pid" --name '^Ostrel$' 2>/dev/null | head -n 1)
    [ -n "$id" ] && break
    sleep 0.01
  done
  t1=$(monotonic_ns)
  sleep 2
  echo "$(((t1 - t0) / 1000000)) $(vm_rss_kib "$pid")"
  kill "$pid"; wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
if [ "$starts" -gt 0 ]; then
  : >"$work/starts.new"; : >"$work/starts.base"
  for i in $(seq "$starts"); do
    start_once "$exe" "start_new$i" >>"$work/starts.new"
    [ -n "$base_exe" ] && start_once "$base_exe" "start_base$i" >>"$work/starts.base"
  done
  summary() {  # summary FILE LABEL
    printf '  %-8s start to visible window median %5s ms (%s), VmRSS 2 s after median %6s KiB\n' "$2" \
      "$(cut -d' ' -f1 "$1" | median)" "$(cut -d' ' -f1 "$1" | sort -n | paste -sd' ')" \
      "$(cut -d' ' -f2 "$1" | median)"
  }
  echo "start-up, $starts starts each, taken in turn:"
  summary "$work/starts.new" "this"
  [ -n "$base_exe" ] && summary "$work/starts.base" "earlier"
fi

# --- Flood ------------------------------------------------------------------------------
peer_port=$(free_port)
socat -u UDP4-RECV:"$peer_port",bind=127.0.0.1 OPEN:/dev/null &
pids+=($!)
# flood_of EXE NAME: the program started afresh, a cycle waiting, flooded at each rate.
flood_of() {
  local app_dir log_file stalls pid window src_port best rate
  src_port=$(free_port)
  app_dir=$(new_program_folder "$2" "$1")
  # A large log, so no rotation happens while lines are counted.
  write_settings "$app_dir" "$src_port" "$peer_port" 'SendInterval=10\r\nSendIntervalUnit=2\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=100000\r\nLogMaxSize=500\r\nLogGenerations=2\r\n'
  python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(64)))' >"$work/payload.bin"
  log_file="$app_dir/Log/Kiv_UdpSndLog.txt"
  stalls="$work/stalls"
  (cd "$work" && export OSTREL_RMEM_MAX && OSTREL_STALL_FILE="$stalls" LD_PRELOAD="$probe" exec "$app_dir/ostrel" 2>"$work/ostrel.err") & pid=$!
  pids+=($pid)
  window=$(wait_for_window "$pid" "Ostrel") || { echo "FAIL: the main window did not appear"; exit 1; }
  load_and_send "$window" "$work/payload.bin"
  wait_for_log "$app_dir" '^64バイトのデータを送信しました。$' 100 ||
    { echo "FAIL: nothing was sent"; log_messages "$app_dir"; exit 1; }
  echo "$2 ($1):"
  echo "receive buffer of the program's socket: $(ss -u -a -m -n "sport = :$src_port" |
    grep -o 'rb[0-9]*' | head -n 1 | tr -d rb) bytes as the kernel counts them" \
    "(net.core.rmem_max $(cat /proc/sys/net/core/rmem_max))"

  line_count() { wc -l <"$log_file"; }
  drain() {  # until the log has not grown for a second, at most 60 s
    local last=-1 now quiet=0
    for _ in $(seq 600); do
      now=$(line_count)
      if [ "$now" -eq "$last" ]; then quiet=$((quiet + 1)); [ "$quiet" -ge 10 ] && return 0
      else quiet=0; last=$now; fi
      sleep 0.1
    done
    return 1
  }
  if [ -n "${OSTREL_BENCH_STATUS:-}" ]; then
    echo "flood, status reports of $OSTREL_BENCH_STATUS bytes (a counter changing), $seconds s per rate:"
    sender_sizes=("$OSTREL_BENCH_STATUS" "$OSTREL_BENCH_STATUS" "$work/sizes.RATE" status)
  else
    echo "flood, datagrams of 1..1400 random bytes, $seconds s per rate:"
    sender_sizes=(1 1400 "$work/sizes.RATE")
  fi
  printf '  %8s %8s %8s %6s %8s %8s %9s %9s %10s\n' rate/s sent logged order drops rcvbuf stall_ms shown_ms \
    "cpu %core"
  best=0
  for rate in $rates; do
    sleep 1
    lines_before=$(line_count)
    drops_before=$(udp_drops "$src_port")
    errors_before=$(rcvbuf_errors)
    ticks_before=$(cpu_ticks "$pid")
    head -c 16 /dev/zero | dd of="$stalls" conv=notrunc status=none  # the longest stall from now on
    t0=$(monotonic_ns)
    read -r sent took achieved last_sent_ns < <(python3 "$here/paced_sender.py" "$src_port" "$rate" "$seconds" \
      "$rate" "${sender_sizes[@]/RATE/$rate}")
    drain || echo "  (the log was still growing after 60 s)"
    t1=$(monotonic_ns)
    ticks=$(($(cpu_ticks "$pid") - ticks_before))
    drops=$(($(udp_drops "$src_port") - drops_before))
    errors=$(($(rcvbuf_errors) - errors_before))
    read -r lines _ _ in_order _ < <(python3 "$tools/flood_tools.py" answers "$log_file" \
      "$lines_before" "$work/sizes.$rate")
    stall=$(od -An -t u8 -N 8 "$stalls" | awk '{ printf "%.1f", $1 / 1000 }')
    shown=$(od -An -t u8 -j 8 -N 8 "$stalls" |
      awk -v s="$last_sent_ns" '{ if ($1 > s) printf "%.1f", ($1 - s) / 1e6; else print "never" }')
    # CPU over the time the program was busy: the sending, plus the drain less its quiet second.
    busy=$(awk -v a="$t0" -v b="$t1" 'BEGIN { print (b - a) / 1e9 - 1 }')
    cpu=$(awk -v t="$ticks" -v hz="$hz" -v s="$busy" 'BEGIN { printf "%.1f", 100 * t / hz / s }')
    printf '  %8d %8d %8d %6s %8d %8d %9s %9s %10s   (sent at %s/s)\n' "$rate" "$sent" "$lines" \
      "$([ "$in_order" -eq 1 ] && echo yes || echo NO)" "$drops" "$errors" "$stall" "$shown" "$cpu" \
      "$achieved"
    [ "$lines" -eq "$sent" ] && [ "$drops" -eq 0 ] && [ "$rate" -gt "$best" ] && best=$rate
    kill -0 "$pid" || { echo "FAIL: the program ended"; exit 1; }
  done
  echo "highest rate with every datagram logged and none dropped: $best/s (load average now $(cut -d' ' -f1-3 /proc/loadavg))"
  kill "$pid"; wait "$pid" 2>/dev/null
}
flood_of "$exe" this
[ -n "$base_exe" ] && flood_of "$base_exe" earlier
echo "(stall_ms: longest event-loop pass; shown_ms: last datagram sent to the answer grid's last"
echo " paint; cpu: utime + stime over the sending and drain)"
