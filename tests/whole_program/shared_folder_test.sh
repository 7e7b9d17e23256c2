#!/usr/bin/env bash
# The shared program folder and its log, from outside:
#   A. Two ordinary users in one group on a program folder laid out as the package lays it
#      out (root:group, Config, Log and Temp 2775, the programs 0754, no capability). One
#      puts a link to the other's file in place of the log, then a FIFO, then a link in
#      place of the settings file; the other's ostrel-send run and save in 通信設定 leave
#      that file byte for byte as it was, and nothing blocks. (root)
#   B. ostrel-send with a log it cannot write (a read-only Log folder of another owner, a
#      read-only log, Log a plain file): exit 3 with the path and the reason, nothing sent.
#      `| head -1`: exit 3, and the answer file is written.
#   C. Six ostrel-send runs at once on one log at its size limit, 20 times: every run exits
#      0, and every generation exists once.
#   D. A full small tmpfs as Log: lines that do not fit are cut off whole (exit 3), and
#      once there is room every line ends in CR LF. (root)
# Usage: shared_folder_test.sh path/to/ostrel-send (the window program `ostrel` beside it)
set -uo pipefail
exe=$(readlink -f "$1")
window_exe=$(dirname "$exe")/ostrel

# OSTREL_SHARED_PARTS="A C" runs only those parts.
parts=" ${OSTREL_SHARED_PARTS:-A B C D} "
part() { [[ "$parts" == *" $1 "* ]]; }
source "$(dirname "$0")/lib.sh"
require_tools iconv python3
cleanup_mounts() {
  grep -o " $work/[^ ]*" /proc/self/mounts 2>/dev/null | sort -r | while read -r m; do umount -l "$m"; done
}
trap 'end_processes KILL; cleanup_mounts; cleanup' EXIT
setup_operator
ini_name=Kiv_UdpSendSetting.ini
log_name=Kiv_UdpSndLog.txt
maintenance='SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\nPingRetry=3\r\nUdpAnsTimerInteval=50\r\nUdpAnsTimeOut=1000\r\n'

# An echo peer on loopback, in the operators' network.
echo_port=$(free_port)
start_in_operator_net python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", int(sys.argv[1])))
while True:
    data, sender = s.recvfrom(65536)
    s.sendto(data, sender)' "$echo_port"
# A peer that only counts the datagrams, one line each in $record.
record="$work/sent.rec"
start_in_operator_net python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
open(sys.argv[1], "w").close()
open(sys.argv[2], "w").write("%d\n" % s.getsockname()[1])
while True:
    s.recvfrom(65536)
    with open(sys.argv[1], "a") as f:
        f.write("x\n")' "$record" "$work/count.port"
for _ in $(seq 50); do [ -s "$work/count.port" ] && break; sleep 0.1; done
count_port=$(cat "$work/count.port")
sent() { wc -l <"$record" | tr -d ' '; }

# operator_folder NAME SRC_PORT DEST_PORT [MAINTENANCE]: a program folder of the operator's.
operator_folder() {
  local dir="$work/$1"
  mkdir -p "$dir/Config"
  cp "$exe" "$dir/ostrel-send"
  write_settings "$dir" "$2" "$3" "$maintenance${4:-LogMaxSize=3\r\nLogGenerations=10\r\n}"
  give_to_operator "$dir"
  echo "$dir"
}
is_root() { [ "$(id -u)" -eq 0 ]; }

if ! part A; then
  :
elif ! is_root; then
  echo "skip - A: two users and a group of their own need root"
elif ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null || ! command -v setpriv >/dev/null; then
  echo "skip - A: Xvfb, xdotool and setpriv are needed"
else
  echo "# A. Two members of the group, one turning the shared folder against the other"
  gid=61000 uid_a=61001 uid_b=61002
  pkg="$work/opt"
  mkdir -p "$pkg/Config" "$pkg/Log" "$pkg/Temp"
  cp "$window_exe" "$exe" "$pkg/"
  write_settings "$pkg" "$(free_port)" "$echo_port" "${maintenance}LogMaxSize=3\r\nLogGenerations=10\r\n"
  chown root:$gid "$pkg/ostrel" "$pkg/ostrel-send" "$pkg/Config" "$pkg/Log" "$pkg/Temp" "$pkg/Config/$ini_name"
  chmod 0754 "$pkg/ostrel" "$pkg/ostrel-send"
  chmod 2775 "$pkg/Config" "$pkg/Log" "$pkg/Temp"
  chmod 0664 "$pkg/Config/$ini_name"
  for uid in $uid_a $uid_b; do mkdir -m 0700 "$work/home-$uid" && chown $uid:$gid "$work/home-$uid"; done
  home_b="$work/home-$uid_b"
  printf 'export PATH\n' >"$home_b/.profile"
  cp "$pkg/Config/$ini_name" "$home_b/mine.ini"
  chown $uid_b:$gid "$home_b/.profile" "$home_b/mine.ini"
  cp "$home_b/.profile" "$work/profile.before"
  cp "$home_b/mine.ini" "$work/mine.before"
  # as_member UID COMMAND...: runs COMMAND in the program folder as that member (umask 022,
  # only the group, no capabilities), in the operators' network; replaces the shell.
  as_member() {
    local uid=$1; shift
    umask 022
    cd "$pkg" || exit 126
    exec ip netns exec "$operator_ns" setpriv --reuid="$uid" --regid=$gid --groups=$gid \
      --inh-caps=-all env -i HOME="$work/home-$uid" PATH=/usr/bin:/bin DISPLAY="${DISPLAY:-}" \
      QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$@"
  }
  log="$pkg/Log/$log_name"
  (as_member $uid_a ./ostrel-send --hex 01 >"$work/a1.out" 2>&1); rc=$?
  check "member A's run on the shared folder exits 0 (rc $rc)" test "$rc" -eq 0
  check "A's log is the group's to append to" test "$(stat -c '%u:%g %a' "$log")" = "$uid_a:$gid 664"

  (as_member $uid_a sh -c "rm -f Log/$log_name && ln -s '$home_b/.profile' Log/$log_name") &&
    (as_member $uid_b timeout 30 ./ostrel-send --hex 01 >"$work/b1.out" 2>"$work/b1.err"); rc=$?
  check "B's run with a link in the log's place exits 3 (rc $rc)" test "$rc" -eq 3
  check "it names the log and the reason" grep -qF "操作ログ $pkg/Log/$log_name に書き込めません: " "$work/b1.err"
  check "B's .profile is unchanged" cmp -s "$home_b/.profile" "$work/profile.before"

  (as_member $uid_a sh -c "rm -f Log/$log_name && mkfifo -m 0666 Log/$log_name") &&
    (as_member $uid_b timeout 30 ./ostrel-send --hex 01 >"$work/b2.out" 2>"$work/b2.err"); rc=$?
  check "B's run with a FIFO in the log's place exits 3 at once (rc $rc)" test "$rc" -eq 3

  # The settings file a link to B's own: B's window reads nothing through it (its messages
  # answered), opens the dialog, and the save there is refused; the link and B's file stay
  # as they are.
  (as_member $uid_a sh -c "rm -f Log/$log_name Config/$ini_name && ln -s '$home_b/mine.ini' Config/$ini_name")
  start_xvfb
  as_member $uid_b ./ostrel >"$work/b-window.out" 2>&1 &
  pid=$!; pids+=($pid)
  dialog_after_boxes() {
    for _ in $(seq 10); do
      window_named "$1" "通信設定" && return 0
      answer_box "$1" 100 || return 1
    done
    return 1
  }
  if dialog=$(dialog_after_boxes "$pid"); then
    xdotool windowfocus --sync "$dialog"
    xdotool key --window "$dialog" ctrl+a; xdotool type --window "$dialog" --delay 1 40001
    xdotool key --window "$dialog" Tab ctrl+a; xdotool type --window "$dialog" --delay 1 127.0.0.1
    xdotool key --window "$dialog" Tab ctrl+a; xdotool type --window "$dialog" --delay 1 "$echo_port"
    xdotool key --window "$dialog" Tab ctrl+a; xdotool type --window "$dialog" --delay 1 2000
    xdotool key --window "$dialog" Tab Down Tab space
    # The message box first ("設定ファイルに書き込めませんでした。"), then its log line.
    answer_box "$pid" 100
    check "B's save is refused with the settings write's failure" \
      wait_for_log "$pkg" '^書き込みできません。\(cmdApply_Click\)$' 100
    [ "$failures" -eq 0 ] || log_messages "$pkg" | sed 's/^/     log: /'
  else
    check "B's window opens the settings dialog" false
    sed 's/^/     window: /' "$work/b-window.out"
  fi
  kill "$pid" 2>/dev/null
  check "the link in the settings file's place is left as it is" \
    test "$(readlink "$pkg/Config/$ini_name")" = "$home_b/mine.ini"
  check "B's settings file is unchanged" cmp -s "$home_b/mine.ini" "$work/mine.before"
  check "B's .profile is still unchanged" cmp -s "$home_b/.profile" "$work/profile.before"
  check "no capability on the programs" test -z "$(getcap "$pkg/ostrel" "$pkg/ostrel-send" 2>/dev/null)"
fi

if part B; then
echo "# B. ostrel-send with a log it cannot write, and with its output closed"
# unwritable NAME PREPARE REASON: PREPARE (given the folder) spoils the log; the run must
# exit 3, say why, and send nothing.
unwritable() {
  local name=$1 prepare=$2 reason=$3 dir before rc
  dir=$(operator_folder "$name" "$(free_port)" "$count_port")
  "$prepare" "$dir"
  before=$(sent)
  (run_as_operator "$dir" ostrel-send --hex 01 >"$work/$name.out" 2>"$work/$name.err"); rc=$?
  check "$name: exit 3 (rc $rc)" test "$rc" -eq 3
  check "$name: the message names the log and '$reason'" \
    grep -qF "ostrel-send: 操作ログ $dir/Log/$log_name に書き込めません: $reason" "$work/$name.err"
  check "$name: nothing is sent" test "$(sent)" -eq "$before"
}
if is_root; then
  foreign_log_folder() { mkdir -m 0755 "$1/Log"; chown root:root "$1/Log"; }
else
  foreign_log_folder() { mkdir -m 0555 "$1/Log"; }
fi
read_only_log() { mkdir "$1/Log" && printf '' >"$1/Log/$log_name" && chmod 0444 "$1/Log/$log_name" && give_to_operator "$1"; }
log_a_file() { printf 'no folder\n' >"$1/Log" && give_to_operator "$1"; }
unwritable readonly_folder foreign_log_folder "書き込みできません。"
unwritable readonly_log read_only_log "書き込みできません。"
unwritable log_a_file log_a_file "パスが見つかりません。"
if [ -z "$operator_ns" ]; then chmod -R u+w "$work/readonly_folder" "$work/readonly_log"; fi

dir=$(operator_folder closed "$(free_port)" "$echo_port")
(run_as_operator "$dir" ostrel-send --hex "01 02" --count 3 --json --answer-out "$dir/a.bin" |
  head -n 1 >"$work/closed.out"; exit "${PIPESTATUS[0]}") 2>"$work/closed.err"; rc=$?
check "| head -1: exit 3, no SIGPIPE death (rc $rc)" test "$rc" -eq 3
check "| head -1: the answer file is written" test "$(od -An -tx1 "$dir/a.bin" 2>/dev/null | tr -d ' ')" = 0102
check "| head -1: the run ended before its third cycle" test "$(grep -c 'データを送信しました' <(log_messages "$dir"))" -eq 2
fi

if part C; then
echo "# C. Six runs at once on one log at its size limit, 20 times"
dir=$(operator_folder parallel "$(free_port)" "$echo_port" 'LogMaxSize=1\r\nLogGenerations=30\r\n')
mkdir "$dir/Log"
ports=()
for _ in 1 2 3 4 5 6; do ports+=("$(free_port)"); done
live="$dir/Log/$log_name"
failed_runs=0
for trial in $(seq 20); do
  # A marker line, then filler past 1 MiB: the live file that the trial's runs rotate.
  python3 -c 'import sys; open(sys.argv[1], "ab").write(b"trial %s\r\n" % sys.argv[2].encode() + (b"x" * 98 + b"\r\n") * 10486)' \
    "$live" "$trial"
  give_to_operator "$dir/Log"
  rm -f "$work"/parallel.rc.*
  runs=()
  for i in 0 1 2 3 4 5; do
    ( (run_as_operator "$dir" ostrel-send --hex 01 --src-port "${ports[i]}" >"$work/parallel.$i.out" 2>&1)
     echo $? >"$work/parallel.rc.$i") &
    runs+=($!)
  done
  wait "${runs[@]}"
  for i in 0 1 2 3 4 5; do
    [ "$(cat "$work/parallel.rc.$i" 2>/dev/null)" = 0 ] ||
      { failed_runs=$((failed_runs + 1)); echo "     trial $trial run $i: rc $(cat "$work/parallel.rc.$i"): $(cat "$work/parallel.$i.out")"; }
  done
done
check "all 120 runs exit 0 ($failed_runs did not)" test "$failed_runs" -eq 0
check "every generation exists once: .1 (trial 20) to .20 (trial 1), no .21" python3 - "$live" <<'EOF'
import os, re, sys
live = sys.argv[1]
for g in range(1, 21):
    markers = re.findall(rb"^trial (\d+)\r$", open(f"{live}.{g}", "rb").read(), re.M)
    assert markers == [str(21 - g).encode()], (g, markers)
assert not os.path.exists(f"{live}.21")
assert b"trial" not in open(live, "rb").read()
EOF
fi

if ! part D; then
  :
elif ! is_root; then
  echo "skip - D: mounting a small tmpfs as Log needs root"
else
  echo "# D. A full small tmpfs as Log"
  dir=$(operator_folder full "$(free_port)" "$echo_port")
  mkdir "$dir/Log"
  mount -t tmpfs -o size=64k,mode=0755,uid=65534,gid=65534 ostrel-full-log "$dir/Log"
  # A log 20 bytes short of a whole page, then a disk with no page left.
  python3 -c 'import sys
line = b"1001 00/01/01 00:00:00.0 host filler\r\n"
data = line * 106
data += b"1001 00/01/01 00:00:00.0 host " + b"x" * (4076 - len(data) - 32) + b"\r\n"
assert len(data) == 4076
open(sys.argv[1], "wb").write(data)' "$dir/Log/$log_name"
  chown 65534:65534 "$dir/Log/$log_name" 2>/dev/null
  dd if=/dev/zero of="$dir/Log/filler" bs=4k 2>/dev/null
  (run_as_operator "$dir" ostrel-send --hex 01 >"$work/full.out" 2>&1); rc=$?
  check "on the full disk the run exits 3 (rc $rc)" test "$rc" -eq 3
  check "the summary says lines were lost" grep -qE '^ Log: [0-9]+ lines could not be written$' "$work/full.out"
  check "the log still ends on a whole line" test "$(stat -c %s "$dir/Log/$log_name")" -eq 4076
  rm -f "$dir/Log/filler"
  (run_as_operator "$dir" ostrel-send --hex 01 >"$work/room.out" 2>&1); rc=$?
  check "with room again the run exits 0 (rc $rc)" test "$rc" -eq 0
  check "every line of the log is whole and ends in CR LF" python3 - "$dir/Log/$log_name" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
assert data.endswith(b"\r\n")
lines = data[:-2].split(b"\r\n")
assert all(l.startswith(b"1001 ") and b"\n" not in l and l.count(b"1001 ") == 1 for l in lines), lines[-5:]
assert len(lines) == 107 + 3, len(lines)
EOF
fi

finish
