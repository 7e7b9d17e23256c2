#!/usr/bin/env bash
# ostrel-send --pcap, read back with tshark and capinfos: a peer on loopback that lets the
# first transmission go unanswered, answers every later one with more bytes than the grid
# holds, and sends one more datagram after each answer. Every datagram sent and received is
# in the file whole, with the ports the kernel chose and the sender's, the right direction,
# checksums Wireshark accepts, and the notes (transmission, time-out, rtt, verdict).
# Usage: capture_test.sh path/to/ostrel-send
set -uo pipefail
exe=$(readlink -f "$1")

source "$(dirname "$0")/lib.sh"
require_tools tshark capinfos iconv python3
setup_operator

peer_port=$(free_port)
start_in_operator_net python3 -c '
import socket, sys
port, record = int(sys.argv[1]), sys.argv[2]
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", port))
open(record, "w").close()
seen = 0
while True:
    data, sender = s.recvfrom(65536)
    seen += 1
    with open(record, "a") as f:
        f.write("%d %s\n" % (sender[1], data.hex()))
    if seen == 1:
        continue  # the first transmission goes unanswered
    s.sendto(data + bytes(i % 251 for i in range(3000)), sender)
    s.sendto(b"late", sender)
' "$peer_port" "$work/peer.rec"
for _ in $(seq 50); do [ -e "$work/peer.rec" ] && break; sleep 0.1; done

dir="$work/program"
mkdir -p "$dir/Config"
cp "$exe" "$dir/ostrel-send"
# Source port 0: the kernel chooses it, and the capture shows the one it chose.
write_settings "$dir" 0 "$peer_port" 'SendInterval=2000\r\nSendIntervalUnit=0\r\nCommonSendRetry=2\r\nPingRetry=3\r\nUdpAnsTimerInteval=50\r\nUdpAnsTimeOut=400\r\nLogMaxSize=3\r\nLogGenerations=10\r\n'
give_to_operator "$dir"
(run_as_operator "$dir" ostrel-send --hex "DE AD BE EF" --count 2 --interval 300 --expect "DE AD BE EF *" \
  --pcap exchange.pcapng >"$work/run.out" 2>"$work/run.err"); rc=$?
check "two answered cycles exit 0 (rc $rc)" test "$rc" -eq 0
check "nothing on stderr" test ! -s "$work/run.err"
capture="$dir/exchange.pcapng"

tshark -r "$capture" -o udp.check_checksum:TRUE -o ip.check_checksum:TRUE -T fields \
  -E separator=/t -e frame.interface_name -e frame.packet_flags_direction -e udp.srcport \
  -e udp.dstport -e udp.payload -e frame.comment -e frame.time_epoch >"$work/fields.txt" \
  2>"$work/tshark.err"
rc=$?
# (As root tshark says so, whatever the file.)
check "tshark reads the file without a word (rc $rc)" test "$rc" -eq 0 -a \
  -z "$(grep -v '^Running as user "root"' "$work/tshark.err")"
check "the packets, their ports, bytes and notes are what went out and came in" \
  python3 - "$work/fields.txt" "$work/peer.rec" "$peer_port" "$work/run.out" <<'PY'
import re, sys
from decimal import Decimal
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8")]
times = [Decimal(r.pop()) for r in rows]
peer = [line.split() for line in open(sys.argv[2])]
peer_port = sys.argv[3]
sent = "deadbeef"
answer = sent + bytes(i % 251 for i in range(3000)).hex()
# Each transmission opens the socket afresh on a port the kernel chooses.
assert [p[1] for p in peer] == [sent] * 3 and "0" not in [p[0] for p in peer], peer
src = [p[0] for p in peer]
out = lambda n, note: ["udp", "0x00000002", src[n], peer_port, sent, note]
into = lambda n, data, note: ["udp", "0x00000001", peer_port, src[n], data, note]
late = lambda row: row[4] == b"late".hex()
got = [r for r in rows if not late(r)]
expected = [
    out(0, "cycle 1, transmission 1 of 2"),
    ["notes", "", "", "", "", "cycle 1, transmission 1 of 2, no answer: time-out"],
    out(1, "cycle 1, transmission 2 of 2"),
    into(1, answer, "cycle 1, answer, rtt *, 判定:一致"),
    out(2, "cycle 2, transmission 1 of 2"),
    into(2, answer, "cycle 2, answer, rtt *, 判定:一致"),
]
assert len(got) == len(expected), rows
# The round-trip times of the notes are the ones ostrel-send printed, and the packets' time
# stamps lie that far apart.
printed = re.findall(r"rtt=(\d+\.\d{3})ms", open(sys.argv[4]).read())
noted = [re.search(r"rtt (\S+) ms", r[5]).group(1) for r in got if "answer," in r[5]]
assert noted == printed, (noted, printed)
kept = [t for r, t in zip(rows, times) if not late(r)]
for i in (3, 5):
    gap_ms = (kept[i] - kept[i - 1]) * 1000
    assert abs(gap_ms - Decimal(noted[i // 2 - 1])) < Decimal("0.002"), (gap_ms, noted)
for row, want in zip(got, expected):
    if want[5].count("*"):
        assert re.fullmatch(r"cycle \d, answer, rtt \d+\.\d{3} ms, 判定:一致", row[5]), row[5]
        row = row[:5] + [want[5]]
    assert row == want, (row, want)
lates = [r for r in rows if late(r)]
assert 1 <= len(lates) <= 2, rows
assert lates[0] == into(1, b"late".hex(), lates[0][5]), lates
assert all(re.fullmatch(r"(after )?cycle \d, not an answer", r[5]) for r in lates), lates
PY
check "Wireshark finds no checksum error" test -z "$(tshark -r "$capture" \
  -o udp.check_checksum:TRUE -o ip.check_checksum:TRUE \
  -Y 'udp.checksum.status == 2 || ip.checksum.status == 2 || _ws.expert.severity >= warning' \
  2>/dev/null)"
check "capinfos counts every packet and note" \
  test "$(capinfos -T -r -c "$capture" | cut -f2)" -eq "$(wc -l <"$work/fields.txt")"

# A full disk (a file-size limit of 4 KiB, its signal ignored) ends the capture after its
# first packet: one message, the log line, every cycle still sent and answered, exit 3.
dir2="$work/full"
mkdir -p "$dir2/Config"
cp "$exe" "$dir2/ostrel-send"
cp "$dir/Config/Kiv_UdpSendSetting.ini" "$dir2/Config/"
give_to_operator "$dir2"
: >"$work/peer.rec"
python3 -c 'import sys; sys.stdout.write("AB " * 2048)' >"$work/payload.hex"
(trap '' XFSZ; ulimit -f 4; run_as_operator "$dir2" ostrel-send --hex "$(cat "$work/payload.hex")" \
  --count 3 --interval 0 --pcap full.pcapng >"$work/full.out" 2>"$work/full.err"); rc=$?
check "a capture ended by a full disk exits 3 (rc $rc)" test "$rc" -eq 3
check "every cycle was still sent and answered" grep -q '^ Cycles: 3 | Transmissions: 3 | Answered: 3 ' "$work/full.out"
check "the peer got all three" test "$(wc -l <"$work/peer.rec")" -eq 3
check "one message names the option" test "$(grep -c '^ostrel-send: --pcap full.pcapng: ' "$work/full.err")" -eq 1
check "the log has the line of the failed write" grep -q '(WriteCapture)$' <(log_messages "$dir2")
check "the file reads up to its last whole packet" \
  test "$(tshark -r "$dir2/full.pcapng" -T fields -e frame.comment 2>/dev/null)" = "cycle 1, transmission 1 of 2"

# A file the operator may not make: a clear message, exit 2, nothing sent.
: >"$work/peer.rec"
(run_as_operator "$dir" ostrel-send --hex 01 --pcap /proc/exchange.pcapng >"$work/bad.out" 2>"$work/bad.err"); rc=$?
check "an unwritable capture file exits 2 (rc $rc)" test "$rc" -eq 2
check "the message names the option and the file" grep -q '^ostrel-send: --pcap /proc/exchange.pcapng: ' "$work/bad.err"
sleep 0.2
check "nothing was sent" test ! -s "$work/peer.rec"

finish
