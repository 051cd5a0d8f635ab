#!/bin/bash
# Runs the README's user commands as written: the quick start's guardgen
# call on the example, and the GHDL commands that compile the checker.
# Usage: readme_test.sh SOURCE_DIR BUILD_DIR
set -eu
src=$(realpath "$1")
build=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The code block that follows a heading of the README (the Nth one, 1 by default).
block() {
    awk -v heading="$1" -v wanted="${2:-1}" '
        $0 == heading { found = 1; next }
        found && /^```sh$/ { inside = 1; n++; next }
        inside && /^```$/ { inside = 0; if (n == wanted) exit; next }
        inside && n == wanted { print }' "$src/README.md"
}

quickstart=$(block "# guardgen" | head -1)
run=${quickstart##*&& }
test "$run" = "./build/guardgen examples/traffic_light.txt"
mkdir -p "$work/examples" "$work/build"
cp "$src/examples/traffic_light.txt" "$work/examples/"
ln -s "$build/guardgen" "$work/build/guardgen"
(cd "$work" && eval "$run" > /dev/null)

# The second command is the whole test suite, and CI runs that same script.
test "$(block "# guardgen" 2)" = "./check" || { echo "README: the test command is not ./check"; exit 1; }
test -x "$src/check" || { echo "./check is not executable"; exit 1; }
grep -Eq '^(bash )?\./check$' "$src/.ci/run" || { echo ".ci/run does not run ./check"; exit 1; }
# The picture's command, into a docs/ of the work copy.
picture=$(block "## Seeing the machine (\`--dot\`)")
test -n "$picture"
mkdir -p "$work/docs"
(cd "$work" && eval "$picture" > /dev/null && test -s docs/traffic_light.svg)

compile=$(block "## Compiling the checker")
test -n "$compile"
cd "$work/examples"
eval "$compile" > /dev/null
echo "README commands work"
