#!/bin/bash
# Every example's Verilog checker, and two made to reach the tools' limits
# (names of 1023 characters, a constant wider than Icarus reads in one
# token), through Icarus Verilog, a Verilator lint and a Yosys synthesis;
# then the traffic-light checker simulated by traffic_tb.v in Icarus and in
# Verilator. The commands are those the README gives.
# Usage: verilog_tools.sh GUARDGEN EXAMPLES_DIR
set -u
guardgen=$(realpath "$1")
examples=$(realpath "$2")
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
    run iverilog -g2005 -o "$stem.vvp" "$stem.v"
    # DECLFILENAME only says that the file is named after the description,
    # not after the module; see the README.
    run verilator --lint-only -Wall -Wno-DECLFILENAME "$stem.v"
    run yosys -q -p "read_verilog $stem.v; synth -top GUARD; check -assert"
    echo "ok $stem.v"
done

run iverilog -g2005 -o traffic_tb.vvp traffic_light.v "$here/traffic_tb.v"
run vvp -n traffic_tb.vvp
grep -qx PASS <<< "$out" || { echo "FAIL: Icarus: $out" >&2; exit 1; }
echo "ok Icarus simulation"
run verilator --binary -Wno-DECLFILENAME --top-module traffic_tb traffic_light.v "$here/traffic_tb.v"
run obj_dir/Vtraffic_tb
grep -qx PASS <<< "$out" || { echo "FAIL: Verilator: $out" >&2; exit 1; }
echo "ok Verilator simulation"
