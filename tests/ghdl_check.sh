#!/bin/bash
# Proves that a checker is valid VHDL and hardware: analysis and elaboration
# in both library setups designers use, then synthesis.
# Usage: ghdl_check.sh CHECKER.vhd
set -u
vhd=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
mkdir std08 synopsys
run() {
    if ! out=$("$@" 2>&1); then
        echo "ghdl failed: $*" >&2
        echo "$out" >&2
        exit 1
    fi
}
run ghdl -a --std=08 -fsynopsys --workdir=std08 "$vhd"
run ghdl -e --std=08 -fsynopsys --workdir=std08 guard
run ghdl -a --ieee=synopsys -fexplicit --workdir=synopsys "$vhd"
run ghdl -e --ieee=synopsys -fexplicit --workdir=synopsys guard
run ghdl --synth --std=08 -fsynopsys --workdir=std08 guard
exit 0
