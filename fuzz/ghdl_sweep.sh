#!/usr/bin/env bash
# Runs guardgen over every input of the given corpus directories and puts
# each checker it writes through GHDL (tests/ghdl_check.sh: analysis and
# elaboration in both library setups, then synthesis). The harness can only
# check the checker's shape; this proves the fuzzer's accepted inputs give
# valid VHDL. Slow (a few runs a second), so it is meant for after a long
# fuzz run, not for CI.
# Usage: fuzz/ghdl_sweep.sh GUARDGEN DIR...
set -uo pipefail

if [ $# -lt 2 ] || [ ! -x "$1" ]; then
    echo "usage: $0 GUARDGEN DIR..." >&2
    exit 2
fi
guardgen=$(realpath "$1")
shift
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/guardgen-sweep.XXXXXX")
trap 'rm -rf "$work"' EXIT

accepted=0 refused=0 bad=0
for dir in "$@"; do
    for f in "$dir"/*; do
        [ -f "$f" ] || continue
        cp "$f" "$work/in.txt"
        rm -f "$work/in.vhd"
        if (cd "$work" && "$guardgen" in.txt >/dev/null 2>&1); then
            accepted=$((accepted + 1))
            if ! bash "$root/tests/ghdl_check.sh" "$work/in.vhd" 2>"$work/ghdl.log"; then
                bad=$((bad + 1))
                echo "INVALID VHDL from $f"
                head -5 "$work/ghdl.log" | sed 's/^/    /'
            fi
        else
            refused=$((refused + 1))
        fi
    done
done
echo "$accepted accepted, $refused refused, $bad gave invalid VHDL"
[ "$bad" -eq 0 ]
