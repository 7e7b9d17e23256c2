#!/usr/bin/env bash
# ostrel-send running a test file's steps against ostrel-respond, both as an ordinary
# operator (lib.sh) on loopback: all steps answered as expected, a wrong answer with
# "on_fail" stop and next, a silent step and its retransmissions, "repeat" with --count,
# the JUnit report (also of a test file without steps), Ctrl-C during a step, and files or options that are refused.
# Usage: steps_test.sh path/to/ostrel-send (ostrel-respond is looked for beside it)
set -uo pipefail
exe=$(readlink -f "$1")
respond_exe=$(dirname "$exe")/ostrel-respond

source "$(dirname "$0")/lib.sh"
require_tools python3 iconv
[ -x "$respond_exe" ] || { echo "SKIP: no ostrel-respond beside $exe"; exit 77; }
setup_operator

port=$(free_port)
dir="$work/op"
mkdir -p "$dir/Config"
cp "$exe" "$dir/ostrel-send"
cp "$respond_exe" "$dir/ostrel-respond"
write_settings "$dir" "$(free_port)" "$port" 'SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=1\r\nPingRetry=3\r\nUdpAnsTimerInteval=20\r\nUdpAnsTimeOut=1000\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
# The device: AA 01 wakes it, DD n n is echoed (a counter), CC asks for a register it
# answers wrongly, BB is never answered.
cat >"$dir/device.rules.json" <<'JSON'
{ "ostrel_responder": 1, "default": "silent",
  "rules": [
    { "when": { "pattern": "AA 01" }, "answer": { "hex": "AA 81" } },
    { "when": { "pattern": "DD ?? ??" }, "answer": { "hex": "DD ?? ??" } },
    { "when": { "pattern": "CC *" }, "answer": { "hex": "CC 00 00" } },
    { "when": { "pattern": "BB *" }, "answer": null } ] }
JSON
printf '\xDD\x00\x00' >"$dir/count.bin"
# steps_file NAME THIRD_STEP [ON_FAIL_OF_THE_SECOND] [REPEAT]: wake, a counted request read
# from a file, and THIRD_STEP.
steps_file() {
  cat >"$dir/$1.json" <<JSON
{ "ostrel_test": 1, "name": "$1", "repeat": ${4:-1},
  "steps": [
    { "name": "wake", "payload": {"hex": "AA 01"}, "expect": {"pattern": "AA 81"}, "wait_ms": 10 },
    $2,
    { "name": "count", "payload": {"file": "count.bin"},
      "fields": [{"kind": "counter", "at": 1, "width": 2, "start": 1}],
      "expect": {"pattern": "DD 00 ??"} } ] }
JSON
}
steps_file good '{ "name": "again <&\">", "payload": {"hex": "AA 01"}, "expect": {"pattern": "AA 81"} }'
steps_file stop '{ "name": "read", "payload": {"hex": "CC 01"}, "expect": {"pattern": "CC 01 *"} }'
steps_file next '{ "name": "read", "payload": {"hex": "CC 01"}, "expect": {"pattern": "CC 01 *"}, "on_fail": "next" }'
steps_file silent '{ "name": "silent", "payload": {"hex": "BB"}, "timeout_ms": 100, "retries": 3 }'
steps_file repeat '{ "name": "again", "payload": {"hex": "AA 01"} }' stop 2
steps_file slow '{ "name": "slow", "payload": {"hex": "BB 01"}, "timeout_ms": 1500, "retries": 1 }'
cat >"$dir/bad.json" <<'JSON'
{ "ostrel_test": 1, "steps": [ { "payload": {"hex": "AA 01"} },
  { "payload": {"hex": "AA 01"}, "timeout_ms": -5 } ] }
JSON
echo '{ "ostrel_test": 1, "payload": {"hex": "AA 01"}, "expect": {"pattern": "AA 81"} }' >"$dir/plain.json"
give_to_operator "$dir"
(run_as_operator "$dir" ostrel-respond --rules device.rules.json --port "$port" >"$work/respond.out" 2>"$work/respond.err") &
pids+=($!)
for _ in $(seq 100); do grep -q 'で待ち受けています' "$work/respond.err" 2>/dev/null && break; sleep 0.05; done

# run NAME ARGUMENTS...: ostrel-send --test NAME.json as the operator, its output in
# $work/NAME.out; its exit status.
run() {
  local name=$1
  shift
  (run_as_operator "$dir" ostrel-send --test "$name.json" "$@" >"$work/$name.out" 2>&1)
}
# junit NAME TESTS FAILURES SKIPPED SUITES: the report's counts, each suite's sum, times and
# the parts each test case has.
junit() {
  python3 - "$dir/$1.xml" "$2" "$3" "$4" "$5" <<'PY'
import sys, xml.etree.ElementTree as ET
path, tests, failures, skipped, suites = sys.argv[1], *map(int, sys.argv[2:])
root = ET.parse(path).getroot()
assert root.tag == "testsuites", root.tag
count = lambda e, k: int(e.get(k))
assert (count(root, "tests"), count(root, "failures"), count(root, "skipped"), count(root, "errors")) == (tests, failures, skipped, 0), root.attrib
assert len(root.findall("testsuite")) == suites
for suite in root.findall("testsuite"):
    cases = suite.findall("testcase")
    assert count(suite, "tests") == len(cases)
    assert count(suite, "failures") == sum(1 for c in cases if c.find("failure") is not None)
    assert count(suite, "skipped") == sum(1 for c in cases if c.find("skipped") is not None)
    assert float(suite.get("time")) >= sum(float(c.get("time")) for c in cases) - 0.01
    assert suite.get("timestamp") and suite.get("hostname") and suite.get("name")
    for case in cases:
        assert case.get("name") and case.get("classname") and float(case.get("time")) >= 0
        for failure in case.findall("failure"):
            assert failure.get("message") and failure.get("type"), failure.attrib
        if case.find("skipped") is None:
            out = case.find("system-out").text
            assert out.startswith("sent: ") and "\nanswer: " in out, out
PY
}
steps_of() { grep -c '^step ' "$work/$1.out"; }

# 1. Every step answered as expected.
run good --junit good.xml --pcap good.pcapng; rc=$?
check "all steps 一致: exit 0 (rc $rc)" test "$rc" -eq 0
if command -v tshark >/dev/null; then
  check "--pcap: each step's request and its answer, the answer noted 一致" bash -c \
    '[ "$(tshark -r "$1" -Y udp -T fields -e frame.comment 2>/dev/null | grep -c "判定:一致")" -eq 3 ] &&
     [ "$(tshark -r "$1" -Y udp 2>/dev/null | wc -l)" -eq 6 ]' _ "$dir/good.pcapng"
else
  echo "skip - --pcap with steps: tshark is missing (apt-get install tshark)"
fi
check "one line per step, each a match" test "$(grep -c '^step .*verdict=match' "$work/good.out")" -eq 3
check "the lines name the steps" grep -q '^step 3 "count" (run 1, repeat 1): answered sent=3 answer=3 rtt=[0-9.]*ms transmissions=1 verdict=match$' "$work/good.out"
check "the JUnit report: 3 tests, no failure" junit good 3 0 0 1
check "a step name with XML's special characters reads back" python3 -c 'import sys, xml.etree.ElementTree as ET; assert ET.parse(sys.argv[1]).getroot().findall(".//testcase")[1].get("name") == "2 again <&\">"' "$dir/good.xml"
check "its test case holds the bytes sent and received" grep -q 'sent: DD 00 01&#10;answer: DD 00 01' "$dir/good.xml"
run good --json; rc=$?
check "--json: one step object each and the summary (rc $rc)" python3 - "$work/good.out" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1])]
assert [l["type"] for l in lines] == ["step"] * 3 + ["summary"], lines
assert [l["name"] for l in lines[:3]] == ["wake", 'again <&">', "count"]
assert all(l["verdict"] == "match" for l in lines[:3]) and lines[3]["verdicts"]["match"] == 3
PY

# 2. A wrong answer: "stop" ends the run there, "next" goes on; both exit 4.
run stop --junit stop.xml; rc=$?
check "on_fail stop: exit 4 (rc $rc)" test "$rc" -eq 4
check "on_fail stop: the third step is not run" test "$(steps_of stop)" -eq 2
check "the mismatch and its offset are printed" grep -q '^step 2 "read" .*verdict=mismatch mismatch_at=1$' "$work/stop.out"
check "the JUnit report: a failure, the step not reached skipped" junit stop 3 1 1 1
check "the failure names the verdict and the offset" grep -q '<failure message="不一致 (mismatch) at 1" type="mismatch">' "$dir/stop.xml"
# The report as a CI server's reader takes it (Debian's python3-junitparser, which only the
# system's python3 sees).
if /usr/bin/python3 -c 'import junitparser' 2>/dev/null; then
  check "junitparser reads the report: the failure and the skipped step" /usr/bin/python3 - "$dir/stop.xml" <<'PY'
import sys, junitparser
suites = list(junitparser.JUnitXml.fromfile(sys.argv[1]))
assert [(s.tests, s.failures, s.errors, s.skipped) for s in suites] == [(3, 1, 0, 1)], suites
kinds = [[type(r).__name__ for r in case.result] for case in suites[0]]
assert kinds == [[], ["Failure"], ["Skipped"]], kinds
assert list(suites[0])[1].result[0].type == "mismatch"
PY
else
  echo "skip - python3-junitparser is not installed (scripts/setup.sh installs it)"
fi
run next; rc=$?
check "on_fail next: exit 4 (rc $rc)" test "$rc" -eq 4
check "on_fail next: every step is run" test "$(steps_of next)" -eq 3

# 3. A silent step: its three transmissions, 100 ms apart, logged as a cycle's; exit 1.
log_before=$(log_messages "$dir" | wc -l)
run silent --junit silent.xml; rc=$?
check "a silent step: exit 1 (rc $rc)" test "$rc" -eq 1
check "it is sent three times and has no answer" grep -q '^step 2 "silent" .*: unanswered sent=1 answer=- rtt=- transmissions=3 verdict=no-answer$' "$work/silent.out"
check "the log has the cycle's retransmission lines" bash -c '[ "$(echo "$1" | tail -n +$(($2 + 1)) | grep -E "^(1バイトのデータを送信しました。|リトライ開始\([12]\)\(送信時\)|リトライオーバー\(送信時\)|判定:応答なし)$")" = "$(printf "%s\n" 1バイトのデータを送信しました。 "リトライ開始(1)(送信時)" 1バイトのデータを送信しました。 "リトライ開始(2)(送信時)" 1バイトのデータを送信しました。 "リトライオーバー(送信時)" 判定:応答なし)" ]' _ "$(log_messages "$dir")" "$log_before"
check "reachability is checked once per run" test "$(log_messages "$dir" | tail -n +$((log_before + 1)) | grep -c 'Ping OK')" -eq 1
check "the JUnit report: the silent step fails, its time covers the three waits" python3 - "$dir/silent.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
case = ET.parse(sys.argv[1]).getroot().findall(".//testcase")[1]
assert case.find("failure").get("type") == "no-answer" and float(case.get("time")) >= 0.3, case.attrib
PY

# 4. repeat 2, --count 2: four passes, the counter going on across them.
run repeat --count 2 --interval 0 --junit repeat.xml; rc=$?
check "repeat with --count: exit 0 (rc $rc)" test "$rc" -eq 0
check "twelve steps" test "$(steps_of repeat)" -eq 12
check "the JUnit report: a test suite per run, six cases each" junit repeat 12 0 0 2
check "the counter counts the step's cycles: 1 to 4" bash -c '[ "$(grep -o "sent: DD 00 0[0-9]" "$1" | tr "\n" " ")" = "sent: DD 00 01 sent: DD 00 02 sent: DD 00 03 sent: DD 00 04 " ]' _ "$dir/repeat.xml"

# A test file without steps: a test suite per cycle, its one case named "1".
run plain --count 2 --interval 0 --junit plain.xml; rc=$?
check "--junit without steps: exit 0 (rc $rc), a suite per cycle" eval 'test "$rc" -eq 0 && junit plain 2 0 0 2'

# 5. Ctrl-C during a step: the run ends after it.
(run_as_operator "$dir" ostrel-send --test slow.json >"$work/slow.out" 2>&1) &
send_pid=$!
for _ in $(seq 100); do grep -q '^step 1 ' "$work/slow.out" 2>/dev/null && break; sleep 0.05; done
sleep 0.3
kill -INT "$send_pid"  # the subshell became ostrel-send (exec)
wait "$send_pid"; rc=$?
check "Ctrl-C: the running step ends, the next is not run (rc $rc)" test "$(steps_of slow)" -eq 2
check "the summary says the run was interrupted" grep -q '(interrupted)' "$work/slow.out"

# 6. Refused: a bad step value, an option that would replace a step's part.
log_before=$(log_messages "$dir" | grep -c 'を送信しました')
run bad; rc=$?
check "a bad step value: exit 2 (rc $rc)" test "$rc" -eq 2
check "the message names the step's key" grep -q '"steps\[1\].timeout_ms" の値 -5' "$work/bad.out"
run good --hex "01"; rc=$?
check "--hex with steps: exit 2 (rc $rc)" test "$rc" -eq 2
check "nothing was sent for refused runs" test "$(log_messages "$dir" | grep -c 'を送信しました')" -eq "$log_before"

finish
