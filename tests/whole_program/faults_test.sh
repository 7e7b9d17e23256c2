#!/usr/bin/env bash
# Faults while the built program runs under Xvfb, checked from outside:
#   A. the Log folder made read-only, then removed, while periodic sending runs against a
#      socat echo peer: sending goes on, the lines are lost without a word, logging
#      resumes once the folder is usable again;
#   B. the settings dialog stores its values while the settings file cannot be written
#      (file read-only, Config mounted read-only, Config missing, Config on a full disk):
#      the error box, the failure logged under (cmdApply_Click), the dialog stays open,
#      the file unchanged byte for byte and no temporary file left beside it;
#   C. the program killed (SIGKILL) at random moments while the dialog stores five values:
#      the file is always one of the six versions the key-by-key writes pass through,
#      never a mix inside a version or a half-written file;
#   D. second copies started while the first sends: each refused with its log line,
#      Temp emptied, the first copy unaffected, every log line whole.
# Parts that mount file systems need root; they run in a mount namespace of their own
# (unshare -m), so nothing stays mounted, and are skipped with a note otherwise.
# Usage: faults_test.sh path/to/ostrel          (about 90 s)
#   OSTREL_FAULTS_KILLS  how many kills in part C (default 15)
#   OSTREL_FAULTS_PARTS  which parts to run (default "A B C D")
set -uo pipefail
exe=$(readlink -f "$1")
here=$(cd "$(dirname "$0")" && pwd)
is_root=0
[ "$(id -u)" -eq 0 ] && is_root=1
if [ "$is_root" -eq 1 ] && [ -z "${OSTREL_FAULTS_PRIVATE_MOUNTS:-}" ] && command -v unshare >/dev/null &&
  unshare -m --propagation private true 2>/dev/null; then
  OSTREL_FAULTS_PRIVATE_MOUNTS=1 exec unshare -m --propagation private bash "$0" "$@"
fi
can_mount=0
[ "$is_root" -eq 1 ] && [ -n "${OSTREL_FAULTS_PRIVATE_MOUNTS:-}" ] && can_mount=1
kills=${OSTREL_FAULTS_KILLS:-15}
parts=" ${OSTREL_FAULTS_PARTS:-A B C D} "
part() { [[ "$parts" == *" $1 "* ]]; }

source "$here/lib.sh"
require_tools Xvfb xdotool socat iconv python3
skip_part() { echo "skip - $1"; }
cleanup() {
  end_processes KILL
  if [ "$can_mount" -eq 1 ]; then
    grep -o " $work/[^ ]*" /proc/self/mounts | sort -r | while read -r m; do umount -l "$m"; done
  fi
  rm -rf "$work"
}
py=$(python3_path)
# Sending needs the reachability check, which needs an ICMP socket.
can_send=1
can_check_reachability || can_send=0
start_xvfb
peer_port=$(free_port)

# The peer: one line per datagram received, and the datagram echoed back.
socat -T 2 UDP4-RECVFROM:"$peer_port",bind=127.0.0.1,fork \
  SYSTEM:"echo \$SOCAT_PEERPORT >>'$work/received'; cat" &
pids+=($!)
touch "$work/received"
received() { wc -l <"$work/received"; }
"$py" -c 'import sys; sys.stdout.buffer.write(bytes(range(16)))' >"$work/payload.bin"
ini_name=Kiv_UdpSendSetting.ini
periodic='SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\nPingRetry=1\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
windows_named() {  # windows_named PID TITLE: how many visible windows of it have the title
  local id n=0
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$2" ] && n=$((n + 1))
  done
  echo "$n"
}
# wait_until TENTHS COMMAND...: polls the command every 0.1 s.
wait_until() {
  local tenths=$1; shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}
grew_by() { [ "$(received)" -ge "$1" ]; }
# Starts periodic sending in folder DIR: sets $pid and $window, waits for the first answer.
start_sending() {
  (cd "$work" && exec "$1/ostrel") & pid=$!; pids+=($pid)
  window=$(wait_for_window "$pid" "Ostrel") || { echo "FAIL - the main window did not appear"; exit 1; }
  load_and_send "$window" "$work/payload.bin"
  wait_for_log "$1" '^16バイトの応答データを受信しました。$' 100 ||
    { echo "FAIL - the first cycle was not answered"; log_messages "$1"; exit 1; }
}

# A settings file whose address is unusable: start-up opens the dialog at once.
bad_ip_settings() {
  write_settings "$1" 50001 50000 'SendInterval=5\r\nSendIntervalUnit=1\r\nCommonSendRetry=3\r\nPingRetry=3\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
  sed -i 's/^IPAddress=127.0.0.1/IPAddress=300.1.1.1/' "$1/Config/$ini_name"
}
box_shown() { window_named "$1" "Ostrel" >/dev/null; }

if part A && [ "$can_send" -eq 0 ]; then
  skip_part "A: no ICMP socket for the reachability check (not root, ping_group_range closed)"
elif part A; then
echo "# A. The Log folder read-only, then removed, while periodic sending runs"
dir=$(new_program_folder logfaults "$exe")
write_settings "$dir" "$(free_port)" "$peer_port" "$periodic"
mkdir -p "$dir/Log"
[ "$can_mount" -eq 1 ] && mount -t tmpfs -o size=1m ostrel-log "$dir/Log"
start_sending "$dir"
log="$dir/Log/Kiv_UdpSndLog.txt"

# Root writes through permissions: for root, only a read-only mount makes the folder so.
how=""
if [ "$can_mount" -eq 1 ]; then
  mount -o remount,ro "$dir/Log"; how="remounted read-only"
elif [ "$is_root" -eq 0 ]; then
  chmod 0444 "$log"; chmod 0555 "$dir/Log"; how="without write permission"
else
  skip_part "Log read-only: root needs a mount namespace (unshare -m) to mount a tmpfs"
fi
if [ -n "$how" ]; then
  size=$(stat -c %s "$log")
  before=$(received)
  sleep 6
  check "Log $how: sending goes on ($(( $(received) - before )) datagrams at the peer in 6 s)" \
    grew_by $((before + 2))
  check "Log $how: the lines are lost, the file is untouched" test "$(stat -c %s "$log")" -eq "$size"
  check "Log $how: the program runs, no message box" test "$(windows_named "$pid" Ostrel)" -eq 1
  if [ "$can_mount" -eq 1 ]; then
    mount -o remount,rw "$dir/Log"
  else
    chmod 0755 "$dir/Log"; chmod 0644 "$log"
  fi
  grown() { [ "$(stat -c %s "$log" 2>/dev/null || echo 0)" -gt "$1" ]; }
  check "Log writable again: logging resumes" wait_until 40 grown "$size"
fi

[ "$can_mount" -eq 1 ] && umount -l "$dir/Log"
rm -rf "$dir/Log"
before=$(received)
sleep 6
check "Log removed: sending goes on ($(( $(received) - before )) datagrams at the peer in 6 s)" \
  grew_by $((before + 2))
check "Log removed: the folder is not made again" test ! -e "$dir/Log"
check "Log removed: the program runs, no message box" test "$(windows_named "$pid" Ostrel)" -eq 1
mkdir "$dir/Log"
check "Log made again: logging resumes in a new file" \
  wait_for_log "$dir" '^16バイトのデータを送信しました。$' 40
kill "$pid"
fi

if part B; then
echo "# B. The settings dialog stores its values while the settings file cannot be written"
# apply_fails NAME PREPARE DESCRIPTION: opens the dialog, runs PREPARE (with the program
# folder as its argument), types a usable address and presses "設定", then checks the
# outcome; DESCRIPTION is the error text expected before "(cmdApply_Click)".
apply_fails() {
  local name=$1 prepare=$2 description=$3 dir dialog listing
  dir=$(new_program_folder "$name" "$exe")
  bad_ip_settings "$dir"
  if [ "$name" = full_disk ] || [ "$name" = readonly_mount ]; then
    # Config on a small file system of its own (two pages), the settings file inside.
    cp "$dir/Config/$ini_name" "$work/$name.ini"
    mount -t tmpfs -o size=8k "ostrel-$name" "$dir/Config"
    cp "$work/$name.ini" "$dir/Config/$ini_name"
  fi
  cp "$dir/Config/$ini_name" "$work/$name.before"
  (cd "$work" && exec "$dir/ostrel") & pid=$!; pids+=($pid)
  dialog=$(wait_for_window "$pid" "通信設定") || { echo "FAIL - $name: the dialog did not appear"; failures=$((failures + 1)); return; }
  "$prepare" "$dir"
  listing=$(ls -A "$dir/Config" 2>/dev/null | tr '\n' ' ')
  xdotool windowfocus --sync "$dialog"
  xdotool key --window "$dialog" Tab ctrl+a
  xdotool type --window "$dialog" --delay 5 127.0.0.1
  xdotool key --window "$dialog" Tab Tab Tab Tab space
  check "$name: a message box appears" wait_until 50 box_shown "$pid"
  answer_box "$pid" 50
  check "$name: the failure is logged as '$description(cmdApply_Click)'" \
    wait_for_log "$dir" "^${description}\\(cmdApply_Click\\)$" 30
  check "$name: the dialog stays open, no main window" \
    test "$(windows_named "$pid" 通信設定)" -eq 1 -a "$(windows_named "$pid" Ostrel)" -eq 0
  if [ -e "$dir/Config" ]; then
    check "$name: the settings file is unchanged" cmp -s "$dir/Config/$ini_name" "$work/$name.before"
    check "$name: nothing else is left in Config ($listing)" \
      test "$(ls -A "$dir/Config" | tr '\n' ' ')" = "$listing"
  else
    check "$name: Config is not made again" test ! -e "$dir/Config"
  fi
  kill "$pid"
}
make_file_read_only() { chmod 0444 "$1/Config/$ini_name"; }
remount_read_only() { mount -o remount,ro "$1/Config"; }
remove_config() { rm -rf "$1/Config"; }
fill_disk() { dd if=/dev/zero of="$1/Config/filler" bs=1k count=64 2>/dev/null; sync; }
apply_fails readonly_file make_file_read_only "書き込みできません。"
apply_fails missing_config remove_config "パスが見つかりません。"
if [ "$can_mount" -eq 1 ]; then
  apply_fails readonly_mount remount_read_only "書き込みできません。"
  apply_fails full_disk fill_disk "ディスクの空き容量が不足しています。"
else
  skip_part "Config read-only by mount, and Config on a full disk: need root to mount a tmpfs"
fi
fi

if part C; then
echo "# C. The program killed while the dialog stores five values"
dir=$(new_program_folder killed "$exe")
bad_ip_settings "$dir"
ini="$dir/Config/$ini_name"
cp "$ini" "$work/killed.old"
# Stored key by key in this order (source port, address, destination port, period, unit).
"$py" - "$work/killed.old" "$work/killed.states" <<'EOF'
import sys
old = open(sys.argv[1], "rb").read()
changes = [(b"UdpSrcPort=50001", b"UdpSrcPort=40001"), (b"IPAddress=300.1.1.1", b"IPAddress=127.0.0.2"),
           (b"UdpDestPort=50000", b"UdpDestPort=40000"), (b"SendInterval=5\r", b"SendInterval=7\r"),
           (b"SendIntervalUnit=1", b"SendIntervalUnit=2")]
states = [old]
for a, b in changes:
    assert states[-1].count(a) == 1
    states.append(states[-1].replace(a, b))
open(sys.argv[2], "wb").write(b"\0".join(states))
EOF
# Which of the six versions the file is (0: old … 5: new), or "mix".
version() {
  "$py" - "$ini" "$work/killed.states" <<'EOF'
import sys
try:
    now = open(sys.argv[1], "rb").read()
except OSError:
    print("missing")
    sys.exit()
states = open(sys.argv[2], "rb").read().split(b"\0")
print(states.index(now) if now in states else "mix")
EOF
}
# open_and_fill: starts the program on the old file and types the five new values, the
# focus left on "設定"; sets $pid and $dialog.
open_and_fill() {
  cp "$work/killed.old" "$ini"
  (cd "$work" && exec "$dir/ostrel") & pid=$!; pids+=($pid)
  disown "$pid"  # killed on purpose: no job notice
  dialog=$(wait_for_window "$pid" "通信設定") || return 1
  xdotool windowfocus --sync "$dialog"
  xdotool key --window "$dialog" ctrl+a; xdotool type --window "$dialog" --delay 1 40001
  xdotool key --window "$dialog" Tab ctrl+a; xdotool type --window "$dialog" --delay 1 127.0.0.2
  xdotool key --window "$dialog" Tab ctrl+a; xdotool type --window "$dialog" --delay 1 40000
  xdotool key --window "$dialog" Tab ctrl+a; xdotool type --window "$dialog" --delay 1 7
  xdotool key --window "$dialog" Tab Down Tab
  sleep 0.2
}
# Each kill is aimed by a watcher of the file: while write number w is under way (its
# temporary file exists) or just after it ended, w and the phase drawn at random. A kill
# that cuts a write short leaves its temporary file behind; the settings file must then
# still be one of the six versions.
outcomes=""
missed=0 cut_short=0
for i in $(seq "$kills"); do
  open_and_fill || { outcomes+=" nodialog"; kill -9 "$pid"; continue; }
  write=$((RANDOM % 5))
  phase=during; [ $((RANDOM % 3)) -eq 0 ] && phase=after
  rm -f "$work/watcher.ready"
  "$py" "$here/kill_during_write.py" "$ini" "$pid" "$work/killed.states" "$write" "$phase" \
    "$work/watcher.ready" >"$work/watcher" &
  watcher=$!
  wait_until 100 test -e "$work/watcher.ready"
  xdotool key --window "$dialog" space
  wait "$watcher"
  kill -9 "$pid" 2>/dev/null
  wait_until 50 test ! -e "/proc/$pid"
  outcomes+=" $(version)"
  grep -q '^missed' "$work/watcher" && missed=$((missed + 1))
  n=$(find "$dir/Config" -name ".$ini_name.*" | wc -l)
  [ "$n" -gt 0 ] && cut_short=$((cut_short + 1))
  find "$dir/Config" -name ".$ini_name.*" -delete
done
echo "     versions after each kill (0 old … 5 new):$outcomes; $cut_short writes cut short" \
  "(their temporary file left behind), $missed aimed kills missed"
check "the settings file is whole after every kill (never a mix)" \
  bash -c "! grep -qw -e mix -e nodialog <<<'$outcomes'"
check "the settings file is never missing after a kill" bash -c "! grep -qw missing <<<'$outcomes'"
check "kills cut writes short ($cut_short of $kills), so the window of a write was hit" \
  test "$cut_short" -ge $((kills / 5))
fi

if part D && [ "$can_send" -eq 0 ]; then
  skip_part "D: no ICMP socket for the reachability check (not root, ping_group_range closed)"
elif part D; then
echo "# D. Second copies started while the first sends"
dir=$(new_program_folder twice "$exe")
write_settings "$dir" "$(free_port)" "$peer_port" "$periodic"
start_sending "$dir"
echo old >"$dir/Temp/old.bin"; echo old >"$dir/Temp/notes.txt"
copies=10
for i in $(seq "$copies"); do
  ( timeout 20 "$dir/ostrel" >/dev/null 2>&1; echo $? >"$work/second.$i" ) &
done
wait_until 300 bash -c "[ \$(ls '$work'/second.* 2>/dev/null | wc -l) -eq $copies ]"
check "every second copy ends by itself with status 0" \
  test "$(cat "$work"/second.* | sort -u | tr '\n' ' ')" = "0 "
check "Temp is emptied" test -z "$(ls -A "$dir/Temp")"
before=$(received)
check "the first copy goes on sending" wait_until 50 grew_by $((before + 1))
check "the first copy still shows its window only" test "$(windows_named "$pid" Ostrel)" -eq 1
kill "$pid"
refusals=$(log_messages "$dir" | grep -cx '二重起動の為、起動を中止しました。')
check "each second copy logged its refusal ($refusals of $copies)" test "$refusals" -eq "$copies"
whole='^1001 [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9] '"$(hostname)"' (接続先:127\.0\.0\.1 Ping OK|16バイトのデータを送信しました。|16バイトの応答データを受信しました。|二重起動の為、起動を中止しました。)$'
check "every log line of both copies is whole" \
  test "$(log_text "$dir" | grep -cvE "$whole")" -eq 0
fi

finish
