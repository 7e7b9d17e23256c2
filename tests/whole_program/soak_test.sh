#!/usr/bin/env bash
# Periodic sending for a while in the built program under Xvfb, run as an ordinary operator
# (see setup_operator in lib.sh), against a socat echo peer
# on loopback, with the log kept small (LogMaxSize 1, LogGenerations 3), and checks from
# outside:
#   - every cycle is answered: each "…バイトのデータを送信しました。" line is followed by
#     the answer line of the same size, and no other kind of line appears;
#   - the log is rotated during the run, and never more than three files exist (the live
#     file, .1 and .2);
#   - no line is lost at a rotation: the transmissions logged across every generation
#     (those about to be deleted are copied aside just before the rotation that deletes
#     them) equal the datagrams the peer received;
#   - every line of every generation is whole;
#   - resident memory stays flat (10 s after the start against the end).
# The log grows by a few kilobytes a minute, so the script appends a block of 1.1 MB of
# lines to the live file every few cycles (as a second program writing the same log
# would); the next tick of the send timer then rotates.
# Usage: soak_test.sh path/to/ostrel          (about 75 s)
#   OSTREL_SOAK_SECONDS  how long the program sends (default 60; bench: 600)
set -uo pipefail
exe=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
soak_seconds=${OSTREL_SOAK_SECONDS:-60}

source "$here/lib.sh"
require_tools Xvfb xdotool socat iconv python3 awk
py=$(python3_path)
setup_operator
start_xvfb
peer_port=$(free_port)
src_port=$(free_port)

# The peer: one line per datagram received, and the datagram echoed back.
start_in_operator_net socat -T 2 UDP4-RECVFROM:"$peer_port",bind=127.0.0.1,fork \
  SYSTEM:"echo \$SOCAT_PEERPORT >>'$work/received'; cat"

app_dir=$(new_program_folder app "$exe")
write_settings "$app_dir" "$src_port" "$peer_port" 'SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=3\r\nPingRetry=3\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=1\r\nLogGenerations=3\r\n'
"$py" -c 'import sys; sys.stdout.buffer.write(bytes(i * 7 % 256 for i in range(2048)))' \
  >"$work/payload.bin"
log="$app_dir/Log/Kiv_UdpSndLog.txt"
mkdir -p "$work/deleted"

give_to_operator "$app_dir"
run_as_operator "$app_dir" ostrel & pid=$!; pids+=($pid)
window=$(wait_for_window "$pid" "Ostrel") || { echo "FAIL - the main window did not appear"; exit 1; }
start=$(date +%s)
load_and_send "$window" "$work/payload.bin"
wait_for_log "$app_dir" '^2048バイトのデータを送信しました。$' 100 ||
  { echo "FAIL - nothing was sent"; log_messages "$app_dir"; exit 1; }

# The log folder, watched every 0.2 s: the most files seen at once, and any name that is
# not the live file or generations 1 and 2.
watch_log_folder() {
  while [ ! -e "$work/stop" ]; do
    ls "$app_dir/Log" >"$work/listing" 2>/dev/null
    echo "$(wc -l <"$work/listing") $(grep -vxE 'Kiv_UdpSndLog\.txt(\.[12])?' "$work/listing" | tr '\n' ' ')" \
      >>"$work/folder"
    sleep 0.2
  done
}
watch_log_folder &
pids+=($!)

# pad: appends 1.1 MB of whole lines to the live file in one write.
pad() {
  "$py" - "$log" <<'EOF'
import socket, sys, time
stamp = time.strftime("%y/%m/%d %H:%M:%S.0")
line = f"1001 {stamp} {socket.gethostname()} PAD {'x' * 100}\r\n".encode()
with open(sys.argv[1], "ab") as f:
    f.write(line * (1100000 // len(line) + 1))
EOF
}
rotations=0
rss_early=""
deadline=$((start + soak_seconds))
last_pad=$start
while [ "$(date +%s)" -lt "$deadline" ]; do
  sleep 0.5
  now=$(date +%s)
  [ -z "$rss_early" ] && [ $((now - start)) -ge 10 ] && rss_early=$(vm_rss_kib "$pid")
  # Every 8 s: generation 2 is copied aside (the next rotation deletes it), the live
  # file is padded past 1 MiB, and the rotation at the next tick is awaited.
  if [ $((now - last_pad)) -ge 8 ] && [ $((deadline - now)) -ge 4 ]; then
    last_pad=$now
    [ -e "$log.2" ] && cp "$log.2" "$work/deleted/$(printf %03d "$rotations")"
    inode=$(stat -c %i "$log.1" 2>/dev/null || echo none)
    pad
    for _ in $(seq 50); do
      [ "$(stat -c %i "$log.1" 2>/dev/null || echo none)" != "$inode" ] && break
      sleep 0.1
    done
    if [ "$(stat -c %i "$log.1" 2>/dev/null || echo none)" != "$inode" ]; then
      rotations=$((rotations + 1))
    else
      echo "     (no rotation within 5 s of padding)"
    fi
  fi
done
# End between cycles: the program is stopped (SIGSTOP) right after an answer line and
# looked at again while it cannot write; a cycle begun meanwhile lets it go on and retry.
last_is_answer() { log_messages "$app_dir" | tail -n 1 | grep -q '^2048バイトの応答データを受信しました。$'; }
frozen=0
for _ in $(seq 100); do
  if last_is_answer; then
    kill -STOP "$pid"
    if last_is_answer; then frozen=1; break; fi
    kill -CONT "$pid"
  fi
  sleep 0.1
done
rss_end=$(vm_rss_kib "$pid")
alive=0; kill -0 "$pid" && alive=1
kill -KILL "$pid"
wait "$pid" 2>/dev/null
touch "$work/stop"
sleep 1

check "the program was stopped between two cycles" test "$frozen" -eq 1
check "the program ran through the soak" test "$alive" -eq 1
# Every line the program wrote, oldest first: the generations copied before their
# deletion, then .2, .1 and the live file.
all_lines() {
  local f
  for f in "$work"/deleted/* "$log.2" "$log.1" "$log"; do
    [ -e "$f" ] && iconv -f CP932 -t UTF-8 "$f" | tr -d '\r'
  done
}
all_lines >"$work/all"
grep -v ' PAD x*$' "$work/all" | cut -d' ' -f5- >"$work/messages"
sent=$(grep -c 'バイトのデータを送信しました。$' "$work/messages")
answered=$(grep -c 'バイトの応答データを受信しました。$' "$work/messages")
received=$(wc -l <"$work/received")
cycles_due=$((soak_seconds * 10 / 23))  # a period of 2 s after each cycle of up to 0.3 s
echo "     $soak_seconds s: $sent transmissions logged, $answered answers logged," \
  "$received datagrams at the peer, $rotations rotations, VmRSS ${rss_early} -> ${rss_end} KiB"

check "periodic sending ran every 2 s or so ($sent transmissions, at least $cycles_due)" \
  test "$sent" -ge "$cycles_due"
check "no transmission is lost at a rotation ($sent logged = $received at the peer)" \
  test "$sent" -eq "$received"
# Each cycle: the check line, the transmission, its echo; nothing else.
check "every cycle is answered with its own echo, and nothing else is logged" "$py" - "$work/messages" <<'EOF'
import re, sys
lines = open(sys.argv[1], encoding="utf-8").read().splitlines()
cycle = ["接続先:127.0.0.1 Ping OK", "2048バイトのデータを送信しました。", "2048バイトの応答データを受信しました。"]
bad = [(i, l) for i, l in enumerate(lines) if l != cycle[i % 3]]
if bad or len(lines) % 3:
    print("     first unexpected line:", bad[0] if bad else ("(cut short)", len(lines)))
    sys.exit(1)
EOF
check "the log was rotated during the run ($rotations times, at least 3)" test "$rotations" -ge 3
most=$(awk '$1 > m { m = $1 } END { print m + 0 }' "$work/folder")
strays=$(awk 'NF > 1' "$work/folder" | head -n 1)
check "never more than three log files at once (most: $most)" test "$most" -le 3
check "no other file in the log folder (${strays:-none})" test -z "$strays"
check "every line of every generation is whole" \
  test "$(grep -cvE "^1001 [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9] $(hostname) " "$work/all")" -eq 0
if is_sanitized "$exe"; then
  echo "skip - memory: a sanitizer holds freed memory in its quarantine (${rss_early} -> ${rss_end} KiB)"
else
  check "memory stays flat: ${rss_early} KiB at 10 s, ${rss_end} KiB at the end (bound +4 MiB)" \
    test $((rss_end - rss_early)) -lt 4096
fi

finish
