#!/usr/bin/env bash
# Valgrind memcheck of guardgen over the examples, the valid seeds of the
# fuzz corpus and a set of failing runs: no invalid access, no memory lost
# (definitely or indirectly). A failed run ends through exit(), so the
# global tables are still reachable then; that is expected and not counted.
#
# Usage: tests/hostile/valgrind.sh GUARDGEN
# Use a build without sanitizers (valgrind cannot run an ASan binary).
set -uo pipefail

if [ $# -ne 1 ] || [ ! -x "$1" ]; then
    echo "usage: $0 GUARDGEN" >&2
    exit 2
fi
guardgen=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
command -v valgrind >/dev/null || { echo "valgrind not found" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/guardgen-valgrind.XXXXXX")
trap 'rm -rf "$work"' EXIT

passed=0
failed=0

# check NAME EXPECTED_STATUS DIR ARG...: runs guardgen in DIR under memcheck.
check() {
    local name=$1 expected=$2 dir=$3
    shift 3
    local log=$work/log.txt status
    (cd "$dir" && valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \
        --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
        --log-file="$log" "$guardgen" "$@" >/dev/null 2>&1)
    status=$?
    if [ "$status" -eq "$expected" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL $name: exit status $status, expected $expected (99: memcheck error)"
        sed 's/^/    /' "$log"
    fi
}

# case NAME EXPECTED_STATUS FILE: one description copied into a fresh directory.
case_file() {
    local name=$1 expected=$2 file=$3 dir
    dir=$(mktemp -d "$work/case.XXXXXX")
    cp "$file" "$dir/in.txt"
    check "$name" "$expected" "$dir" in.txt
}

# case_text NAME EXPECTED_STATUS TEXT: a description given inline (printf %b).
case_text() {
    local name=$1 expected=$2 dir
    dir=$(mktemp -d "$work/case.XXXXXX")
    printf '%b' "$3" >"$dir/in.txt"
    check "$name" "$expected" "$dir" in.txt
}

shopt -s nullglob
for f in "$root"/examples/*.txt "$root"/examples/*/*.txt "$root"/fuzz/corpus/valid-*; do
    case_file "$(basename "$f")" 0 "$f"
done

small='@\nA = X == 1;\n#\n(S, A) : T;\n(T) : S;\n'

# A checker larger than the writer's buffer, so that it is written in parts.
big=$work/big.txt
{
    printf '@\nGO = X == 1 OR Y == 01;\nSTOP = X == 0 AND Y <> 10;\n#\n'
    for i in $(seq 1 30000); do printf '(S%d, GO) : S%d;\n(S%d, STOP) : S%d;\n' $((i % 300)) $(((i + 1) % 300)) $((i % 300)) 0; done
} >"$big"
case_file "30,000 rows" 0 "$big"

# Failing runs: every way a run can end early.
case_text "lexical error" 1 '@\nA = X == 1 % Y;\n#\n'
case_text "NUL byte" 1 '@\nA = X\x00 == 1;\n#\n'
case_text "byte above 127" 1 '@\nA = X == 1;\n#\n(S\xe9, A) : T;\n'
case_text "syntax error in a definition" 1 '@\nA = X == ;\n#\n'
case_text "syntax error in a row" 1 '@\nA = X == 1;\n#\n(S, A) T;\n'
case_text "undefined label" 1 '@\nA = X == 1;\n#\n(S, B) : T;\n'
case_text "width mismatch" 1 '@\nA = X == 1 OR X == 01;\n#\n'
case_text "reserved name" 1 '@\nA = X == 1;\n#\n(SIGNAL, A) : T;\n'
case_text "empty file" 1 ''
case_text "no rows" 1 '@ #'

dir=$(mktemp -d "$work/case.XXXXXX")
printf '%b' "$small" >"$dir/in.txt"
ln -s /dev/full "$dir/in.vhd"
check "output to /dev/full" 1 "$dir" in.txt

dir=$(mktemp -d "$work/case.XXXXXX")
cp "$big" "$dir/in.txt"
ln -s /dev/full "$dir/in.vhd"
check "large output to /dev/full" 1 "$dir" in.txt

dir=$(mktemp -d "$work/case.XXXXXX")
printf '%b' "$small" >"$dir/in.txt"
mkdir "$dir/in.vhd"
check "output path is a directory" 1 "$dir" in.txt

dir=$(mktemp -d "$work/case.XXXXXX")
printf '%b' "$small" >"$dir/x.vhd"
check "input named x.vhd" 1 "$dir" x.vhd

dir=$(mktemp -d "$work/case.XXXXXX")
mkdir "$dir/in.txt"
check "directory as input" 1 "$dir" in.txt
check "missing input" 1 "$dir" missing.txt
check "no argument" 1 "$dir"

# The options: the model view the other outputs are written from, and the
# check of output paths through links.
dir=$(mktemp -d "$work/case.XXXXXX")
printf '%b' "$small" >"$dir/in.txt"
mkdir "$dir/out"
check "every output option" 0 "$dir" --dot --testbench --verilog -o out/g.vhd in.txt
ln -s g.vhd "$dir/g.dot"
check "two outputs linked to one new file" 1 "$dir" -o g.vhd --dot in.txt
check "unknown option" 1 "$dir" --bogus in.txt

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
