#!/usr/bin/env python3
"""The schedule benchmark's arithmetic and its products: wake lateness, the
tool's work a step read from the simulation's log, how it starts the programs
it measures, the page section it rewrites, the picture it draws and the
figures it writes. Nothing here is timed.

    schedule_test.py SCHEDULE_PY
"""
import contextlib
import importlib.util
import io
import json
import os
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
schedule = None


class Arithmetic(unittest.TestCase):
    def test_lateness_is_against_the_first_start_and_does_not_carry_over(self):
        ms = 1_000_000
        # The third step wakes 2 ms late; the fourth is on time again, the last 50 µs late.
        times = [10 * ms, 15 * ms, 22 * ms, 25 * ms, 30 * ms + 50_000]
        late = schedule.lateness_us(times, [5, 5, 5, 5, 5])
        self.assertEqual(late, [0, 0, 2000, 0, 50])
        # Uneven waits: each ideal is the sum of the waits before it.
        self.assertEqual(schedule.lateness_us([0, 1 * ms, 4 * ms], [1, 3, 0]), [0, 0, 0])

    def test_percentile_is_a_sample_and_p99_sees_the_tail(self):
        values = list(range(1, 101))
        self.assertEqual(schedule.percentile(values, 50), 51)
        self.assertEqual(schedule.percentile(values, 99), 99)
        self.assertEqual(schedule.percentile(values, 100), 100)
        self.assertEqual(schedule.percentile([7], 99), 7)

    def test_each_step_is_read_from_its_own_lines(self):
        # Two motors, and the lines the simulation writes around the four a
        # step is timed by; every stamp differs, so any other line gives
        # another figure.
        log = """100 openActuator actuator@2 -> 0
1000 describe
1400 entered createActuation
1900 createActuation options=0 refs=1 strayRefs=0 description={} -> actuation@1
2000 returned createActuation
2030 dropped description@1
2030 actuate actuation@1 motor=actuator@1 arg3=0 intensity=3f800000 arg5=00000000 -> 0
2500 actuate actuation@1 motor=actuator@2 arg3=0 intensity=3f800000 arg5=00000000 -> 0
2600 destroy actuation@1
6000 describe
6700 entered createActuation
7100 createActuation options=0 refs=1 strayRefs=0 description={} -> actuation@2
7250 returned createActuation
7260 dropped description@2
7260 actuate actuation@2 motor=actuator@1 arg3=0 intensity=3f800000 arg5=00000000 -> 0
7300 actuate actuation@2 motor=actuator@2 arg3=0 intensity=3f800000 arg5=00000000 -> 0
"""
        instants = schedule.step_instants(io.StringIO(log))
        self.assertEqual(instants, [(1000, 1400, 2000, 2030), (6000, 6700, 7250, 7260)])
        # Up to the call into the simulation, and from its return to the first motor.
        self.assertEqual(schedule.work_us(instants), [0.43, 0.71])

    def test_a_step_missing_a_line_stops_the_bench(self):
        for missing in ("entered", "returned", "actuate"):
            log = "".join(f"{t} {event}\n" for t, event in ((1, "describe"), (2, "entered createActuation"),
                                                            (3, "returned createActuation"), (4, "actuate x")
                                                            ) if not event.startswith(missing))
            with self.assertRaises(SystemExit, msg=missing):
                schedule.step_instants(io.StringIO(log))

    def test_units(self):
        self.assertEqual([schedule.us(v) for v in (3.14, 62.4, 1500, -2500)], ["3.1 µs", "62 µs", "1.50 ms", "-2.50 ms"])


class Starting(unittest.TestCase):
    """Every measured program starts through Bench.command."""

    def setUp(self):
        self.saved = dict(os.environ)
        os.environ.update(MTSIM_DEVICES="null", LD_PRELOAD="/stale.so", LD_LIBRARY_PATH="/opt/lib")
        self.build = "/tmp/a build"

    def tearDown(self):
        os.environ.clear()
        os.environ.update(self.saved)

    def test_linux_finds_the_redirect_by_name_so_spaces_in_paths_work(self):
        bench = schedule.Bench(self.build, system="Linux")
        argv, env = bench.command([bench.thrum, "--check"], sim=True, log="/tmp/x.log")
        self.assertEqual(argv, ["/tmp/a build/thrum", "--check"])
        self.assertEqual(env["LD_PRELOAD"], "libmtredirect.so")
        self.assertEqual(env["LD_LIBRARY_PATH"], "/tmp/a build/sim:/opt/lib")
        self.assertEqual(env["MTSIM_LOG"], "/tmp/x.log")
        self.assertNotIn("MTSIM_DEVICES", env)
        self.assertNotIn("MTSIM_TIME_DESCRIBE", env)
        self.assertEqual(bench.command([bench.thrum], sim=True, timed=True)[1]["MTSIM_TIME_DESCRIBE"], "1")
        # Programs other than the tool get none of it, and none left over.
        _, env = bench.command(["/bin/true"])
        self.assertFalse({"LD_PRELOAD", "MTSIM_DEVICES", "MTSIM_LOG"} & set(env))

    def test_a_launcher_starts_every_program(self):
        bench = schedule.Bench(self.build, ["/usr/bin/nice", "-n", "5"], system="Linux")
        for argv, sim in (([bench.thrum, "1"], True), ([bench.reference, "10", "5"], False), ([bench.true], False)):
            self.assertEqual(bench.command(argv, sim)[0], ["/usr/bin/nice", "-n", "5"] + argv)

    def test_macos_inserts_the_redirect_past_the_launcher(self):
        bench = schedule.Bench(self.build, system="Darwin")
        argv, env = bench.command([bench.thrum, "--check"], sim=True)
        self.assertEqual(env["DYLD_INSERT_LIBRARIES"], "/tmp/a build/sim/libmtredirect.dylib")
        self.assertEqual(argv, ["/tmp/a build/thrum", "--check"])

        bench = schedule.Bench(self.build, ["/usr/sbin/taskpolicy", "-b"], system="Darwin")
        argv, env = bench.command([bench.thrum, "--check"], sim=True, log="/tmp/x.log", timed=True)
        self.assertEqual(argv, ["/usr/sbin/taskpolicy", "-b", "/usr/bin/env",
                                "DYLD_INSERT_LIBRARIES=/tmp/a build/sim/libmtredirect.dylib",
                                "MTSIM_LOG=/tmp/x.log", "MTSIM_TIME_DESCRIBE=1", "/tmp/a build/thrum", "--check"])
        self.assertNotIn("DYLD_INSERT_LIBRARIES", env)
        self.assertEqual(bench.command(["/bin/true"])[0], ["/usr/sbin/taskpolicy", "-b", "/usr/bin/env", "/bin/true"])


class FakeBench:
    """Steps whose instants are known: thrum's describe k (from 0) is 60 µs +
    k ns late (step 1 on time, as the anchor), every later instant of a step
    drifts from it by k ns or more, its work is 5 µs + 2k ns, and the
    reference loop's wakes are 50 µs late."""

    def thrum_steps(self, steps):
        wait = schedule.WAIT_MS * 1_000_000
        instants = []
        for k in range(len(steps)):
            describe = 10**9 + k * wait + (60_000 + k if k else 0)
            instants.append((describe, describe + 4_000 + k, describe + 9_000 + k, describe + 10_000 + 2 * k))
        return instants, instants[-1][0] + 101_000_000

    def reference_starts(self, count, wait_ms):
        return [5 * 10**9 + k * wait_ms * 1_000_000 + (50_000 if k else 0) for k in range(count)]


class Precision(unittest.TestCase):
    def test_every_step_of_every_run_reaches_the_json_against_its_own_anchor(self):
        with contextlib.redirect_stdout(io.StringIO()):
            result = schedule.precision(FakeBench(), 2)
        context = {"date": "2024-01-01", "machine": "m", "load": "load average 0.1"}
        report = json.loads(json.dumps(schedule.json_report({"precision": result, "cpu": {"x": 1.0}}, context)))
        self.assertEqual((report["context"], report["cpu"]), (context, {"x": 1.0}))
        precision = report["precision"]
        self.assertEqual((precision["steps"], precision["wait_ms"]), (schedule.STEPS, schedule.WAIT_MS))
        self.assertEqual(set(precision["anchors"]), {"thrum", "reference", "work"})
        self.assertEqual(len(precision["runs"]), 2)
        for run in precision["runs"]:
            thrum, reference = run["thrum"], run["reference"]
            for values in (thrum["wake_lateness_us"], thrum["work_us"], reference["wake_lateness_us"]):
                self.assertEqual(len(values), schedule.STEPS)
            self.assertEqual(thrum["wake_lateness_us"][:3] + thrum["wake_lateness_us"][-1:],
                             [0, 60.001, 60.002, 60 + (schedule.STEPS - 1) / 1000])
            self.assertEqual(thrum["work_us"][:2], [5, 5.002])
            self.assertEqual(reference["wake_lateness_us"][:2], [0, 50])


class Products(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.page = os.path.join(self.dir.name, "README.md")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, text):
        with open(self.page, "w", encoding="utf-8") as f:
            f.write(text)

    def read(self):
        with open(self.page, encoding="utf-8") as f:
            return f.read()

    def test_the_page_changes_only_between_the_markers(self):
        before, after = "# x\n\ntext before\n", "\ntext after µs\n"
        self.write(before + schedule.BEGIN + "\nold figures\n" + schedule.END + after)
        for _ in range(2):  # regenerating leaves one section
            schedule.rewrite_page(self.page, "new figures\n")
            self.assertEqual(self.read(), before + schedule.BEGIN + "\nnew figures\n" + schedule.END + after)

    def test_a_page_without_a_sound_pair_of_markers_is_left_alone(self):
        for text in ("no markers\n", schedule.BEGIN + "\n", schedule.END + "\n" + schedule.BEGIN + "\n",
                     (schedule.BEGIN + schedule.END) * 2):
            self.write(text)
            with self.assertRaises(SystemExit):
                schedule.rewrite_page(self.page, "new\n")
            self.assertEqual(self.read(), text)

    def test_tables_hold_the_sections_that_ran(self):
        context = {"date": "2024-01-01", "machine": "m", "load": "load average 0.1"}
        text = schedule.tables({"startup": {"thrum": 1.5, "true": 0.5, "true path": "/bin/true"}}, context)
        self.assertIn("| start-up, `thrum --check` (median) | 1.50 ms | `/bin/true`: 0.50 ms, 3.0× |", text)
        self.assertNotIn("lateness", text)

        def run(drift_thrum, drift_reference):
            # Step 1 is the anchor, and cold: figures that counted it would show its 999.
            return {"thrum": {"wake_lateness_us": [0.0] + [60.0] * 98 + [900.0, drift_thrum],
                              "work_us": [999.0] + [7.0] * 99 + [30.0]},
                    "reference": {"wake_lateness_us": [0.0] + [50.0] * 99 + [drift_reference]}}

        precision = {"steps": 101, "wait_ms": 5, "runs": [run(70, 55), run(40, 50), run(80, 52)]}
        text = schedule.tables({"precision": precision}, context)
        self.assertIn("| 3 × 101 steps 5 ms apart, steps 2 on |", text)
        self.assertIn("| p1 | 60 µs | 50 µs | 7.0 µs |", text)
        self.assertIn("| p99 | 80 µs | 50 µs | 7.0 µs |", text)
        self.assertIn("| max | 900 µs | 55 µs | 30 µs |", text)
        self.assertRegex(text, r"\| drift: .* \| 70 µs \| 52 µs \| \|")
        self.assertNotIn("Cost", text)

    def test_picture_counts_every_step_and_marks_its_figures(self):
        lateness = {"thrum": [-5.0, 0.0, 0.5] + [60.0] * 90 + [120.0] * 5 + [3000.0, 7000.0],
                    "reference loop": [55.0] * 99 + [400.0]}
        work = [4.0] * 50 + [7.5] * 45 + [200.0] * 5
        text = schedule.draw(lateness, work, ["a <machine> & its load " * 8, "second line"])
        root = ElementTree.fromstring(text.encode("utf-8"))
        self.assertEqual(root.tag, SVG + "svg")
        width = float(root.get("width"))
        panels = {g.get("data-name"): g for g in root.iter(SVG + "g") if g.get("class") == "panel"}
        self.assertEqual(list(panels), ["wake lateness", "work a step"])
        edges = []
        for panel, samples in ((panels["wake lateness"], lateness), (panels["work a step"], {"thrum": work})):
            series = [g for g in panel.iter(SVG + "g") if g.get("class") == "series"]
            self.assertEqual(sorted(g.get("data-name") for g in series), sorted(samples))
            plot = [r for r in panel.iter(SVG + "rect") if r.get("class") is None and float(r.get("height")) > 50][0]
            left, right = float(plot.get("x")), float(plot.get("x")) + float(plot.get("width"))
            edges.append((left, right))
            for g in series:
                name, values = g.get("data-name"), samples[g.get("data-name")]
                bins = [int(r.get("data-count")) for r in g.iter(SVG + "rect") if r.get("class") == "bin"]
                self.assertEqual(sum(bins), len(values), name)
                early = sum(v < 1 for v in values)  # early and zero ones land in the first bin
                if early:
                    self.assertEqual(bins[0], early, name)
                marks = {line.get("class"): line for line in g.iter(SVG + "line") if line.get("class")}
                figures = schedule.figures(values)
                for key in ("median", "p99"):
                    self.assertAlmostEqual(float(marks[key].get("data-us")), figures[key], places=1)
                xs = [float(marks[key].get("x1")) for key in ("median", "p99")]
                self.assertEqual(xs, sorted(xs))
                self.assertTrue(all(left <= x <= right for x in xs), name)
        # Side by side, neither over the other nor past the picture's edge.
        (a_left, a_right), (b_left, b_right) = edges
        self.assertTrue(0 <= a_left < a_right < b_left < b_right <= width)


if __name__ == "__main__":
    sys.dont_write_bytecode = True  # no cache beside the benchmark in the source tree
    location = importlib.util.spec_from_file_location("schedule", sys.argv.pop(1))
    schedule = importlib.util.module_from_spec(location)
    location.loader.exec_module(schedule)
    unittest.main()
