#!/usr/bin/env bash
# Runs the integration demo: the crossing controller next to the checker that
# guardgen writes from traffic_guard.txt, a normal run and two injected faults.
#
#   examples/integration/run.sh path/to/guardgen
#
# Exits 0 only when guardgen wrote the checker, GHDL analysed, elaborated and
# ran everything, ERROR stayed '0' in the normal run, and ERROR rose in the
# predicted cycles of both faults. Needs GHDL (VHDL-2008); set GHDL to use
# another binary than the one on PATH.
set -u

if [ $# -ne 1 ]; then
  echo "usage: $0 GUARDGEN_PATH" >&2
  exit 2
fi

guardgen=$1
case $guardgen in
  */*) guardgen=$(cd "$(dirname "$guardgen")" && pwd)/$(basename "$guardgen") ;;
  *) guardgen=$(command -v "$guardgen") ;;
esac
if [ ! -x "$guardgen" ]; then
  echo "run.sh: $1 is no executable" >&2
  exit 2
fi
ghdl=${GHDL:-ghdl}
if ! command -v "$ghdl" >/dev/null; then
  echo "run.sh: GHDL not found (install the Debian package ghdl)" >&2
  exit 2
fi

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "run.sh: FAIL: $*" >&2
  exit 1
}

cp "$here/traffic_guard.txt" "$here/traffic_ctrl.vhd" "$here/traffic_tb.vhd" "$work/" \
  || fail "cannot copy the demo files"
cd "$work" || fail "cannot enter $work"

echo "== guardgen traffic_guard.txt"
"$guardgen" traffic_guard.txt
status=$?
echo
[ $status -eq 0 ] || fail "guardgen exited with $status"
[ -f traffic_guard.vhd ] || fail "guardgen wrote no traffic_guard.vhd"

flags=(--std=08 -fsynopsys --workdir=.)
echo "== ghdl -a ${flags[*]}: checker, controller, testbench"
for f in traffic_guard.vhd traffic_ctrl.vhd traffic_tb.vhd; do
  "$ghdl" -a "${flags[@]}" "$f" || fail "GHDL rejected $f"
done
"$ghdl" -e "${flags[@]}" traffic_tb || fail "GHDL could not elaborate traffic_tb"

echo "== ghdl -r traffic_tb"
# Values are 'U' before the first delta cycle: the arithmetic package's
# warnings at time 0 say nothing about the design. The stop time only
# guards against a hang; the testbench ends itself.
"$ghdl" -r "${flags[@]}" traffic_tb --ieee-asserts=disable-at-0 --stop-time=100us \
  >sim.log 2>&1
status=$?
cat sim.log
[ $status -eq 0 ] || fail "the simulation failed (exit status $status)"

grep -q "NORMAL: .* ERROR stayed '0'" sim.log || fail "no clean normal run in the output"
grep -q "FAULT 1 caught" sim.log || fail "fault 1 was not caught"
grep -q "FAULT 2 caught" sim.log || fail "fault 2 was not caught"
grep -q "PASS: " sim.log || fail "the testbench did not reach its PASS line"

echo "run.sh: PASS: ERROR stayed '0' in the normal run and rose in the predicted cycles"
exit 0
