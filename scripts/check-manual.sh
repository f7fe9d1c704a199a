#!/bin/sh
# Lints the manual page with both formatters a reader may have (mandoc, and
# groff as man-db runs it, every warning on) and checks that the manual and the
# README name every diagnostic the source can print, so that neither falls
# behind the tool.
set -eu
cd "$(dirname "$0")/.."

scripts/install-missing.sh mandoc:mandoc groff:groff-base col:bsdextrautils

faults=0
# The manual is a template whose footer names the tool and its version, which
# is how a page outside the base system should read; lint says nothing else.
lint=$(mandoc -T lint man/thrum.1.in 2>&1 | grep -v 'STYLE: operating system explicitly specified: Os thrum' || true)
[ -z "$lint" ] || { echo "$lint" >&2; faults=$((faults + 1)); }
# groff reports a line it cannot break only as a warning, with status 0.
warnings=$(groff -mandoc -Tutf8 -ww -z man/thrum.1.in 2>&1) || faults=$((faults + 1))
[ -z "$warnings" ] || { echo "$warnings" >&2; faults=$((faults + 1)); }

# Every literal message passed to fail, and "no " with each framework
# function the tool looks up. A message that ends in ": " is followed by the
# argument, which the texts write as a placeholder.
messages=$(
    grep -rhoE 'fail\((std::string\()?"[^"]+"' src | sed -E 's/^[^"]*"//; s/"$//' | grep -v '^no $'
    grep -rhoE 'symbol<[^>]*>\("[A-Za-z]+"\)' src | sed -E 's/^[^"]*"/no /; s/"\)$//'
)
messages=$(echo "$messages" | sort -u)
[ -n "$messages" ] || { echo "check-manual: found no messages in src" >&2; exit 1; }

manual=$(mandoc -T ascii man/thrum.1.in | col -b | tr -s ' \n' '  ')
readme=$(tr -s ' \n' '  ' <README.md)
echo "$messages" | {
    missing=0
    while IFS= read -r message; do
        case "$manual" in *"$message"*) ;; *) echo "check-manual: the manual lacks \"$message\"" >&2; missing=1 ;; esac
        case "$readme" in *"$message"*) ;; *) echo "check-manual: README.md lacks \"$message\"" >&2; missing=1 ;; esac
    done
    exit $missing
} || faults=$((faults + 1))

[ "$faults" -eq 0 ] || exit 1
echo "check-manual: man/thrum.1.in lints clean in mandoc and groff and, with README.md, names all $(echo "$messages" | wc -l) diagnostics"
