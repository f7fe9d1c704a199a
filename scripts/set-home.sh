#!/bin/sh
# Names the GitHub repository that hosts thrum wherever a reader or Homebrew
# needs it: the formula's head and homepage, the README's tap, install and
# clone lines, and the issue form's. Run it once when the repository is
# published (or in a fork that installs from itself), then commit the result.
#
#   scripts/set-home.sh ACCOUNT/REPOSITORY
#
# The tap is named ACCOUNT/REPOSITORY in lower case, less a "homebrew-" in
# front, as Homebrew names taps; it is installed from the repository's address.
set -eu
cd "$(dirname "$0")/.."
files="Formula/thrum.rb README.md .github/ISSUE_TEMPLATE/mac-report.yml"

case ${1:-} in
[A-Za-z0-9]*/[A-Za-z0-9._-]*) ;;
*) echo "usage: scripts/set-home.sh ACCOUNT/REPOSITORY" >&2; exit 2 ;;
esac
new=$1
account=${new%%/*}
repository=${new#*/}
# GitHub's own rules for the two names, so that nothing else reaches sed.
if ! printf '%s\n' "$account" | grep -Eq '^[A-Za-z0-9]([A-Za-z0-9-]{0,38})$' ||
    ! printf '%s\n' "$repository" | grep -Eq '^[A-Za-z0-9._-]{1,100}$' ||
    [ "$repository" = . ] || [ "$repository" = .. ]; then
    echo "set-home: \"$new\" is not a GitHub account and repository" >&2
    exit 2
fi
repository=${repository%.git}

# The home the files name now, from the formula's head.
old=$(sed -n 's|^  head "https://github\.com/\([^/"]*\)/\([^/"]*\)\.git".*|\1/\2|p' Formula/thrum.rb)
[ -n "$old" ] || { echo "set-home: Formula/thrum.rb has no head on github.com" >&2; exit 1; }
tap() {
    name=$(printf '%s' "${1#*/}" | sed 's/^homebrew-//')
    printf '%s/%s' "${1%%/*}" "$name" | tr 'A-Z' 'a-z'
}
oldtap=$(tap "$old")
[ "${old%%/*}" != OWNER ] || oldtap=$old
newtap=$(tap "$account/$repository")
quote() { printf '%s' "$1" | sed 's/\./\\./g'; }

for file in $files; do
    sed -E \
        -e "s#https://github\\.com/$(quote "$old")(\\.git)?([^A-Za-z0-9_.-]|\$)#https://github.com/$account/$repository\\1\\2#g" \
        -e "s#(^|[ \"\`])$(quote "$oldtap")([/ \"\`]|\$)#\\1$newtap\\2#g" \
        "$file" >"$file.new"
    mv "$file.new" "$file"
done
echo "set-home: $files name $account/$repository (tap $newtap); commit them"
