#!/bin/sh
# Runs TOOL --check and says which way it went, in the log and, in a GitHub
# job, in its summary: either answer a Mac may give passes (a haptic trackpad,
# status 0 and silence; none, status 1 and the one line), anything else fails.
# Given a second tool, the first must answer exactly as that one does, so that
# no copy of the tool passes as a Mac without a trackpad when the built one
# found one, or the reverse.
#
#   scripts/check-answer.sh TOOL [SAME-AS-TOOL]
set -u
tool=$1
reference=${2:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# answer TOOL: "status N, <what it wrote>", as one line.
answer() {
    status=0
    "$1" --check >"$scratch/out" 2>"$scratch/err" || status=$?
    printf 'status %s, ' "$status"
    if [ -s "$scratch/out" ]; then
        printf 'standard output "%s", ' "$(tr '\n' ' ' <"$scratch/out")"
    fi
    if [ -s "$scratch/err" ]; then
        printf '"%s"\n' "$(tr '\n' ' ' <"$scratch/err" | sed 's/ $//')"
    else
        printf 'nothing on standard error\n'
    fi
}

got=$(answer "$tool")
verdict="$tool --check: $got"
faults=""
case $got in
"status 0, nothing on standard error") verdict="$verdict: it found a trackpad with a haptic motor" ;;
'status 1, "no trackpad with a haptic motor"') ;;
*) faults="neither answer a Mac may give" ;;
esac
if [ -n "$reference" ]; then
    want=$(answer "$reference")
    if [ "$got" = "$want" ]; then
        verdict="$verdict, as $reference answers"
    else
        faults="${faults:+$faults; }$reference answers $want"
    fi
fi
[ -z "$faults" ] || verdict="$verdict; FAILS: $faults"

echo "$verdict"
if [ -n "${GITHUB_STEP_SUMMARY:-}" ]; then
    printf -- '- `%s`\n' "$verdict" >>"$GITHUB_STEP_SUMMARY"
fi
[ -z "$faults" ]
