#!/bin/sh
# Measures the tool's schedule on a Mac: the schedule benchmark (1,000 steps of
# 5 ms, beside the reference loop that only sleeps until its deadlines), once
# started normally and once in the background band, where the system coalesces
# timers the most. Each band gives its tables (wake lateness beside the
# reference loop's, and the tool's work a step), its picture and every step's
# figures. The tool is the one a user runs; nothing about its scheduling
# changes for this.
#
#   scripts/macos-bench.sh [rounds]      default 5; writes build-bench/schedule-BAND.md,
#                                        .svg and .json, and appends the tables to
#                                        $GITHUB_STEP_SUMMARY when it is set
set -eu
cd "$(dirname "$0")/.."
if [ "$(uname -s)" != Darwin ]; then
    echo "macos-bench: measures on a Mac; elsewhere run bench/schedule.py" >&2
    exit 1
fi
rounds=${1:-5}
build="build-bench"

scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTHRUM_WERROR=ON -DTHRUM_SIM=ON -DTHRUM_BENCH=ON >/dev/null
cmake --build "$build"

machine="macOS $(sw_vers -productVersion), $(sysctl -n machdep.cpu.brand_string), $(sysctl -n hw.ncpu) cores"
# The system's own launcher for the background band lives under /usr/bin, where
# the loader drops the redirect's variable; ours passes it on.
for band in normal background; do
    launcher=""
    title="started normally"
    if [ "$band" = background ]; then
        launcher="$build/bench/background"
        title="started in the background band"
    fi
    out="$build/schedule-$band"
    printf '\n## The schedule on %s, %s\n\n' "$machine" "$title" >"$out.md"
    python3 bench/schedule.py --build "$build" --only precision --repeat "$rounds" \
        --launcher "$launcher" --markdown "$out.md" --svg "$out.svg" --json "$out.json"
    printf "\nThe picture and every step's figures: \`%s\` and \`%s\`, among the job's files.\n" \
        "$out.svg" "$out.json" >>"$out.md"
    if [ -n "${GITHUB_STEP_SUMMARY:-}" ]; then
        cat "$out.md" >>"$GITHUB_STEP_SUMMARY"
    fi
done
