#!/usr/bin/env python3
"""Timing precision and cost of thrum's schedule.

Runs the real binary against the simulated trackpad and reads the timestamps
of its log (CLOCK_MONOTONIC, the clock of time.monotonic_ns here), beside a
reference loop that only sleeps until absolute deadlines on the same clock.

Build first:
    cmake --preset default -DTHRUM_BENCH=ON && cmake --build --preset default -j2
Then:
    bench/schedule.py [--build build] [--repeat 3] [--only precision,cpu,startup,scaling]
"""
import argparse
import os
import shlex
import shutil
import statistics
import subprocess
import tempfile
import time


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


class Bench:
    def __init__(self, build):
        self.thrum = os.path.join(build, "thrum")
        self.redirect = os.path.join(build, "sim", "libmtredirect.so")
        self.reference = os.path.join(build, "bench", "reference_loop")
        for path in (self.thrum, self.redirect, self.reference):
            if not os.path.exists(path):
                raise SystemExit(f"missing {path}: build with -DTHRUM_BENCH=ON first")

    def env(self, log=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("MTSIM_") and k != "LD_PRELOAD"}
        # By bare name from its folder: the loader cuts LD_PRELOAD at spaces.
        env["LD_LIBRARY_PATH"] = os.path.dirname(os.path.abspath(self.redirect))
        env["LD_PRELOAD"] = os.path.basename(self.redirect)
        if log:
            env["MTSIM_LOG"] = log
        return env

    def spawn(self, argv, env, stdout=None):
        """Runs argv to its end: (status, wall seconds, CPU seconds, end ns)."""
        start = time.monotonic_ns()
        actions = []
        if stdout is not None:
            actions.append((os.POSIX_SPAWN_DUP2, stdout.fileno(), 1))
        pid = os.posix_spawn(argv[0], argv, env, file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        end = time.monotonic_ns()
        return os.waitstatus_to_exitcode(status), (end - start) / 1e9, usage.ru_utime + usage.ru_stime, end

    def thrum_actuates(self, steps):
        """Runs thrum with the steps; the actuate timestamps and the end instant."""
        with tempfile.NamedTemporaryFile(prefix="thrum-bench-", suffix=".log") as log:
            status, _, _, end = self.spawn([self.thrum, "1"] + steps, self.env(log.name))
            if status != 0:
                raise SystemExit(f"thrum ended with status {status}")
            times = [int(line.split(" ", 1)[0]) for line in open(log.name)
                     if line.split(" ", 2)[1:2] == ["actuate"]]
        return times, end

    def reference_starts(self, count, wait_ms):
        with tempfile.TemporaryFile("w+") as out:
            status, _, _, _ = self.spawn([self.reference, str(count), str(wait_ms)], os.environ.copy(), out)
            if status != 0:
                raise SystemExit("reference loop failed")
            out.seek(0)
            return [int(line) for line in out]


def lateness_us(times, waits_ms):
    """Each start against its ideal: the first start plus the earlier waits."""
    late, ideal_us = [], 0.0
    for k, at in enumerate(times):
        late.append((at - times[0]) / 1e3 - ideal_us)
        ideal_us += waits_ms[k] * 1e3
    return late


def summary(late):
    drift = statistics.mean(late[-100:]) - statistics.mean(late[1:101])
    return (statistics.median(late[1:]), percentile(late[1:], 99), max(late[1:]), drift, min(late[1:]))


def precision(bench, repeat, count=1000, wait_ms=5, ms=1):
    print(f"== precision: {count} steps, wait {wait_ms} ms (lateness in µs against first start + earlier waits)")
    print(f"{'run':<12}{'median':>9}{'p99':>9}{'max':>9}{'drift':>9}{'min':>9}{'length Δ ms':>13}")
    ratios = []
    for r in range(repeat):
        steps = [f"150:{ms}:1:{wait_ms}"] * count
        times, end = bench.thrum_actuates(steps)
        if len(times) != count:
            raise SystemExit(f"expected {count} actuates, saw {len(times)}")
        ours = summary(lateness_us(times, [wait_ms] * count))
        ideal_ms = count * wait_ms + ms + 100
        length_delta = (end - times[0]) / 1e6 - ideal_ms
        ref = summary(lateness_us(bench.reference_starts(count, wait_ms), [wait_ms] * count))
        print(f"{'thrum #' + str(r + 1):<12}" + "".join(f"{v:9.1f}" for v in ours) + f"{length_delta:13.2f}")
        print(f"{'reference #' + str(r + 1):<12}" + "".join(f"{v:9.1f}" for v in ref))
        ratios.append(ours[1] / ref[1] if ref[1] > 0 else float("inf"))
    print("p99 ratio thrum / reference: " + ", ".join(f"{x:.2f}" for x in ratios))
    print(f"(length Δ: first actuate to the end of the process, minus {count}×{wait_ms} + {ms} + 100 ms;")
    print(" a negative min means the first start was itself late by at least that much, which")
    print(" makes every later figure look that much earlier)")


def cpu(bench, repeat):
    print("== CPU time of a 2-second pattern (tool and simulation in one process)")
    for label, steps in (("20 steps × 100 ms", ["150:20:1:100"] * 20), ("400 steps × 5 ms", ["150:5:1:5"] * 400)):
        shares = []
        for _ in range(repeat):
            status, wall, cpu_s, _ = bench.spawn([bench.thrum, "1"] + steps, bench.env())
            assert status == 0
            shares.append((cpu_s, wall))
        print(f"{label:<20}" + "  ".join(f"cpu {c * 1e3:.1f} ms / wall {w:.3f} s = {100 * c / w:.3f} %" for c, w in shares))


def startup(bench, runs=300):
    print(f"== start-up: thrum --check against /bin/true, {runs} runs each, interleaved")
    env_true = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    thrum, true = [], []
    for _ in range(10):
        bench.spawn([bench.thrum, "--check"], bench.env())
        bench.spawn(["/bin/true"], env_true)
    for _ in range(runs):
        status, wall, _, _ = bench.spawn([bench.thrum, "--check"], bench.env())
        assert status == 0
        thrum.append(wall * 1e3)
        true.append(bench.spawn(["/bin/true"], env_true)[1] * 1e3)
    mt, mb = statistics.median(thrum), statistics.median(true)
    print(f"median thrum --check {mt:.3f} ms, /bin/true {mb:.3f} ms, ratio {mt / mb:.2f}")
    print(f"mean   thrum --check {statistics.mean(thrum):.3f} ms, /bin/true {statistics.mean(true):.3f} ms, "
          f"ratio {statistics.mean(thrum) / statistics.mean(true):.2f}")
    if shutil.which("hyperfine"):
        redirect = bench.env()
        preload = shlex.join([f"LD_LIBRARY_PATH={redirect['LD_LIBRARY_PATH']}", f"LD_PRELOAD={redirect['LD_PRELOAD']}"])
        # Both through env(1), so the wrapper costs both sides alike.
        command = ["hyperfine", "-N", "--warmup", "20", "--runs", str(runs), "--style", "basic",
                   f"env {preload} {shlex.quote(bench.thrum)} --check", "env /bin/true"]
        print("$ " + " ".join(command))
        subprocess.run(command, check=False)


def scaling(bench, counts=(1000, 10000, 100000)):
    print("== waits of 0: total time against the number of steps (no log)")
    per_step, totals = {}, {}
    for count in counts:
        steps = ["1:0:1:0"] * count
        walls = [bench.spawn([bench.thrum, "1"] + steps, bench.env())[1] for _ in range(3 if count >= 100000 else 5)]
        wall = totals[count] = statistics.median(walls)
        per_step[count] = (wall - 0.1) / count * 1e6
        print(f"{count:>7} steps: total {wall:.3f} s (median of {len(walls)}), "
              f"{per_step[count]:.2f} µs a step beyond the closing 0.1 s")
    first = counts[0]
    print("per-step time relative to " + str(first) + " steps: "
          + ", ".join(f"{c}: {per_step[c] / per_step[first]:.2f}" for c in counts))
    print("marginal cost a step: " + ", ".join(
        f"{a}→{b}: {(totals[b] - totals[a]) / (b - a) * 1e6:.2f} µs" for a, b in zip(counts, counts[1:])))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--only", default="precision,cpu,startup,scaling")
    options = parser.parse_args()
    bench = Bench(options.build)
    print(f"load average {os.getloadavg()}, {os.cpu_count()} cores")
    parts = options.only.split(",")
    if "precision" in parts:
        precision(bench, options.repeat)
    if "cpu" in parts:
        cpu(bench, options.repeat)
    if "startup" in parts:
        startup(bench)
    if "scaling" in parts:
        scaling(bench)
    print(f"load average {os.getloadavg()}")


if __name__ == "__main__":
    main()
