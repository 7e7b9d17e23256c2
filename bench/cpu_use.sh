#!/usr/bin/env bash
# CPU use of the whole program under Xvfb, from /proc/<pid>/stat (utime + stime of all
# its threads) over two windows:
#   idle  - 10 s with the main window shown and nothing to do (the clock ticks);
#   wait  - one send cycle waiting 10 s for an answer that never comes (UdpAnsTimeOut
#           10000, UdpAnsTimerInteval 100, CommonSendRetry 1) from a loopback peer that
#           receives and stays silent; the window runs from the transmission's log line
#           to the "リトライオーバー(送信時)" line.
# Each figure is the percent of one core over the window, with the context switches per
# second (how often the process wakes). /proc/<pid>/stat counts in clock ticks (usually
# 10 ms): over 10 s that resolves 0.1 % of a core, so the run time from schedstat (in
# nanoseconds) is shown beside it.
# Usage: cpu_use.sh path/to/ostrel        (about 30 s)
set -uo pipefail
exe=$(readlink -f "$1")

source "$(dirname "$0")/../tests/whole_program/lib.sh"
require_tools Xvfb xdotool socat iconv python3 awk
start_xvfb
peer_port=$(free_port)
src_port=$(free_port)

# The peer takes every datagram in and never answers.
socat -u UDP4-RECV:"$peer_port",bind=127.0.0.1 OPEN:/dev/null &
pids+=($!)

app_dir=$(new_program_folder app "$exe")
# Minutes, 10: the first timed cycle would come a minute after the pressed one.
write_settings "$app_dir" "$src_port" "$peer_port" 'SendInterval=10\r\nSendIntervalUnit=2\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=10000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(64)))' >"$work/payload.bin"

(cd "$work" && exec "$app_dir/ostrel" 2>"$work/ostrel.err") & pid=$!; pids+=($pid)
window=$(wait_for_window "$pid" "Ostrel")
[ -n "$window" ] || { echo "FAIL: the main window did not appear"; exit 1; }

hz=$(getconf CLK_TCK)
# utime + stime of the process (all threads), in clock ticks.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$pid/stat"; }
# Run time of all threads in nanoseconds, and their context switches.
run_ns() { cat /proc/"$pid"/task/*/schedstat | awk '{ s += $1 } END { print s }'; }
switches() {
  cat /proc/"$pid"/task/*/status | awk '/ctxt_switches/ { s += $2 } END { print s }'
}
now_ns() { date +%s%N; }
snapshot() { echo "$(now_ns) $(cpu_ticks) $(run_ns) $(switches)"; }
# report NAME "BEFORE" "AFTER"
report() {
  echo "$2 $3" | awk -v name="$1" -v hz="$hz" '{
    wall = ($5 - $1) / 1e9
    printf "  %-5s %5.1f s: %6.2f %% of one core (stat), %6.3f %% (schedstat), %5.1f wake-ups/s\n",
      name, wall, 100 * ($6 - $2) / hz / wall, 100 * ($7 - $3) / 1e9 / wall, ($8 - $4) / wall
  }'
}
log_lines() { iconv -f CP932 -t UTF-8 "$app_dir/Log/Kiv_UdpSndLog.txt" 2>/dev/null | tr -d '\r'; }
wait_for_line() {  # wait_for_line TEXT TRIES (a try is a little over 20 ms)
  for _ in $(seq "$2"); do
    log_lines | grep -q "$1" && return 0
    sleep 0.02
  done
  return 1
}

echo "cpu use of $exe under Xvfb ($(nproc) cores, clock tick 1/$hz s)"

# Idle: let the start settle, then 10 s of nothing.
sleep 1
before=$(snapshot)
sleep 10
report idle "$before" "$(snapshot)"

# Load the file with the keyboard, as the operator would, then press "送信".
xdotool windowfocus --sync "$window"
xdotool key --window "$window" Tab Tab Tab
xdotool type --window "$window" --delay 5 "$work/payload.bin"
xdotool key --window "$window" Tab space
sleep 1
xdotool key --window "$window" Tab space
wait_for_line 'バイトのデータを送信しました。' 250 || { echo "FAIL: nothing was sent"; exit 1; }
before=$(snapshot)
wait_for_line 'リトライオーバー(送信時)' 800 || { echo "FAIL: the wait did not end"; exit 1; }
report wait "$before" "$(snapshot)"
kill -0 "$pid" || { echo "FAIL: the program ended"; exit 1; }
