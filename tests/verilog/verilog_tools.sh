#!/bin/bash
# Every example's Verilog checker, and two made to reach the tools' limits
# (names of 1023 characters, a constant wider than Icarus reads in one
# token), through Icarus Verilog, a Verilator lint and a Yosys synthesis;
# then the README's commands for Verilog users, which simulate the
# traffic-light checker with traffic_tb.v in Icarus and in Verilator.
# Usage: verilog_tools.sh GUARDGEN SOURCE_DIR
set -u
guardgen=$(realpath "$1")
src=$(realpath "$2")
examples=$src/examples
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

run() {
    if ! out=$("$@" 2>&1); then
        echo "FAIL: $*" >&2
        echo "$out" | cut -c1-300 >&2
        exit 1
    fi
}

cp "$examples"/*.txt .
python3 - <<'PY'
long = "L" * 1020
with open("long_names.txt", "w") as f:
    f.write("@\nS%sX = X%sY == 1 OR X%sY == 0;\n#\n(T%sZ, S%sX) : T%sZ;\n"
            % ((long,) * 6))
wide = 20000
with open("wide.txt", "w") as f:
    f.write("@\nA = W >= %s AND B == 1;\nZ = W == %s;\n#\n(S1, A) : S2;\n(S2, Z) : S1;\n"
            % ("1" + "0" * (wide - 1), "01" * (wide // 2)))
PY

for txt in *.txt; do
    stem=${txt%.txt}
    run "$guardgen" --verilog "$txt"
    # The option adds a file and changes nothing else: the same VHDL
    # checker as a plain run, and -o names the Verilog one too.
    mkdir -p plain
    run "$guardgen" -o "plain/$stem.vhd" "$txt"
    run cmp "$stem.vhd" "plain/$stem.vhd"
    run "$guardgen" "$txt" --verilog -o "plain/other.vhd"
    run cmp "$stem.v" plain/other.v
    run iverilog -g2005 -o "$stem.vvp" "$stem.v"
    # DECLFILENAME only says that the file is named after the description,
    # not after the module; see the README.
    run verilator --lint-only -Wall -Wno-DECLFILENAME "$stem.v"
    # Synthesis of a 20,000-bit comparison takes Yosys 20 s; reading it is
    # what the width could break.
    synth="synth -top GUARD"
    [ "$stem" = wide ] && synth="hierarchy -top GUARD; proc; opt"
    run yosys -q -p "read_verilog $stem.v; $synth; check -assert"
    echo "ok $stem.v"
done

# The README's commands for Verilog users, as written, from a copy of the
# files they name: both simulators must print the testbench's PASS.
readme=$(awk '
    $0 == "## The checker in Verilog" { found = 1; next }
    found && /^```sh$/ { inside = 1; next }
    inside && /^```$/ { exit }
    inside { print }' "$src/README.md")
test -n "$readme" || { echo "FAIL: no commands in the README's Verilog section" >&2; exit 1; }
mkdir -p repo/examples repo/build repo/tests/verilog
cp "$src/examples/traffic_light.txt" repo/examples/
cp "$here/traffic_tb.v" repo/tests/verilog/
ln -s "$guardgen" repo/build/guardgen
cd repo
if ! out=$(set -e; eval "$readme" 2>&1); then
    echo "FAIL: the README's Verilog commands:" >&2
    echo "$out" | tail -20 >&2
    exit 1
fi
test "$(grep -cx PASS <<< "$out")" = 2 || { echo "FAIL: no PASS from both simulators:" >&2; echo "$out" | tail -20 >&2; exit 1; }
echo "ok README commands: Icarus and Verilator simulation, Yosys synthesis"
