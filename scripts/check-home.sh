#!/bin/sh
# Checks that the formula, the README and the issue form name one real home for
# thrum: while they hold the placeholder OWNER it fails, with one line naming
# the command that fixes it for REPOSITORY (where this runs, as GitHub's jobs
# pass it). Where they name another repository, a fork's upstream, it passes
# and says so.
#
#   scripts/check-home.sh REPOSITORY
set -u
cd "$(dirname "$0")/.." || exit 1
here=${1:?usage: scripts/check-home.sh REPOSITORY}
files="Formula/thrum.rb README.md .github/ISSUE_TEMPLATE/mac-report.yml"

# Every repository on github.com the files name, and every tap the brew lines
# name; a README without them names nothing, and fails below.
homes=$(cat $files | grep -o 'https://github\.com/[A-Za-z0-9_.-]*/[A-Za-z0-9_.-]*' |
    sed 's|^https://github\.com/||; s|\.git$||' | sort -u)
taps=$(cat $files | grep -Eo 'brew (tap|untap|trust) [^ `"]+|brew install --HEAD [^ `"]+/thrum' |
    sed -E 's/^brew (tap|untap|trust) //; s|^brew install --HEAD (.*)/thrum$|\1|' | sort -u)

if printf '%s\n' "$homes" "$taps" | grep -q '^OWNER/'; then
    echo "check-home: $files still name the placeholder OWNER: run scripts/set-home.sh $here and commit the result" >&2
    exit 1
fi
if [ "$(printf '%s\n' "$homes" | grep -c .)" -ne 1 ]; then
    echo "check-home: $files should name one repository, and name:" $homes >&2
    exit 1
fi
want=$(printf '%s' "${homes#*/}" | sed 's/^homebrew-//')
want=$(printf '%s/%s' "${homes%%/*}" "$want" | tr 'A-Z' 'a-z')
if [ "$taps" != "$want" ]; then
    echo "check-home: the brew lines should name the tap $want, and name:" $taps >&2
    exit 1
fi
if [ "$(printf '%s' "$homes" | tr 'A-Z' 'a-z')" = "$(printf '%s' "$here" | tr 'A-Z' 'a-z')" ]; then
    echo "check-home: $files name $homes, where this runs"
else
    echo "check-home: $files name $homes, not $here where this runs: a fork, which installs from upstream" \
        "(scripts/set-home.sh $here would make it its own)"
fi
