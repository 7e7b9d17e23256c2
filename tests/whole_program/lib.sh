# Shared pieces of the whole-program scripts: a private Xvfb display, free loopback ports,
# program folders and windows found by title. Source it after setting `work` (a temporary
# folder) and `pids` (an array of processes to end on exit).

# Starts Xvfb on a display it picks itself and exports DISPLAY for Qt's xcb platform.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "FAIL - Xvfb did not start"; exit 1; }
  export DISPLAY=:$(head -n 1 "$work/display") QT_QPA_PLATFORM=xcb
}

# A UDP port on loopback that is free right now.
free_port() {
  python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# new_program_folder NAME EXE: a program folder of its own with a copy of the executable
# (the running-copy lock is per executable path); prints its path.
new_program_folder() {
  local dir="$work/$1"
  mkdir -p "$dir/Config"
  cp "$2" "$dir/ostrel"
  echo "$dir"
}

# write_settings DIR SRC_PORT DEST_PORT MAINTENANCE: the settings file with destination
# 127.0.0.1 and the given [Maintenance] lines (each ending in \r\n).
write_settings() {
  printf '[IPAddress]\r\nIPAddress=127.0.0.1\r\n[Port]\r\nUdpSrcPort=%s\r\nUdpDestPort=%s\r\n[Maintenance]\r\n%b' \
    "$2" "$3" "$4" >"$1/Config/Kiv_UdpSendSetting.ini"
}

# The operation log's lines in UTF-8, without CR.
log_text() { iconv -f CP932 -t UTF-8 "$1/Log/Kiv_UdpSndLog.txt" 2>/dev/null | tr -d '\r'; }
# Only the messages (after code, date, time and host).
log_messages() { log_text "$1" | cut -d' ' -f5-; }

# window_named PID TITLE: prints the id of a visible window of that process with that title.
window_named() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    if [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$2" ]; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
no_window_named() { ! window_named "$@" >/dev/null; }
# wait_for_window PID TITLE: waits up to 10 s; prints the window id.
wait_for_window() {
  for _ in $(seq 100); do window_named "$1" "$2" && return 0; sleep 0.1; done
  return 1
}
