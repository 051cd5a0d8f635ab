#!/bin/bash
# Installs into a temporary prefix and runs the installed guardgen on an
# installed example, as a user who installed it would.
# Usage: install_test.sh BUILD_DIR
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
test -f "$prefix/share/man/man1/guardgen.1"
examples="$prefix/share/doc/guardgen/examples"
test -f "$examples/traffic_light.txt"
cp "$examples/traffic_light.txt" "$prefix/fsm.txt"
cd "$prefix"
"$prefix/bin/guardgen" fsm.txt > transcript
printf 'Soubor fsm.txt otevren...\nVstupni soubor zpracovan...\nSoubor fsm.txt zavren...' | cmp - transcript
grep -q '^entity GUARD is$' fsm.vhd
echo "installed guardgen works"
