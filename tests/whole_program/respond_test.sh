#!/usr/bin/env bash
# ostrel-respond from outside, with ostrel-send as its client, both run as an ordinary
# operator (lib.sh) on loopback: --echo, each sample device answering its request file
# (and its test file, where ostrel-send reads test files), the request lines, --count,
# a held port, bad arguments and rules, and SIGTERM.
# Usage: respond_test.sh path/to/ostrel-respond (ostrel-send is looked for beside it)
set -uo pipefail
exe=$(readlink -f "$1")
send_exe=$(dirname "$exe")/ostrel-send
samples=$(cd "$(dirname "$0")/../../samples" && pwd)

source "$(dirname "$0")/lib.sh"
require_tools python3 iconv
[ -x "$send_exe" ] || { echo "SKIP: no ostrel-send beside $exe"; exit 77; }
setup_operator

# A folder of the operator's own with both programs, the samples, and settings that send
# to 127.0.0.1:PORT. operator_folder NAME PORT: prints its path.
operator_folder() {
  local dir="$work/$1"
  mkdir -p "$dir/Config"
  cp "$exe" "$dir/ostrel-respond"
  cp "$send_exe" "$dir/ostrel-send"
  cp -r "$samples" "$dir/samples"
  write_settings "$dir" "$(free_port)" "$2" 'SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\nPingRetry=3\r\nUdpAnsTimerInteval=50\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
  give_to_operator "$dir"
  echo "$dir"
}
# respond DIR OUT ARGUMENTS...: starts ostrel-respond as the operator and waits until it
# listens (its first line on stderr, in OUT.err).
respond() {
  local dir=$1 out=$2
  shift 2
  (run_as_operator "$dir" ostrel-respond "$@" >"$out" 2>"$out.err") &
  responder_pid=$!
  pids+=("$responder_pid")
  for _ in $(seq 100); do grep -q 'で待ち受けています' "$out.err" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}
# send DIR ARGUMENTS...: one run of ostrel-send as the operator; its exit status.
send() {
  local dir=$1
  shift
  (run_as_operator "$dir" ostrel-send "$@" >>"$dir/send.out" 2>&1)
}
stop_responder() { kill -TERM "$responder_pid" 2>/dev/null; wait "$responder_pid"; }
hex_of() { od -An -tx1 -v "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'; }
has_test_option=false
"$send_exe" --help 2>/dev/null | grep -q -- '--test' && has_test_option=true

# 1. --echo answers ostrel-send's bytes with themselves; one line per request.
port=$(free_port)
dir=$(operator_folder echo "$port")
check "--echo starts" respond "$dir" "$work/echo.out" --echo --port "$port"
send "$dir" --hex "01 02 03" --answer-out "$dir/answer.bin"; rc=$?
check "ostrel-send is answered by --echo (rc $rc)" test "$rc" -eq 0
check "the answer is the request" test "$(hex_of "$dir/answer.bin")" = "01 02 03"
stop_responder; rc=$?
check "SIGTERM ends ostrel-respond with 0 (rc $rc)" test "$rc" -eq 0
check "one line for the request" grep -qE '^[0-9:.]{12} 127\.0\.0\.1:[0-9]+ 3 bytes default: echoed 3 bytes$' "$work/echo.out"

# 2. Each sample device answers its request file as its test file expects.
sample_run() {  # sample_run NAME RULES REQUEST EXPECTED_HEX [TEST]
  local port dir rc
  port=$(free_port)
  dir=$(operator_folder "$1" "$port")
  check "$1: ostrel-respond starts" respond "$dir" "$work/$1.out" --rules "samples/$2" --port "$port"
  send "$dir" --data "samples/$3" --answer-out "$dir/answer.bin"; rc=$?
  check "$1: ostrel-send --data samples/$3 is answered (rc $rc)" test "$rc" -eq 0
  check "$1: the answer is $4" test "$(hex_of "$dir/answer.bin" 2>/dev/null)" = "$4"
  if [ -n "${5:-}" ] && $has_test_option; then
    send "$dir" --test "samples/$5"; rc=$?
    check "$1: ostrel-send --test samples/$5 exits 0 (rc $rc)" test "$rc" -eq 0
    check "$1: the verdict is 一致 (match)" grep -q 'verdict=match' "$dir/send.out"
  elif [ -n "${5:-}" ]; then
    echo "skip - $1: this ostrel-send reads no test file (--test)"
  fi
  stop_responder
}
sample_run echo echo-device.rules.json echo-hello.bin "48 65 6c 6c 6f" echo-hello.test.json
sample_run modbus modbus-device.rules.json modbus-read-registers.bin "01 03 04 00 0a 00 0b 9b f6" \
  modbus-read-registers.test.json
sample_run numbered numbered-device.rules.json numbered-status.bin "a5 07 81 00 01" \
  numbered-status.test.json
check "the Modbus answer left after its 5 ms delay" grep -q 'rule 1: answered 9 bytes after 5 ms$' "$work/modbus.out"

# 3. --count ends the run after that many requests, delayed answers sent; --json lines.
port=$(free_port)
dir=$(operator_folder count "$port")
check "--count 2 starts" respond "$dir" "$work/count.out" --rules samples/numbered-device.rules.json \
  --port "$port" --count 2 --json
send "$dir" --data samples/numbered-status.bin --count 2 --interval 0 --answer-out "$dir/answer.bin"; rc=$?
check "two numbered cycles answered (rc $rc)" test "$rc" -eq 0
check "the second answer is numbered 2" test "$(hex_of "$dir/answer.bin")" = "a5 07 81 00 02"
wait "$responder_pid"; rc=$?
check "ostrel-respond ended by itself with 0 (rc $rc)" test "$rc" -eq 0
check "Python reads two request objects" python3 - "$work/count.out" <<'PY'
import json, sys
objects = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert [(o["type"], o["rule"], o["action"], o["bytes"], o["answer_bytes"]) for o in objects] == \
    [("request", 1, "answered", 3, 5)] * 2, objects
PY

# 4. A delayed rule holds no other request back, and its answers leave in their order.
port=$(free_port)
dir=$(operator_folder delay "$port")
printf '%s' '{"ostrel_responder": 1, "rules": [
  {"when": {"pattern": "B1 ??"}, "answer": {"hex": "?? ??"}, "delay_ms": 300},
  {"when": {"pattern": "A1 ??"}, "answer": {"hex": "?? ??"}}]}' >"$dir/delay.json"
chmod 0644 "$dir/delay.json"
check "a delaying responder starts" respond "$dir" "$work/delay.out" --rules delay.json --port "$port"
check "the undelayed answer comes first, the delayed ones in their order" in_operator_net python3 - "$port" <<'PY'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(5)
for request in ("B101", "B102", "B103", "A104"):
    s.sendto(bytes.fromhex(request), ("127.0.0.1", int(sys.argv[1])))
answers = [s.recv(100).hex().upper() for _ in range(4)]
assert answers == ["A104", "B101", "B102", "B103"], answers
PY
stop_responder

# 5. A port in use: exit 3. Bad arguments and rules: exit 2, naming the option or key.
port=$(free_port)
dir=$(operator_folder errors "$port")
respond "$dir" "$work/holder.out" --echo --port "$port"
(run_as_operator "$dir" ostrel-respond --echo --port "$port" >/dev/null 2>"$work/held.err"); rc=$?
check "a port in use exits 3 (rc $rc)" test "$rc" -eq 3
check "the message names the address" grep -q "127.0.0.1:$port で待ち受けられません" "$work/held.err"
stop_responder
(run_as_operator "$dir" ostrel-respond --port 0 --echo >/dev/null 2>"$work/badport.err"); rc=$?
check "--port 0 exits 2 (rc $rc)" test "$rc" -eq 2
printf '{"ostrel_responder": 1, "rules": [{"when": {"pattern": "01"}, "answer": {"hex": "zz"}}]}' >"$dir/bad.json"
chmod 0644 "$dir/bad.json"
(run_as_operator "$dir" ostrel-respond --rules bad.json >/dev/null 2>"$work/badrules.err"); rc=$?
check "bad rules exit 2 (rc $rc)" test "$rc" -eq 2
check "the message names the key path" grep -q 'rules\[0\]\.answer\.hex' "$work/badrules.err"

finish
