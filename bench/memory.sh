#!/usr/bin/env bash
# Peak resident memory of a long pattern against a short one, and a leak check,
# both through the real binary and the simulated trackpad.
#   bench/memory.sh [build directory, default build]
# Every step is 150:0:1:0 (no tone, no wait), so the run is all playing.
set -euo pipefail
build=${1:-build}
for file in "$build/thrum" "$build/sim/libmtredirect.so"; do
    [ -e "$file" ] || { echo "memory.sh: $file is missing; build first" >&2; exit 1; }
done
# The redirect by its bare name from its folder: the loader cuts LD_PRELOAD at spaces.
export LD_LIBRARY_PATH=$(cd "$build/sim" && pwd)

small=1000
large=100000
step=150:0:1:0

# Peak resident set size in KiB of one run of $1 steps, the best of three:
# other work on the machine can only add pages.
peak() {
    local args=() run
    for ((i = 0; i < $1; i++)); do args+=("$step"); done
    for run in 1 2 3; do
        LD_PRELOAD=libmtredirect.so /usr/bin/time -f %M "$build/thrum" 1 "${args[@]}" 2>&1 >/dev/null | tail -n 1
    done | sort -n | head -n 1
}

smallKiB=$(peak $small)
largeKiB=$(peak $large)
echo "peak RSS, $small steps:   $smallKiB KiB"
echo "peak RSS, $large steps: $largeKiB KiB"
awk -v s="$smallKiB" -v l="$largeKiB" -v n=$((large - small)) -v t=$((${#step} + 1)) 'BEGIN {
    printf "difference: %d KiB, %.1f bytes a step (of which the step text and its argv pointer: %d)\n",
           l - s, (l - s) * 1024 / n, t + 8
}'

echo "valgrind --leak-check=full, $small steps:"
args=()
for ((i = 0; i < small; i++)); do args+=("$step"); done
LD_PRELOAD=libmtredirect.so valgrind --leak-check=full "$build/thrum" 1 "${args[@]}" 2>&1 |
    grep -E "definitely lost|indirectly lost|possibly lost|still reachable|ERROR SUMMARY|All heap blocks" || true
