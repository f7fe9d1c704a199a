#!/usr/bin/env bash
# Seeds one plausible fault at a time into a scratch copy of the tree, rebuilds
# it, runs the whole suite and says whether some test caught the fault. Slow
# (a rebuild and a suite per fault), so not part of CI; run it after `make test`.
#
#   scripts/mutants.sh            every fault in the list
#   scripts/mutants.sh TEXT...    only the faults whose list line holds one of the TEXTs
#
# Exit status 0 when every fault was caught or survived as explained, 1 when
# another survived, 2 when the list no longer fits the sources (a fault that no
# longer applies or builds) or the suite fails without any fault.
set -euo pipefail
cd "$(dirname "$0")/.."

# One fault a line: file @@ exact old text @@ new text @@ what the fault is.
# The old text must occur exactly once in the file, within one line; a fault
# that no longer applies stops the script before anything runs. A fault that
# no test can catch has a comment just above it that begins "# Survives:" and
# says why.
faults=$(cat <<'EOF'
src/fail.cc @@ signal(SIGPIPE, SIG_IGN); @@ signal(SIGPIPE, SIG_DFL); @@ a reader that has gone away kills the process
src/fail.cc @@ signal(SIGXFSZ, SIG_IGN); @@ signal(SIGXFSZ, SIG_DFL); @@ a file at its size limit kills the process
src/fail.cc @@ if (errno == EAGAIN || errno == EWOULDBLOCK) { @@ if (errno == EWOULDBLOCK && errno != EAGAIN) { @@ a full non-blocking standard error loses the line
src/fail.cc @@ {&lineFeed, 1}}; @@ {&lineFeed, 0}}; @@ the line feed is never written
src/fail.cc @@ while (count > 0 && left >= next->iov_len) { @@ while (count > 0 && left > next->iov_len) { @@ a part written exactly to its end is taken as unfinished
# Survives: the tool catches no signal, so its write is never interrupted
# (a stop and a continue restart the call inside the kernel).
src/fail.cc @@ if (errno == EINTR) @@ if (errno == EAGAIN) @@ an interrupted write is given up
src/memory.cc @@ fail("out of memory"); @@ std::abort(); @@ running out of memory aborts
src/driver/main.cc @@ if (motors.empty()) @@ if (!devices) @@ only a missing device list counts as no motor
src/driver/main.cc @@ for (int i = 1; i < argc; ++i) @@ for (int i = 0; i < argc; ++i) @@ the program path is taken as an argument
src/driver/main.cc @@ if (arguments.size() == 1 && arguments[0] == "--check") @@ if (!arguments.empty() && arguments[0] == "--check") @@ --check followed by more still checks
src/driver/run.cc @@ if (value < 0) @@ if (value <= 0) @@ negative zero strength becomes positive zero
src/driver/run.cc @@ if (!read || !std::isfinite(*read)) @@ if (!read || std::isnan(*read)) @@ an infinite strength is clamped instead of rejected
src/driver/run.cc @@ fail("not a step: " + std::string(arguments[i])); @@ fail("not a step: " + std::string(arguments[1])); @@ the first step is named, not the one rejected
src/driver/run.cc @@ double ticks = std::ceil( @@ double ticks = std::floor( @@ a deadline is rounded down to the clock's tick
src/driver/run.cc @@ if (!(ticks < static_cast<double>(Clock::duration::max().count()))) @@ if (ticks > static_cast<double>(Clock::duration::max().count())) @@ an instant of exactly 2^63 ticks overflows the clock
src/driver/run.cc @@ std::this_thread::sleep_until(std::min(clockTick(deadline), now + longest)); @@ std::this_thread::yield(); @@ busy wait: spins on the clock instead of blocking
# Survives: this system's sleep takes any length; the cap keeps the request
# inside what other systems' timers accept, which cannot be shown here.
src/driver/run.cc @@ std::this_thread::sleep_until(std::min(clockTick(deadline), now + longest)); @@ std::this_thread::sleep_until(clockTick(deadline)); @@ one sleep asks for the whole of a deadline however far
src/driver/run.cc @@ last += std::chrono::duration<double>(step.wait / 1000); @@ last = Instant(Clock::now()) + std::chrono::duration<double>(step.wait / 1000); @@ each deadline counts from the end of the previous block: the pattern drifts
src/driver/run.cc @@ last += std::chrono::duration<double>(step.wait / 1000); @@ last += std::chrono::duration<double>(step.ms / 1000); @@ the schedule advances by the tone's length, not the wait
src/driver/run.cc @@ double lastMs = steps.empty() ? 0 : steps.back().ms; @@ double lastMs = steps.empty() ? 0 : steps.front().ms; @@ the closing wait follows the first step's tone
src/driver/run.cc @@ blockUntil(Instant(Clock::now()) + std::chrono::duration<double>(lastMs / 1000 + 0.1)); @@ blockUntil(last + std::chrono::duration<double>(lastMs / 1000 + 0.1)); @@ the closing wait is a deadline from the last one, cut short when the last step is late
src/driver/run.cc @@ std::chrono::duration<double>(lastMs / 1000 + 0.1) @@ std::chrono::duration<double>(lastMs / 1000) @@ the closing tenth of a second is left out
src/driver/number.cc @@ newlocale(LC_ALL_MASK, "C", locale_t{}) @@ newlocale(LC_ALL_MASK, "", locale_t{}) @@ numbers are read in the user's locale
src/driver/number.cc @@ return c == ' ' || (c >= '\t' && c <= '\r'); @@ return c == ' ' || (c >= '\t' && c < '\r'); @@ a leading carriage return is not blank
src/driver/number.cc @@ if (end != scratch.c_str() + scratch.size()) @@ if (end == scratch.c_str()) @@ a number followed by anything is accepted
src/driver/number.cc @@ return read<float>(text, scratch, strtof_l); @@ if (auto wide = read<double>(text, scratch, strtod_l)) return static_cast<float>(*wide); return std::nullopt; @@ the strength is rounded twice, by way of 64 bits
src/driver/step.cc @@ at = text.find(':', at + 1); @@ at = text.find(':', at); @@ a joined ":" is looked at again forever
src/driver/step.cc @@ if (count < 4) @@ if (count <= 4) @@ a fifth number is stored past the end of the array
src/driver/step.cc @@ if (!std::isfinite(n) || n < 0) @@ if (!std::isfinite(n) || n <= 0) @@ zero is rejected with the negatives
src/driver/step.cc @@ std::min(numbers[3], 5000.0)} @@ std::min(numbers[3], 50000.0)} @@ the cap on wait is ten times too high
src/driver/step.cc @@ return Step{numbers[0], numbers[1], @@ return Step{numbers[1], numbers[0], @@ hz and ms are swapped
src/driver/graphemes.cc @@ length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, @@ length = 3, low = 0x80, @@ overlong three-byte sequences decode
src/driver/graphemes.cc @@ char32_t c = lead & (0x7F >> length); @@ char32_t c = lead & (0x3F >> length); @@ one bit too few is kept of the lead byte
src/driver/graphemes.cc @@ if (d.length == length && d.c != invalid) @@ if (d.c != invalid) @@ a sequence shorter than the bytes before a ":" is taken as the character there
src/driver/graphemes.cc @@ for (std::size_t length = 1; length <= 4 && length <= at; ++length) { @@ for (std::size_t length = 1; length <= 4 && length < at; ++length) { @@ a character that begins the text is never seen before a ":"
src/driver/graphemes.cc @@ if (c > joiningRanges[middle].last) @@ if (c >= joiningRanges[middle].last) @@ the last code point of each range is missed
src/driver/graphemes.cc @@ if (before != invalid && joiningOf(before) == Joining::prepend) @@ if (before != invalid && joiningOf(before) != Joining::none) @@ any joiner before a ":" joins it
src/driver/graphemes.cc @@ if (j == Joining::extend || j == Joining::zwj || j == Joining::spacingMark) @@ if (j == Joining::extend || j == Joining::zwj) @@ a spacing mark after a ":" does not join it
src/driver/grapheme_table.cc @@ {0x06DD, 0x06DD, Joining::prepend}, @@ {0x06DD, 0x06DD, Joining::extend}, @@ one table entry has the wrong kind
src/haptics/framework.cc @@ framework = dlopen(frameworkPath, RTLD_NOW); @@ framework = dlopen(frameworkPath, RTLD_LAZY); @@ the framework is bound lazily
src/haptics/framework.cc @@ if (!address) @@ if (!framework) @@ a missing function goes unnoticed
src/haptics/motors.cc @@ if (!device) @@ if (false) @@ a null device is looked up
src/haptics/motors.cc @@ if (getID(device, &id) != 0) @@ if (getID(device, &id) < 0) @@ a positive failure status counts as success
src/haptics/motors.cc @@ if (getID(device, &id) != 0) @@ if (getID(device, &id) > 0) @@ a negative failure status counts as success
src/haptics/motors.cc @@ if (openActuator(actuator) != 0) { @@ if (openActuator(actuator) < 0) { @@ an actuator whose open fails with a positive status is used
src/haptics/motors.cc @@ uint64_t id = 0; @@ uint64_t id; @@ an ID the framework does not write is left undefined
src/haptics/motors.cc @@ CFRelease(actuator); @@ (void)actuator; @@ an actuator that fails to open is never released
src/haptics/motors.cc @@ for (CFIndex index = 0; index < count; ++index) { @@ for (CFIndex index = 1; index < count; ++index) { @@ the first device is skipped
src/haptics/description.cc @@ static_cast<CFIndex>(values.size()), &kCFTypeArrayCallBacks)); @@ static_cast<CFIndex>(values.size()), nullptr)); @@ a list does not retain its elements, which are released under it
src/haptics/description.cc @@ releaseAll(keys); @@ (void)keys; @@ the keys of a dictionary keep their own reference
src/haptics/description.cc @@ {"FrequencykHz", {step.hz / 1000.0}}, @@ {"FrequencykHz", {step.hz * 0.001}}, @@ kilohertz by multiplication, which rounds differently
src/haptics/description.cc @@ {"Amplitude", {0.0}}, @@ {"Amplitude", {1.0}}, @@ the base waveform is loud
src/haptics/description.cc @@ return created(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, number)); @@ return created(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat32Type, number)); @@ numbers go to the framework as the wrong type
src/haptics/play.cc @@ CFRelease(description); @@ (void)description; @@ the description is never released
src/haptics/play.cc @@ float intensity = step.level * strength; @@ float intensity = step.level; @@ the strength is ignored
src/haptics/play.cc @@ actuate(actuation, motor, 0, intensity, 0.0f); @@ actuate(actuation, motor, 0, intensity, 1.0f); @@ the last argument is not zero
src/haptics/play.cc @@ CFRelease(actuation); @@ (void)actuation; @@ the actuation is never released
EOF
)

# The scratch copy holds what `git ls-files` sees, uncommitted edits included,
# so a new test can be tried against the faults before it is committed; the
# repository itself, its build and its git metadata are never touched.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/thrum-mutants-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
git ls-files -z --cached --others --exclude-standard |
    tar --null --ignore-failed-read -T - -cf - 2>/dev/null | tar -xf - -C "$scratch"

# Applies a fault to the scratch copy, or says why it cannot: the old text
# must occur exactly once and lie within one line.
apply() {
    python3 - "$scratch/$1" "$2" "$3" <<'PY'
import sys
path, old, new = sys.argv[1:]
text = open(path, encoding="utf-8").read()
count = text.count(old)
if count != 1 or "\n" in old:
    sys.exit(f"matches {count} times")
open(path, "w", encoding="utf-8").write(text.replace(old, new))
PY
}

# The list, parsed and filtered; every fault must still apply before any runs.
declare -a files olds news whats explained
problems=0 explaining=0
while IFS= read -r line; do
    [[ "$line" == "# Survives:"* ]] && explaining=1
    [[ -z "$line" || "$line" == \#* ]] && continue
    because=$explaining explaining=0
    if [[ $# -gt 0 ]]; then
        wanted=0
        for pattern in "$@"; do [[ "$line" == *"$pattern"* ]] && wanted=1; done
        [[ $wanted -eq 1 ]] || continue
    fi
    rest=$line
    fields=()
    for _ in 1 2 3; do
        fields+=("${rest%% @@ *}")
        rest=${rest#* @@ }
    done
    fields+=("$rest")
    if [[ "$line" != *" @@ "*" @@ "*" @@ "* ]]; then
        echo "mutants: not four fields: $line" >&2
        problems=1
        continue
    fi
    if [[ ! -f "$scratch/${fields[0]}" ]]; then
        echo "mutants: no such file: ${fields[0]}" >&2
        problems=1
        continue
    fi
    file=${fields[0]}
    cp "$scratch/$file" "$scratch/.original"
    if ! why=$(apply "$file" "${fields[1]}" "${fields[2]}" 2>&1); then
        echo "mutants: no longer applies ($why): $file: ${fields[1]}" >&2
        problems=1
    fi
    cat "$scratch/.original" >"$scratch/$file"
    files+=("$file") olds+=("${fields[1]}") news+=("${fields[2]}") whats+=("${fields[3]}") explained+=("$because")
done <<<"$faults"
if [[ $# -eq 0 ]]; then
    for source in $(cd "$scratch" && ls src/*.cc src/*/*.cc); do
        [[ " ${files[*]} " == *" $source "* ]] || echo "mutants: note: no fault in $source" >&2
    done
fi
[[ $problems -eq 0 ]] || { echo "mutants: fix the list first" >&2; exit 2; }
[[ ${#files[@]} -gt 0 ]] || { echo "mutants: no fault matches: $*" >&2; exit 2; }

# One build folder for every fault, so each rebuild is incremental. Warnings
# are not errors here: a fault is judged by the tests, not by the compiler.
build=$scratch/build
cmake -S "$scratch" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTHRUM_WERROR=OFF >/dev/null
suite() {
    # Serial, as `make test` runs it: the timing tests want a quiet machine.
    # A test that hangs is stopped and counts as failed.
    ctest --test-dir "$build" --timeout 60 --stop-on-failure >"$scratch/ctest.log" 2>&1
}
cmake --build "$build" >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log" >&2; exit 2; }
suite || { echo "mutants: the suite fails without any fault; see below" >&2; cat "$scratch/ctest.log" >&2; exit 2; }

started=$SECONDS
caught=0 survived=0 unexplained=0 broken=0
for i in "${!files[@]}"; do
    file=${files[$i]}
    cp "$scratch/$file" "$scratch/.original"
    apply "$file" "${olds[$i]}" "${news[$i]}"
    t=$SECONDS
    if ! cmake --build "$build" >"$scratch/build.log" 2>&1; then
        verdict="BROKEN  " by="does not build"
        broken=$((broken + 1))
    elif suite; then
        survived=$((survived + 1))
        if [[ ${explained[$i]} -eq 1 ]]; then
            verdict="survived" by="explained in the list"
        else
            verdict="SURVIVED" by=""
            unexplained=$((unexplained + 1))
        fi
    else
        verdict="caught  "
        by="$(sed -n '/tests FAILED:/{n;p;q}' "$scratch/ctest.log" | sed 's/^[[:space:]]*[0-9]* - //')"
        caught=$((caught + 1))
    fi
    # Written afresh, so the next build sees the file changed again.
    cat "$scratch/.original" >"$scratch/$file"
    touch "$scratch/$file"
    printf '%s %-26s %s  [%s%ds]\n' "$verdict" "${file#src/}" "${whats[$i]}" "${by:+$by, }" $((SECONDS - t))
done

total=${#files[@]}
echo "score: $caught of $total caught, $survived survived ($unexplained unexplained), $broken broken ($((SECONDS - started))s)"
[[ $broken -eq 0 ]] || exit 2
[[ $unexplained -eq 0 ]] || exit 1
