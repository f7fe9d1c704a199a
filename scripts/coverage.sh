#!/bin/sh
# Line and branch coverage of src/ over the whole suite (unit, process and
# Python tests), from a gcc --coverage build in build-coverage/; fails below
# 95 % of either. Debian or Ubuntu (apt-get, gcc); CI runs it.
set -eu
cd "$(dirname "$0")/.."
build=build-coverage

scripts/setup.sh
scripts/install-missing.sh gcovr:gcovr

# Unoptimised, so that every line and branch is the source's own. The tool
# exports gcov's dump, which the redirect calls in front of _exit: a failure
# ends the process without the exit handler that would write the counts.
CC=gcc CXX=g++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTHRUM_WERROR=ON \
    -DCMAKE_C_FLAGS="--coverage -O0" -DCMAKE_CXX_FLAGS="--coverage -O0" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage -Wl,--undefined=__gcov_dump -Wl,--export-dynamic-symbol=__gcov_dump" \
    -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
cmake --build "$build"

# Counts add up across runs: only this suite's may be in them. Tests run in
# parallel; each process merges its counts into the .gcda files under gcov's
# file lock, so none are lost.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

# Throw branches are the runtime's edges out of calls that can throw; the tool
# throws nothing and ends every failure through fail. Unreachable branches
# are those gcc makes on lines with no code of their own (a closing brace).
gcovr --root . --filter 'src/' --exclude-throw-branches --exclude-unreachable-branches \
    --print-summary --fail-under-line 95 --fail-under-branch 95 "$build"
