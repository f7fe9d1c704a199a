#!/bin/sh
# How thrum does on this Mac, as Markdown to paste into an issue: the machine,
# the framework, the devices (probe/probe.cc) and the tool's own answer to
# --check, the cookbook's patterns felt (only after a yes at a terminal, never
# in CI) and, with --bench, the schedule. Off a Mac it runs on the simulated
# trackpad, passing MTSIM_ settings on, and says so at the top. It always ends,
# with status 0 once the report is out, and nothing it prints holds the home
# folder (written ~), the user name or the host name.
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
raw="$scratch/report"
: >"$raw"

# ---- What would name the owner: the home folder, as given and as the disk
# has it, and the user and host names. Everything printed goes through private.
names=""
for name in "$(id -un 2>/dev/null)" "${USER:-}" "${LOGNAME:-}" "$(basename "${HOME:-/}")" \
    "$(hostname 2>/dev/null)" "$(hostname -s 2>/dev/null)"; do
    names="$names$name
"
done
if [ -n "$mac" ]; then
    for key in ComputerName LocalHostName HostName; do
        names="$names$(scutil --get "$key" 2>/dev/null)
"
    done
fi
homes=""
if [ -n "${HOME:-}" ] && [ "$HOME" != / ]; then
    homes="${HOME%/}
$(cd "$HOME" 2>/dev/null && pwd -P)"
fi
REPORT_HOMES=$homes REPORT_NAMES=$names
export REPORT_HOMES REPORT_NAMES
# Writes ~ for the home folder and an ellipsis for any user or host name of
# three letters or more standing as a word of its own, in any case (shorter
# ones are words of every text).
private() {
    awk '
    function cut(s, from, to, whole,   out, at, before, after, low) {
        out = ""
        while ((at = index(tolower(s), tolower(from))) > 0) {
            before = at > 1 ? substr(s, at - 1, 1) : ""
            after = substr(s, at + length(from), 1)
            if (whole ? (before ~ /[A-Za-z0-9]/ || after ~ /[A-Za-z0-9]/) : (after ~ /[A-Za-z0-9_.-]/)) {
                out = out substr(s, 1, at)
                s = substr(s, at + 1)
            } else {
                out = out substr(s, 1, at - 1) to
                s = substr(s, at + length(from))
            }
        }
        return out s
    }
    BEGIN {
        homes = split(ENVIRON["REPORT_HOMES"], home, "\n")
        names = split(ENVIRON["REPORT_NAMES"], name, "\n")
    }
    {
        line = $0
        for (i = 1; i <= homes; i++) if (length(home[i]) > 1) line = cut(line, home[i], "~", 0)
        for (i = 1; i <= names; i++) if (length(name[i]) >= 3) line = cut(line, name[i], "…", 1)
        print line
    }'
}

mkdir -p "$(dirname "$report")" && : >"$report" ||
    { echo "mac-report: cannot write $report" | private >&2; exit 1; }

say() { echo "mac-report: $*" | private >&2; }
# Appends its arguments to the report, one line each.
note() { printf '%s\n' "$@" >>"$raw"; }
first() { head -n 1 "$1" 2>/dev/null | tr -d '\r'; }

# Runs a command with a time limit, standard input closed, its outputs in files
# $scratch/out and $scratch/err, and prints "STATUS MILLISECONDS": STATUS is the
# exit status, 128 + the signal, or "timeout". Python serves as the timer (the
# command-line tools bring it to a Mac); without it, no limit and no time.
# The interpreter itself, not a wrapper that picks one (each start counts). A
# Mac without the command-line tools has only a python3 that offers to install
# them, so it is not asked there.
python=""
if [ -z "$mac" ] || xcode-select -p >/dev/null 2>&1; then
    python=$(python3 -c 'import sys; print(sys.executable)' 2>/dev/null)
fi
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
# trackpad, where the build has one. The redirect goes in by its bare name,
# from its folder on the library path, as the loader cuts LD_PRELOAD at spaces.
simulated() {
    limit=$1
    shift
    if [ -n "$mac" ] || [ ! -f "$build/sim/libmtredirect.so" ]; then
        guard "$limit" "$@"
    else
        guard "$limit" env "LD_LIBRARY_PATH=$build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
            LD_PRELOAD=libmtredirect.so "$@"
    fi
}
# Copies a file into the report as a fenced block, whatever it holds.
fenced() {
    note '```'
    awk '{ gsub(/```/, "` ` `"); print }' "$@" >>"$raw"
    note '```'
}

# The report, private, to its file and standard output. A fence left open by
# an interruption is closed, so that a paste cannot swallow what follows it.
shown=$report
case $report in "$top"/*) shown=${report#"$top"/} ;; esac
finish() {
    [ $(($(grep -c '^```' "$raw") % 2)) -eq 0 ] || note '```'
    private <"$raw" >"$report"
    cat "$report"
    say "the report is in $shown: paste that file into the issue form (on a Mac, \`pbcopy < $shown\` copies it)"
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

# ---- The build, unless one was given. A build folder keeps the generator it
# was first made with, and a failed build leaves the last good tool in place.
thrum="$build/thrum"
probe="$build/probe/mac_probe"
buildlog="$scratch/build.log"
: >"$buildlog"
benchbuild=""
if [ -z "$built" ]; then
    if [ -n "$bench" ] && [ -x scripts/setup.sh ]; then
        say "installing what the benchmark needs (scripts/setup.sh)"
        scripts/setup.sh >>"$buildlog" 2>&1 || say "scripts/setup.sh failed; building with what is there"
    fi
    if command -v cmake >/dev/null 2>&1; then
        say "building thrum and the probe in $build (a minute the first time)"
        set -- -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DTHRUM_PROBE=ON
        if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
            set -- "$@" -G Ninja
        fi
        # Parts 2 to 4 need the tool and the probe, and off a Mac the
        # simulation; the benchmark's programs come after them, so that
        # their failure costs part 5 alone.
        targets="--target thrum --target mac_probe"
        if [ -n "$bench" ]; then
            set -- "$@" -DTHRUM_SIM=ON -DTHRUM_BENCH=ON
        elif [ -z "$mac" ]; then
            set -- "$@" -DTHRUM_SIM=ON -DTHRUM_BENCH=OFF
        else
            set -- "$@" -DTHRUM_BENCH=OFF
        fi
        [ -n "$mac" ] && [ -z "$bench" ] || targets="$targets --target multitouch_sim --target mtredirect"
        result=$(guard 900 cmake -S . -B "$build" "$@")
        cat "$scratch/out" "$scratch/err" >>"$buildlog"
        case $result in
        "0 "*)
            # shellcheck disable=SC2086
            result=$(guard 900 cmake --build "$build" $targets)
            cat "$scratch/out" "$scratch/err" >>"$buildlog"
            ;;
        esac
        if [ -n "$bench" ]; then
            case $result in
            "0 "*)
                benchbuild=$(guard 900 cmake --build "$build")
                cat "$scratch/out" "$scratch/err" >"$scratch/benchbuild"
                ;;
            esac
        fi
        case $result in
        "0 "*) ;;
        *)
            note "" "**The build failed** (\`cmake\` ended with status ${result% *}); its last lines:" ""
            tail -n 15 "$buildlog" >"$scratch/tail"
            fenced "$scratch/tail"
            if [ -x "$thrum" ] || [ -x "$probe" ]; then
                note "" "What follows comes from an earlier build in \`build-report/\`, which is left as it was." \
                    "\`rm -rf build-report\` and a new run start afresh."
            fi
            ;;
        esac
    else
        userbin=""
        [ -n "$python" ] && userbin=$("$python" -c 'import site; print(site.USER_BASE + "/bin")' 2>/dev/null)
        pathline="\`export PATH=\"\$HOME/Library/Python/3.8/bin:\$PATH\"\`"
        case $userbin in
        "${HOME:-/nowhere}"/*) pathline="\`export PATH=\"\$HOME${userbin#"$HOME"}:\$PATH\"\`" ;;
        esac
        note "" "**CMake is not installed**, so nothing was built. Any of these brings it:" "" \
            "- with Homebrew: \`brew install cmake\`;" \
            "- CMake's own installer, from <https://cmake.org/download/>: it puts CMake.app in Applications, and" \
            "  \`export PATH=\"/Applications/CMake.app/Contents/bin:\$PATH\"\` lets this shell find it;" \
            "- Python: \`python3 -m pip install --user cmake\`, then put the folder that pip names on \`PATH\`" \
            "  (${userbin:-the folder pip names}): $pathline." \
            "" "Then run \`scripts/mac-report.sh\` again."
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
tools=yes
if [ -n "$mac" ]; then
    case $(ask sysctl -n kern.hv_vmm_present) in
    1) vm=yes ;;
    0) vm=no ;;
    *) vm=unknown ;;
    esac
    # A Mac moved over from an Intel one may run its shell, and so Homebrew
    # and this build, as Intel code under Rosetta.
    case $(ask sysctl -n sysctl.proc_translated) in
    1) runs="**translated by Rosetta**: this shell and what it starts run as Intel code" ;;
    0) runs="natively" ;;
    *) runs="natively (no translation here: an Intel Mac)" ;;
    esac
    note "- Model: $(ask sysctl -n hw.model)" \
        "- macOS: $(ask sw_vers -productVersion) ($(ask sw_vers -buildVersion))" \
        "- Chip: $(ask sysctl -n machdep.cpu.brand_string)" \
        "- Virtual machine: $vm" \
        "- This script runs as $(ask uname -m), $runs"
    if ! xcode-select -p >/dev/null 2>&1; then
        tools=""
        note "- **The command-line developer tools are not installed**: \`xcode-select --install\` brings them."
    fi
else
    name=unknown
    [ -r /etc/os-release ] && name=$(. /etc/os-release 2>/dev/null && printf '%s' "${PRETTY_NAME:-unknown}")
    note "- Model: **not a Mac**: $(ask uname -srm), $name"
fi
if [ -n "$tools" ]; then
    compiler=""
    [ -r "$build/CMakeCache.txt" ] && compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
    [ -n "$compiler" ] || compiler=c++
    note "- Compiler: $(ask "$compiler" --version)"
fi
if [ -x "$thrum" ] && [ -n "$mac" ]; then
    note "- The thrum built here is for: $(ask lipo -archs "$thrum")"
fi
if [ -n "$tools" ] && command -v git >/dev/null 2>&1 && [ -e .git ]; then
    commit=$(ask git rev-parse --short=12 HEAD)
    changed=""
    git status --porcelain --untracked-files=no </dev/null >"$scratch/out" 2>/dev/null
    [ -s "$scratch/out" ] && changed=", with local changes"
    note "- thrum: commit \`$commit\` of $(ask git log -1 --format=%cd --date=short)$changed"
else
    note "- thrum: not a git checkout, so no commit to name"
fi
if command -v brew >/dev/null 2>&1; then
    brewversion=unknown
    case $(guard 60 brew --version) in "0 "*) brewversion=$(first "$scratch/out") ;; esac
    note "- $brewversion, at \`$(ask brew --prefix)\`"
else
    note "- No Homebrew on \`PATH\`."
fi
onpath=$(command -v thrum 2>/dev/null)
[ "$onpath" = "$thrum" ] && onpath=""
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

# ---- 2. The framework and 3. the devices, from the probe, then the tool's own
# answer to --check.
say "the framework and the devices"
if [ -x "$probe" ]; then
    result=$(simulated 60 "$probe")
    note ""
    cat "$scratch/out" >>"$raw"
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
# answer TOOL: how TOOL --check ended, as the words of a list item.
answer() {
    result=$(simulated 30 "$1" --check)
    words="status ${result% *}"
    [ ! -s "$scratch/out" ] || words="$words, **standard output** \`$(first "$scratch/out")\`"
    if [ -s "$scratch/err" ]; then
        words="$words, \`$(first "$scratch/err")\`"
    else
        words="$words, nothing on standard error"
    fi
    printf '%s' "$words"
}
built_answer=""
if [ -x "$thrum" ]; then
    built_answer=$(answer "$thrum")
    note "- \`thrum --check\`, the thrum built here: $built_answer."
else
    note "- \`thrum --check\`: not asked, thrum was not built."
fi
if [ -n "$onpath" ]; then
    other=$(answer "$onpath")
    if [ -z "$built_answer" ]; then
        agree=""
    elif [ "$other" = "$built_answer" ]; then
        agree=": the same answer"
    else
        agree=": **a different answer**"
    fi
    note "- \`thrum --check\`, the thrum at \`$onpath\`: $other$agree."
fi

# ---- 4. The patterns, felt.
note "" "## 4. The patterns, felt" ""
# A baseline that plays nothing, then the cookbook's patterns from the README
# itself: "TITLE<tab>ARGUMENTS" lines.
printf 'Baseline, no steps\t1\n' >"$scratch/patterns"
awk '/^### / { on = ($0 ~ /^### Cookbook/); next }
     /^## / { on = 0 }
     on && /^\*\*/ { title = $0; sub(/^\*\*/, "", title); sub(/\*\*.*/, "", title); sub(/\.$/, "", title) }
     on && /^    thrum / { args = $0; sub(/^    thrum /, "", args); print title "\t" args }' \
    README.md >>"$scratch/patterns" 2>/dev/null
count=$(($(wc -l <"$scratch/patterns") - 1))
# How long a pattern should take: the sum of its waits, the last ms, 100 ms.
expected() {
    printf '%s\n' "$1" | awk '{ for (i = 2; i <= NF; i++) { n = split($i, f, ":"); if (n == 4) { waits += f[4]; last = f[2] } }
                                printf "%.0f", waits + last + 100 }'
}
cell() { printf '%s' "$1" | sed 's/|/\\|/g'; }
# A prompt, private too; awk ends every line it prints, so the prompt goes in
# with a mark after it, which the shell takes off with awk's line end.
ask_user() {
    prompt=$(printf '%s.' "$*" | private)
    printf '%s' "${prompt%.}" >&2
}
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
    ask_user "
Next: $count patterns of the README on $where, one at a time, after a run of
thrum with no steps that plays nothing. Rest a finger on the trackpad: each
pattern plays at the end of a short count. After each, say whether you felt it
(r plays it again). Play them? [y/N] "
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
                plays=0
                felt=""
                while [ -z "$felt" ]; do
                    if [ "$args" = 1 ]; then
                        ask_user "$title: thrum $args (plays nothing)
"
                    else
                        # Time to move the finger from Return to the trackpad.
                        ask_user "$title: thrum $args
Finger on the trackpad: 3 "
                        for n in 2 1 now; do
                            sleep 0.5 2>/dev/null || sleep 1
                            ask_user "$n "
                        done
                        ask_user "
"
                    fi
                    # The steps are separate words, as the README shows them,
                    # and nothing in them is a file name pattern.
                    set -f
                    # shellcheck disable=SC2086
                    result=$(simulated $((should / 1000 + 10)) "$thrum" $args)
                    set +f
                    plays=$((plays + 1))
                    [ "$args" != 1 ] || felt="nothing to feel"
                    while [ -z "$felt" ]; do
                        ask_user "felt it? [y/n/r/s] "
                        if ! read -r reply; then
                            felt="no answer (the input ended)"
                            stop="the input ended"
                            break
                        fi
                        case $reply in
                        y | Y | yes) felt=yes ;;
                        n | N | no) felt=no ;;
                        r | R) break ;;
                        s | S | skip)
                            felt="played, not answered"
                            stop="skipped"
                            ;;
                        *) echo "y: felt it, n: felt nothing, r: play it again, s: skip the rest" >&2 ;;
                        esac
                    done
                done
                status=${result% *}
                took=${result#* }
                [ "$status" = timeout ] && status="stopped after $took ms"
                [ "$took" = "?" ] || took="$took ms"
                [ "$plays" -eq 1 ] || felt="$felt (played $plays times)"
                note "| $title | \`thrum $args\` | $felt | $status | $(cell "$(first "$scratch/err")") | $took | $should ms |"
            done 3<"$scratch/patterns"
            note "" "Took: from the start of the process to its end, start-up included, the last time it played." \
                "Should take: the sum of the waits, plus the last step's ms, plus 100 ms."
            ;;
        *) note "- Not played: the answer at the prompt was no." ;;
        esac
    fi
fi

# ---- 5. The schedule.
note "" "## 5. The schedule" ""
missing=""
for need in "$thrum" "$build/bench/reference_loop"; do
    [ -x "$need" ] || missing="$missing \`${need#"$build"/}\`"
done
if [ -n "$mac" ]; then
    [ -f "$build/sim/libmtredirect.dylib" ] || missing="$missing \`sim/libmtredirect.dylib\`"
else
    [ -f "$build/sim/libmtredirect.so" ] || missing="$missing \`sim/libmtredirect.so\`"
fi
if [ -z "$bench" ]; then
    note "- Not measured: \`scripts/mac-report.sh --bench\` adds these figures (about a minute)."
elif [ -z "$python" ]; then
    note "- Not measured: \`bench/schedule.py\` needs Python 3, and there is none here."
elif [ -n "$missing" ]; then
    note "- Not measured: the build has no$missing, which \`bench/schedule.py\` needs."
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
        awk '/^### / { skip = 1; next } skip && /^$/ { skip = 0; next } { skip = 0; print }' \
            "$scratch/bench.md" >>"$raw"
        ;;
    *) note "- **The benchmark ended with status ${result% *}**: $(cell "$(tail -n 1 "$scratch/err")")" ;;
    esac
fi
case ${benchbuild:-0 } in
"0 "*) ;;
*)
    note "- **The build of the benchmarks failed** (\`cmake\` ended with status ${benchbuild% *}); its last lines:" ""
    tail -n 15 "$scratch/benchbuild" >"$scratch/tail"
    fenced "$scratch/tail"
    ;;
esac
if [ -n "$bench" ] && grep -q '^benchmark_DIR:PATH=.*NOTFOUND' "$build/CMakeCache.txt" 2>/dev/null; then
    note "- google-benchmark was not found, so the benchmarks of single calls (\`bench/*_bench\`) were not built;" \
        "  the schedule needs none of them."
fi

finish
exit 0
