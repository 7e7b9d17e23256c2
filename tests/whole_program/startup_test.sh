#!/usr/bin/env bash
# Starts the built executable in temporary program folders under Xvfb and checks from
# outside: the first window shown, the folders created, the refused second copy and the
# log lines (decoded from code page 932).
# Usage: startup_test.sh path/to/ostrel
set -uo pipefail
exe=$(readlink -f "$1")
for tool in Xvfb xdotool xdpyinfo iconv; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

failures=0
check() {  # check "what" command...
  local what=$1; shift
  if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi
}

work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"; }
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL - Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n 1 "$work/display") QT_QPA_PLATFORM=xcb

# A program folder of its own for each case: the lock is per executable path.
new_folder() {
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$exe" "$dir/ostrel"
  echo "$dir"
}
log_text() { iconv -f CP932 -t UTF-8 "$1/Log/Kiv_UdpSndLog.txt" 2>/dev/null | tr -d '\r'; }
window_named() {  # window_named pid title: a visible window of that process with that title
  local id
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$2" ] && return 0
  done
  return 1
}
no_window_named() { ! window_named "$@"; }
wait_for_window() {
  for _ in $(seq 100); do window_named "$1" "$2" && return 0; sleep 0.1; done
  return 1
}
# Answers the message box that the process shows (titled "Ostrel") with Enter (OK).
answer_box() {
  local id
  for _ in $(seq 100); do
    for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
      if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "Ostrel" ]; then
        xdotool windowfocus --sync "$id" key --clearmodifiers Return 2>/dev/null
        sleep 0.3
        return 0
      fi
    done
    sleep 0.1
  done
  return 1
}
good_settings() {
  mkdir -p "$1/Config"
  printf '[IPAddress]\r\nIPAddress=127.0.0.1\r\n[Port]\r\nUdpSrcPort=50001\r\nUdpDestPort=50000\r\n[Maintenance]\r\nSendInterval=5\r\nSendIntervalUnit=1\r\nCommonSendRetry=3\r\nPingRetry=3\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n' \
    >"$1/Config/Kiv_UdpSendSetting.ini"
}

# 1. An empty folder: folders created, the settings dialog instead of the main window.
dir=$(new_folder empty)
(cd / && exec "$dir/ostrel") & pid=$!; pids+=($pid)
# The settings load reports the missing file first: the retry count, then the failure.
check "the first settings message is answered" answer_box "$pid"
check "the second settings message is answered" answer_box "$pid"
check "empty folder opens the settings dialog" wait_for_window "$pid" "通信設定"
check "empty folder: no main window" no_window_named "$pid" "Ostrel"
check "Config, Log and Temp are created beside the program" test -d "$dir/Config" -a -d "$dir/Log" -a -d "$dir/Temp"
check "the settings load failure is logged" grep -q '(ReadSetting)$' <(log_text "$dir")
kill "$pid"

# 2. A good settings file: the main window; a second copy is refused and empties Temp.
dir=$(new_folder good)
good_settings "$dir"
mkdir -p "$dir/Temp"; echo x >"$dir/Temp/old.bin"
(cd / && exec "$dir/ostrel") & pid=$!; pids+=($pid)
check "good settings open the main window" wait_for_window "$pid" "Ostrel"
check "Temp is emptied at start" test ! -e "$dir/Temp/old.bin"
echo y >"$dir/Temp/second.bin"
timeout 20 "$dir/ostrel"; rc=$?
check "the second copy ends by itself (rc $rc)" test "$rc" -eq 0
check "the second copy empties Temp before it refuses" test ! -e "$dir/Temp/second.bin"
check "the refusal is logged" grep -q ' 二重起動の為、起動を中止しました。$' <(log_text "$dir")
check "log lines have code, time stamp and host" \
  grep -qE "^1001 [0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9] $(hostname) " <(log_text "$dir")
check "log lines end in CR LF" bash -c "head -c 200 '$dir/Log/Kiv_UdpSndLog.txt' | grep -q \$'\r\$'"
check "the first copy still runs" kill -0 "$pid"
kill "$pid"

# 3. A broken settings file (unit not numeric): the dialog.
dir=$(new_folder broken)
good_settings "$dir"
sed -i 's/SendIntervalUnit=1/SendIntervalUnit=x/' "$dir/Config/Kiv_UdpSendSetting.ini"
(cd / && exec "$dir/ostrel") & pid=$!; pids+=($pid)
check "a unit that is not numeric opens the settings dialog" wait_for_window "$pid" "通信設定"
kill "$pid"

# 4. A program folder that cannot be written: no window, no trace, the process ends.
dir=$(new_folder readonly)
chmod 0555 "$dir"
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$dir"; run=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
  run=()
fi
timeout 20 "${run[@]}" "$dir/ostrel"; rc=$?
check "an unwritable program folder ends start-up (rc $rc)" test "$rc" -eq 0
check "an unwritable program folder leaves no trace" test ! -e "$dir/Log"

echo "$failures failed"
[ "$failures" -eq 0 ]
