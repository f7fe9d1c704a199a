#!/bin/sh
# Builds and tests against a CoreFoundation installed elsewhere, as against
# any other one (THRUM_COREFOUNDATION): a copy of the stand-in, installed into
# a temporary prefix, plays that part. The build must compile and link against
# the prefix alone, build neither the stand-in nor its tests, find the copy at
# run time through the run path, installed too, and pass the whole suite.
#
#   scripts/check-other-cf.sh
set -eu
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix build=$work/build installed=$work/installed

# The copy, built on its own and laid out as an install lays out a library.
cmake -S . -B "$work/standin" -G Ninja -DBUILD_TESTING=OFF -DTHRUM_WERROR=ON >/dev/null
cmake --build "$work/standin" -j2 --target CoreFoundation >/dev/null
mkdir -p "$prefix/lib" "$prefix/include"
cp "$work/standin/lib/libCoreFoundation.so" "$prefix/lib/"
cp -R cf/include/CoreFoundation "$prefix/include/"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTHRUM_WERROR=ON \
    -DTHRUM_COREFOUNDATION="$prefix" >/dev/null
cmake --build "$build" -j2 >/dev/null

faults=0
fault() {
    echo "check-other-cf: $*" >&2
    faults=$((faults + 1))
}
[ ! -e "$build/lib/libCoreFoundation.so" ] || fault "the stand-in was built as well"
! ninja -C "$build" -t commands | grep -qF -- "$PWD/cf/" || fault "a command of the build uses the stand-in in cf/"
for binary in thrum sim/libmultitouch_sim.so tests/unit_tests tests/cli_tests; do
    readelf -d "$build/$binary" | grep -E 'R(UN)?PATH' | grep -qF -- "$prefix/lib" ||
        fault "$binary has no run path to $prefix/lib"
done
! ctest --test-dir "$build" -N | grep -q 'StandIn' || fault "the stand-in's own tests were built"
ctest --test-dir "$build" -j2 --output-on-failure >"$work/ctest.log" 2>&1 || {
    cat "$work/ctest.log" >&2
    fault "the suite fails"
}

# Installed, the tool keeps finding that CoreFoundation, and brings none of its own.
cmake --install "$build" --prefix "$installed" >/dev/null
[ -z "$(find "$installed" -name 'libCoreFoundation*')" ] || fault "the install tree has a CoreFoundation"
# With no framework here it starts and names the first function it lacks.
said=$(cd / && env -i "$installed/bin/thrum" --check 2>&1 >/dev/null) || true
[ "$said" = "no MTDeviceCreateList" ] || fault "the installed tool does not start as it should: $said"

[ "$faults" -eq 0 ] || exit 1
echo "check-other-cf: the suite passes against a copy of the stand-in installed elsewhere, and nothing builds the stand-in"
