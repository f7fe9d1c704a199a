#!/bin/sh
# Checks that every C and C++ file of src/, sim/, cf/, tests/, bench/ and fuzz/
# reads as the root .clang-format says, with the clang-format that the tree is
# formatted with (14: others break some lines differently), installed if missing.
set -eu
cd "$(dirname "$0")/.."
scripts/install-missing.sh clang-format-14:clang-format-14
git ls-files -z -- src sim cf tests bench fuzz | grep -z -E '\.(c|cc|h)$' |
    xargs -0 -r clang-format-14 --dry-run --Werror
echo "check-format: every C and C++ file is formatted"
