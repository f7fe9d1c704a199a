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
                      [--svg FILE] [--readme README.md]

Sections: precision, cpu, startup, memory, scaling (all by default).
--markdown appends the results as Markdown tables (e.g. to $GITHUB_STEP_SUMMARY).
--svg draws the lateness of the tool and of the reference loop.
--readme rewrites the README's text between <!-- precision:begin --> and
<!-- precision:end --> with the tables and the picture (drawn to
docs/precision.svg beside the README unless --svg says otherwise).
--launcher starts every measured program (the tool, the reference loop and
/bin/true) through PROGRAM, as an argv prefix, so both sides pay for it alike.
"""
import argparse
import collections
import datetime
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
README_NEEDS = ("precision", "cpu", "startup", "memory")
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
    return {"median": statistics.median(values), "p99": percentile(values, 99), "max": max(values),
            "min": min(values)}


def summary(late):
    """The figures of the steps after the first (which is the origin), and the
    drift: the last step against its ideal instant."""
    return dict(figures(late[1:]), drift=late[-1])


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

    def command(self, argv, sim=False, log=None):
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

    def run(self, argv, sim=False, log=None, output=False):
        """Runs argv to its end, with its standard output kept if asked."""
        argv, env = self.command(argv, sim, log)
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
            return Run(os.waitstatus_to_exitcode(status), wall_s, usage.ru_utime + usage.ru_stime, end_ns, out.read())

    def thrum_actuates(self, steps):
        """Runs thrum with the steps; the actuate timestamps and the end instant."""
        with tempfile.NamedTemporaryFile(prefix="thrum-bench-", suffix=".log") as log:
            run = self.run([self.thrum, "1"] + steps, sim=True, log=log.name)
            if run.status != 0:
                raise SystemExit(f"thrum ended with status {run.status}")
            with open(log.name) as lines:
                times = [int(line.split(" ", 1)[0]) for line in lines if line.split(" ", 2)[1:2] == ["actuate"]]
        return times, run.end_ns

    def reference_starts(self, count, wait_ms):
        run = self.run([self.reference, str(count), str(wait_ms)], output=True)
        if run.status != 0:
            raise SystemExit("reference loop failed")
        return [int(line) for line in run.output.split()]


def precision(bench, repeat):
    print(f"== precision: {repeat} × {STEPS} steps, wait {WAIT_MS} ms "
          "(lateness in µs against first start + earlier waits)")
    print(f"{'run':<14}{'median':>9}{'p99':>9}{'max':>9}{'drift':>9}{'min':>9}{'length Δ ms':>13}")
    waits = [WAIT_MS] * STEPS
    result = {"thrum": [], "reference": [], "thrum drift": [], "reference drift": [], "runs": repeat}
    for r in range(repeat):
        # Interleaved, so a change in the machine's load falls on both alike.
        times, end = bench.thrum_actuates([f"150:{TONE_MS}:1:{WAIT_MS}"] * STEPS)
        if len(times) != STEPS:
            raise SystemExit(f"expected {STEPS} actuates, saw {len(times)}")
        late = lateness_us(times, waits)
        ref = lateness_us(bench.reference_starts(STEPS, WAIT_MS), waits)
        ours, theirs = summary(late), summary(ref)
        for name, values, stats in (("thrum", late, ours), ("reference", ref, theirs)):
            result[name] += values[1:]
            result[name + " drift"].append(stats["drift"])
        length_delta = (end - times[0]) / 1e6 - (STEPS * WAIT_MS + TONE_MS + 100)
        columns = ("median", "p99", "max", "drift", "min")
        print(f"{'thrum #' + str(r + 1):<14}" + "".join(f"{ours[c]:9.1f}" for c in columns) + f"{length_delta:13.2f}")
        print(f"{'reference #' + str(r + 1):<14}" + "".join(f"{theirs[c]:9.1f}" for c in columns))
    print("(drift: the last step against its ideal; length Δ: first actuate to the end of the process,")
    print(f" minus {STEPS}×{WAIT_MS} + {TONE_MS} + 100 ms; a negative min means the first start was itself")
    print(" late by at least that much, which makes every later figure look that much earlier)")
    return result


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
        ours, theirs = figures(p["thrum"]), figures(p["reference"])
        drift = {"thrum": statistics.median(p["thrum drift"]), "reference": statistics.median(p["reference drift"])}
        out += ["", f"| Step lateness, {p['runs']} × {STEPS} steps {WAIT_MS} ms apart | thrum | reference loop |",
                "|---|--:|--:|"]
        for label, key in (("median", "median"), ("p99", "p99"), ("max", "max")):
            out.append(f"| {label} | {us(ours[key])} | {us(theirs[key])} |")
        out.append(f"| drift: the last step against its ideal, {STEPS * WAIT_MS / 1000:g} s in "
                   f"(median of {p['runs']}) | {us(drift['thrum'])} | {us(drift['reference'])} |")
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


def draw(samples, subtitles):
    """An SVG of lateness histograms, one panel per entry of samples (name to
    values in µs), stacked on one logarithmic axis, with median, p99 and max
    marked, under a title and lines of subtitles. Values at or below the axis's
    start are counted in its first bin."""
    colours, ink, grey, grid, paper = ("#2864b4", "#7a8290"), "#1a202c", "#4a5568", "#e2e6eb", "#f7f8fa"
    width, left, right, panelHeight, gap = 760, 70, 28, 130, 46
    plotWidth = width - left - right
    lines = [part for text in subtitles for part in textwrap.wrap(text, 118)]
    top = 44 + 14 * len(lines)
    values = [v for vs in samples.values() for v in vs]
    low = 10 ** math.floor(math.log10(max(1.0, min([v for v in values if v > 0] or [1.0]))))
    decades = math.ceil(math.log10(max(values + [low * 10]) / low))
    binsPerDecade = 20
    edges = [low * 10 ** (k / binsPerDecade) for k in range(decades * binsPerDecade + 1)]

    def x(v):
        return left + plotWidth * math.log10(max(v, low) / low) / decades

    counts = {}
    for name, vs in samples.items():
        counts[name] = [0] * (len(edges) - 1)
        for v in vs:
            counts[name][0 if v <= low else min(len(edges) - 2, int(math.log10(v / low) * binsPerDecade))] += 1
    countTop = max(10, 1.5 * max(max(bins) for bins in counts.values()))
    bottomLog = math.log10(0.5)  # a bin of one step stays visible

    height = top + len(samples) * (panelHeight + gap) + 40
    out = ['<?xml version="1.0" encoding="UTF-8"?>',
           f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" viewBox="0 0 {width} {height}" '
           'font-family="Helvetica, Arial, sans-serif" font-size="12">',
           f'<rect width="{width}" height="{height}" fill="#ffffff"/>',
           f'<text x="{left}" y="24" font-size="16" font-weight="bold" fill="{ink}">'
           'How late each step starts: thrum beside a loop that only sleeps</text>']
    out += [f'<text x="{left}" y="{43 + 14 * k}" fill="{grey}" font-size="10">{escape(text)}</text>'
            for k, text in enumerate(lines)]
    for i, (name, vs) in enumerate(samples.items()):
        colour = colours[i % len(colours)]
        y0 = top + i * (panelHeight + gap) + 22
        y1 = y0 + panelHeight

        def y(count):
            return y1 - panelHeight * (math.log10(count) - bottomLog) / (math.log10(countTop) - bottomLog)

        marks = figures(vs)
        out.append(f'<g class="panel" data-name="{escape(name)}" data-steps="{len(vs)}">')
        out.append(f'<text x="{left}" y="{y0 - 8}" font-size="13"><tspan font-weight="bold" fill="{colour}">'
                   f'{escape(name)}</tspan><tspan fill="{grey}" dx="10">median {us(marks["median"])} · '
                   f'p99 {us(marks["p99"])} · max {us(marks["max"])}</tspan></text>')
        out.append(f'<rect x="{left}" y="{y0}" width="{plotWidth}" height="{panelHeight}" fill="{paper}"/>')
        for exponent in range(math.floor(math.log10(countTop)) + 1):
            level = y(10 ** exponent)
            out.append(line(left, left + plotWidth, level, level, grid))
            out.append(f'<text x="{left - 6}" y="{level + 4:.1f}" text-anchor="end" fill="{grey}">{10 ** exponent}</text>')
        out += [line(x(low * 10 ** k), x(low * 10 ** k), y0, y1, grid) for k in range(decades + 1)]
        for k, count in enumerate(counts[name]):
            if count:
                a, b = x(edges[k]), x(edges[k + 1])
                out.append(f'<rect class="bin" data-count="{count}" x="{a + 0.5:.1f}" y="{y(count):.1f}" '
                           f'width="{b - a - 1:.1f}" height="{y1 - y(count):.1f}" fill="{colour}"/>')
        for row, (key, dash) in enumerate((("median", ""), ("p99", "5 3"), ("max", "1.5 2.5"))):
            at = x(marks[key])
            out.append(line(at, at, y0, y1, ink, f' stroke-width="1.5" stroke-dasharray="{dash or "none"}" '
                                                 f'class="{key}" data-us="{marks[key]:.1f}"'))
            # The label on the line's right, or on its left near the edge; a halo keeps it legible over bars.
            side = f'x="{at + 4:.1f}"' if at < left + plotWidth - 40 else f'x="{at - 4:.1f}" text-anchor="end"'
            out.append(f'<text {side} y="{y0 + 12 + 13 * row}" fill="{ink}" font-size="11" stroke="{paper}" '
                       f'stroke-width="3" paint-order="stroke">{key}</text>')
        out.append(f'<text transform="translate({left - 44},{(y0 + y1) / 2:.0f}) rotate(-90)" text-anchor="middle" '
                   f'fill="{grey}">steps (log)</text>')
        out.append("</g>")
    axis = top + len(samples) * (panelHeight + gap) - gap + 22
    for k in range(decades + 1):
        v = low * 10 ** k
        label = f"{v / 1000:g} ms" if v >= 1000 else f"{v:g} µs"
        if k == 0 and any(value <= low for value in values):
            label = "≤ " + label
        out.append(line(x(v), x(v), axis, axis + 6, grey))
        out.append(f'<text x="{x(v):.1f}" y="{axis + 19}" text-anchor="middle" fill="{ink}">{label}</text>')
        if k < decades:
            out += [line(x(v * m), x(v * m), axis, axis + 3, grey) for m in range(2, 10)]
    out.append(f'<text x="{left + plotWidth / 2}" y="{axis + 36}" text-anchor="middle" fill="{ink}">'
               'lateness: how long after its ideal instant a step started (logarithmic)</text>')
    out.append("</svg>")
    return "\n".join(out) + "\n"


def rewrite_readme(path, block):
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
    parser.add_argument("--svg", help="draw the lateness distributions to this file")
    parser.add_argument("--readme", help="rewrite this README's precision section (implies --svg)")
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
    if options.readme:
        missing = [p for p in README_NEEDS if p not in parts]
        if missing:
            parser.error("--readme needs the sections " + ",".join(missing))
        with open(options.readme, encoding="utf-8") as f:
            text = f.read()
        if text.count(BEGIN) != 1 or text.count(END) != 1:
            parser.error(f"{options.readme} needs one {BEGIN} and one {END}")
        svg = svg or os.path.join(os.path.dirname(options.readme), "docs", "precision.svg")
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
    print("\n" + text)
    if options.markdown:
        with open(options.markdown, "a", encoding="utf-8") as f:
            f.write("\n### Schedule precision and cost\n\n" + text)
    if svg:
        p = results["precision"]
        os.makedirs(os.path.dirname(svg) or ".", exist_ok=True)
        with open(svg, "w", encoding="utf-8") as f:
            f.write(draw({"thrum": p["thrum"], "reference loop": p["reference"]},
                         [f"{p['runs']} run{'s' * (p['runs'] != 1)} of {STEPS} steps {WAIT_MS} ms apart, "
                          f"measured {context['date']}; {context['load']}", context["machine"]]))
        print(f"drew {svg}")
    if options.readme:
        picture = os.path.relpath(svg, os.path.dirname(os.path.abspath(options.readme)))
        first, rest = text.split("\n", 1)
        rewrite_readme(options.readme, f"{first}\n\n![Step lateness of thrum and of the reference loop]({picture})\n{rest}")
        print(f"rewrote the precision section of {options.readme}")


if __name__ == "__main__":
    main()
