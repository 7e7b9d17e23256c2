# Shared pieces of the whole-program scripts: checks and their summary, a temporary folder
# and processes ended on exit, a private Xvfb display, free loopback ports, program folders,
# the operator who runs the program and the network the operator and the peers share, and
# windows found by title. Source it first.

# check WHAT COMMAND...: runs the command and prints "ok" or "FAIL" with WHAT.
failures=0
check() {
  local what=$1; shift
  if "$@"; then echo "ok   - $what"; else echo "FAIL - $what"; failures=$((failures + 1)); fi
}
# finish: the last line and the exit status. On a failure it also tells whether the
# display server still ran, and what it printed.
finish() {
  if [ "$failures" -ne 0 ] && [ -n "${xvfb_pid:-}" ]; then
    if kill -0 "$xvfb_pid" 2>/dev/null; then echo "     Xvfb (display $DISPLAY) still runs"
    else echo "     Xvfb (display $DISPLAY) had ended"; fi
    sed 's/^/     Xvfb: /' "$work/xvfb.log" 2>/dev/null | tail -n 20
  fi
  echo "$failures failed"
  [ "$failures" -eq 0 ]
}

# require_tools TOOL...: skips the script (exit status 77) when one is not installed.
require_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

# A temporary folder, and the processes started (their ids added to `pids`), ended on exit.
work=$(mktemp -d)
pids=()
# end_processes [SIGNAL]: ends them, the last started first, and waits for them.
end_processes() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -"${1:-TERM}" "${pids[i]}" 2>/dev/null; done
  wait "${pids[@]}" 2>/dev/null
}
cleanup() {
  end_processes
  [ -n "${operator_ns:-}" ] && ip netns del "$operator_ns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Starts Xvfb on a display it picks itself and exports DISPLAY for Qt's xcb platform.
# -noreset: by default the server resets when its last client leaves, and a program started
# in that moment (right after the previous one was killed) cannot connect to the display.
start_xvfb() {
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  pids+=("$xvfb_pid")
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

# --- The operator ---
# Our operators are ordinary users: no root, no capabilities, and Debian 12's default
# net.ipv4.ping_group_range "1 0", under which no ICMP datagram socket may be opened. The
# scripts that send run the program the same way:
#
# setup_operator: call once, before any peer or program starts. As root it makes a network
#   namespace of the script's own (only lo, up; ping_group_range "1 0"), removed on exit,
#   and the operator is user "nobody" with no supplementary groups and no capabilities
#   (not under no_new_privs, so the system's ping keeps its file capability). Otherwise
#   the operator is the current user on the machine's own network. Skips the script
#   (exit status 77, with the reason) when the operator could not check reachability.
# give_to_operator DIR: makes the operator the owner of a program folder (as root).
# run_as_operator DIR PROGRAM [ARGUMENTS...]: runs DIR/PROGRAM with the arguments as the
#   operator in the operator's network, from DIR, with HOME=DIR and no XDG_RUNTIME_DIR. It
#   replaces the shell it runs in: call it in a subshell, ( run_as_operator … ) for the exit
#   status, or with & for a process id that is the program's own.
# in_operator_net COMMAND...: runs a command (a peer, a sysctl, a look at /proc/net) in the
#   operator's network, as the script's user.
# start_in_operator_net COMMAND...: the same in the background; its process id (the
#   command's own) is added to `pids`.
# operator_command: the array run_as_operator puts before the program, for a script that
#   must wrap it (as capability_test.sh does).
operator_ns=""
operator_command=(env -u XDG_RUNTIME_DIR)
setup_operator() {
  if [ "$(id -u)" -eq 0 ]; then
    require_tools ip setpriv
    if [ "$(awk '/^NoNewPrivs:/ {print $2}' /proc/self/status)" != 0 ]; then
      echo "SKIP: no_new_privs is set, the operator's ping would lose its file capability"
      exit 77
    fi
    operator_ns="ostrel-operator-$$"
    ip netns add "$operator_ns" 2>/dev/null ||
      { operator_ns=""; echo "SKIP: cannot create a network namespace"; exit 77; }
    ip -n "$operator_ns" link set lo up &&
      ip netns exec "$operator_ns" sysctl -qw net.ipv4.ping_group_range="1 0" ||
      { echo "SKIP: cannot prepare the operator's network namespace"; exit 77; }
    chmod 0755 "$work"  # the operator must reach the program folders
    operator_command=(ip netns exec "$operator_ns" setpriv --reuid=nobody --regid=nogroup
      --clear-groups --inh-caps=-all env -u XDG_RUNTIME_DIR)
  fi
  operator_can_ping || {
    echo "SKIP: the operator has no way to check reachability (no ICMP socket, no working ping program)"
    exit 77
  }
}
give_to_operator() { [ -z "$operator_ns" ] || chown -R nobody:nogroup "$1"; }
run_as_operator() {
  local dir=$1 program=$2
  shift 2
  cd "$dir" || exit 126
  exec "${operator_command[@]}" HOME="$dir" "$dir/$program" "$@"
}
in_operator_net() {
  if [ -n "$operator_ns" ]; then ip netns exec "$operator_ns" "$@"; else "$@"; fi
}
start_in_operator_net() {
  (
    [ -n "$operator_ns" ] && exec ip netns exec "$operator_ns" "$@"
    exec "$@"
  ) &
  pids+=($!)
}
# operator_can_ping: true when the operator can ping 127.0.0.1 one of the program's ways:
# an ICMP datagram socket, a raw one, or the system's ping program.
operator_can_ping() {
  local ping
  "${operator_command[@]}" python3 -c 'import socket
try:
    socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_ICMP)
except OSError:
    socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)' 2>/dev/null && return 0
  for ping in /usr/bin/ping /bin/ping; do
    [ -f "$ping" ] && [ -x "$ping" ] || continue
    "${operator_command[@]}" "$ping" -n -q -c 1 -W 1 127.0.0.1 >/dev/null 2>&1
    return
  done
  return 1
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
# wait_for_window PID TITLE: waits up to 60 s (a first start on a busy machine, or under
# the sanitizers, can take long); prints the window id.
wait_for_window() {
  for _ in $(seq 600); do window_named "$1" "$2" && return 0; sleep 0.1; done
  return 1
}

# answer_box PID [TENTHS]: answers the message box the process shows (titled "Ostrel")
# with Enter (OK), again until that box is gone; waits up to TENTHS tenths of a second
# (default 600).
answer_box() {
  local id
  for _ in $(seq "${2:-600}"); do
    id=$(window_named "$1" "Ostrel") || { sleep 0.1; continue; }
    xdotool windowfocus --sync "$id" key --clearmodifiers Return 2>/dev/null
    sleep 0.3
    xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -qx "$id" || return 0
  done
  return 1
}

# --- Pieces of the load and fault scripts ---

# can_check_reachability: true when the program run as this user (root, for the root-only
# faults, or the operator) can check reachability.
can_check_reachability() { [ "$(id -u)" -eq 0 ] || operator_can_ping; }
# require_reachability_check: skips the script when it could not, so nothing is sent.
require_reachability_check() {
  can_check_reachability || {
    echo "SKIP: no way to check reachability (no ICMP socket, no working ping program)"
    exit 77
  }
}

# load_and_send WINDOW FILE: keyboard only, as in send_test.sh: names FILE in the
# file-name box, presses "入力", then "送信".
load_and_send() {
  xdotool windowfocus --sync "$1"
  xdotool key --window "$1" Tab Tab Tab
  xdotool type --window "$1" --delay 5 "$2"
  xdotool key --window "$1" Tab space
  sleep 0.5
  xdotool key --window "$1" Tab space
}

# wait_for_log DIR PATTERN TENTHS: waits until a log message matches (grep -E).
wait_for_log() {
  for _ in $(seq "$3"); do
    log_messages "$1" | grep -qE -- "$2" && return 0
    sleep 0.1
  done
  return 1
}

# Resident memory of a process in KiB.
vm_rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
# Scheduler state letter of a process (R, S, D, Z, T, …).
process_state() { awk '{ sub(/^.*\) /, ""); print $1 }' "/proc/$1/stat" 2>/dev/null; }

# udp_drops PORT: the kernel's count of datagrams dropped on the IPv4 UDP socket bound to
# that local port in the operator's network (the last column of /proc/net/udp); empty
# when there is none.
udp_drops() {
  in_operator_net awk -v port=":$(printf %04X "$1")" \
    'NR > 1 && substr($2, length($2) - 4) == port { print $NF; exit }' /proc/net/udp
}

# clock_shot WINDOW: a fingerprint of the main window's clock label ("現在時刻" of the send
# side) as the X server holds it now; it changes only when the program repaints the clock.
clock_shot() {
  import -window "$1" -crop 110x17+268+191 +repage gray:- 2>/dev/null | md5sum | cut -c1-32
}

# grid_shot WINDOW: a fingerprint of the data cells the main window's answer grid shows now.
grid_shot() {
  import -window "$1" -crop 560x140+58+455 +repage gray:- 2>/dev/null | md5sum | cut -c1-32
}

# True when the executable carries AddressSanitizer or UBSan: its memory figures are
# the sanitizer's, not the program's.
is_sanitized() { grep -qa -e __asan_init -e __ubsan_handle "$1"; }

# The interpreter behind python3, looked up once: a version manager's shim in front of it
# can cost half a second per start, and the load scripts start it often.
python3_path() { python3 -c 'import sys; print(sys.executable)'; }
