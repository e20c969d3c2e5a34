#!/usr/bin/env bash
# Measures what the Wireshark dissector adds to a plain tshark run (summary lines only, no tree
# shown), side by side in one run: the same capture read by tshark without the dissector and with
# it, and with it under the display filter `vardek.command == 4`, whose fields the dissector must
# add although no tree is shown. The capture is the simulator's own: 100,000 requests of every
# kind (one in ten malformed) sent to it on 127.0.0.1 and its 90,000 replies, then 5,000 status
# requests answered by a simulator replying with 7 bytes: 200,000 packets in all.
# Usage: bench/capture/bench_dissector.sh BUILD_DIR [RUNS]
#   BUILD_DIR a build tree holding tools/board-sim/vardek-board-sim
#   RUNS      tshark runs of each kind, interleaved (default 5)
set -euo pipefail

cd "$(dirname "$0")/../.."
build=${1:?usage: bench/capture/bench_dissector.sh BUILD_DIR [RUNS]}
runs=${2:-5}
simulator=$build/tools/board-sim/vardek-board-sim
dissector=tools/wireshark/vardek.lua
for tool in tshark mergecap python3; do
    command -v "$tool" >/dev/null || {
        echo "bench_dissector: $tool is not installed (scripts/setup test installs it)" >&2
        exit 1
    }
done

work=$(mktemp -d)
simulator_pid=
cleanup() {
    [ -z "$simulator_pid" ] || kill "$simulator_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Starts the simulator with the given options on port $port (0: of the system's choosing),
# writing $work/$1.pcap, and leaves the port it took in $port.
port=0
start_simulator() {
    local name=$1
    shift
    "$simulator" --seed 1 --port "$port" --pcap "$work/$name.pcap" "$@" >"$work/$name.log" &
    simulator_pid=$!
    port=
    for _ in $(seq 100); do
        kill -0 "$simulator_pid" 2>/dev/null || break
        port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$work/$name.log")
        [ -n "$port" ] && return
        sleep 0.1
    done
    echo "bench_dissector: the simulator did not start" >&2
    exit 1
}

stop_simulator() {
    kill -INT "$simulator_pid"
    wait "$simulator_pid"
    simulator_pid=
}

# Sends $2 requests to 127.0.0.1:$1 in turn, waiting for each well-formed one's reply; with a
# third argument, status requests only.
send_requests() {
    python3 - "$@" <<'PYTHON'
import socket, sys
port, count, status_only = int(sys.argv[1]), int(sys.argv[2]), len(sys.argv) > 3
answered = [b"\x00", b"\x01\x06\x05", b"\x02\x06\x05", b"\x04\x81\x01", b"\x04\x89\x01",
            b"\x04\x91\x01", b"\x04\x99\x01", b"\x04\xa1\x01", b"\x01\x06\x07"]
malformed = b"\x01\x06\x01"
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(5)
for i in range(count):
    if status_only:
        s.sendto(answered[0], ("127.0.0.1", port))
        s.recv(64)
    elif i % 10 == 9:
        s.sendto(malformed, ("127.0.0.1", port))
    else:
        s.sendto(answered[i % 10], ("127.0.0.1", port))
        s.recv(64)
PYTHON
}

start_simulator good
send_requests "$port" 100000
stop_simulator
# The same port, so that one preference decodes both.
start_simulator short --reply-size 7
send_requests "$port" 5000 status-only
stop_simulator
mergecap -a -w "$work/board.pcap" "$work/good.pcap" "$work/short.pcap"
packets=$(tshark -r "$work/board.pcap" -T fields -e frame.number | wc -l)

# No personal settings or plugins: the dissector under test is the only one.
export WIRESHARK_CONFIG_DIR=$work/config HOME=$work
mkdir -p "$work/config"
plain=(tshark -r "$work/board.pcap")
with=("${plain[@]}" -X "lua_script:$dissector" -o "vardek.port:$port")
filtered=("${with[@]}" -Y "vardek.command == 4")
matched=$("${filtered[@]}" | wc -l)

# Wall time and processor time (user and system) of one run in seconds, its output thrown away.
seconds() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%s %.3f\n", $1, $2 + $3 }'
}

# The median of column $1 of the file $2.
median() { cut -d ' ' -f "$1" "$2" | sort -g | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'; }

: >"$work/plain" && : >"$work/with" && : >"$work/filtered"
for _ in $(seq "$runs"); do
    seconds "${plain[@]}" >>"$work/plain"
    seconds "${with[@]}" >>"$work/with"
    seconds "${filtered[@]}" >>"$work/filtered"
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f×", a / b }'; }
row() {
    local wall cpu
    wall=$(median 1 "$work/$2")
    cpu=$(median 2 "$work/$2")
    echo "| $1 | $wall | $(ratio "$wall" "$(median 1 "$work/plain")") | $cpu |" \
        "$(ratio "$cpu" "$(median 2 "$work/plain")") |"
}

echo "Capture: $packets packets; \`vardek.command == 4\` matches $matched. Median of $runs runs" \
    "of each, interleaved."
echo
echo "| tshark -r board.pcap | wall s | ratio | CPU s | ratio |"
echo "|---|---|---|---|---|"
row "without the dissector" plain
row "with the dissector" with
row "with it, \`-Y 'vardek.command == 4'\`" filtered
