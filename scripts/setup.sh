#!/bin/sh
# Installs the build and test dependencies that are missing, and nothing else:
# apt-get on Debian and Ubuntu, Homebrew on macOS.
set -eu

case "$(uname -s)" in
Darwin)
    xcode-select -p >/dev/null 2>&1 || { echo "setup: install the command-line developer tools: xcode-select --install" >&2; exit 1; }
    command -v brew >/dev/null 2>&1 || { echo "setup: Homebrew is needed to install cmake, ninja and googletest" >&2; exit 1; }
    missing=""
    for formula in cmake ninja googletest google-benchmark; do
        brew list --formula "$formula" >/dev/null 2>&1 || missing="$missing $formula"
    done
    [ -z "$missing" ] || brew install $missing
    ;;
Linux)
    packages="cmake ninja-build g++ make python3 libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev unicode-data locales"
    missing=""
    for p in $packages; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    if [ -n "$missing" ]; then
        sudo=""
        [ "$(id -u)" -eq 0 ] || sudo="sudo"
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing
    fi
    ;;
*)
    echo "setup: unsupported system $(uname -s)" >&2
    exit 1
    ;;
esac
