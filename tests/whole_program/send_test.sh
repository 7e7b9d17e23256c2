#!/usr/bin/env bash
# Loads a file and sends it with the keyboard in the built program under Xvfb, run as an
# ordinary operator (see setup_operator in lib.sh), against a socat echo peer on loopback,
# and checks from outside: the bytes that arrived at the peer, their source port, the log
# lines in order, and the answer in the log.
# Usage: send_test.sh path/to/ostrel
set -uo pipefail
exe=$(readlink -f "$1")

source "$(dirname "$0")/lib.sh"
require_tools Xvfb xdotool socat iconv python3
setup_operator
start_xvfb
peer_port=$(free_port)
src_port=$(free_port)

# The peer: records each datagram and its source port, and echoes it back.
start_in_operator_net socat -T 2 UDP4-RECVFROM:"$peer_port",bind=127.0.0.1,fork \
  SYSTEM:"echo \$SOCAT_PEERPORT >>'$work/ports'; tee -a '$work/received.bin'"

app_dir=$(new_program_folder app "$exe")
write_settings "$app_dir" "$src_port" "$peer_port" 'SendInterval=600\r\nSendIntervalUnit=1\r\nCommonSendRetry=3\r\nPingRetry=3\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
# 20 bytes: 00 01 … 13.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(20)))' >"$work/payload.bin"
give_to_operator "$app_dir"

run_as_operator "$app_dir" ostrel & pid=$!; pids+=($pid)
window=$(wait_for_window "$pid" "Ostrel")
check "the main window is shown" test -n "$window"

log_lines() { log_messages "$app_dir"; }

# Keyboard only: the drive list has the focus; three tabs reach the file-name box, one more
# the "入力" button, one more the "送信" button.
xdotool windowfocus --sync "$window"
xdotool key --window "$window" Tab Tab Tab
xdotool type --window "$window" --delay 5 "$work/payload.bin"
xdotool key --window "$window" Tab space
sleep 0.5
xdotool key --window "$window" Tab space

for _ in $(seq 300); do
  log_lines | grep -q '応答データを受信しました。' && break
  sleep 0.1
done
check "the peer received exactly the file's bytes" cmp -s "$work/payload.bin" "$work/received.bin"
check "the datagram came from the configured source port" grep -qx "$src_port" "$work/ports"
expected=$(printf '%s\n' "接続先:127.0.0.1 Ping OK" "20バイトのデータを送信しました。" "20バイトの応答データを受信しました。")
check "the log holds the check, the transmission and the answer in order" \
  test "$(log_lines | head -n 3)" = "$expected"
check "the program still runs" kill -0 "$pid"
if [ -n "$operator_ns" ]; then
  check "the program ran as nobody" test "$(awk '/^Uid:/ {print $3}' "/proc/$pid/status")" = 65534
  check "with no capability" test "$(awk '/^CapEff:/ {print $2}' "/proc/$pid/status")" = 0000000000000000
  check "the log belongs to the operator" test "$(stat -c %U "$app_dir/Log/Kiv_UdpSndLog.txt")" = nobody
fi

finish
