#!/bin/sh
# Builds the fuzz targets with clang in build-fuzz/ and runs the step
# conversion's for N seconds (default 60), from the committed seeds, keeping
# what it learns in fuzz/corpus-run/. Exits non-zero when it finds a fault.
set -eu
seconds=${1:-60}
cd "$(dirname "$0")/.."

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTHRUM_FUZZ=ON -DBUILD_TESTING=OFF -DTHRUM_WERROR=ON >/dev/null
cmake --build build-fuzz --target step_fuzz

mkdir -p fuzz/corpus-run/step build-fuzz/artifacts
build-fuzz/fuzz/step_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -dict=fuzz/step.dict -artifact_prefix=build-fuzz/artifacts/ \
    fuzz/corpus-run/step fuzz/corpus/step
