#!/bin/bash
# The README's test command on a machine that lacks a package the tests
# need, run by a user who is not root: it must print the exact install
# line and exit with status 2 before building anything.
# Usage: check_script_test.sh SOURCE_DIR
set -eu
src=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A command path with every tool ./check looks for except valgrind, and an
# id that says the user is not root.
mkdir "$work/bin"
for tool in bash dirname cmake g++ python3 ghdl groff dot yosys iverilog verilator clang++-14; do
    found=$(command -v "$tool" || true)
    if [ -n "$found" ]; then ln -s "$found" "$work/bin/$tool"; fi
done
printf '#!/bin/sh\necho 1000\n' > "$work/bin/id"
chmod +x "$work/bin/id"

status=0
PATH="$work/bin" "$src/check" "$work/build" > "$work/out" 2> "$work/err" || status=$?
fail() {
    echo "$1"
    echo "stdout:"; cat "$work/out"
    echo "stderr:"; cat "$work/err"
    exit 1
}
[ "$status" = 2 ] || fail "exit status $status, expected 2"
line=$(grep '^sudo apt-get install -y ' "$work/err") || fail "no install line"
case " ${line#sudo apt-get install -y } " in
*" valgrind "*) ;;
*) fail "valgrind is not in the install line" ;;
esac
[ ! -e "$work/build" ] || fail "it configured a build all the same"
echo "./check asks for the missing packages"
