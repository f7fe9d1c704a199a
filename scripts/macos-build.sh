#!/bin/sh
# Cross-compiles and links thrum for macOS 12 on Apple silicon from Linux, then
# checks the result: a Mach-O arm64 executable that links CoreFoundation and not
# the multitouch framework. The simulated trackpad is built too and checked: a
# redirect that interposes dlopen and a simulation over the platform's
# CoreFoundation; so is the Mac report's probe (probe/). The compiler is Zig's
# bundled clang with macOS C library headers, fetched once with npm into a cache
# outside the repository; the build logic lives in cmake/macos-cross.cmake. The
# first build also compiles libc++ for the target, which takes a minute or more.
#
#   scripts/macos-build.sh [build-dir]      default build-macos
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-macos}
cache=${THRUM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/thrum}

if [ "$(uname -s)" != Linux ] || [ "$(uname -m)" != x86_64 ]; then
    echo "macos-build: the cross-build runs on x86-64 Linux; on a Mac, build with cmake --preset default" >&2
    exit 1
fi
scripts/install-missing.sh cmake:cmake ninja:ninja-build python3:python3 npm:npm \
    /usr/include/gtest:libgtest-dev /usr/include/gmock:libgmock-dev

zig=$(scripts/zig.sh)
# Zig keeps what it compiles for the target (libc++ among it) here, not in ~/.cache/zig.
export ZIG_GLOBAL_CACHE_DIR="$cache/zig-cache"

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=cmake/macos-cross.cmake -DZIG="$zig" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTHRUM_WERROR=ON -DTHRUM_SIM=ON -DTHRUM_PROBE=ON >/dev/null
cmake --build "$build" -j2
python3 scripts/macho-check.py "$build/thrum"
python3 scripts/macho-sim-check.py "$build/sim/libmtredirect.dylib" "$build/sim/libmultitouch_sim.dylib"
cmake -DTHRUM="$build/thrum" -DMANUAL="$build/man/thrum.1" \
    -DVERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")" -P tests/version_test.cmake

# The tests that a Mac runs, compiled for it too (not linked: there is no
# googletest for macOS here), against the host's googletest headers alone; and
# the benchmark's programs that have a branch of their own there.
headers=$(mktemp -d)
trap 'rm -rf "$headers"' EXIT
ln -s /usr/include/gtest /usr/include/gmock "$headers/"
compile() {
    "$zig" "$@" -target aarch64-macos.12.0 -Wall -Wextra -Wpedantic -Werror -c -o "$headers/test.o"
}
for test in tests/unit/*_test.cc sim/cftree.cc; do
    [ "$test" != tests/unit/cf_test.cc ] || continue
    compile c++ -std=c++20 -Isrc -Isim -Itests -isystem cf/include -isystem "$headers" "$test"
done
for source in tests/cli/*.cc; do
    compile c++ -std=c++20 -Itests/cli -Itests -Isim -isystem cf/include -isystem "$headers" -DTHRUM_BINARY='"thrum"' \
        -DSIM_DIR='"sim"' -DLIBRARY_SUFFIX='".dylib"' -DREDIRECT_LIBRARY='"sim/libmtredirect.dylib"' \
        -DSCENARIO_BINARY='"sim_scenario"' -DPROBE_BINARY='"mac_probe"' -DREDIRECT_PROBE='"redirect_probe"' \
        "$source"
done
compile c++ -std=c++20 bench/reference_loop.cc
compile c++ -std=c++20 bench/peak_rss.cc
compile cc -std=c11 bench/background.c
echo "macos-build: the unit and process tests and the schedule benchmark's programs compile for macOS"
