#!/bin/sh
# Installs with apt-get the packages whose command or file is missing, and
# nothing else. Each argument is WHAT:PACKAGE, WHAT being a command name or an
# absolute path that the package provides.
#
#   scripts/install-missing.sh mandoc:mandoc /usr/include/gmock:libgmock-dev
set -eu
missing=""
for pair in "$@"; do
    what=${pair%%:*}
    case $what in
    /*) [ -e "$what" ] ;;
    *) command -v "$what" >/dev/null 2>&1 ;;
    esac || missing="$missing ${pair#*:}"
done
[ -n "$missing" ] || exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
# sudo clears the environment, so the setting goes through env.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
