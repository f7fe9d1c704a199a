#!/usr/bin/env python3
"""Timing precision and cost of thrum's schedule, in one command.

Runs the real binary against the simulated trackpad and reads the timestamps
of its log (the monotonic clock), beside a reference loop that only sleeps until
absolute deadlines on the same clock. Also measures start-up against
/bin/true, the CPU share of a pattern, peak memory per step, and the cost of
steps with waits of 0. Standard-library Python only.

Build first:
    cmake --preset default -DTHRUM_BENCH=ON && cmake --build --preset default
Then:
    bench/schedule.py [--build build] [--repeat 3] [--only SECTION,...]
                      [--launcher 'PROGRAM ARG...'] [--markdown FILE]
                      [--svg FILE] [--json FILE] [--page CONTRIBUTING.md]

Sections: precision, cpu, startup, memory, scaling (all by default).

The precision section gives two figures a step, steps 2 on (step 1 is the
anchor, and cold):
  wake lateness  how long after its ideal instant a step woke: its instant
                 against step 1's plus the waits before it. For thrum the
                 instant is its first CoreFoundation call of the step, which the
                 simulation's redirect times (a few microseconds after the wake,
                 once the step's description is built in the tool's own form);
                 for the reference loop, its clock reading after each sleep.
  work a step    thrum's time from that first CoreFoundation call to the
                 actuation reaching the (first) motor, less the time the
                 simulation spends inside its creation of the actuation.

--markdown appends the results as Markdown tables (e.g. to $GITHUB_STEP_SUMMARY).
--svg draws both figures: the wake lateness of thrum and of the reference loop
on one axis, and thrum's work a step beside it.
--json writes every figure behind the tables: for each run of the precision
section, each step's wake lateness for thrum and for the reference loop and
each step's work, with the context. Its form:
    {"context": {"date", "machine", "load": the tables' line on it,
                 "load_average": {"start", "end"}, "system", "cpus",
                 "launcher": [argv prefix], "sections": [...], "repeat"},
     "precision": {"steps", "wait_ms", "tone_ms", "anchors": {name: text},
                   "runs": [{"thrum": {"wake_lateness_us": [...],
                                       "work_us": [...]},
                             "reference": {"wake_lateness_us": [...]}}, ...]},
     "cpu": {pattern: median CPU %}, "startup": {"thrum", "true" in ms, ...},
     "memory": {"peaks": {steps: bytes}, "per step"}, "scaling": {steps: µs}}
  Each list holds one value a step in µs, step 1 first; step 1's wake lateness
  is 0, as it is the anchor. Sections that did not run are left out.
--page rewrites a page's text between <!-- precision:begin --> and
<!-- precision:end --> with the tables and the picture (drawn to
docs/precision.svg beside the page unless --svg says otherwise); the figures
live in CONTRIBUTING.md.
--launcher starts every measured program (the tool, the reference loop and
/bin/true) through PROGRAM, as an argv prefix, so both sides pay for it alike.
"""
import argparse
import collections
import datetime
import json
import math
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import tempfile
import textwrap
import time
from xml.sax.saxutils import escape

SECTIONS = ("precision", "cpu", "startup", "memory", "scaling")
PAGE_NEEDS = ("precision", "cpu", "startup", "memory")
BEGIN, END = "<!-- precision:begin -->", "<!-- precision:end -->"

STEPS, WAIT_MS, TONE_MS = 1000, 5, 1  # the precision pattern
CPU_PATTERNS = (("20 steps × 100 ms", ["150:20:1:100"] * 20), ("400 steps × 5 ms", ["150:5:1:5"] * 400))
MEMORY_STEP, MEMORY_COUNTS = "150:0:1:0", (1000, 50000)  # no tone, no wait: the run is all playing
SCALING_STEP, SCALING_COUNTS = "1:0:1:0", (1000, 10000, 100000)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


def lateness_us(times_ns, waits_ms):
    """Each start against its ideal: the first start plus the earlier waits."""
    late, ideal_us = [], 0.0
    for k, at in enumerate(times_ns):
        late.append((at - times_ns[0]) / 1e3 - ideal_us)
        ideal_us += waits_ms[k] * 1e3
    return late


def figures(values):
    return {"p1": percentile(values, 1), "median": statistics.median(values), "p99": percentile(values, 99),
            "max": max(values), "min": min(values)}


def step_instants(lines):
    """Each step's instants in a log written with MTSIM_TIME_DESCRIBE=1, in
    nanoseconds: (describe, entered, returned, actuate), that is the tool's
    first create call, its call's entry into the simulation's creation of the
    actuation and the return from it, and its first actuate after that."""
    steps, current = [], None
    for text in lines:
        at, _, event = text.rstrip("\n").partition(" ")
        word = event.split(" ", 1)[0]
        if word == "describe":
            current = [int(at), None, None, None]
            steps.append(current)
        elif current is None or word not in ("entered", "returned", "actuate"):
            continue
        elif word == "entered" and current[1] is None:
            current[1] = int(at)
        elif word == "returned" and current[1] is not None and current[2] is None:
            current[2] = int(at)
        elif word == "actuate" and current[2] is not None and current[3] is None:
            current[3] = int(at)
    if any(None in step for step in steps):
        raise SystemExit(f"a step of the log lacks one of describe, entered, returned, actuate: {steps}")
    return [tuple(step) for step in steps]


def work_us(instants):
    """The tool's own time a step: from its first create call to its first
    actuate, less the simulation's time inside the creation it was handed."""
    return [((entered - describe) + (actuate - returned)) / 1e3
            for describe, entered, returned, actuate in instants]


def after_first(runs, side, key):
    """The values of every run for the steps after the first, pooled."""
    return [value for run in runs for value in run[side][key][1:]]


def fits_command_line(count, step):
    """Whether count copies of step fit the system's limit on arguments and
    environment (about 1 MiB on macOS), counting each pointer as well."""
    try:
        limit = os.sysconf("SC_ARG_MAX")
    except (ValueError, OSError):
        return True
    environment = sum(len(k) + len(v) + 10 for k, v in os.environ.items())
    return count * (len(step) + 1 + 8) + environment + 4096 < limit


def us(value):
    if abs(value) >= 1000:
        return f"{value / 1000:.2f} ms"
    return f"{value:.0f} µs" if abs(value) >= 10 else f"{value:.1f} µs"


Run = collections.namedtuple("Run", "status wall_s cpu_s end_ns output")


def exit_code(status):
    """A wait status as a return code: the exit status, or minus the signal
    that ended the process (a Mac's Python 3.8 has no waitstatus_to_exitcode)."""
    if os.WIFEXITED(status):
        return os.WEXITSTATUS(status)
    if os.WIFSIGNALED(status):
        return -os.WTERMSIG(status)
    raise ValueError(f"invalid wait status: {status}")


class Bench:
    def __init__(self, build, launcher=(), system=None):
        self.system = system or platform.system()
        self.launcher = list(launcher)
        self.thrum = os.path.abspath(os.path.join(build, "thrum"))
        self.reference = os.path.abspath(os.path.join(build, "bench", "reference_loop"))
        self.peakRss = os.path.abspath(os.path.join(build, "bench", "peak_rss"))
        # macOS has it only in /usr/bin.
        self.true = "/bin/true" if os.path.exists("/bin/true") else "/usr/bin/true"
        self.simDir = os.path.abspath(os.path.join(build, "sim"))
        self.redirect = os.path.join(self.simDir, "libmtredirect." + ("dylib" if self.system == "Darwin" else "so"))

    def check(self):
        for path in (self.thrum, self.redirect, self.reference, self.peakRss, self.true):
            if not os.path.exists(path):
                raise SystemExit(f"missing {path}: build with -DTHRUM_BENCH=ON first")

    def command(self, argv, sim=False, log=None, timed=False):
        """The argv and environment that start a measured program: through the
        launcher if there is one and, with sim, with the loader redirect in
        place so the tool's dlopen of the framework opens the simulation. Every
        program the bench times starts through here."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("MTSIM_") and k not in ("LD_PRELOAD", "DYLD_INSERT_LIBRARIES")}
        settings = {}
        if sim and self.system == "Darwin":
            settings["DYLD_INSERT_LIBRARIES"] = self.redirect
        elif sim:
            # A bare name found through the search path, so a build directory
            # with spaces in its path still works (LD_PRELOAD splits on them).
            settings["LD_PRELOAD"] = os.path.basename(self.redirect)
            settings["LD_LIBRARY_PATH"] = os.pathsep.join([self.simDir] + ([env["LD_LIBRARY_PATH"]]
                                                                           if env.get("LD_LIBRARY_PATH") else []))
        if log:
            settings["MTSIM_LOG"] = log
        if timed:
            settings["MTSIM_TIME_DESCRIBE"] = "1"
        prefix = list(self.launcher)
        if prefix and self.system == "Darwin":
            # The system purges DYLD_ variables when it starts a protected
            # program, as most launchers are, and so from everything they start:
            # env(1) sets them again after the launcher. Every program goes
            # through it, so each side pays for the extra exec alike.
            prefix += ["/usr/bin/env"] + [f"{k}={v}" for k, v in settings.items()]
        else:
            env.update(settings)
        return prefix + argv, env

    def run(self, argv, sim=False, log=None, output=False, timed=False):
        """Runs argv to its end, with its standard output kept if asked."""
        argv, env = self.command(argv, sim, log, timed)
        with tempfile.TemporaryFile("w+") as out:
            actions = [(os.POSIX_SPAWN_DUP2, out.fileno(), 1)] if output else []
            start = time.perf_counter_ns()
            pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
            _, status, usage = os.wait4(pid, 0)
            wall_s = (time.perf_counter_ns() - start) / 1e9
            # The simulation's log clock on either system (on a Mac the
            # clock of mach_absolute_time, not CLOCK_MONOTONIC, which counts sleep).
            end_ns = time.monotonic_ns()
            out.seek(0)
            return Run(exit_code(status), wall_s, usage.ru_utime + usage.ru_stime, end_ns, out.read())

    def thrum_steps(self, steps):
        """Runs thrum with the steps, timed; each step's instants and the end."""
        with tempfile.NamedTemporaryFile(prefix="thrum-bench-", suffix=".log") as log:
            run = self.run([self.thrum, "1"] + steps, sim=True, log=log.name, timed=True)
            if run.status != 0:
                raise SystemExit(f"thrum ended with status {run.status}")
            with open(log.name) as lines:
                instants = step_instants(lines)
        return instants, run.end_ns

    def reference_starts(self, count, wait_ms):
        run = self.run([self.reference, str(count), str(wait_ms)], output=True)
        if run.status != 0:
            raise SystemExit("reference loop failed")
        return [int(line) for line in run.output.split()]


ANCHORS = {
    "thrum": "each step's first CoreFoundation call (timed by the simulation's redirect, a few microseconds "
             "after the wake) against step 1's plus the waits before it",
    "reference": "each clock reading right after a sleep against the first, taken at the loop's start, "
                 "plus the waits before it",
    "work": "from thrum's first CoreFoundation call of a step to its first actuate, less the time the "
            "simulation spent inside its creation of the actuation",
}


def precision(bench, repeat):
    print(f"== precision: {repeat} × {STEPS} steps, wait {WAIT_MS} ms, figures in µs of the steps after the first")
    print(f"{'run':<14}{'p1':>9}{'median':>9}{'p99':>9}{'max':>9}{'drift':>9}{'min':>9}{'length Δ ms':>13}")
    waits = [WAIT_MS] * STEPS
    runs = []
    for r in range(repeat):
        # Interleaved, so a change in the machine's load falls on both alike.
        instants, end = bench.thrum_steps([f"150:{TONE_MS}:1:{WAIT_MS}"] * STEPS)
        if len(instants) != STEPS:
            raise SystemExit(f"expected {STEPS} timed steps, saw {len(instants)}")
        starts = bench.reference_starts(STEPS, WAIT_MS)
        if len(starts) != STEPS:
            raise SystemExit(f"expected {STEPS} wakes of the reference loop, saw {len(starts)}")
        run = {"thrum": {"wake_lateness_us": lateness_us([i[0] for i in instants], waits),
                         "work_us": work_us(instants)},
               "reference": {"wake_lateness_us": lateness_us(starts, waits)}}
        runs.append(run)
        for side in ("thrum", "reference"):
            late = run[side]["wake_lateness_us"]
            stats = figures(late[1:])
            columns = [stats[c] for c in ("p1", "median", "p99", "max")] + [late[-1], stats["min"]]
            extra = ""
            if side == "thrum":
                extra = f"{(end - instants[0][0]) / 1e6 - (STEPS * WAIT_MS + TONE_MS + 100):13.2f}"
            print(f"{side + ' #' + str(r + 1):<14}" + "".join(f"{c:9.1f}" for c in columns) + extra)
        work = figures(run["thrum"]["work_us"][1:])
        print(f"{'work #' + str(r + 1):<14}" + "".join(f"{work[c]:9.1f}" for c in ("p1", "median", "p99", "max")))
    print("(wake lateness: thrum and reference; drift: the last step against its ideal; work: thrum's a step;")
    print(f" length Δ: step 1's first CoreFoundation call to the end of the process, minus {STEPS}×{WAIT_MS} + "
          f"{TONE_MS} + 100 ms)")
    return {"steps": STEPS, "wait_ms": WAIT_MS, "tone_ms": TONE_MS, "anchors": ANCHORS, "runs": runs}


def cpu(bench, repeat):
    print("== CPU time of a 2-second pattern (tool and simulation in one process)")
    result = {}
    for label, steps in CPU_PATTERNS:
        shares = []
        for _ in range(repeat):
            run = bench.run([bench.thrum, "1"] + steps, sim=True)
            if run.status != 0:
                raise SystemExit(f"thrum ended with status {run.status}")
            shares.append(run.cpu_s / run.wall_s * 100)
            print(f"{label:<20}cpu {run.cpu_s * 1e3:.1f} ms / wall {run.wall_s:.3f} s = {shares[-1]:.3f} %")
        result[label] = statistics.median(shares)
    return result


def startup(bench, runs=300):
    print(f"== start-up: thrum --check against {bench.true}, {runs} runs each, interleaved")
    thrum, true = [], []
    for k in range(10 + runs):
        run = bench.run([bench.thrum, "--check"], sim=True)
        if run.status != 0:
            raise SystemExit(f"thrum --check ended with status {run.status}")
        other = bench.run([bench.true])
        if k >= 10:  # the first ten warm the caches
            thrum.append(run.wall_s * 1e3)
            true.append(other.wall_s * 1e3)
    result = {"thrum": statistics.median(thrum), "true": statistics.median(true), "true path": bench.true}
    print(f"median thrum --check {result['thrum']:.3f} ms, {bench.true} {result['true']:.3f} ms, "
          f"ratio {result['thrum'] / result['true']:.2f}")
    print(f"mean   thrum --check {statistics.mean(thrum):.3f} ms, {bench.true} {statistics.mean(true):.3f} ms")
    return result


def memory(bench):
    print(f"== peak resident memory against the number of steps ({MEMORY_STEP}, best of three)")
    peaks = {}
    for count in MEMORY_COUNTS:
        runs = [bench.run([bench.peakRss, bench.thrum, "1"] + [MEMORY_STEP] * count, sim=True, output=True)
                for _ in range(3)]
        if any(run.status != 0 for run in runs):
            raise SystemExit("thrum failed")
        # Other work on the machine can only add pages, so the least is the truest.
        peaks[count] = min(int(run.output) for run in runs)
        print(f"{count:>7} steps: {peaks[count] / 1024:.0f} KiB")
    short, long = MEMORY_COUNTS
    per_step = (peaks[long] - peaks[short]) / (long - short)
    print(f"{per_step:.1f} bytes a step, of which the argument text and its pointer: {len(MEMORY_STEP) + 1 + 8}")
    return {"peaks": peaks, "per step": per_step}


def scaling(bench):
    print(f"== waits of 0: total time against the number of steps ({SCALING_STEP}, no log)")
    per_step = {}
    for count in SCALING_COUNTS:
        if not fits_command_line(count, SCALING_STEP):
            print(f"{count:>7} steps: skipped, too long a command line for this system")
            continue
        runs = [bench.run([bench.thrum, "1"] + [SCALING_STEP] * count, sim=True)
                for _ in range(3 if count >= 100000 else 5)]
        if any(run.status != 0 for run in runs):
            raise SystemExit("thrum failed")
        walls = [run.wall_s for run in runs]
        wall = statistics.median(walls)
        per_step[count] = (wall - 0.1) / count * 1e6
        print(f"{count:>7} steps: total {wall:.3f} s (median of {len(walls)}), "
              f"{per_step[count]:.2f} µs a step beyond the closing 0.1 s")
    return per_step


def machine(bench):
    """One line: processor, CPUs, kernel, system, and whether it is virtual."""
    model, virtual, system = platform.machine(), False, platform.system()
    if os.path.exists("/proc/cpuinfo"):
        with open("/proc/cpuinfo") as f:
            info = [(key.strip(), value.strip()) for key, _, value in (line.partition(":") for line in f)]
        names = [value for key, value in info if key == "model name"]
        if names:
            model = f"{names[0]} ({platform.machine()})"
        virtual = any(key == "flags" and "hypervisor" in value.split() for key, value in info)
    if system == "Darwin":
        def sysctl(name):
            try:
                return subprocess.run(["sysctl", "-n", name], capture_output=True, text=True).stdout.strip()
            except OSError:
                return ""
        model = sysctl("machdep.cpu.brand_string") or model
        virtual = sysctl("kern.hv_vmm_present") == "1"
        name = "macOS " + platform.mac_ver()[0]
    else:
        try:
            # py38: Python 3.10's; an older one takes the AttributeError.
            name = platform.freedesktop_os_release().get("PRETTY_NAME", system)
        except (AttributeError, OSError):
            name = system
    parts = [model, f"{os.cpu_count()} CPUs", f"{platform.system()} {platform.release()}", name]
    if virtual:
        parts.append("virtual machine")
    line = ", ".join(parts)
    if bench.launcher:
        line += f", started through `{shlex.join(bench.launcher)}`"
    return line


def tables(results, context):
    """The results as Markdown: a line on where they come from, then tables."""
    out = [f"Measured {context['date']} on {context['machine']}; {context['load']}."]
    if "precision" in results:
        p = results["precision"]
        runs = p["runs"]
        ours, theirs = (figures(after_first(runs, side, "wake_lateness_us")) for side in ("thrum", "reference"))
        work = figures(after_first(runs, "thrum", "work_us"))
        drift = {side: statistics.median(run[side]["wake_lateness_us"][-1] for run in runs)
                 for side in ("thrum", "reference")}
        out += ["", f"| {len(runs)} × {p['steps']} steps {p['wait_ms']:g} ms apart, steps 2 on | "
                "wake lateness: thrum | wake lateness: reference loop | thrum's work a step |", "|---|--:|--:|--:|"]
        for key in ("p1", "median", "p99", "max"):
            out.append(f"| {key} | {us(ours[key])} | {us(theirs[key])} | {us(work[key])} |")
        out.append(f"| drift: the last step against its ideal, {p['steps'] * p['wait_ms'] / 1000:g} s in "
                   f"(median of {len(runs)}) | {us(drift['thrum'])} | {us(drift['reference'])} | |")
    cost = []
    if "startup" in results:
        s = results["startup"]
        cost.append(f"| start-up, `thrum --check` (median) | {s['thrum']:.2f} ms | "
                    f"`{s['true path']}`: {s['true']:.2f} ms, {s['thrum'] / s['true']:.1f}× |")
    for label, share in results.get("cpu", {}).items():
        cost.append(f"| CPU share of a pattern of {label} (median) | {share:.2f} % | |")
    if "memory" in results:
        m = results["memory"]
        (short, a), (long, b) = sorted(m["peaks"].items())
        cost.append(f"| memory a step | {m['per step']:.0f} bytes | peak RSS {a / 2**20:.1f} MiB with {short} steps, "
                    f"{b / 2**20:.1f} MiB with {long} |")
    if results.get("scaling"):
        runs = sorted(results["scaling"].items())
        count, per_step = runs[-1]
        cost.append(f"| time a step with waits of 0 | {per_step:.1f} µs | over {count} steps"
                    + "".join(f"; {c}: {t:.1f} µs" for c, t in runs[:-1]) + " |")
    if cost:
        out += ["", "| Cost | thrum | detail |", "|---|--:|---|"] + cost
    return "\n".join(out) + "\n"


def line(x1, x2, y1, y2, colour, extra=""):
    return f'<line x1="{x1:.1f}" x2="{x2:.1f}" y1="{y1:.1f}" y2="{y2:.1f}" stroke="{colour}"{extra}/>'


def svg_text(x, y, content, colour, extra=""):
    return f'<text x="{x:.1f}" y="{y:.1f}" fill="{colour}"{extra}>{escape(content)}</text>'


def log_axis(values):
    """The start of a logarithmic axis in µs (a power of ten, at least 1) and
    how many decades it spans to hold every value."""
    positive = [v for v in values if v > 0]
    low = 10 ** math.floor(math.log10(max(1.0, min(positive or [1.0]))))
    return low, math.ceil(math.log10(max(values + [low * 10]) / low))


def histogram(values, low, decades, per_decade):
    """Counts in bins of equal width on the logarithmic axis; values at or
    below its start count in the first bin."""
    counts = [0] * (decades * per_decade)
    for v in values:
        counts[0 if v <= low else min(len(counts) - 1, int(math.log10(v / low) * per_decade))] += 1
    return counts


INK, GREY, GRID, PAPER = "#1a202c", "#4a5568", "#e2e6eb", "#f7f8fa"
# Each series' colour for its bars and for its marks and name.
COLOURS = {"thrum": ("#2864b4", "#2864b4"), "reference loop": ("#9aa2ad", "#4f5663")}
MARKS = (("median", "none"), ("p99", "5 3"))


def panel(name, title, captions, series, box, per_decade, axis_label, outlined=()):
    """One panel in box (left, top, plot width, plot height): a title, caption
    lines, a legend line a series (name to values in µs), and the histograms of
    all series on one logarithmic axis with each one's median and p99 marked;
    the series named in outlined are drawn as outlines over the others.
    Returns the SVG lines and the height used."""
    left, top, plot_width, plot_height = box
    values = [v for vs in series.values() for v in vs]
    low, decades = log_axis(values)
    counts = {label: histogram(vs, low, decades, per_decade) for label, vs in series.items()}
    count_top = max(10, 1.5 * max(max(c) for c in counts.values()))
    bottom_log = math.log10(0.5)  # a bin of one step stays visible

    def x(v):
        return left + plot_width * math.log10(max(v, low) / low) / decades

    out = [f'<g class="panel" data-name="{escape(name)}">',
           svg_text(left, top, title, INK, ' font-size="14" font-weight="bold"')]
    y = top + 16
    for caption in captions:
        out.append(svg_text(left, y, caption, GREY, ' font-size="11"'))
        y += 14
    y += 4
    for label, vs in series.items():
        stroke, ink = COLOURS.get(label, COLOURS["thrum"])
        f = figures(vs)
        out.append(f'<rect x="{left:.1f}" y="{y - 9:.1f}" width="12" height="10" stroke="{stroke}" '
                   f'fill="{PAPER if label in outlined else stroke}"/>')
        out.append(f'<text x="{left + 18:.1f}" y="{y:.1f}" font-size="12"><tspan font-weight="bold" fill="{ink}">'
                   f'{escape(label)}</tspan><tspan fill="{GREY}" dx="8">p1 {us(f["p1"])} · median {us(f["median"])}'
                   f' · p99 {us(f["p99"])} · max {us(f["max"])}</tspan></text>')
        y += 16
    y0, y1 = y + 4, y + 4 + plot_height

    def height(count):
        return y1 - plot_height * (math.log10(count) - bottom_log) / (math.log10(count_top) - bottom_log)

    out.append(f'<rect x="{left:.1f}" y="{y0:.1f}" width="{plot_width}" height="{plot_height}" fill="{PAPER}"/>')
    for exponent in range(math.floor(math.log10(count_top)) + 1):
        level = height(10 ** exponent)
        out.append(line(left, left + plot_width, level, level, GRID))
        out.append(svg_text(left - 6, level + 4, str(10 ** exponent), GREY, ' text-anchor="end"'))
    out += [line(x(low * 10 ** k), x(low * 10 ** k), y0, y1, GRID) for k in range(decades + 1)]
    edges = [low * 10 ** (k / per_decade) for k in range(decades * per_decade + 1)]
    # Filled series first, outlined ones over them, so that both stay visible.
    for label in sorted(series, key=lambda label: label in outlined):
        stroke, ink = COLOURS.get(label, COLOURS["thrum"])
        paint = f'fill="none" stroke="{stroke}" stroke-width="1.2"' if label in outlined else f'fill="{stroke}"'
        out.append(f'<g class="series" data-name="{escape(label)}" data-steps="{len(series[label])}">')
        for k, count in enumerate(counts[label]):
            if count:
                a, b = x(edges[k]), x(edges[k + 1])
                out.append(f'<rect class="bin" data-count="{count}" x="{a + 0.5:.1f}" y="{height(count):.1f}" '
                           f'width="{b - a - 1:.1f}" height="{y1 - height(count):.1f}" {paint}/>')
        f = figures(series[label])
        for row, (key, dash) in enumerate(MARKS):
            at = x(f[key])
            out.append(line(at, at, y0, y1, ink, f' stroke-width="1.5" stroke-dasharray="{dash}" class="{key}" '
                                                 f'data-us="{f[key]:.1f}"'))
            if len(series) == 1:
                # The median's label on the line's left and the p99's on its right, away from each
                # other, unless that would cross the panel's edge; a halo keeps them legible.
                on_left = at > left + plot_width - 50 or (key == "median" and at > left + 50)
                out.append(svg_text(at - 4 if on_left else at + 4, y0 + 12 + 13 * row, key, INK,
                                    (' text-anchor="end"' if on_left else "") +
                                    f' font-size="11" stroke="{PAPER}" stroke-width="3" paint-order="stroke"'))
        out.append("</g>")
    out.append(f'<text transform="translate({left - 40:.1f},{(y0 + y1) / 2:.0f}) rotate(-90)" text-anchor="middle" '
               f'fill="{GREY}">steps (log)</text>')
    for k in range(decades + 1):
        v = low * 10 ** k
        label = f"{v / 1000:g} ms" if v >= 1000 else f"{v:g} µs"
        if k == 0 and any(value <= low for value in values):
            label = "≤ " + label
        out.append(line(x(v), x(v), y1, y1 + 6, GREY))
        out.append(svg_text(x(v), y1 + 19, label, INK, ' text-anchor="middle"'))
        if k < decades:
            out += [line(x(v * m), x(v * m), y1, y1 + 3, GREY) for m in range(2, 10)]
    out.append(svg_text(left + plot_width / 2, y1 + 36, axis_label, INK, ' text-anchor="middle"'))
    out.append("</g>")
    return out, y1 + 44 - top


def draw(lateness, work, subtitles):
    """An SVG of two panels side by side under a title and lines of subtitles:
    the wake lateness of each entry of lateness (name to values in µs) on one
    logarithmic axis, and the tool's work a step (values in µs)."""
    width = 1080
    lines = [part for text in subtitles for part in textwrap.wrap(text, 160)]
    top = 50 + 14 * len(lines)
    left_a, width_a = 70, 500
    left_b = left_a + width_a + 84
    width_b = width - left_b - 24
    # Both panels wrap their captions to their width, at about 6 pixels a letter.
    a, height_a = panel(
        "wake lateness", "Wake lateness: how long after its ideal instant a step woke",
        textwrap.wrap("Each step's instant against step 1's plus the waits before it. thrum: its first CoreFoundation "
                      "call of the step, timed by the simulation, a few µs after the wake. Reference loop: its clock "
                      "reading right after each sleep to the same absolute deadlines. Lines: each one's median "
                      "(solid) and p99 (dashed).", width_a // 6),
        lateness, (left_a, top, width_a, 200), 20, "wake lateness (logarithmic)", outlined=("thrum",))
    b, height_b = panel(
        "work a step", "thrum's work a step",
        textwrap.wrap("From its first CoreFoundation call of a step to the actuation reaching the motor, less the "
                      "simulation's own time inside the creation of the actuation.", width_b // 6),
        {"thrum": work}, (left_b, top, width_b, 200), 30, "work a step (logarithmic)")
    height = top + max(height_a, height_b) + 8
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height:.0f}" '
           f'viewBox="0 0 {width} {height:.0f}" font-family="Helvetica, Arial, sans-serif" font-size="12">',
           f'<rect width="{width}" height="{height:.0f}" fill="#ffffff"/>',
           svg_text(left_a, 24, "How late each step wakes, and what thrum does once awake", INK,
                    ' font-size="16" font-weight="bold"')]
    out += [svg_text(left_a, 43 + 14 * k, part, GREY, ' font-size="10"') for k, part in enumerate(lines)]
    out += a + b + ["</svg>"]
    return "\n".join(out) + "\n"


def json_report(results, context):
    """What --json writes: the context and each section's results, the
    precision section's runs with one value a step, to the nanosecond."""
    report = dict(context=context, **results)
    if "precision" in results:
        runs = [{side: {key: [round(v, 3) for v in values] for key, values in lists.items()}
                 for side, lists in run.items()} for run in results["precision"]["runs"]]
        report["precision"] = dict(results["precision"], runs=runs)
    return report


def rewrite_page(path, block):
    """Replaces the text between the two markers of path with block, leaving
    everything else as it was."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    if text.count(BEGIN) != 1 or text.count(END) != 1 or text.index(BEGIN) > text.index(END):
        raise SystemExit(f"{path}: needs one {BEGIN} followed by one {END}")
    head, rest = text.split(BEGIN)
    _, tail = rest.split(END)
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(head + BEGIN + "\n" + block + END + tail)
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--only", default=",".join(SECTIONS))
    parser.add_argument("--launcher", default="", help="start every measured program through this argv prefix")
    parser.add_argument("--markdown", help="append the results tables to this file")
    parser.add_argument("--svg", help="draw the precision figures to this file")
    parser.add_argument("--json", help="write every step's figures and the context to this file")
    parser.add_argument("--page", help="rewrite this page's figures between its markers (implies --svg)")
    options = parser.parse_args()

    parts = options.only.split(",")
    if set(parts) - set(SECTIONS) or options.repeat < 1:
        parser.error(f"--only takes some of {','.join(SECTIONS)}; --repeat at least 1")
    launcher = shlex.split(options.launcher)
    if launcher:
        found = shutil.which(launcher[0])
        if not found:
            parser.error(f"no launcher {launcher[0]}")
        launcher[0] = found
    svg = options.svg
    # Everything that could stop the run is checked before minutes of measuring.
    if options.page:
        missing = [p for p in PAGE_NEEDS if p not in parts]
        if missing:
            parser.error("--page needs the sections " + ",".join(missing))
        with open(options.page, encoding="utf-8") as f:
            text = f.read()
        if text.count(BEGIN) != 1 or text.count(END) != 1:
            parser.error(f"{options.page} needs one {BEGIN} and one {END}")
        svg = svg or os.path.join(os.path.dirname(options.page), "docs", "precision.svg")
    if svg and "precision" not in parts:
        parser.error("a picture needs the precision section")

    bench = Bench(options.build, launcher)
    bench.check()
    started = os.getloadavg()[0]
    print(f"load average {started:.2f}, {os.cpu_count()} CPUs")
    results = {}
    if "precision" in parts:
        results["precision"] = precision(bench, options.repeat)
    if "cpu" in parts:
        results["cpu"] = cpu(bench, options.repeat)
    if "startup" in parts:
        results["startup"] = startup(bench)
    if "memory" in parts:
        results["memory"] = memory(bench)
    if "scaling" in parts:
        results["scaling"] = scaling(bench)
    ended = os.getloadavg()[0]
    print(f"load average {ended:.2f}")

    busy = "a busy machine: " if max(started, ended) >= (os.cpu_count() or 1) else ""
    context = {"machine": machine(bench), "date": datetime.date.today().isoformat(),
               "load": f"{busy}load average {started:.1f} at the start, {ended:.1f} at the end"}
    text = tables(results, context)
    if options.json:
        context.update(system=platform.platform(), cpus=os.cpu_count(), launcher=launcher, sections=parts,
                       repeat=options.repeat, load_average={"start": started, "end": ended})
        os.makedirs(os.path.dirname(options.json) or ".", exist_ok=True)
        with open(options.json, "w", encoding="utf-8") as f:
            json.dump(json_report(results, context), f, ensure_ascii=False)
        print(f"wrote {options.json}")
    print("\n" + text)
    if options.markdown:
        with open(options.markdown, "a", encoding="utf-8") as f:
            f.write("\n### Schedule precision and cost\n\n" + text)
    if svg:
        runs = results["precision"]["runs"]
        os.makedirs(os.path.dirname(svg) or ".", exist_ok=True)
        with open(svg, "w", encoding="utf-8") as f:
            f.write(draw({"thrum": after_first(runs, "thrum", "wake_lateness_us"),
                          "reference loop": after_first(runs, "reference", "wake_lateness_us")},
                         after_first(runs, "thrum", "work_us"),
                         [f"{len(runs)} run{'s' * (len(runs) != 1)} of {STEPS} steps {WAIT_MS} ms apart, steps 2 on, "
                          f"measured {context['date']}; {context['load']}", context["machine"]]))
        print(f"drew {svg}")
    if options.page:
        picture = os.path.relpath(svg, os.path.dirname(os.path.abspath(options.page)))
        first, rest = text.split("\n", 1)
        rewrite_page(options.page, f"{first}\n\n![Wake lateness of thrum and of the reference loop, and thrum's "
                                       f"work a step]({picture})\n{rest}")
        print(f"rewrote the precision section of {options.page}")


if __name__ == "__main__":
    main()
