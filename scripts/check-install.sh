#!/bin/sh
# Installs the build into a temporary prefix and checks the tree: exactly the
# tool, its manual page and (off a Mac) the CoreFoundation stand-in it links;
# the installed tool runs from there alone, and answers through the simulated
# trackpad as the built one does.
#
#   scripts/check-install.sh [build-dir]      default build
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j2 >/dev/null

prefix=$(mktemp -d)
out=$(mktemp)
err=$(mktemp)
trap 'rm -rf "$prefix" "$out" "$err"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

faults=0
fault() {
    echo "check-install: $*" >&2
    faults=$((faults + 1))
}

expected="bin/thrum
share/man/man1/thrum.1"
[ "$(uname -s)" = Darwin ] || expected="$expected
lib/thrum/libCoreFoundation.so"
actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
expected=$(echo "$expected" | sort)
[ "$actual" = "$expected" ] || fault "installed files differ: got $(echo $actual), want $(echo $expected)"
[ -x "$prefix/bin/thrum" ] || fault "bin/thrum is not executable"
cmp -s "$build/man/thrum.1" "$prefix/share/man/man1/thrum.1" || fault "share/man/man1/thrum.1 is not the built manual"

# run expected-status expected-stderr command...: checks one run of the tool,
# started with an empty environment from the root directory, so that nothing
# of the build tree can be found by accident.
run() {
    want=$1 line=$2
    shift 2
    status=0
    (cd / && env -i "$@" >"$out" 2>"$err") || status=$?
    [ "$status" = "$want" ] || fault "$* ended with status $status, want $want"
    [ ! -s "$out" ] || fault "$* wrote to standard output"
    if [ -n "$line" ]; then
        printf '%s\n' "$line" | cmp -s - "$err" || fault "$* wrote '$(cat "$err")' on standard error, want '$line'"
    else
        [ ! -s "$err" ] || fault "$* wrote '$(cat "$err")' on standard error"
    fi
}

if [ "$(uname -s)" = Darwin ]; then
    # A Mac with a haptic trackpad and one without (a virtual one, say) answer
    # differently, and both pass: the log says which, and the installed tool
    # must answer as the built one does.
    scripts/check-answer.sh "$prefix/bin/thrum" "$build/thrum" || fault "the installed tool answers --check otherwise"
else
    # The installed tool starts with nothing but the prefix: it finds the
    # stand-in through its run path and, with no framework here, names the first function.
    run 1 "no MTDeviceCreateList" "$prefix/bin/thrum" --check
    # The redirect by its bare name from its folder: the loader cuts
    # LD_PRELOAD at spaces and colons, not LD_LIBRARY_PATH at spaces.
    sim=$(cd "$build" && pwd)/sim
    [ -f "$sim/libmtredirect.so" ] || fault "no $sim/libmtredirect.so: build with the tests to check the tool against the simulation"
    [ ! -f "$sim/libmtredirect.so" ] || run 0 "" "LD_LIBRARY_PATH=$sim" LD_PRELOAD=libmtredirect.so "$prefix/bin/thrum" --check
    [ ! -f "$sim/libmtredirect.so" ] || run 0 "" "LD_LIBRARY_PATH=$sim" LD_PRELOAD=libmtredirect.so "$prefix/bin/thrum" 1 150:25:1:0
fi

[ "$faults" -eq 0 ] || exit 1
echo "check-install: $(echo $expected) install and run"
