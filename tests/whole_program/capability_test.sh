#!/usr/bin/env bash
# The reachability check needs no root: a copy of the built executable with only the
# CAP_NET_RAW file capability, run as user "nobody" in a network namespace of its own
# where net.ipv4.ping_group_range is "1 0" (no unprivileged ICMP sockets), must get its
# echo reply from 127.0.0.1. A copy without the capability, run the same way, must not:
# that shows the capability, not some other privilege, made the difference.
# Runs as root only (setcap, namespaces); otherwise it is skipped.
# Usage: capability_test.sh path/to/ostrel
set -uo pipefail
exe=$(readlink -f "$1")
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root for setcap and a network namespace"; exit 77; fi
source "$(dirname "$0")/lib.sh"
require_tools Xvfb xdotool iconv setcap getcap setpriv unshare ip python3
# File capabilities are ignored under no_new_privs or outside the bounding set.
if [ "$(awk '/^NoNewPrivs:/ {print $2}' /proc/self/status)" != 0 ]; then
  echo "SKIP: no_new_privs is set, file capabilities would be ignored"; exit 77
fi
if ! capsh --has-b=cap_net_raw 2>/dev/null && [ $(( 0x$(awk '/^CapBnd:/ {print $2}' /proc/self/status) >> 13 & 1 )) -ne 1 ]; then
  echo "SKIP: cap_net_raw is not in the bounding set"; exit 77
fi
if ! unshare --net sh -c 'echo "1 0" >/proc/sys/net/ipv4/ping_group_range' 2>/dev/null; then
  echo "SKIP: cannot create a network namespace with its own ping_group_range"; exit 77
fi
chmod 0755 "$work"  # "nobody" must reach the program folders
start_xvfb

# A 20-byte file to send; the check runs before anything is sent.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(20)))' >"$work/payload.bin"
chmod 0644 "$work/payload.bin"

# prepare NAME: a program folder owned by "nobody" with settings for 127.0.0.1 and one
# check per cycle. The capability is set afterwards: a chown would clear it.
prepare() {
  local dir
  dir=$(new_program_folder "$1" "$exe")
  write_settings "$dir" 50001 50002 'SendInterval=600\r\nSendIntervalUnit=1\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=500\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
  mkdir -p "$dir/run"
  chown -R nobody:nogroup "$dir"
  echo "$dir"
}

# run_as_nobody DIR: starts DIR/ostrel as "nobody", with no supplementary groups, in a new
# network namespace whose loopback is up and which allows no ICMP datagram socket to
# anyone; sets `pid` to the program's process id.
run_as_nobody() {
  local dir=$1
  unshare --net bash -c '
    ip link set lo up || exit 1
    echo "1 0" >/proc/sys/net/ipv4/ping_group_range || exit 1
    cd "$1" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
      env HOME="$1/run" XDG_RUNTIME_DIR="$1/run" "$1/ostrel"' _ "$dir" \
    >"$work/$(basename "$dir").out" 2>&1 &
  # unshare, bash, setpriv and env each exec the next: the process id stays the program's.
  pid=$!
  pids+=($pid)
  for _ in $(seq 100); do
    [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$dir/ostrel" ] && break
    sleep 0.1
  done
}
# The effective user id of a process.
euid_of() { awk '/^Uid:/ {print $3}' "/proc/$1/status"; }

# send_once DIR PID: loads the file and presses "送信" with the keyboard, then waits for the
# check's verdict in the log; prints the log's messages.
send_once() {
  local dir=$1 pid=$2 window
  window=$(wait_for_window "$pid" "Ostrel") || { echo "(no main window)"; return; }
  xdotool windowfocus --sync "$window"
  xdotool key --window "$window" Tab Tab Tab
  xdotool type --window "$window" --delay 5 "$work/payload.bin"
  xdotool key --window "$window" Tab space
  sleep 0.5
  xdotool key --window "$window" Tab space
  for _ in $(seq 150); do
    log_messages "$dir" | grep -qE 'Ping OK$|^Pingに応答がありませんでした。$' && break
    sleep 0.1
  done
  log_messages "$dir"
}

# 1. Without the capability the check has no ICMP socket at all and fails.
plain=$(prepare plain)
run_as_nobody "$plain"
check "the copy without capability runs as nobody" test "$(euid_of "$pid")" = 65534
log=$(send_once "$plain" "$pid")
check "without CAP_NET_RAW the check fails" grep -qx 'Pingに応答がありませんでした。' <<<"$log"
check "without CAP_NET_RAW nothing is reported reachable" bash -c '! grep -q "Ping OK" <<<"$1"' _ "$log"
kill "$pid" 2>/dev/null

# 2. With only CAP_NET_RAW on the file the raw socket works.
capable=$(prepare capable)
if ! setcap cap_net_raw+ep "$capable/ostrel" 2>"$work/setcap.err"; then
  echo "SKIP: this file system keeps no file capabilities ($(cat "$work/setcap.err"))"
  exit 77
fi
check "the copy carries exactly cap_net_raw" bash -c 'getcap "$1" | grep -qE "cap_net_raw[=+]ep$"' _ "$capable/ostrel"
run_as_nobody "$capable"
check "the copy with capability runs as nobody" test "$(euid_of "$pid")" = 65534
check "it holds no capability beyond cap_net_raw" \
  test "$(awk '/^CapEff:/ {print $2}' "/proc/$pid/status")" = 0000000000002000
log=$(send_once "$capable" "$pid")
check "with CAP_NET_RAW the check reaches 127.0.0.1" grep -qx '接続先:127.0.0.1 Ping OK' <<<"$log"
check "then the datagram is sent" grep -qx '20バイトのデータを送信しました。' <<<"$log"
check "the program still runs" kill -0 "$pid"
kill "$pid" 2>/dev/null
[ "$failures" -eq 0 ] || { echo "--- log of the capable copy:"; echo "$log"; cat "$work/capable.out"; }

finish
