#!/usr/bin/env bash
# The programs off loopback, on a small LAN of their own: three network namespaces, the window's
# host (198.18.0.1), the board (198.18.0.2, the simulator) and a stranger (198.18.0.3), joined by
# a bridge in a fourth. The addresses exist only inside these namespaces, which have no route
# out. Checks that the board's replies are taken while the stranger floods the probe and the
# window with what no board sends; that the stranger gets nothing back and sets off no request;
# that --board of the LAN's broadcast address is refused; and that the README's firewall rule,
# as written, lets the replies in under an input policy of drop with a final reject.
# Needs root (it makes namespaces): skipped elsewhere (exit 77), failed with
# VARDEK_REQUIRE_ALL_TOOLS=1, as where namespaces are refused.
# Usage: check_lan.sh PROBE SIMULATOR WINDOW README
set -euo pipefail

probe=$1 simulator=$2 window=$3 readme=$4

# Skips with the reason, or fails where every tool and right is required.
unable() {
    if [ "${VARDEK_REQUIRE_ALL_TOOLS:-}" = 1 ]; then
        echo "check_lan: $*, and VARDEK_REQUIRE_ALL_TOOLS=1 requires it" >&2
        exit 1
    fi
    echo "check_lan: skipped: $*"
    exit 77
}
[ "$(id -u)" = 0 ] || unable "needs root to make network namespaces"

# Names of this run's own: other runs may make theirs at the same time.
prefix=vk$$
lan=$prefix-lan
hosts=(win brd str)
declare -A address=([win]=198.18.0.1 [brd]=198.18.0.2 [str]=198.18.0.3)
board=${address[brd]}
broadcast=198.18.0.255
work=$(mktemp -d)
pids=()
made=()

cleanup() {
    local pid name
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for name in "${made[@]}"; do
        ip netns delete "$name" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "check_lan: FAIL: $*" >&2
    for log in "$work"/*.log; do
        echo "--- $log" >&2
        tail -n 20 "$log" >&2
    done
    exit 1
}

in_ns() {
    local name=$prefix-$1
    shift
    ip netns exec "$name" "$@"
}
# A program started in the background must be `ip netns exec`'s own (which becomes it), not a
# shell function's, so that $! is the program's PID.

# Waits up to 10 s for the UDP socket of process $2 in namespace $1 and prints its port.
port_of() {
    local port
    for _ in $(seq 200); do
        port=$(in_ns "$1" ss -Huanp | awk -v pid="pid=$2," 'index($0, pid) { sub(/.*:/, "", $4); print $4 }')
        [ -n "$port" ] && {
            echo "$port"
            return
        }
        sleep 0.05
    done
    fail "no UDP socket of process $2 in $1"
}

# The LAN: a bridge in a namespace of its own, one veth pair to each host, no route out.
# Root in a container may still be refused namespaces.
ip netns add "$lan" 2>"$work/netns.log" ||
    unable "cannot make a network namespace: $(cat "$work/netns.log")"
made+=("$lan")
ip -n "$lan" link add br0 type bridge
ip -n "$lan" link set br0 up
for host in "${hosts[@]}"; do
    ip netns add "$prefix-$host" && made+=("$prefix-$host")
    ip -n "$lan" link add "to-$host" type veth peer name eth0 netns "$prefix-$host"
    ip -n "$lan" link set "to-$host" master br0 up
    ip -n "$prefix-$host" link set lo up
    ip -n "$prefix-$host" address add "${address[$host]}/24" dev eth0
    ip -n "$prefix-$host" link set eth0 up
done
[ -z "$(ip -n "$prefix-win" route show default)" ] || fail "the window's host has a route out"

# The board: the simulator on its LAN address, its readings fixed.
ip netns exec "$prefix-brd" "$simulator" --bind "$board" --seed 1 --drift-ms 0 --initial-pb 0x04 \
    >"$work/board.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    grep -q "listening on $board:10001" "$work/board.log" && break
    sleep 0.05
done
grep -q "listening on $board:10001" "$work/board.log" || fail "the simulator did not start"

# The window's host: the window (offscreen) and the probe watching, both aimed at the board.
ip netns exec "$prefix-win" env QT_QPA_PLATFORM=offscreen "$window" --board "$board" \
    >"$work/window.log" 2>&1 &
window_pid=$!
pids+=("$window_pid")
count=40
ip netns exec "$prefix-win" "$probe" --board "$board" --timeout 3000 watch --interval 100 --count $count \
    >"$work/watch.out" 2>"$work/watch.log" &
watch_pid=$!
pids+=("$watch_pid")
window_port=$(port_of win "$window_pid") || exit 1
probe_port=$(port_of win "$watch_pid") || exit 1
targets="$window_port $probe_port"

# The stranger, meanwhile: 8 bytes of 0xFF, and datagrams of 0, 7 and 9 bytes, from the board's
# port and from another, at 10,000 a second to both programs' ports: 20,000 in all, for at most
# 5 s. It counts whatever comes back.
ip netns exec "$prefix-str" python3 - "${address[win]}" "$targets" >"$work/stranger.log" 2>&1 <<'PYTHON' &
import socket, sys, time
host, ports = sys.argv[1], [int(p) for p in sys.argv[2].split()]
payloads = [b"\xff" * 8, b"", b"\xff" * 7, b"\xff" * 9]
sockets = []
for port in (10001, 0):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.bind(("198.18.0.3", port))
    s.setblocking(False)
    sockets.append(s)
sent, start = 0, time.monotonic()
while sent < 20000 and time.monotonic() - start < 5:
    # 100 every 10 ms, the pace kept by the clock.
    for _ in range(100):
        sockets[sent % 2].sendto(payloads[sent % 4], (host, ports[sent // 2 % len(ports)]))
        sent += 1
    time.sleep(max(0.0, start + sent / 10000 - time.monotonic()))
time.sleep(0.5)
received = 0
for s in sockets:
    while True:
        try:
            s.recv(65536)
            received += 1
        except BlockingIOError:
            break
print(f"sent {sent} received {received}")
PYTHON
stranger_pid=$!
pids+=("$stranger_pid")

wait "$watch_pid" || fail "watch ended with status $?"
wait "$stranger_pid" || fail "the stranger ended with status $?"
read -r _ sent _ received <"$work/stranger.log" || fail "the stranger reported nothing"
[ "$sent" -ge 10000 ] || fail "the stranger sent only $sent datagrams"
[ "$received" = 0 ] || fail "the stranger got $received datagrams back"
kill -0 "$window_pid" 2>/dev/null || fail "the window ended under the stranger's datagrams"

# Every reply the probe printed is the board's: port B 0x04, readings 0.
[ "$(wc -l <"$work/watch.out")" = $count ] || fail "watch printed $(wc -l <"$work/watch.out") lines"
grep -Ev '^000 004 000 [0-9A-F]{3} 000 000 000 000 RB7..RB0=00000100 \(' "$work/watch.out" &&
    fail "watch printed a reply that is not the board's"
# What reached the board: requests from the window's host alone. From the probe, one status
# request per reply. From the window, status requests and one `set RB2`: taking the board's first
# reply (port B 0x04) into its output boxes, it switches RB2 on, as the board's replies act; had
# it taken a stranger's 8 bytes of 0xFF, it would also have switched RB3 to RB7.
win=${address[win]//./\\.}
grep ' in  ' "$work/board.log" | grep -v " in  $win:" &&
    fail "the board got a request from another host than the window's"
requests=$(grep -c " in  $win:$probe_port \\[1\\] 000 | status$" "$work/board.log") || true
[ "$requests" = $count ] || fail "the probe sent $requests status requests for $count replies"
grep " in  $win:$window_port " "$work/board.log" | grep -v '\[1\] 000 | status$' >"$work/window.requests" || true
[ "$(sed 's/.*| //' "$work/window.requests")" = "set RB2" ] ||
    fail "the window sent $(sed 's/.*| //' "$work/window.requests" | paste -sd ,) beside its status requests, not set RB2"
[ "$(grep -c ' in  ' "$work/board.log")" = "$(grep -c " in  $win:\\($probe_port\\|$window_port\\) " "$work/board.log")" ] ||
    fail "the board got requests from a third program"

# The broadcast address of the LAN is refused, by both programs, before anything is sent.
status=0
in_ns win "$probe" --board "$broadcast" status 2>"$work/refused.log" || status=$?
[ $status = 2 ] || fail "vardek-probe --board $broadcast ended with status $status, not 2"
status=0
QT_QPA_PLATFORM=offscreen in_ns win "$window" --board "$broadcast" 2>>"$work/refused.log" ||
    status=$?
[ $status = 2 ] || fail "VARDEK_Control --board $broadcast ended with status $status, not 2"
grep -c "$broadcast" "$work/refused.log" | grep -qx 2 || fail "the refusals do not name $broadcast"

# The README's firewall rule, as written, under an input policy of drop that ends in a reject.
in_ns win nft -f - <<'NFT'
table inet filter {
    chain input {
        type filter hook input priority 0; policy drop;
        iif "lo" accept
        reject
    }
}
NFT
status=0
in_ns win "$probe" --board "$board" --timeout 300 --retries 0 status >/dev/null 2>&1 || status=$?
[ $status = 1 ] || fail "the firewall let the reply in before the README's rule (status $status)"
rule=$(grep -m 1 '^nft insert rule ' "$readme")
[ -n "$rule" ] || fail "no nft insert rule in $readme"
# shellcheck disable=SC2086 # the rule is a command line, split into its words as a shell would
in_ns win ${rule//<board address>/$board} || fail "the README's rule failed: $rule"
status=0
in_ns win "$probe" --board "$board" --timeout 3000 status >/dev/null 2>"$work/firewall.log" ||
    status=$?
[ $status = 0 ] || fail "with the README's rule, the probe ended with status $status"

echo "check_lan: $count replies taken under $sent datagrams from a stranger, none sent back;" \
    "$broadcast refused; the README's firewall rule works"
