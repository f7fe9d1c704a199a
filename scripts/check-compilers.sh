#!/bin/sh
# Builds with the compilers that come after the one the presets use, warnings
# as errors: the newest clang Debian 12 carries (22, from its security archive)
# builds everything, the tool, the simulation, the tests, the benchmarks and the
# fuzz targets; clang 19 with libc++, as the Xcode clang of LLVM 19 builds on a
# Mac, builds the tool and the simulation (Debian's googletest and benchmark
# are built for libstdc++). Installs the compilers when they are missing.
#
#   scripts/check-compilers.sh      builds in build-clang22/ and build-libcxx/
set -eu
cd "$(dirname "$0")/.."

scripts/install-missing.sh clang++-22:clang-22 /usr/lib/llvm-22/lib/clang/22/include/fuzzer:libclang-rt-22-dev \
    clang++-19:clang-19 /usr/lib/llvm-19/include/c++/v1:libc++-19-dev /usr/lib/llvm-19/lib/libc++abi.so:libc++abi-19-dev
scripts/setup.sh

CC=clang-22 CXX=clang++-22 cmake -S . -B build-clang22 -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTHRUM_BENCH=ON -DTHRUM_FUZZ=ON -DTHRUM_WERROR=ON >/dev/null
cmake --build build-clang22

CC=clang-19 CXX=clang++-19 cmake -S . -B build-libcxx -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-stdlib=libc++ -DBUILD_TESTING=OFF -DTHRUM_SIM=ON -DTHRUM_WERROR=ON >/dev/null
cmake --build build-libcxx
# Built with libc++, the tool links libc++ and not libstdc++.
ldd build-libcxx/thrum | grep -q 'libc++\.so' && ! ldd build-libcxx/thrum | grep -q libstdc++ ||
    { echo "check-compilers: build-libcxx/thrum does not link libc++ alone" >&2; exit 1; }
echo "check-compilers: clang 22 builds everything, clang 19 with libc++ the tool and the simulation, warning-free"
