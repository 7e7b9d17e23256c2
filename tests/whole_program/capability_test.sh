#!/usr/bin/env bash
# Each way of the reachability check, for an operator without root: user "nobody", no
# supplementary groups, in a network namespace of its own where net.ipv4.ping_group_range
# is "1 0" (no ICMP datagram socket for anyone), as on a stock Debian 12 machine.
#   1. A plain copy reaches 127.0.0.1 through the system's ping program, and sends.
#   2. The same copy with the ping program hidden (a mount namespace puts /dev/null over
#      it) has no way at all: the check fails and nothing is sent.
#   3. With ping_group_range widened to the operator's group, the same copy, ping program
#      still hidden and no capability held, reaches 127.0.0.1 through an ICMP datagram
#      socket, and sends. (The programs never get a file capability: a Qt program loads
#      plugins its user's environment names.)
# Runs as root only (namespaces, mounts); otherwise it is skipped.
# Usage: capability_test.sh path/to/ostrel
set -uo pipefail
exe=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root for namespaces and mounts"; exit 77; fi
source "$(dirname "$0")/lib.sh"
require_tools Xvfb xdotool iconv unshare mount python3
setup_operator
start_xvfb

# A 20-byte file to send; the check runs before anything is sent.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(20)))' >"$work/payload.bin"

# prepare NAME: a program folder owned by the operator with settings for 127.0.0.1 and one
# check per cycle.
prepare() {
  local dir
  dir=$(new_program_folder "$1" "$exe")
  write_settings "$dir" 50001 50002 'SendInterval=600\r\nSendIntervalUnit=1\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=500\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
  give_to_operator "$dir"
  echo "$dir"
}

# start DIR [hide-ping]: starts DIR/ostrel as the operator, with /usr/bin/ping and /bin/ping
# hidden when asked; sets `pid` to the program's process id.
start() {
  local dir=$1
  if [ "${2:-}" = hide-ping ]; then
    unshare --mount --propagation private sh -c '
      mount --bind /dev/null /usr/bin/ping || exit 1
      [ /bin/ping -ef /usr/bin/ping ] || [ ! -e /bin/ping ] || mount --bind /dev/null /bin/ping || exit 1
      cd "$1" && shift && exec "$@"' _ "$dir" "${operator_command[@]}" HOME="$dir" "$dir/ostrel" \
      >"$work/$(basename "$dir").out" 2>&1 &
  else
    run_as_operator "$dir" ostrel >"$work/$(basename "$dir").out" 2>&1 &
  fi
  # Every wrapper execs the next: the process id becomes the program's.
  pid=$!
  pids+=($pid)
  for _ in $(seq 100); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$dir/ostrel" ] && break
    sleep 0.1
  done
}
euid_of() { awk '/^Uid:/ {print $3}' "/proc/$1/status"; }
capabilities_of() { awk '/^CapEff:/ {print $2}' "/proc/$1/status"; }

# send_once DIR PID: loads the file and presses "送信", then waits for the check's verdict
# in the log; prints the log's messages.
send_once() {
  local window
  window=$(wait_for_window "$2" "Ostrel") || { echo "(no main window)"; return; }
  load_and_send "$window" "$work/payload.bin"
  wait_for_log "$1" 'Ping OK$|^Pingに応答がありませんでした。$' 150
  log_messages "$1"
}
reached_and_sent() {
  grep -qx '接続先:127.0.0.1 Ping OK' <<<"$1" && grep -qx '20バイトのデータを送信しました。' <<<"$1"
}
failed_unsent() {
  grep -qx 'Pingに応答がありませんでした。' <<<"$1" && ! grep -q 'Ping OK\|データを送信しました' <<<"$1"
}

# 1. The ping program.
plain=$(prepare plain)
start "$plain"
check "the plain copy runs as nobody without capabilities" \
  test "$(euid_of "$pid") $(capabilities_of "$pid")" = "65534 0000000000000000"
log=$(send_once "$plain" "$pid")
check "through the ping program the check reaches 127.0.0.1, then the datagram is sent" \
  reached_and_sent "$log"
kill "$pid" 2>/dev/null
[ "$failures" -eq 0 ] || { echo "--- log of the plain copy:"; echo "$log"; cat "$work/plain.out"; }

# 2. No way at all.
hidden=$(prepare hidden)
start "$hidden" hide-ping
check "the copy without a ping program runs as nobody" test "$(euid_of "$pid")" = 65534
log=$(send_once "$hidden" "$pid")
check "without ICMP socket or ping program the check fails and nothing is sent" failed_unsent "$log"
kill "$pid" 2>/dev/null

# 3. An ICMP datagram socket, where the administrator lets the operator's group.
in_operator_net sysctl -qw net.ipv4.ping_group_range="$(id -g nobody) $(id -g nobody)"
socket=$(prepare socket)
start "$socket" hide-ping
check "the copy runs as nobody without capabilities" \
  test "$(euid_of "$pid") $(capabilities_of "$pid")" = "65534 0000000000000000"
log=$(send_once "$socket" "$pid")
check "through an ICMP datagram socket the check reaches 127.0.0.1, then the datagram is sent" \
  reached_and_sent "$log"
check "the program still runs" kill -0 "$pid"
kill "$pid" 2>/dev/null
in_operator_net sysctl -qw net.ipv4.ping_group_range="1 0"
[ "$failures" -eq 0 ] || { echo "--- log of the socket copy:"; echo "$log"; cat "$work/socket.out"; }

finish
