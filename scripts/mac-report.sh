#!/bin/sh
# How thrum does on this Mac, as Markdown to paste into an issue: the machine,
# the framework, the devices (probe/probe.cc), the cookbook's patterns felt
# (only after a yes at a terminal, never in CI) and, with --bench, the schedule.
# Off a Mac it runs on the simulated trackpad, passing MTSIM_ settings on, and
# says so at the top. It always ends, with status 0 once the report is out.
#
#   scripts/mac-report.sh [--bench] [--built DIR]
#
# It builds what it needs in build-report/ (Release, no tests) and writes the
# report to standard output and build/mac-report.md. --built DIR takes the
# tool, the probe and the simulation from an existing build in DIR instead,
# building nothing, and writes DIR/mac-report.md (the tests do this).
# Written for the oldest shell and tools a Mac has: POSIX sh, BSD userland.
set -u
cd "$(dirname "$0")/.." || exit 1
top=$(pwd)

bench=""
built=""
while [ $# -gt 0 ]; do
    case $1 in
    --bench) bench=yes ;;
    --built)
        [ $# -ge 2 ] || { echo "mac-report: --built needs a folder" >&2; exit 2; }
        built=$2
        shift
        ;;
    *)
        echo "usage: scripts/mac-report.sh [--bench] [--built DIR]" >&2
        exit 2
        ;;
    esac
    shift
done

if [ -n "$built" ]; then
    case $built in /*) ;; *) built="$top/$built" ;; esac
    build=$built
    report="$build/mac-report.md"
else
    build="$top/build-report"
    report="$top/build/mac-report.md"
fi
mac=""
[ "$(uname -s)" = Darwin ] && mac=yes
scratch=$(mktemp -d 2>/dev/null || mktemp -d -t mac-report) || { echo "mac-report: no scratch folder" >&2; exit 1; }
mkdir -p "$(dirname "$report")" && : >"$report" || { echo "mac-report: cannot write $report" >&2; exit 1; }

say() { echo "mac-report: $*" >&2; }
# Appends its arguments to the report, one line each.
note() { printf '%s\n' "$@" >>"$report"; }
first() { head -n 1 "$1" 2>/dev/null | tr -d '\r'; }

# Runs a command with a time limit, standard input closed, its outputs in files
# $scratch/out and $scratch/err, and prints "STATUS MILLISECONDS": STATUS is the
# exit status, 128 + the signal, or "timeout". Python serves as the timer (the
# command-line tools bring it to a Mac); without it, no limit and no time.
# The interpreter itself, not a wrapper that picks one (each start counts).
python=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null)
timer='
import subprocess, sys, time
limit = float(sys.argv[1])
with open(sys.argv[2], "wb") as out, open(sys.argv[3], "wb") as err:
    began = time.monotonic()
    try:
        child = subprocess.Popen(sys.argv[4:], stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    except OSError as why:
        err.write(str(why).encode())
        print("127 0")
        sys.exit()
    try:
        status = child.wait(limit)
    except subprocess.TimeoutExpired:
        child.kill()
        child.wait()
        status = "timeout"
    ms = (time.monotonic() - began) * 1000
print("%s %.0f" % (status if status == "timeout" or status >= 0 else 128 - status, ms))
'
guard() {
    limit=$1
    shift
    if [ -n "$python" ]; then
        "$python" -c "$timer" "$limit" "$scratch/out" "$scratch/err" "$@" 2>"$scratch/timer" ||
            echo "unknown ?"
    else
        "$@" <&- >"$scratch/out" 2>"$scratch/err"
        echo "$? ?"
    fi
}

# guard, for the tool and the probe: off a Mac they run on the simulated
# trackpad. The redirect goes in by its bare name, from its folder on the
# library path, as the loader cuts LD_PRELOAD at spaces.
simulated() {
    limit=$1
    shift
    if [ -n "$mac" ]; then
        guard "$limit" "$@"
    else
        guard "$limit" env "LD_LIBRARY_PATH=$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
            LD_PRELOAD=libmtredirect.so "$@"
    fi
}
# Copies a file into the report as a fenced block, whatever it holds.
fenced() {
    note '```'
    awk '{ gsub(/```/, "` ` `"); print }' "$@" >>"$report"
    note '```'
}

finish() {
    cat "$report"
    rm -rf "$scratch"
}
trap 'note "" "**The run was interrupted here.**"; finish; exit 130' INT TERM

# ---- The title, and the warning off a Mac.
stamp=$(date -u '+%Y-%m-%d %H:%M UTC')
if [ -n "$mac" ]; then
    note "# How thrum did on my Mac" "" "Made $stamp by \`scripts/mac-report.sh\`."
else
    settings=$(env | grep '^MTSIM_' | sort | awk '{ printf "%s`%s`", sep, $0; sep = ", " }')
    note "# How thrum did on the SIMULATED trackpad (not a Mac)" "" \
        "> **NOT A MAC. This report was made on $(uname -s) $(uname -m) against the simulated trackpad (\`sim/\`):" \
        "> no real framework, no real motor. Nothing in it tells how thrum does on a Mac.**" \
        "> Simulation settings: ${settings:-none (one healthy motor with ID 1)}." "" \
        "Made $stamp by \`scripts/mac-report.sh\`."
fi

# ---- The build, unless one was given.
thrum="$build/thrum"
probe="$build/probe/mac_probe"
buildlog="$scratch/build.log"
if [ -z "$built" ]; then
    if [ -n "$bench" ] && [ -x scripts/setup.sh ]; then
        say "installing what the benchmark needs (scripts/setup.sh)"
        scripts/setup.sh >"$buildlog" 2>&1 || say "scripts/setup.sh failed; building with what is there"
    fi
    if command -v cmake >/dev/null 2>&1; then
        say "building thrum and the probe in $build (a minute the first time)"
        set -- -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTHRUM_PROBE=ON
        command -v ninja >/dev/null 2>&1 && set -- "$@" -G Ninja
        if [ -n "$bench" ]; then
            set -- "$@" -DTHRUM_SIM=ON -DTHRUM_BENCH=ON
        elif [ -z "$mac" ]; then
            set -- "$@" -DTHRUM_SIM=ON -DTHRUM_BENCH=OFF
        else
            set -- "$@" -DTHRUM_BENCH=OFF
        fi
        rm -f "$thrum" "$probe"
        result=$(guard 900 cmake -S . -B "$build" "$@")
        cat "$scratch/out" "$scratch/err" >>"$buildlog"
        case $result in
        "0 "*)
            result=$(guard 900 cmake --build "$build")
            cat "$scratch/out" "$scratch/err" >>"$buildlog"
            ;;
        esac
        case $result in
        "0 "*) ;;
        *)
            note "" "**The build failed** (\`cmake\` ended with status ${result% *}); its last lines:" ""
            tail -n 15 "$buildlog" >"$scratch/tail"
            fenced "$scratch/tail"
            ;;
        esac
    else
        note "" "**cmake is not installed**, so nothing was built: \`brew install cmake\` brings it."
    fi
fi

# ---- 1. The machine.
say "the machine"
# The first line a command prints, or a word on why there is none. These
# commands answer at once; brew, which may not, goes through guard.
ask() {
    if "$@" </dev/null >"$scratch/out" 2>"$scratch/err"; then
        line=$(first "$scratch/out")
        [ -n "$line" ] && printf '%s' "$line" || printf 'nothing'
    else
        printf 'unknown (%s ended with status %s)' "$1" "$?"
    fi
}
note "" "## 1. The machine" ""
if [ -n "$mac" ]; then
    case $(ask sysctl -n kern.hv_vmm_present) in
    1) vm=yes ;;
    0) vm=no ;;
    *) vm=unknown ;;
    esac
    note "- Model: $(ask sysctl -n hw.model)" \
        "- macOS: $(ask sw_vers -productVersion) ($(ask sw_vers -buildVersion))" \
        "- Chip: $(ask sysctl -n machdep.cpu.brand_string)" \
        "- Virtual machine: $vm"
else
    name=unknown
    [ -r /etc/os-release ] && name=$(. /etc/os-release 2>/dev/null && printf '%s' "${PRETTY_NAME:-unknown}")
    note "- Model: **not a Mac**: $(ask uname -srm), $name"
fi
compiler=""
[ -r "$build/CMakeCache.txt" ] && compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
[ -n "$compiler" ] || compiler=c++
note "- Compiler: $(ask "$compiler" --version)"
if command -v git >/dev/null 2>&1 && [ -e .git ]; then
    commit=$(ask git rev-parse --short=12 HEAD)
    changed=""
    git status --porcelain --untracked-files=no </dev/null >"$scratch/out" 2>/dev/null
    [ -s "$scratch/out" ] && changed=", with local changes"
    note "- thrum: commit \`$commit\` of $(ask git log -1 --format=%cd --date=short)$changed"
else
    note "- thrum: not a git checkout, so no commit to name"
fi
onpath=$(command -v thrum 2>/dev/null)
if [ -z "$onpath" ]; then
    note "- No other thrum on \`PATH\`."
else
    version=""
    if command -v brew >/dev/null 2>&1; then
        case $(guard 60 brew list --versions thrum) in "0 "*) version=$(first "$scratch/out") ;; esac
    fi
    case $version in
    "thrum "*) note "- Also on \`PATH\`: a thrum at \`$onpath\`; Homebrew has $version." ;;
    *) note "- Also on \`PATH\`: a thrum at \`$onpath\`, not from Homebrew." ;;
    esac
fi

# ---- 2. The framework and 3. the devices, from the probe.
say "the framework and the devices"
if [ -x "$probe" ]; then
    result=$(simulated 60 "$probe")
    note ""
    cat "$scratch/out" >>"$report"
    case $result in
    "0 "*) ;;
    timeout*) note "- **The probe did not end within 60 s** and was stopped after the lines above." ;;
    *) note "- **The probe ended with status ${result% *}** after the lines above." ;;
    esac
    if [ -s "$scratch/err" ]; then
        note "- The probe's standard error began:" ""
        head -n 5 "$scratch/err" >"$scratch/head"
        fenced "$scratch/head"
    fi
else
    note "" "## 2. The framework" "" "- Not probed: the probe was not built." \
        "" "## 3. The devices" "" "- Not probed: the probe was not built."
fi

# ---- 4. The patterns, felt.
note "" "## 4. The patterns, felt" ""
# The cookbook's patterns, from the README itself: "TITLE<tab>ARGUMENTS" lines.
awk '/^### / { on = ($0 ~ /^### Cookbook/); next }
     /^## / { on = 0 }
     on && /^\*\*/ { title = $0; sub(/^\*\*/, "", title); sub(/\*\*.*/, "", title); sub(/\.$/, "", title) }
     on && /^    thrum / { args = $0; sub(/^    thrum /, "", args); print title "\t" args }' \
    README.md >"$scratch/patterns" 2>/dev/null
count=$(wc -l <"$scratch/patterns" | tr -d ' ')
# How long a pattern should take: the sum of its waits, the last ms, 100 ms.
expected() {
    printf '%s\n' "$1" | awk '{ for (i = 2; i <= NF; i++) { n = split($i, f, ":"); if (n == 4) { waits += f[4]; last = f[2] } }
                                printf "%.0f", waits + last + 100 }'
}
cell() { printf '%s' "$1" | sed 's/|/\\|/g'; }
if [ -n "${CI:-}" ]; then
    note "- Not played: this is a CI run."
elif [ ! -t 0 ]; then
    note "- Not played: standard input is not a terminal, so nobody could answer."
elif [ ! -x "$thrum" ]; then
    note "- Not played: thrum was not built."
elif [ "$count" -eq 0 ]; then
    note "- Not played: no patterns found in the README's cookbook."
else
    where="your trackpad"
    [ -n "$mac" ] || where="the SIMULATED trackpad (not a Mac)"
    printf '\nNext: %s patterns of the README on %s, one at a time; after each, say\nwhether you felt it. Rest a finger on the trackpad. Play them? [y/N] ' \
        "$count" "$where" >&2
    if ! read -r answer; then
        note "- Not played: the input ended at the prompt."
    else
        case $answer in
        y | Y | yes | Yes | YES)
            note "| Pattern | Command | Felt | Exit status | Standard error | Took | Should take |" \
                "|---|---|---|--:|---|--:|--:|"
            stop=""
            tab=$(printf '\t')
            # The list comes in on descriptor 3; standard input is the person.
            while IFS=$tab read -r title args <&3; do
                should=$(expected "$args")
                if [ -n "$stop" ]; then
                    note "| $title | \`thrum $args\` | not played ($stop) | | | | $should ms |"
                    continue
                fi
                printf '%s: thrum %s\n' "$title" "$args" >&2
                # The steps are separate words, as the README shows them,
                # and nothing in them is a file name pattern.
                set -f
                # shellcheck disable=SC2086
                result=$(simulated $((should / 1000 + 10)) "$thrum" $args)
                set +f
                status=${result% *}
                took=${result#* }
                [ "$status" = timeout ] && status="stopped after $took ms"
                [ "$took" = "?" ] || took="$took ms"
                felt=""
                while [ -z "$felt" ]; do
                    printf 'felt it? [y/n/s] ' >&2
                    if ! read -r reply; then
                        felt="no answer (the input ended)"
                        stop="the input ended"
                        break
                    fi
                    case $reply in
                    y | Y | yes) felt=yes ;;
                    n | N | no) felt=no ;;
                    s | S | skip)
                        felt="skipped"
                        stop="skipped"
                        ;;
                    *) echo "y: felt it, n: felt nothing, s: skip this and the rest" >&2 ;;
                    esac
                done
                note "| $title | \`thrum $args\` | $felt | $status | $(cell "$(first "$scratch/err")") | $took | $should ms |"
            done 3<"$scratch/patterns"
            note "" "Took: from the start of the process to its end, start-up included. Should take: the sum of" \
                "the waits, plus the last step's ms, plus 100 ms."
            ;;
        *) note "- Not played: the answer at the prompt was no." ;;
        esac
    fi
fi

# ---- 5. The schedule.
note "" "## 5. The schedule" ""
if [ -z "$bench" ]; then
    note "- Not measured: \`scripts/mac-report.sh --bench\` adds these figures (about a minute)."
elif [ ! -x "$build/bench/reference_loop" ] || [ -z "$python" ]; then
    note "- Not measured: the benchmark was not built (it needs Python 3 and google-benchmark)."
else
    rounds=5
    [ -n "$mac" ] || rounds=1
    say "the schedule, $rounds round(s) of 1000 steps"
    : >"$scratch/bench.md"
    result=$(guard 600 "$python" bench/schedule.py --build "$build" --only precision --repeat "$rounds" \
        --markdown "$scratch/bench.md")
    case $result in
    "0 "*)
        note "The schedule benchmark (\`bench/schedule.py\`, $rounds × 1000 steps of 5 ms) on the simulated" \
            "trackpad, started normally: the tool's wake lateness beside a loop that only sleeps, and its work a step."
        sed '/^### /d' "$scratch/bench.md" >>"$report"
        ;;
    *) note "- **The benchmark ended with status ${result% *}**: $(cell "$(tail -n 1 "$scratch/err")")" ;;
    esac
fi

finish
exit 0
