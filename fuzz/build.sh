#!/usr/bin/env bash
# Builds the libFuzzer harness with AddressSanitizer and UndefinedBehaviorSanitizer.
# Usage: fuzz/build.sh [OUTPUT_DIR]   (default: build-fuzz beside src/)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/build-fuzz}
cxx=${CXX_FUZZ:-clang++-14}
mkdir -p "$out"
# Every unit but the driver: the harness stands in for main.
units=()
for f in "$root"/src/*.cpp; do
    [ "$(basename "$f")" = main.cpp ] || units+=("$f")
done

# lex.cpp with GUARDGEN_FUZZ leaves endRun to the harness, which returns to
# the fuzzer instead of ending the process.
"$cxx" -std=c++17 -g -O1 -Wall -Wextra -pthread \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -DGUARDGEN_FUZZ -I"$root/src" \
    "$root/fuzz/fuzz_guardgen.cpp" "${units[@]}" \
    -o "$out/fuzz_guardgen"
echo "built $out/fuzz_guardgen"
