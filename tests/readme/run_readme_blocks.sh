#!/usr/bin/env bash
# Runs the command blocks of README.md's sections "From a script", "Readings over time" and
# "Captures…" as a reader would, after the README's two set-up commands (scripts/run builds
# build/run/bin, scripts/test installs tshark): in the section's order, from a folder that holds
# the source tree's files as a clone does, with a home folder of its own. Where a section's text
# has the reader start the simulator "in another terminal with `…`", that command runs in the
# background meanwhile.
# - A `sh` block runs as one script that stops at the first command that fails.
# - A `console` block runs its `$ ` commands in one shell, and each command's standard output
#   must be the lines shown under it, times, round-trip figures and the system's ephemeral ports
#   aside (what it writes on standard error is shown when it differs). A command must exit 0
#   unless its comment announces another status, as in `# exit 2`.
# Usage: run_readme_blocks.sh SOURCE_DIR
set -euo pipefail

src=$(cd "$1" && pwd)
work=$(mktemp -d)
simulator=
cleanup() {
    if [ -n "$simulator" ]; then
        kill -- "-$simulator" 2>/dev/null || true
        wait "$simulator" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "run_readme_blocks: $1" >&2
    exit 1
}
# shellcheck source=scripts/lib/simulator.sh
. "$src/scripts/lib/simulator.sh"

for program in vardek-board-sim vardek-probe; do
    [ -x "$src/build/run/bin/$program" ] || fail "build/run/bin/$program is missing: run scripts/run first"
done
command -v tshark >/dev/null || fail "tshark is missing: run scripts/test first"

# The reader's folder: the tree's files, and whatever the blocks make of their own.
tree=$work/tree
mkdir -p "$tree" "$work/home"
for entry in "$src"/* "$src"/.[!.]*; do
    [ -e "$entry" ] && [ "$(basename "$entry")" != .git ] && ln -s "$entry" "$tree/"
done
export HOME=$work/home
unset XDG_CONFIG_HOME XDG_DATA_HOME

# Each section to run becomes a folder: its prose, and its blocks in order (NN.sh, NN.console).
awk -v out="$work/sections" '
    function start_section(heading) {
        dir = out "/" sprintf("%02d", ++sections)
        system("mkdir -p \"" dir "\"")
        print heading > (dir "/name")
        blocks = 0
    }
    !fence && /^## / {
        section = $0 ~ /^## (From a script|Readings over time|Captures)/
        if (section) start_section(substr($0, 4))
        next
    }
    !section { next }
    !fence && /^```(sh|console)[ \t]*$/ {
        fence = "run"
        file = sprintf("%s/%02d.%s", dir, ++blocks, substr($0, 4))
        printf "" > file
        next
    }
    !fence && /^```/ { fence = "other"; next }
    fence && /^```[ \t]*$/ { if (fence == "run") close(file); fence = ""; next }
    fence == "run" { print > file; next }
    fence == "other" { next }
    { print > (dir "/prose") }
' "$src/README.md"

# One line: what a console block's command printed or is shown to print, made comparable.
normalise() {
    perl -CSD -pe '
        s/\r$//;                                              # CSV line ends
        s/\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?Z/TIME/g;   # the simulator log
        s/^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3},/TIME,/;     # the time_utc of a readings log,
        s/^TIME,\d+\.\d{3},/TIME,ELAPSED,/;                  # a readings log: elapsed_s,
        s/^(TIME,ELAPSED,[^,]*,)\d+\.\d{3},/${1}RTT,/;         # and rtt_ms where it came
        s/\(\d+(\.\d+)? ms\)/(RTT ms)/g;                      # the probe
        s/"rtt_ms":[\d.]+/"rtt_ms":RTT/g;
        s/\b\d+\.\d{6}\b/TIME/g;                              # tshark
        s/(Port: )(?!10001\b)\d+/${1}PORT/g;
        s/[ \t]+/ /g; s/ $//;
    ' | sed -e :a -e '/^\n*$/{$d;N;ba' -e '}'
}

# Runs one console block and compares each command's output with the lines shown under it.
run_console() {
    local block=$1 out=$work/out script=$work/console.sh count status expected_status failed=0
    rm -rf "$out"
    mkdir -p "$out"
    # Split into NNN.cmd and NNN.shown; a command ending in \ goes on on the next line.
    awk -v out="$out" '
        continued { print > cmd; continued = /\\$/; next }
        /^\$ / {
            cmd = sprintf("%s/%03d.cmd", out, ++n); shown = sprintf("%s/%03d.shown", out, n)
            print substr($0, 3) > cmd; printf "" > shown
            continued = /\\$/
            next
        }
        n { print > shown }
    ' "$block"
    count=$(find "$out" -name '*.cmd' | wc -l)
    [ "$count" -gt 0 ] || fail "$block: no \$ command"
    : >"$script"
    for cmd in "$out"/*.cmd; do
        local n=${cmd%.cmd}
        printf 'exec >%q 2>%q\n' "$n.stdout" "$n.stderr" >>"$script"
        cat "$cmd" >>"$script"
        printf 'echo $? >%q\n' "$n.status" >>"$script"
    done
    # A session of its own, so that whatever a block leaves running is stopped with it.
    (cd "$tree" && exec setsid bash "$script") &
    local shell=$!
    wait "$shell" || true
    kill -- "-$shell" 2>/dev/null || true

    for cmd in "$out"/*.cmd; do
        local n=${cmd%.cmd}
        echo "\$ $(head -n 1 "$cmd")"
        [ -e "$n.status" ] || { echo "  did not run" >&2; failed=1; continue; }
        status=$(cat "$n.status")
        expected_status=$(sed -n 's/.*#.*\bexit \([0-9][0-9]*\)\b.*/\1/p' "$cmd" | tail -n 1)
        if [ "$status" -ne "${expected_status:-0}" ]; then
            echo "  exit status $status, not ${expected_status:-0}" >&2
            failed=1
        fi
        if ! diff -u --label shown --label printed <(normalise <"$n.shown") \
            <(normalise <"$n.stdout") >&2; then
            echo "  differs from the output shown (normalised: - shown, + printed)" >&2
            failed=1
        fi
        if [ "$failed" -ne 0 ] && [ -s "$n.stderr" ]; then
            echo "  its standard error:" >&2
            sed 's/^/    /' "$n.stderr" >&2
        fi
        [ "$failed" -eq 0 ] || return 1
    done
}

failures=0
sections=0
for section in "$work"/sections/*/; do
    sections=$((sections + 1))
    name=$(cat "$section/name")
    echo "=== $name"
    mapfile -t blocks < <(printf '%s\n' "$section"/[0-9]*.* | sort)
    [ -e "${blocks[0]}" ] || fail "section \"$name\" has no sh or console block"

    command=
    if [ -e "$section/prose" ]; then
        command=$(tr '\n' ' ' <"$section/prose" |
            grep -o 'in another terminal with `build/run/bin/vardek-board-sim[^`]*`' |
            head -n 1 | sed 's/^[^`]*`//; s/`$//') || true
    fi
    if [ -n "$command" ]; then
        echo "(in another terminal: $command)"
        (cd "$tree" && exec setsid bash -c "exec $command") >"$work/simulator.log" 2>&1 &
        simulator=$!
        await_simulator "$simulator" "$work/simulator.log" ||
            fail "the simulator did not start: $(cat "$work/simulator.log")"
    fi

    for block in "${blocks[@]}"; do
        case $block in
            *.sh)
                echo "--- sh block $(basename "$block")"
                sed 's/^/  /' "$block"
                if ! (cd "$tree" && bash -e -o pipefail "$block"); then
                    echo "run_readme_blocks: the sh block above failed" >&2
                    failures=$((failures + 1))
                fi
                ;;
            *.console)
                echo "--- console block $(basename "$block")"
                run_console "$block" || failures=$((failures + 1))
                ;;
        esac
    done

    if [ -n "$simulator" ]; then
        kill -- "-$simulator" 2>/dev/null || true
        wait "$simulator" 2>/dev/null || true
        simulator=
    fi
done

[ "$sections" -eq 3 ] || fail "found $sections of the sections \"From a script\", \"Readings over time\" and \"Captures\""
[ "$failures" -eq 0 ] || fail "$failures README block(s) failed"
echo "run_readme_blocks: every block of the three sections ran as shown"
