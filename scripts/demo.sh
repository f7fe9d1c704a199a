#!/bin/sh
# The main job. On a Mac: check for the haptic trackpad and play a sample
# pattern on it. Elsewhere: play the same pattern on the simulated trackpad and
# draw what the tool sent as a timeline picture, with a short summary.
#
#   scripts/demo.sh [build-dir]      default build
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
# A double tap, a ramp rising in strength and pitch, and a heartbeat.
pattern="0.8 150:20:1:90 150:20:1:300 100:30:0.2:30 130:30:0.4:30 160:30:0.6:30 190:30:0.8:30 220:30:1:300 80:40:1:140 80:30:0.6:0"

if [ "$(uname -s)" = Darwin ]; then
    "$build/thrum" --check
    echo "thrum --check: this Mac has a haptic trackpad"
    "$build/thrum" $pattern
    echo "played: thrum $pattern"
    exit 0
fi

log=$build/demo.log
svg=$build/demo-timeline.svg
rm -f "$log"
# The tool on the simulated trackpad. The loader cuts LD_PRELOAD at spaces and
# colons, so the redirect goes in by its bare name, found in its folder on the
# library path: that works in a folder whose path has a space.
simulated() {
    LD_LIBRARY_PATH="$PWD/$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" LD_PRELOAD=libmtredirect.so \
        MTSIM_LOG="$PWD/$log" "$build/thrum" "$@"
}
simulated --check
echo "thrum --check: a haptic trackpad is there (simulated)"
began=$(date +%s%N)
simulated $pattern
ended=$(date +%s%N)
echo "played on the simulated trackpad: thrum $pattern"
echo "thrum ran for $(((ended - began) / 1000000)) ms; the simulation's log is $log"
python3 scripts/timeline.py "$log" "$svg" $pattern
