#!/bin/sh
# The loader redirect's dlopen on a Mac (sim/redirect.cc), compiled for macOS
# with Zig's clang: where the compiler has [[clang::musttail]], the call it
# passes on is a jump even unoptimised, since dyld takes the caller's image from
# the return address; where it has not (an older Apple clang), the file still
# compiles without a warning. Such a compiler is played by renaming the
# attribute to one that no compiler knows. Runs on x86-64 Linux, as the
# cross-build does.
#
#   tests/redirect_jump_test.sh
set -eu
cd "$(dirname "$0")/.."
cache=${THRUM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/thrum}
scripts/install-missing.sh llvm-objdump:llvm
zig=$(scripts/zig.sh)
export ZIG_GLOBAL_CACHE_DIR="$cache/zig-cache"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
faults=0
fault() {
    echo "redirect_jump_test: $*" >&2
    faults=$((faults + 1))
}

compile() {
    "$zig" c++ -std=c++20 -target aarch64-macos.12.0 -Wall -Wextra -Wpedantic -Werror \
        -isystem cf/include -Isim -c sim/redirect.cc -o "$scratch/redirect.o" "$@"
}
# The instructions of redirectedDlopen that branch to dlopen: b for a jump,
# bl for a call.
branchesToDlopen() {
    llvm-objdump -dr --no-show-raw-insn "$scratch/redirect.o" | awk '
        /<_redirectedDlopen>:/ { inside = 1; next }
        inside && /^$/ { exit }
        inside && $2 == "ARM64_RELOC_BRANCH26" && $3 == "_dlopen" { print instruction; next }
        inside { instruction = $2 }' | tr '\n' ' '
}

compile -O0
[ "$(branchesToDlopen)" = "b " ] || fault "unoptimised, dlopen is reached by '$(branchesToDlopen)', want one jump (b)"
for level in -O0 -O2; do
    compile "$level" -Dmusttail=no_such_attribute 2>"$scratch/err" ||
        fault "without the attribute, at $level, sim/redirect.cc does not compile: $(cat "$scratch/err")"
done
# The last compile, optimised: the optimiser's sibling call is a jump too.
branchesToDlopen | grep -q '^b \| b ' || fault "optimised, without the attribute, dlopen is reached by '$(branchesToDlopen)', no jump"

[ "$faults" -eq 0 ] || exit 1
echo "redirect_jump_test: the redirect passes dlopen on as a jump, and compiles warning-free without the attribute"
