#!/bin/sh
# A one-screen report of the machine a CI run is on, for whoever reads the run
# afterwards and cannot repeat it: the system, the processor, the runner image,
# the compiler, Homebrew and Python. The framework and its devices are the Mac
# report's (scripts/mac-report.sh). It always ends with status 0.
#
#   scripts/platform-report.sh [FILE]      also writes the report to FILE and,
#                                          in a GitHub job, to its summary
set -u
cd "$(dirname "$0")/.." || exit 0
file=${1:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The first line of what a command prints, or what it says instead.
first() {
    "$@" >"$scratch/line" 2>&1 || true
    head -n 1 "$scratch/line"
}

report() {
    if command -v sw_vers >/dev/null 2>&1; then
        echo "system:     $(first sw_vers -productName) $(first sw_vers -productVersion) ($(first sw_vers -buildVersion)), $(first uname -m)"
        memory=$(first sysctl -n hw.memsize)
        case $memory in
        '' | *[!0-9]*) ;;
        *) memory="$((memory / 1073741824)) GiB" ;;
        esac
        echo "processor:  $(first sysctl -n machdep.cpu.brand_string), $(first sysctl -n hw.ncpu) cores, $memory," \
            "virtual machine: $(first sysctl -n kern.hv_vmm_present)"
    else
        echo "system:     $(first uname -srm)"
    fi
    echo "runner:     image ${ImageOS:-(no ImageOS)} ${ImageVersion:-(no ImageVersion)}, ${RUNNER_NAME:-not a GitHub runner}"
    echo "compiler:   $(first cc --version)"
    if command -v xcrun >/dev/null 2>&1; then
        echo "SDK:        $(first xcrun --show-sdk-version) at $(first xcrun --show-sdk-path)"
    fi
    if command -v brew >/dev/null 2>&1; then
        trust="no brew trust command"
        brew commands --quiet >"$scratch/commands" 2>/dev/null || true
        grep -qx trust "$scratch/commands" && trust="has brew trust"
        echo "Homebrew:   $(first brew --version), $trust"
    fi
    echo "Python:     $(first python3 --version)"
}

report >"$scratch/report"
cat "$scratch/report"
[ -z "$file" ] || cp "$scratch/report" "$file"
if [ -n "${GITHUB_STEP_SUMMARY:-}" ]; then
    printf '## The platform\n\n```\n%s\n```\n' "$(cat "$scratch/report")" >>"$GITHUB_STEP_SUMMARY"
fi
exit 0
