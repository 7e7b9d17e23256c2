#!/usr/bin/env bash
# Floods the built program's local port from loopback while a send cycle waits, under
# Xvfb, the program run as an ordinary operator (see setup_operator in lib.sh), and checks from outside that it neither crashes nor hangs and loses nothing:
#   - first datagrams as fast as a sender can go (random sizes 0..65,507 bytes, one in a
#     hundred empty and one in a hundred of the largest size), in bursts of 20,000, then
#     the same at a few paced rates;
#   - after each: every datagram the kernel delivered has its log line (arrival lines,
#     the "通信エラー" line for an empty one, == datagrams sent - the kernel's drops on the
#     socket from /proc/net/udp), the logged sizes are the sent ones in order, no other
#     line, and one more datagram is logged within 2 s;
#   - the clock label keeps being repainted all along (screen shots of the label taken
#     1.6 s apart all differ);
#   - resident memory after the floods stays within a bound of what it was before.
#   - 5,000 small datagrams (1 to 64 bytes) a second, every one logged, none dropped;
#   - the answer grid ends a burst showing its last datagram (its picture, once settled, is
#     the one the same datagram gives alone).
# Prints the highest paced rate with every datagram logged and none dropped.
# Usage: flood_test.sh path/to/ostrel           (about 60 s)
#   OSTREL_FLOOD_COUNT    datagrams sent as fast as possible (default 100000)
#   OSTREL_FLOOD_RATES    paced rates per second tried afterwards (default "50 100 200 400")
#   OSTREL_FLOOD_SECONDS  seconds of sending per paced rate (default 3)
set -uo pipefail
exe=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
flood_count=${OSTREL_FLOOD_COUNT:-100000}
rates=${OSTREL_FLOOD_RATES:-50 100 200 400}
seconds_per_rate=${OSTREL_FLOOD_SECONDS:-3}

source "$here/lib.sh"
require_tools Xvfb xdotool socat iconv python3 import awk md5sum
py=$(python3_path)
setup_operator
start_xvfb
peer_port=$(free_port)
src_port=$(free_port)

# The destination takes the one transmission in and never answers.
start_in_operator_net socat -u UDP4-RECV:"$peer_port",bind=127.0.0.1 OPEN:/dev/null

app_dir=$(new_program_folder app "$exe")
# A cycle waits 100 s for its answer. The button's first press starts periodic sending,
# whose first timed cycle would come a minute later; a second press sends once more and
# then stops it, so during the floods nothing but the arrivals writes to the log.
write_settings "$app_dir" "$src_port" "$peer_port" 'SendInterval=10\r\nSendIntervalUnit=2\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=100000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
"$py" -c 'import sys; sys.stdout.buffer.write(bytes(range(64)))' >"$work/payload.bin"
log_file="$app_dir/Log/Kiv_UdpSndLog.txt"
give_to_operator "$app_dir"

run_as_operator "$app_dir" ostrel & pid=$!; pids+=($pid)
window=$(wait_for_window "$pid" "Ostrel") || { echo "FAIL - the main window did not appear"; exit 1; }
load_and_send "$window" "$work/payload.bin"
wait_for_log "$app_dir" '^64バイトのデータを送信しました。$' 100 ||
  { echo "FAIL - nothing was sent"; log_messages "$app_dir"; exit 1; }
sends() { log_messages "$app_dir" | grep -c '^64バイトのデータを送信しました。$'; }
# The first cycle answered, the button (still focused) pressed again: the second cycle
# waits, and its end (at the first datagram of the floods) stops periodic sending.
in_operator_net "$py" -c "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'a', ('127.0.0.1', $src_port))"
wait_for_log "$app_dir" '^1バイトの応答データを受信しました。$' 50 ||
  { echo "FAIL - the first cycle took no answer"; log_messages "$app_dir"; exit 1; }
sleep 0.5
xdotool key --window "$window" space
wait_until_two_sends() { for _ in $(seq 100); do [ "$(sends)" -ge 2 ] && return 0; sleep 0.1; done; return 1; }
wait_until_two_sends || { echo "FAIL - the second press sent nothing"; log_messages "$app_dir"; exit 1; }
[ -n "$(udp_drops "$src_port")" ] || { echo "FAIL - the local port is not bound"; exit 1; }

line_count() { wc -l <"$log_file"; }
# Waits until the log stops growing for a second (at most 60 s) after a sender is done.
drain() {
  local last=-1 now quiet=0
  for _ in $(seq 600); do
    now=$(line_count)
    if [ "$now" -eq "$last" ]; then
      quiet=$((quiet + 1))
      [ "$quiet" -ge 10 ] && return 0
    else
      quiet=0
      last=$now
    fi
    sleep 0.1
  done
  return 1
}

# The clock label, photographed every 1.6 s while the floods run: the label shows whole
# seconds and is refreshed every 500 ms, so two shots 1.6 s apart differ whenever the
# window keeps repainting.
sleep 1
clock_shot "$window" >/dev/null
sample_clock() {
  while [ ! -e "$work/stop" ]; do
    echo "$(date +%s.%N) $(clock_shot "$window")" >>"$work/shots"
    sleep 1.6
  done
}
sample_clock &
pids+=($!)
rss_before=$(vm_rss_kib "$pid")

# answer_once SIZE: one datagram of SIZE bytes "p"; true when it is the log's last line
# within 2 s. Nothing else writes to the log meanwhile.
answer_once() {
  in_operator_net "$py" -c "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'p' * $1, ('127.0.0.1', $src_port))"
  for _ in $(seq 20); do
    [ "$(log_messages "$app_dir" | tail -n 1)" = "$1バイトの応答データを受信しました。" ] && return 0
    sleep 0.1
  done
  return 1
}
# probe: one datagram of 4321 bytes after a flood has drained.
probe() { answer_once 4321; }
# The answer grid's fingerprint once two shots 0.2 s apart agree (waits at most 5 s).
settled_grid() {
  local last now
  last=$(grid_shot "$window")
  for _ in $(seq 25); do
    sleep 0.2
    now=$(grid_shot "$window")
    [ "$now" = "$last" ] && break
    last=$now
  done
  echo "$now"
}
# Bytes waiting in the kernel's queue of the program's socket (rx_queue of /proc/net/udp).
queued_bytes() {
  local hex
  hex=$(in_operator_net awk -v port=":$(printf %04X "$src_port")" \
    'NR > 1 && substr($2, length($2) - 4) == port { split($5, q, ":"); print q[2]; exit }' \
    /proc/net/udp)
  echo $((16#${hex:-0}))
}

# small_sender PORT COUNT RATE SEED SIZES_FILE: as "flood_tools.py send", with datagrams
# of 1 to 64 bytes; it wakes every millisecond and sends what is due, so it keeps a high
# rate without spinning on a core the program needs.
small_sender() {
  in_operator_net "$py" - "$@" <<'PY'
import random, socket, sys, time
port, count, rate, seed, sizes_file = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
rng = random.Random(seed)
sizes = [rng.randint(1, 64) for _ in range(count)]
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sent, i, start = [], 0, time.perf_counter()
while i < count:
    due = min(count, int((time.perf_counter() - start) * rate) + 1)
    while i < due:
        try:
            sock.sendto(bytes([i & 0xFF]) * sizes[i], ("127.0.0.1", port))
            sent.append(sizes[i])
        except OSError:
            pass  # not sent (no buffer): not counted
        i += 1
    time.sleep(0.001)
seconds = time.perf_counter() - start
open(sizes_file, "w").write("".join(f"{s}\n" for s in sent))
print(len(sent), f"{seconds:.3f}", f"{len(sent) / seconds:.0f}")
PY
}

# flood NAME COUNT RATE SEED [small]: sends, drains and checks one flood, then probes; sets
# $sent, $lines, $drops. A probe that is not logged ends the floods (each further one would only
# wait for its drain).
reception_stopped=0
flood() {
  local name=$1 count=$2 rate=$3 seed=$4 lines_before drops_before empty other in_order
  local first_other seconds achieved
  lines_before=$(line_count)
  drops_before=$(udp_drops "$src_port")
  local sender=(in_operator_net "$py" "$here/flood_tools.py" send)
  [ "${5:-}" = small ] && sender=(small_sender)
  read -r sent seconds achieved < <("${sender[@]}" "$src_port" "$count" "$rate" "$seed" \
    "$work/sizes.$name")
  drain || echo "     (the log was still growing after 60 s)"
  drops=$(( $(udp_drops "$src_port") - drops_before ))
  read -r lines empty other in_order first_other < <("$py" "$here/flood_tools.py" answers \
    "$log_file" "$lines_before" "$work/sizes.$name")
  printf '     %-9s sent %6d in %6.2f s (%6d/s), logged %6d (%d empty), kernel drops %6d\n' \
    "$name" "$sent" "$seconds" "$achieved" "$lines" "$empty" "$drops"
  check "$name: the program still runs" kill -0 "$pid"
  probe || reception_stopped=1
  check "$name: every datagram the kernel delivered is logged ($lines = $sent - $drops)" \
    test "$lines" -eq $((sent - drops))
  check "$name: the logged sizes are the sent ones, in order" test "$in_order" -eq 1
  check "$name: no other line is logged (first: $first_other)" test "$other" -eq 0
  check "$name: a datagram after it is logged within 2 s" \
    test "$(log_messages "$app_dir" | tail -n 1)" = "4321バイトの応答データを受信しました。"
}

# Datagrams as fast as the sender goes, in bursts of at most 20,000
# with a probe after each (the end of a burst is where reception could stop).
echo "     flood of $flood_count datagrams, as fast as the sender goes"
unpaced_sent=0 unpaced_lines=0 unpaced_drops=0
left=$flood_count burst=0
while [ "$left" -gt 0 ] && [ "$reception_stopped" -eq 0 ]; do
  burst=$((burst + 1))
  n=$((left < 20000 ? left : 20000))
  flood "unpaced$burst" "$n" 0 "$burst"
  left=$((left - n))
  unpaced_sent=$((unpaced_sent + sent)) unpaced_lines=$((unpaced_lines + lines))
  unpaced_drops=$((unpaced_drops + drops))
done

best=0
for rate in $rates; do
  [ "$reception_stopped" -eq 0 ] || break
  flood "paced$rate" $((rate * seconds_per_rate)) "$rate" "$((rate + 100))"
  [ "$drops" -eq 0 ] && [ "$lines" -eq "$sent" ] && [ "$rate" -gt "$best" ] && best=$rate
done
# Small datagrams at 5,000 a second: the socket's receive buffer holds what arrives while
# the window paints, so none is lost.
if [ "$reception_stopped" -eq 0 ]; then
  flood small5000 $((5000 * seconds_per_rate)) 5000 7 small
  check "small5000: none lost (sent $sent, logged $lines, kernel drops $drops)" \
    test "$drops" -eq 0 -a "$lines" -eq "$sent"
fi
# The grid ends a burst showing its last datagram, as it shows that datagram alone (after
# another one in between). The burst comes within a frame, so its end is shown late.
if [ "$reception_stopped" -eq 0 ]; then
  in_operator_net "$py" -c "import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for i in range(100): s.sendto(bytes([i]) * 300, ('127.0.0.1', $src_port))
s.sendto(b'p' * 37, ('127.0.0.1', $src_port))"
  for _ in $(seq 20); do
    [ "$(log_messages "$app_dir" | tail -n 1)" = "37バイトの応答データを受信しました。" ] && break
    sleep 0.1
  done
  after_burst=$(settled_grid)
  answer_once 7 && other=$(settled_grid) && answer_once 37 && alone=$(settled_grid)
  check "the answer grid shows another datagram otherwise" test "${other:-}" != "$after_burst"
  check "the answer grid ends a burst showing its last datagram" test "${alone:-}" = "$after_burst"
fi
for _ in $(seq 100); do [ "$(wc -l <"$work/shots")" -ge 5 ] && break; sleep 0.1; done
touch "$work/stop"
sleep 2

check "no further cycle ran: periodic sending stopped with the second cycle" test "$(sends)" -eq 2
# The process is neither stopped nor stuck in the kernel.
state=$(process_state "$pid")
check "the process is running or waiting for events (state $state)" test "$state" = S -o "$state" = R

shots=$(wc -l <"$work/shots")
repeats=$(awk 'NR > 1 && $2 == last { n++ } { last = $2 } END { print n + 0 }' "$work/shots")
check "the clock label was photographed during the floods ($shots shots)" test "$shots" -ge 5
check "the clock kept updating: every shot differs from the one before ($repeats repeats)" \
  test "$repeats" -eq 0

rss_after=$(vm_rss_kib "$pid")
if is_sanitized "$exe"; then
  echo "skip - memory: a sanitizer holds freed memory in its quarantine (${rss_before} -> ${rss_after} KiB)"
else
  check "memory after the floods ${rss_after} KiB, before ${rss_before} KiB (bound +50 MiB)" \
    test $((rss_after - rss_before)) -lt 51200
fi

echo "     summary: unpaced $unpaced_sent sent, $unpaced_lines logged, $unpaced_drops kernel drops;" \
  "highest paced rate with every datagram logged and none dropped: $best/s;" \
  "VmRSS ${rss_before} -> ${rss_after} KiB"
finish
