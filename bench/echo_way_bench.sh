#!/usr/bin/env bash
# One successful reachability check to 127.0.0.1 through each way, median of CHECKS (50):
#   bash bench/echo_way_bench.sh build/bench/echo_way_bench [CHECKS]
# As root it runs in a network namespace of its own, whose ping_group_range lets every
# group open ICMP datagram sockets (the machine's own setting is untouched), and root may
# open raw ones. Otherwise it runs as it is, and the ways this user may not take say so.
set -euo pipefail
bench=$(readlink -f "$1")
checks=${2:-50}
if [ "$(id -u)" -eq 0 ] && command -v unshare >/dev/null && command -v ip >/dev/null; then
  exec unshare --net bash -c '
    ip link set lo up
    echo "0 2147483647" >/proc/sys/net/ipv4/ping_group_range
    exec "$0" "$1"' "$bench" "$checks"
fi
echo "not root: ways refused to this user are skipped" >&2
exec "$bench" "$checks"
