#!/usr/bin/env bash
# Starts the built executable in temporary program folders under Xvfb and checks from
# outside: the first window shown, the folders created, the refused second copy and the
# log lines (decoded from code page 932).
# Usage: startup_test.sh path/to/ostrel
set -uo pipefail
exe=$(readlink -f "$1")

source "$(dirname "$0")/lib.sh"
require_tools Xvfb xdotool xdpyinfo iconv
start_xvfb
new_folder() { new_program_folder "$1" "$exe"; }
good_settings() {
  write_settings "$1" 50001 50000 'SendInterval=5\r\nSendIntervalUnit=1\r\nCommonSendRetry=3\r\nPingRetry=3\r\nUdpAnsTimerInteval=100\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
}

# 1. An empty folder: folders created, the settings dialog instead of the main window.
dir=$(new_folder empty)
(cd / && exec "$dir/ostrel") & pid=$!; pids+=($pid)
# The settings load reports the missing file first: the retry count, then the failure.
check "the first settings message is answered" answer_box "$pid"
check "the second settings message is answered" answer_box "$pid"
check "empty folder opens the settings dialog" wait_for_window "$pid" "通信設定" >/dev/null
check "empty folder: no main window" no_window_named "$pid" "Ostrel"
check "Config, Log and Temp are created beside the program" test -d "$dir/Config" -a -d "$dir/Log" -a -d "$dir/Temp"
check "the settings load failure is logged" grep -q '(ReadSetting)$' <(log_text "$dir")
kill "$pid"

# 2. A good settings file: the main window; a second copy is refused and empties Temp.
dir=$(new_folder good)
good_settings "$dir"
mkdir -p "$dir/Temp"; echo x >"$dir/Temp/old.bin"
(cd / && exec "$dir/ostrel") & pid=$!; pids+=($pid)
check "good settings open the main window" wait_for_window "$pid" "Ostrel" >/dev/null
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
check "a unit that is not numeric opens the settings dialog" wait_for_window "$pid" "通信設定" >/dev/null
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

finish
