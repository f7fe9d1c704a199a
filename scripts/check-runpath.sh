#!/bin/sh
# Checks that no ELF file under a build folder has an empty entry in its run
# path (DT_RUNPATH or DT_RPATH): an empty string, a leading or trailing ':' or
# a '::'. The loader reads an empty entry as the current folder, so such a
# program loads a library of the same name planted wherever it is started.
# Names every such file and its run path, then fails.
#
#   scripts/check-runpath.sh [build-dir]      default build
set -eu
build=${1:-build}
[ -d "$build" ] || { echo "check-runpath: no folder $build" >&2; exit 2; }
command -v readelf >/dev/null || { echo "check-runpath: no readelf (binutils)" >&2; exit 2; }

# One line for each ELF file ("elf") and one for each run path with an empty
# entry ("bad" and what to say). find hands the names to sh as arguments, so a
# name with spaces arrives whole.
report=$(find "$build" -type f -exec sh -c '
    for file; do
        [ "$(od -An -tx1 -N4 "$file" 2>/dev/null | tr -d " \n")" = 7f454c46 ] || continue
        echo elf
        readelf -d -W "$file" 2>/dev/null | sed -n \
            -e "s/^.*(RUNPATH) *Library runpath: \[\(.*\)\]\$/\1/p" \
            -e "s/^.*(RPATH) *Library rpath: \[\(.*\)\]\$/\1/p" |
            while IFS= read -r path; do
                case "$path" in
                "" | :* | *: | *::*) echo "bad $file: run path [$path] has an empty entry, which the loader reads as the current folder" ;;
                esac
            done
    done
    exit 0' sh {} +) || { echo "check-runpath: could not read every file under $build" >&2; exit 2; }

elves=$(printf '%s\n' "$report" | grep -c '^elf$' || true)
[ "$elves" -gt 0 ] || { echo "check-runpath: no ELF file under $build" >&2; exit 2; }
if printf '%s\n' "$report" | grep -q '^bad '; then
    printf '%s\n' "$report" | sed -n 's/^bad /check-runpath: /p' >&2
    exit 1
fi
echo "check-runpath: no empty run-path entry in the $elves ELF files under $build"
