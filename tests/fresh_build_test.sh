#!/bin/bash
# The README's first command on a fresh clone of a machine without
# GoogleTest: configuring says in one line that the tests are not built,
# and guardgen builds and makes the example's checker.
# Usage: fresh_build_test.sh SOURCE_DIR VERSION GUARDGEN
# (GUARDGEN: the suite's own build, whose checker the new one must equal)
set -eu
src=$(realpath "$1")
version=$2
reference=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# What a clone holds: the source tree without git's data and without any
# build directory (one that holds a CMake cache) or checker made in it.
excludes=(--exclude=./.git)
for cache in "$src"/*/CMakeCache.txt; do
    if [ -e "$cache" ]; then excludes+=("--exclude=./$(basename "$(dirname "$cache")")"); fi
done
mkdir "$work/clone"
tar -C "$src" "${excludes[@]}" -cf - . | tar -C "$work/clone" -xf -
cd "$work/clone"
rm -f examples/*.vhd
test ! -e build

# GoogleTest hidden from CMake, as if it were not installed. The cache
# keeps this for the README's command, which then runs as written.
cmake -S . -B build -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON > "$work/configure.log"
notes=$(grep -c "GoogleTest not found: the tests are not built" "$work/configure.log" || true)
if [ "$notes" != 1 ]; then
    echo "configure should say once that the tests are not built:"
    cat "$work/configure.log"
    exit 1
fi

command=$(awk '$0 == "# guardgen" { found = 1; next }
               found && /^```sh$/ { inside = 1; next }
               inside && /^```$/ { exit }
               inside { print }' "$src/README.md")
test -n "$command"
eval "$command" > "$work/build.log"
test ! -e build/tests

# The same checker as the suite's own build writes.
cp examples/traffic_light.txt "$work/ref.txt"
(cd "$work" && "$reference" ref.txt > /dev/null)
cmp examples/traffic_light.vhd "$work/ref.vhd"
test "$(./build/guardgen --version)" = "guardgen $version"
echo "guardgen builds and runs without GoogleTest"
