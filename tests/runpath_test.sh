#!/bin/sh
# The check of empty run-path entries, scripts/check-runpath.sh: on libraries
# made with each kind of run path it names exactly the faulty ones; on the
# build it passes; and the built tool, started from a folder that holds a
# libc.so.6 of its own, does not load it.
#
#   tests/runpath_test.sh CHECK BUILD-DIR C-COMPILER TOOL
set -eu
check=$1 build=$2 cc=$3 tool=$4
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
faults=0
fault() {
    echo "runpath_test: $*" >&2
    faults=$((faults + 1))
}

libraries="$scratch/a folder"
mkdir "$libraries"
echo 'int x;' >"$scratch/x.c"
library() {
    name=$1
    shift
    "$cc" -shared -fPIC -o "$libraries/$name" "$scratch/x.c" "$@"
}
library none.so
library one.so -Wl,--enable-new-dtags,-rpath=/a
library two.so "-Wl,--enable-new-dtags,-rpath=\$ORIGIN/x:/b"
library trailing.so -Wl,--enable-new-dtags,-rpath=/a:
library leading.so -Wl,--enable-new-dtags,-rpath=:/a
library double.so -Wl,--enable-new-dtags,-rpath=/a::/b
library empty.so -Wl,--enable-new-dtags,-rpath=
library old-style.so -Wl,--disable-new-dtags,-rpath=/a:
status=0
"$check" "$scratch" >/dev/null 2>"$scratch/err" || status=$?
[ "$status" = 1 ] || fault "the check of the made libraries ended with status $status, want 1"
named=$(sed -n 's|^check-runpath: .*/a folder/\([^:]*\): run path .*|\1|p' "$scratch/err" | sort | tr '\n' ' ')
[ "$named" = "double.so empty.so leading.so old-style.so trailing.so " ] ||
    fault "the check named '$named', want the five with an empty entry; it said: $(cat "$scratch/err")"

"$check" "$build" >/dev/null 2>"$scratch/err" || fault "the check of $build failed: $(cat "$scratch/err")"

# No framework here, so the tool names the first function it lacks; a loader
# that took the planted file would end it before main.
mkdir "$scratch/planted"
echo 'not a library' >"$scratch/planted/libc.so.6"
status=0
(cd "$scratch/planted" && "$tool" --check 2>"$scratch/err") || status=$?
if [ "$status" != 1 ] || [ "$(cat "$scratch/err")" != "no MTDeviceCreateList" ]; then
    fault "$tool --check, started next to a planted libc.so.6, ended with status $status: $(cat "$scratch/err")"
fi

[ "$faults" -eq 0 ]
