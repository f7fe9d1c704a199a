#!/bin/sh
# The static checks: clang-tidy with the root .clang-tidy (and a folder's own,
# where it has one) over every C and C++ source of src/, sim/, cf/, tests/,
# bench/, fuzz/ and probe/ as they build here, then over what a Mac builds as
# it builds there (against Zig's macOS headers, see scripts/zig.sh), so that
# the Mac branches are read too; last, the analyzer, bug and cost checks over
# src/ alone, whatever the .clang-tidy files say. Any finding fails the run.
# Runs on x86-64 Linux with clang-tidy 19 (Debian 12's security archive, Debian
# 13 and Ubuntu 24.04 all carry it), which it installs when it is missing.
#
#   scripts/tidy.sh [build-dir]      default build-tidy
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-tidy}

if [ "$(uname -s)" != Linux ] || [ "$(uname -m)" != x86_64 ]; then
    echo "tidy: the checks run on x86-64 Linux" >&2
    exit 1
fi
scripts/setup.sh
scripts/install-missing.sh clang-tidy-19:clang-tidy-19
zig=$(scripts/zig.sh)

# A compile database is all clang-tidy needs: configuring writes it, and the
# build generates no source. clang, because the fuzz targets need it.
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    -DTHRUM_BENCH=ON -DTHRUM_FUZZ=ON -DTHRUM_WERROR=ON >/dev/null

# Two databases of one entry per source: the build's (where a file builds
# several ways, as the simulation's variants do, its first way), and one that
# compiles for macOS 12 on Apple silicon what a Mac builds.
headers="$build/tidy-headers"
mkdir -p "$build/tidy-linux" "$build/tidy-macos" "$build/tidy-src" "$headers"
for dir in gtest gmock benchmark; do
    ln -sfn "/usr/include/$dir" "$headers/$dir"
done
python3 - "$build" "$(dirname "$zig")/lib" "$headers" <<'PY'
import json, os, shlex, subprocess, sys
build, lib, headers = sys.argv[1:]
root = os.getcwd()
seen, linux = set(), []
for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
    if entry["file"] not in seen:
        seen.add(entry["file"])
        linux.append(entry)

def write(folder, entries, files):
    if entries:
        json.dump(entries, open(os.path.join(build, folder, "compile_commands.json"), "w"), indent=1)
    open(os.path.join(build, folder, "files"), "w").write("".join(f + "\n" for f in files))

sources = subprocess.run(["git", "ls-files", "--", *(f"{d}/*.{x}" for d in ("src", "sim", "cf", "tests", "bench", "fuzz", "probe")
                                                      for x in ("c", "cc"))],
                         check=True, capture_output=True, text=True).stdout.split()
macOnly = {"bench/background.c"}
missing = [s for s in sources if os.path.join(root, s) not in seen and s not in macOnly]
if missing:
    sys.exit("tidy: not in the compile database: " + " ".join(missing))

# Each source's own defines, include folders and language standard, as the
# build gives them here, on top of Zig's macOS headers: the C++ library's go
# before the C library's, which they wrap.
system = ["-nostdlibinc", "-isystem", f"{lib}/libc/include/aarch64-macos.12-none",
          "-isystem", f"{lib}/libc/include/any-macos.12-any", "-isystem", f"{lib}/libc/include/any-macos-any",
          "-isystem", os.path.abspath(headers)]
libcxx = ["-nostdinc++", "-isystem", f"{lib}/libcxx/include", "-isystem", f"{lib}/libcxxabi/include",
          "-D_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS", "-D_LIBCXXABI_DISABLE_VISIBILITY_ANNOTATIONS",
          "-D_LIBCPP_HAS_NO_VENDOR_AVAILABILITY_ANNOTATIONS", "-D_LIBCPP_ABI_VERSION=1", "-D_LIBCPP_ABI_NAMESPACE=__1"]
flags = {}
for entry in linux:
    words = entry.get("arguments") or shlex.split(entry["command"])
    kept, i = [], 1
    while i < len(words):
        word = words[i]
        if word in ("-I", "-isystem", "-D") and i + 1 < len(words):
            word, i = word + words[i + 1], i + 1
        i += 1
        if word.startswith(("-D", "-std=")):
            kept.append(word)
        elif word.startswith(("-I", "-isystem")):
            folder = word[2:] if word.startswith("-I") else word[8:]
            if not folder.startswith("/usr/"):
                kept += ["-isystem" if word.startswith("-isystem") else "-I", folder]
    flags[os.path.relpath(entry["file"], root)] = kept
mac = []
for source in sources:
    # A Mac builds no CoreFoundation stand-in, nor its tests, nor fuzz targets.
    if source.startswith(("cf/", "fuzz/")) or source == "tests/unit/cf_test.cc":
        continue
    own = flags.get(source, ["-std=c11"])
    language = ["clang"] if source.endswith(".c") else ["clang++", *libcxx]
    mac.append({"directory": root, "file": os.path.join(root, source),
                "arguments": [*language, "--target=arm64-apple-macos12", *own, *system, "-c", source]})
write("tidy-linux", linux, [e["file"] for e in linux if os.path.relpath(e["file"], root) in sources])
write("tidy-macos", mac, [e["file"] for e in mac])
write("tidy-src", [], [os.path.join(root, s) for s in sources if s.startswith("src/")])
PY

# Runs clang-tidy with the given arguments on each file listed in $1, as many
# at a time as there are processors, and prints the findings alone; fails if
# there was one.
run() {
    files=$1
    shift
    status=0
    xargs -d "\n" -P "$(nproc)" -n 1 clang-tidy-19 --quiet "$@" <"$files" >"$files.out" 2>&1 || status=1
    grep -v -E '^[0-9]+ (warning|error)s?( and [0-9]+ errors?)? (generated|treated as errors?)\.?$' "$files.out" || true
    return $status
}

failed=""
echo "tidy: the sources as they build here"
run "$build/tidy-linux/files" -p "$build/tidy-linux" || failed="$failed here,"
# libc++ keeps its throws in its headers, where bugprone-exception-escape
# finds them behind moves and growth that cannot take them; libstdc++ keeps
# them out of line, so the first pass sees only the throws of our own code.
echo "tidy: the sources as a Mac builds them"
run "$build/tidy-macos/files" -p "$build/tidy-macos" --checks=-bugprone-exception-escape || failed="$failed macOS,"
# The product alone with a fixed check set, whatever a .clang-tidy turns off.
# Its headers are those under this checkout's src/, anchored: a checkout that
# itself lies under some src/ folder would otherwise let every header in.
echo "tidy: src/ with clang-analyzer-*, bugprone-* and performance-*"
own="^$(pwd | sed 's/[][\\.*^$+?(){}|]/\\&/g')/src/"
run "$build/tidy-src/files" -p "$build/tidy-linux" --warnings-as-errors='*' --header-filter="$own" \
    --checks='-*,clang-analyzer-*,bugprone-*,-bugprone-easily-swappable-parameters,performance-*' ||
    failed="$failed src/,"

if [ -n "$failed" ]; then
    echo "tidy: findings in the pass(es):${failed%,}" >&2
    exit 1
fi
echo "tidy: no findings"
