#!/bin/sh
# Lints the manual page with both formatters a reader may have (mandoc, and
# groff as man-db runs it, every warning on), checks that each formatter shows
# every example whole at 80 columns, and that the manual and the README name
# every diagnostic the source can print, so that neither falls behind the tool.
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

# A reader copies an example from the page as a terminal of 80 columns shows
# it: each must come out whole, no line wider than that, a long one continued
# with a backslash, so that the copy is the command.
examples() {
    col -b | tr '\t' ' ' | awk '/^EXAMPLES/ { on = 1; next } /^[A-Z]/ { on = 0 }
        on && length($0) > 80 { print "too wide: " $0; next }
        on { sub(/^ +/, "") }
        on && joined != "" { joined = joined " " $0 }
        on && joined == "" && /^thrum / { joined = $0 }
        on && joined != "" && !/\\$/ { print joined; joined = "" }
        on && joined != "" { sub(/ *\\$/, "", joined) }'
}
source=$(sed -n '/^\.Sh EXAMPLES/,/^\.Sh /p' man/thrum.1.in | sed 's/\\e$/\\/' | grep -v '^\.' | sed 's/^ *//' |
    awk '{ line = line (line == "" ? "" : " ") $0 } !/\\$/ && line ~ /^thrum / { print line } !/\\$/ { line = "" }
         /\\$/ { sub(/ *\\$/, "", line) }')
source="$(grep '^\.Dl thrum ' man/thrum.1.in | sed 's/^\.Dl //')
$source"
source=$(echo "$source" | sort)
for formatter in "mandoc -T ascii -O width=80" "groff -mandoc -Tascii -rLL=80n -rLT=80n"; do
    shown=$($formatter man/thrum.1.in 2>/dev/null | examples | sort)
    [ "$shown" = "$source" ] || {
        echo "check-manual: at 80 columns $formatter shows the examples as" >&2
        echo "$shown" >&2
        echo "check-manual: not as the page has them:" >&2
        echo "$source" >&2
        faults=$((faults + 1))
    }
done

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
echo "check-manual: man/thrum.1.in lints clean in mandoc and groff, shows its examples whole at 80 columns and, with README.md, names all $(echo "$messages" | wc -l) diagnostics"
