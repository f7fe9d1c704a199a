#!/bin/sh
# Checks that every C and C++ file of src/, sim/, cf/, tests/, bench/, fuzz/ and probe/
# reads as the root .clang-format says, with the clang-format that the tree is
# formatted with (19: others break some lines differently; Debian 12's security
# archive, Debian 13 and Ubuntu 24.04 all carry it), installed if missing.
set -eu
cd "$(dirname "$0")/.."
scripts/install-missing.sh clang-format-19:clang-format-19
git ls-files -z -- src sim cf tests bench fuzz probe | grep -z -E '\.(c|cc|h)$' |
    xargs -0 -r clang-format-19 --dry-run --Werror
echo "check-format: every C and C++ file is formatted"
