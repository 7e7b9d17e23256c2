#!/usr/bin/env bash
# ostrel-send from outside, run as an ordinary operator (user "nobody", no groups, no
# capabilities, no XDG_RUNTIME_DIR) against loopback peers: answered cycles with the
# window's log lines and the answer file, a silent peer retried, a host that ignores
# ICMP, a held source port, bad options and settings, --json read by Python, Ctrl-C, and
# a test file judging a fixed answer.
# As root everything runs in a network namespace of the script's own, where
# ping_group_range is Debian's default "1 0"; otherwise as the current user on the
# machine's loopback.
# Usage: cli_test.sh path/to/ostrel-send
set -uo pipefail
exe=$(readlink -f "$1")

source "$(dirname "$0")/lib.sh"
require_tools socat iconv python3

# The operator (lib.sh): as root, user "nobody" in a network namespace of the script's own
# with Debian's default ping_group_range "1 0", so the check goes through the system's ping.
setup_operator

# A program folder of its own, owned by the operator, with settings for 127.0.0.1.
# operator_folder NAME SRC_PORT DEST_PORT: prints its path.
operator_folder() {
  local dir="$work/$1"
  mkdir -p "$dir/Config"
  cp "$exe" "$dir/ostrel-send"
  write_settings "$dir" "$2" "$3" 'SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\nPingRetry=3\r\nUdpAnsTimerInteval=50\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
  give_to_operator "$dir"
  echo "$dir"
}

# peer MODE PORT RECORD: a loopback peer that writes "source-port length" per datagram to
# RECORD; with MODE echo it sends each one back, with answer=HEX those bytes.
peer() {
  start_in_operator_net python3 -c '
import socket, sys
mode, port, record = sys.argv[1], int(sys.argv[2]), sys.argv[3]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", port))
open(record, "w").close()
while True:
    data, sender = s.recvfrom(65536)
    with open(record, "a") as f:
        f.write("%d %d\n" % (sender[1], len(data)))
    if mode == "echo":
        s.sendto(data, sender)
    elif mode.startswith("answer="):
        s.sendto(bytes.fromhex(mode[7:]), sender)
' "$@"
  for _ in $(seq 50); do [ -e "$3" ] && return 0; sleep 0.1; done
}
datagrams() { wc -l <"$1" | tr -d ' '; }

python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 9)' >"$work/payload.bin"
chmod 0644 "$work/payload.bin"
head -c 2048 "$work/payload.bin" >"$work/first2048.bin"
echo_port=$(free_port)
src_port=$(free_port)
peer echo "$echo_port" "$work/echo.rec"

# 1. Five answered cycles at the settings' period: five lines, a true summary, exit 0, the
# window's log lines, the answer's bytes, each datagram from the source port.
dir=$(operator_folder answered "$src_port" "$echo_port")
(run_as_operator "$dir" ostrel-send --data "$work/payload.bin" --count 5 \
  --answer-out "$dir/answer.bin" >"$work/answered.out" 2>"$work/answered.err"); rc=$?
check "five answered cycles exit 0 (rc $rc)" test "$rc" -eq 0
check "one line per answered cycle" \
  test "$(grep -cE '^cycle [1-5]: answered sent=2048 answer=2048 rtt=[0-9.]+ms transmissions=1$' "$work/answered.out")" -eq 5
check "the summary counts five of five" \
  grep -qx ' Cycles: 5 | Transmissions: 5 | Answered: 5 | Lost: 0 (0.00%)' "$work/answered.out"
check "the summary names the destination" \
  grep -qx "Statistics for 127.0.0.1 port $echo_port from port $src_port:" "$work/answered.out"
expected=$(for _ in 1 2 3 4 5; do
  printf '%s\n' "接続先:127.0.0.1 Ping OK" "2048バイトのデータを送信しました。" "2048バイトの応答データを受信しました。"
done)
check "the log holds the window's lines for each cycle" test "$(log_messages "$dir")" = "$expected"
check "the answer file holds the answer's bytes" cmp -s "$work/first2048.bin" "$dir/answer.bin"
check "the peer got five datagrams, each from the source port" \
  test "$(grep -c "^$src_port 2048$" "$work/echo.rec")" -eq 5
check "nothing on stderr" test ! -s "$work/answered.err"
[ -n "$operator_ns" ] && check "the log belongs to the operator" test "$(stat -c %U "$dir/Log/Kiv_UdpSndLog.txt")" = nobody

# 2. A silent peer, three transmissions: exit 1, the retry lines, three datagrams there.
silent_port=$(free_port)
peer silent "$silent_port" "$work/silent.rec"
dir=$(operator_folder silent "$(free_port)" "$silent_port")
(run_as_operator "$dir" ostrel-send --hex "01 02 0x03" --retries 3 --timeout 200 \
  >"$work/silent.out" 2>&1); rc=$?
check "a silent peer exits 1 (rc $rc)" test "$rc" -eq 1
check "the silent peer counted three transmissions" test "$(datagrams "$work/silent.rec")" -eq 3
check "the log has both retry lines and the retry-over line" test "$(log_messages "$dir" | grep -c -e '^リトライ開始([12])(送信時)$' -e '^リトライオーバー(送信時)$')" -eq 3
check "the cycle line says unanswered after three" \
  grep -qx 'cycle 1: unanswered sent=3 answer=- rtt=- transmissions=3' "$work/silent.out"

# 3. A host that ignores ICMP echo requests: exit 1, nothing sent.
if [ -n "$operator_ns" ]; then
  in_operator_net sysctl -qw net.ipv4.icmp_echo_ignore_all=1
  : >"$work/echo.rec"
  dir=$(operator_folder ignoring "$(free_port)" "$echo_port")
  (run_as_operator "$dir" ostrel-send --hex 01 --ping-retries 2 >"$work/ignoring.out" 2>&1); rc=$?
  in_operator_net sysctl -qw net.ipv4.icmp_echo_ignore_all=0
  check "a host ignoring ICMP exits 1 (rc $rc)" test "$rc" -eq 1
  check "it is reported unreachable" grep -q '^cycle 1: unreachable sent=0 ' "$work/ignoring.out"
  check "nothing was sent to it" test "$(datagrams "$work/echo.rec")" -eq 0
  check "the log has the retry and the no-answer line" test "$(log_messages "$dir")" = \
    "$(printf '%s\n' 'Ping無応答のためリトライします。' 'Pingに応答がありませんでした。')"
else
  echo "skip - a host that ignores ICMP needs a network namespace (root)"
fi

# 4. A source port held by another program: exit 3, the error in the log.
held_port=$(free_port)
start_in_operator_net python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("0.0.0.0", int(sys.argv[1])))
open(sys.argv[2], "w").close()
time.sleep(120)' "$held_port" "$work/held.ready"
for _ in $(seq 50); do [ -e "$work/held.ready" ] && break; sleep 0.1; done
dir=$(operator_folder held "$held_port" "$echo_port")
(run_as_operator "$dir" ostrel-send --hex 01 >"$work/held.out" 2>&1); rc=$?
check "a held source port exits 3 (rc $rc)" test "$rc" -eq 3
check "the error is logged under the send cycle's tag" grep -q '(SendUdpData)$' <(log_messages "$dir")
check "the cycle line says error" grep -q '^cycle 1: error ' "$work/held.out"

# 5. Bad options and unusable settings: exit 2 with the message, nothing sent or logged.
: >"$work/echo.rec"
dir=$(operator_folder bad "$(free_port)" "$echo_port")
(run_as_operator "$dir" ostrel-send --hex 01 --port 70000 >"$work/bad.out" 2>"$work/bad.err"); rc=$?
check "a port beyond 65535 exits 2 (rc $rc)" test "$rc" -eq 2
check "the message names the option and its range" \
  grep -qF 'ostrel-send: --port "70000": 送信先ポート番号が不正です。(0～65535)' "$work/bad.err"
(run_as_operator "$dir" ostrel-send --count 2 >/dev/null 2>"$work/nodata.err"); rc=$?
check "no payload exits 2 (rc $rc)" test "$rc" -eq 2
check "bad options leave no log" test ! -e "$dir/Log/Kiv_UdpSndLog.txt"
sed -i 's/^IPAddress=127.0.0.1/IPAddress=localhost/' "$dir/Config/Kiv_UdpSendSetting.ini"
(run_as_operator "$dir" ostrel-send --hex 01 >/dev/null 2>"$work/settings.err"); rc=$?
check "an unusable stored address exits 2 (rc $rc)" test "$rc" -eq 2
check "the message names the key" grep -qF '[IPAddress] IPAddress "localhost": 送信先IPアドレスが不正です。' "$work/settings.err"
check "nothing was sent for bad options or settings" test "$(datagrams "$work/echo.rec")" -eq 0

# 6. --json: one object per cycle and the summary, as Python reads them.
dir=$(operator_folder json "$(free_port)" "$echo_port")
(run_as_operator "$dir" ostrel-send --hex "DE AD BE EF" --count 2 --interval 2000 --json \
  >"$work/json.out" 2>&1); rc=$?
check "two answered cycles in JSON exit 0 (rc $rc)" test "$rc" -eq 0
check "Python reads every line as the objects described" python3 - "$work/json.out" <<'EOF'
import json, sys
objects = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert [o["type"] for o in objects] == ["cycle", "cycle", "summary"], objects
for number, o in enumerate(objects[:2], 1):
    assert o["cycle"] == number and o["outcome"] == "answered", o
    assert o["sent_bytes"] == 4 and o["answer_bytes"] == 4 and o["transmissions"] == 1, o
    assert isinstance(o["rtt_ms"], float) and o["rtt_ms"] >= 0, o
s = objects[2]
assert (s["cycles"], s["transmissions"], s["answered"], s["lost"]) == (2, 2, 2, 0), s
assert s["rtt_min_ms"] <= s["rtt_avg_ms"] <= s["rtt_max_ms"], s
assert s["destination"] == "127.0.0.1" and s["interrupted"] is False, s
EOF

# 7. Ctrl-C ends the run after the running cycle, with the summary.
dir=$(operator_folder interrupt "$(free_port)" "$echo_port")
run_as_operator "$dir" ostrel-send --hex 01 --count 0 >"$work/interrupt.out" 2>&1 &
pid=$!
pids+=($pid)
for _ in $(seq 100); do grep -q '^cycle 1: ' "$work/interrupt.out" && break; sleep 0.1; done
kill -INT "$pid"
wait "$pid"; rc=$?
check "an interrupted run of answered cycles exits 0 (rc $rc)" test "$rc" -eq 0
check "the summary says it was interrupted" grep -qE '^Statistics for .*\(interrupted\):$' "$work/interrupt.out"
check "one answered cycle before the interrupt" grep -qx ' Cycles: 1 | Transmissions: 1 | Answered: 1 | Lost: 0 (0.00%)' "$work/interrupt.out"

# 8. A test file against a peer that always answers 12 34 56: its payload file is sent, a
# right answer exits 0 with "match" in the JSON and "判定:一致" in the log; --expect
# replaces its pattern, and a wrong answer exits 4; a file that does not open exits 2.
fixed_port=$(free_port)
peer answer=123456 "$fixed_port" "$work/fixed.rec"
dir=$(operator_folder test "$(free_port)" "$fixed_port")
printf '\001\003\000\000' >"$dir/request.bin"
cat >"$dir/check.json" <<'EOF'
{"ostrel_test": 1, "name": "fixed answer",
 "payload": {"file": "request.bin"},
 "expect": {"pattern": "12 34 5?", "from": "address-and-port"}}
EOF
printf '{"ostrel_test": 2, "payload": {"hex": "01"}}' >"$dir/later.json"
give_to_operator "$dir"
(run_as_operator "$dir" ostrel-send --test check.json --json >"$work/test.out" 2>"$work/test.err"); rc=$?
check "a right answer to the test file exits 0 (rc $rc)" test "$rc" -eq 0
check "the payload file beside the test file was sent" grep -qE '^[0-9]+ 4$' "$work/fixed.rec"
check "the JSON has the verdict and the summary counts it" python3 - "$work/test.out" <<'EOF'
import json, sys
cycle, summary = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert cycle["verdict"] == "match" and "mismatch_at" not in cycle, cycle
assert summary["test"] == "fixed answer" and summary["verdicts"]["match"] == 1, summary
EOF
check "the verdict's log line follows the cycle's" test "$(log_messages "$dir" | tail -n 2)" = \
  "$(printf '%s\n' '3バイトの応答データを受信しました。' '判定:一致')"
(run_as_operator "$dir" ostrel-send --test check.json --expect "12 35 56 *" >"$work/wrong.out" 2>&1); rc=$?
check "a wrong answer exits 4 (rc $rc)" test "$rc" -eq 4
check "the cycle line names the differing byte" \
  grep -qE '^cycle 1: answered .* verdict=mismatch mismatch_at=1$' "$work/wrong.out"
check "so does the log" test "$(log_messages "$dir" | tail -n 1)" = '判定:不一致(0001)'
: >"$work/fixed.rec"
(run_as_operator "$dir" ostrel-send --test later.json >/dev/null 2>"$work/later.err"); rc=$?
check "a test file of a later version exits 2 (rc $rc)" test "$rc" -eq 2
check "the message names the version" \
  grep -qF 'ostrel-send: --test later.json: "ostrel_test" の値 2 は読めません' "$work/later.err"
check "nothing was sent for it" test "$(datagrams "$work/fixed.rec")" -eq 0

finish
