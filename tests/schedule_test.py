#!/usr/bin/env python3
"""The schedule benchmark's arithmetic and its products: lateness and drift,
how it starts the programs it measures, the README section it rewrites and
the picture it draws. Nothing here is timed.

    schedule_test.py SCHEDULE_PY
"""
import importlib.util
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
        figures = schedule.summary(late)
        self.assertEqual((figures["median"], figures["max"], figures["drift"]), (25, 2000, 50))
        # Uneven waits: each ideal is the sum of the waits before it.
        self.assertEqual(schedule.lateness_us([0, 1 * ms, 4 * ms], [1, 3, 0]), [0, 0, 0])

    def test_percentile_is_a_sample_and_p99_sees_the_tail(self):
        values = list(range(1, 101))
        self.assertEqual(schedule.percentile(values, 50), 51)
        self.assertEqual(schedule.percentile(values, 99), 99)
        self.assertEqual(schedule.percentile(values, 100), 100)
        self.assertEqual(schedule.percentile([7], 99), 7)

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
        argv, env = bench.command([bench.thrum, "--check"], sim=True, log="/tmp/x.log")
        self.assertEqual(argv, ["/usr/sbin/taskpolicy", "-b", "/usr/bin/env",
                                "DYLD_INSERT_LIBRARIES=/tmp/a build/sim/libmtredirect.dylib",
                                "MTSIM_LOG=/tmp/x.log", "/tmp/a build/thrum", "--check"])
        self.assertNotIn("DYLD_INSERT_LIBRARIES", env)
        self.assertEqual(bench.command(["/bin/true"])[0], ["/usr/sbin/taskpolicy", "-b", "/usr/bin/env", "/bin/true"])


class Products(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.readme = os.path.join(self.dir.name, "README.md")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, text):
        with open(self.readme, "w", encoding="utf-8") as f:
            f.write(text)

    def read(self):
        with open(self.readme, encoding="utf-8") as f:
            return f.read()

    def test_readme_changes_only_between_the_markers(self):
        before, after = "# x\n\ntext before\n", "\ntext after µs\n"
        self.write(before + schedule.BEGIN + "\nold figures\n" + schedule.END + after)
        for _ in range(2):  # regenerating leaves one section
            schedule.rewrite_readme(self.readme, "new figures\n")
            self.assertEqual(self.read(), before + schedule.BEGIN + "\nnew figures\n" + schedule.END + after)

    def test_readme_without_a_sound_pair_of_markers_is_left_alone(self):
        for text in ("no markers\n", schedule.BEGIN + "\n", schedule.END + "\n" + schedule.BEGIN + "\n",
                     (schedule.BEGIN + schedule.END) * 2):
            self.write(text)
            with self.assertRaises(SystemExit):
                schedule.rewrite_readme(self.readme, "new\n")
            self.assertEqual(self.read(), text)

    def test_tables_hold_the_sections_that_ran(self):
        context = {"date": "2024-01-01", "machine": "m", "load": "load average 0.1"}
        text = schedule.tables({"startup": {"thrum": 1.5, "true": 0.5, "true path": "/bin/true"}}, context)
        self.assertIn("| start-up, `thrum --check` (median) | 1.50 ms | `/bin/true`: 0.50 ms, 3.0× |", text)
        self.assertNotIn("lateness", text)
        precision = {"thrum": [60.0] * 99 + [900.0], "reference": [50.0] * 100, "thrum drift": [70, 40, 80],
                     "reference drift": [55, 50, 52], "runs": 3}
        text = schedule.tables({"precision": precision}, context)
        self.assertIn("| p99 | 60 µs | 50 µs |", text)
        self.assertIn("| max | 900 µs | 50 µs |", text)
        self.assertRegex(text, r"\| drift: .* \| 70 µs \| 52 µs \|")
        self.assertNotIn("Cost", text)

    def test_picture_counts_every_step_and_marks_its_figures(self):
        samples = {"thrum": [-5.0, 0.0, 0.5] + [60.0] * 90 + [120.0] * 5 + [3000.0, 7000.0],
                   "reference loop": [55.0] * 99 + [400.0]}
        text = schedule.draw(samples, ["a <machine> & its load " * 8, "second line"])
        root = ElementTree.fromstring(text.encode("utf-8"))
        self.assertEqual(root.tag, SVG + "svg")
        panels = [g for g in root.iter(SVG + "g") if g.get("class") == "panel"]
        self.assertEqual([p.get("data-name") for p in panels], ["thrum", "reference loop"])
        for panel, (name, values) in zip(panels, samples.items()):
            bins = [int(r.get("data-count")) for r in panel.iter(SVG + "rect") if r.get("class") == "bin"]
            self.assertEqual(sum(bins), len(values), name)
            early = sum(v < 1 for v in values)  # early and zero ones land in the first bin
            if early:
                self.assertEqual(bins[0], early, name)
            marks = {line.get("class"): line for line in panel.iter(SVG + "line") if line.get("class")}
            figures = schedule.figures(values)
            for key in ("median", "p99", "max"):
                self.assertAlmostEqual(float(marks[key].get("data-us")), figures[key], places=1)
            xs = [float(marks[key].get("x1")) for key in ("median", "p99", "max")]
            self.assertEqual(xs, sorted(xs))
            width = float(root.get("width"))
            self.assertTrue(all(0 <= x <= width for x in xs))


if __name__ == "__main__":
    sys.dont_write_bytecode = True  # no cache beside the benchmark in the source tree
    location = importlib.util.spec_from_file_location("schedule", sys.argv.pop(1))
    schedule = importlib.util.module_from_spec(location)
    location.loader.exec_module(schedule)
    unittest.main()
