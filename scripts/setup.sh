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
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    updated=""
    ensure() {
        missing=""
        for p in "$@"; do
            dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
        done
        [ -n "$missing" ] || return 0
        [ -n "$updated" ] || $sudo apt-get update -qq
        updated=yes
        # sudo clears the environment, so the setting goes through env.
        $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
    }
    ensure cmake ninja-build g++ make python3 python3-yaml libgtest-dev libgmock-dev libbenchmark-dev clang unicode-data locales zsh
    # The fuzzer runtime belongs to the clang that is installed, whichever
    # version the system calls clang; it comes in that version's package.
    scratch=$(mktemp -d)
    printf 'int LLVMFuzzerTestOneInput(const unsigned char *d, unsigned long n) { (void)d; (void)n; return 0; }\n' |
        clang -x c -fsanitize=fuzzer -o "$scratch/fuzz" - 2>/dev/null ||
        ensure "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
    rm -rf "$scratch"
    ;;
*)
    echo "setup: unsupported system $(uname -s)" >&2
    exit 1
    ;;
esac
