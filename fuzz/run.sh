#!/usr/bin/env bash
# Builds the fuzzing harness, replays the seed corpus (every file must pass),
# then fuzzes on one core for a bounded time.
# Usage: fuzz/run.sh [SECONDS]   (default 60; 0 replays only)
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${FUZZ_WORK:-$root/build-fuzz}
bin=$work/fuzz_guardgen

bash "$root/fuzz/build.sh" "$work"

# New inputs go to a scratch corpus, so the checked-in seeds stay as they are.
mkdir -p "$work/corpus" "$work/artifacts"
shopt -s nullglob
seeds=("$root"/fuzz/corpus/* "$root"/examples/*.txt "$root"/examples/*/*.txt)

# Replay: each seed and each former crash runs once; any failure stops here.
# close_fd_mask silences the tool's own messages; sanitizer reports still show.
echo "replaying ${#seeds[@]} seed inputs"
"$bin" -close_fd_mask=3 -runs=1 "${seeds[@]}" 2>"$work/replay.log" || {
    cat "$work/replay.log"
    echo "corpus replay FAILED" >&2
    exit 1
}
echo "corpus replay passed"

if [ "$seconds" -gt 0 ]; then
    cp -f "${seeds[@]}" "$work/corpus/"
    echo "fuzzing for ${seconds} s (log: $work/fuzz.log)"
    # One process, so one core. The log keeps a line per new input; only
    # the summary is shown unless something was found.
    if ! "$bin" "$work/corpus" \
        -dict="$root/fuzz/guardgen.dict" \
        -max_total_time="$seconds" \
        -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" >"$work/fuzz.log" 2>&1; then
        tail -n 60 "$work/fuzz.log"
        echo "fuzzing FAILED; the input is in $work/artifacts/" >&2
        exit 1
    fi
    grep -E '^(Done|stat::)' "$work/fuzz.log"
    echo "fuzzing passed: no crash in ${seconds} s"
fi
