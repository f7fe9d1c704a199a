#!/bin/sh
# Checks the Homebrew formula off a Mac: that its Ruby parses, and, through
# tests/formula_test.rb, that its install block builds and installs the way a
# packager does, without googletest, and that its test block passes the tool on
# a Mac with or without a trackpad (the simulated one here) and fails it when
# the framework cannot be reached.
#
#   scripts/check-formula.sh [build-dir]   a build with the tests, default build
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}

scripts/install-missing.sh ruby:ruby
ruby -c Formula/thrum.rb
redirect=$build/sim/libmtredirect.so
[ -f "$redirect" ] || { echo "check-formula: no $redirect: build with the tests first (make test)" >&2; exit 1; }
ruby tests/formula_test.rb Formula/thrum.rb "$redirect"
