# A benchmark's figures written into docs/performance.md, sourced by the scripts/bench-*
# scripts' --write: between the two lines that bound them, in the part that scripts/bench keeps,
# with when, by what command, at which commit and on what machine they were measured.
# shellcheck shell=bash

# Usage: figures_write PROGRAM BEGIN END FIGURES COMMAND
#   PROGRAM the script's name, in its messages; BEGIN and END the bounding lines; FIGURES the
#   file of figures; COMMAND the command line that measured them.
figures_write() {
    local program=$1 begin=$2 end=$3 figures=$4 command=$5 document=docs/performance.md cpu
    if ! grep -qxF "$begin" "$document" || ! grep -qxF "$end" "$document"; then
        echo "$program: $document lacks the lines that bound its figures" >&2
        exit 1
    fi
    cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
    {
        sed -n "1,\|^$begin\$|p" "$document"
        echo
        echo "Measured $(date -u '+%Y-%m-%d %H:%M UTC') by \`$command\` at commit" \
            "$(git rev-parse --short HEAD 2>/dev/null || echo unknown), on $(nproc) cores" \
            "(${cpu:-unknown CPU}), $(uname -sr)."
        echo
        cat "$figures"
        echo
        sed -n "\|^$end\$|,\$p" "$document"
    } >"$document.new"
    mv "$document.new" "$document"
    echo "$program: wrote $document"
}
