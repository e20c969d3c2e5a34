#!/usr/bin/env bash
# Holds the three texts about each program's options together: every option its --help names
# stands in its manual page and the other way round, and every option the README names is one of
# the programs' (or of the build tools the README also shows). A new option documented in one
# place only fails here.
# Usage: check_option_texts.sh README PROGRAM MANPAGE [PROGRAM MANPAGE]...
set -euo pipefail

readme=$1
shift
# Options of cmake and scripts/bench that the README shows beside the programs'.
known=$'--build\n--install\n--prefix\n--preset\n--target\n--write'
status=0

options() { grep -oE -- '--[a-z][a-z0-9]*(-[a-z0-9]+)*' | sort -u; }
differ() {
    local what=$1 extra
    extra=$(comm -23 <(echo "$2") <(echo "$3") | tr '\n' ' ')
    if [ -n "$extra" ]; then
        echo "check_option_texts: $what: $extra" >&2
        status=1
    fi
}

while [ $# -ge 2 ]; do
    program=$1 manpage=$2
    shift 2
    name=$(basename "$program")
    help=$("$program" --help | options)
    # groff writes a hyphen in an option's name as \-.
    man=$(sed 's/\\-/-/g' "$manpage" | options)
    differ "$name --help names, its manual page does not" "$help" "$man"
    differ "the manual page of $name names, its --help does not" "$man" "$help"
    known+=$'\n'$help
done
differ "README.md names options that no program has" "$(options <"$readme")" \
    "$(sort -u <<<"$known")"
[ "$status" -ne 0 ] || echo "check_option_texts: --help, manual pages and README agree"
exit "$status"
