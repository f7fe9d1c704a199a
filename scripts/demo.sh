#!/bin/sh
# The main job: on a Mac, check for the trackpad and play a sample pattern;
# elsewhere, the same against the simulated trackpad, showing what it received.
set -eu
build=${1:-build}
pattern="0.8 150:25:1:80 150:25:0.6:200 80:40:1:120 220:15:0.8:0"

if [ "$(uname -s)" = Darwin ]; then
    "$build/thrum" --check
    "$build/thrum" $pattern
    echo "played: $pattern"
    exit 0
fi

log=$(mktemp)
trap 'rm -f "$log"' EXIT
export LD_PRELOAD="$PWD/$build/sim/libmtredirect.so"
export MTSIM_LOG="$log"
"$build/thrum" --check && echo "thrum --check: a haptic trackpad is there (simulated)"
"$build/thrum" $pattern
echo "thrum $pattern"
echo "the simulated trackpad received:"
cat "$log"
