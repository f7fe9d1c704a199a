#!/usr/bin/env python3
"""The demo's timeline picture, drawn from fresh runs of the real tool on the
simulated trackpad: a well-formed SVG with one bar per played step, whatever
else the log holds.

    timeline_test.py THRUM REDIRECT TIMELINE
"""
import os
import subprocess
import sys
import tempfile
import unittest

import simulated
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
THRUM = REDIRECT = TIMELINE = None
# The loader variable that injects the redirect; the tool is started directly,
# as a Mac drops it when a program under /bin or /usr/bin starts.


class Timeline(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "sim.log")
        self.svg = os.path.join(self.dir.name, "timeline.svg")

    def tearDown(self):
        self.dir.cleanup()

    def thrum(self, args, **env):
        environment = simulated.environment(REDIRECT, MTSIM_LOG=self.log, **env)
        return subprocess.run([THRUM] + args, env=environment, capture_output=True, text=True)

    def timeline(self, args):
        return subprocess.run([sys.executable, TIMELINE, self.log, self.svg] + args, capture_output=True, text=True)

    def draw(self, args):
        """Renders the log for `args`; the summary and the SVG's bars and deadlines."""
        run = self.timeline(args)
        self.assertEqual((run.returncode, run.stderr), (0, ""))
        summary = run.stdout
        root = ElementTree.parse(self.svg).getroot()
        self.assertEqual(root.tag, SVG + "svg")
        bars = [e for e in root.iter(SVG + "rect") if e.get("class") == "tone"]
        deadlines = [e for e in root.iter(SVG + "line") if e.get("class") == "deadline"]
        return summary, bars, deadlines

    def test_one_bar_per_step_with_its_tone_and_deadline(self):
        args = ["0.5", "150:20:1:40", "0x64:12.5:0.6:0", "220:30:2:25", "80:40:0.2:0"]
        # The check runs first into the same log, as in the demo: only the
        # pattern's run is drawn.
        self.assertEqual(self.thrum(["--check"]).returncode, 0)
        self.assertEqual(self.thrum(args).returncode, 0)
        summary, bars, deadlines = self.draw(args)
        self.assertEqual([(float(b.get("data-hz")), float(b.get("data-ms"))) for b in bars],
                         [(150, 20), (100, 12.5), (220, 30), (80, 40)])
        self.assertEqual([round(float(b.get("data-intensity")), 6) for b in bars], [0.5, 0.3, 0.5, 0.1])
        self.assertEqual([float(d.get("data-ms")) for d in deadlines], [0, 40, 40, 65])
        starts = [float(b.get("data-start-ms")) for b in bars]
        self.assertEqual(starts, sorted(starts))
        # The axis starts no later than the tool's start instant, so no bar
        # is drawn ahead of its deadline (a microsecond allowed for rounding).
        for start, deadline in zip(starts, deadlines):
            self.assertGreaterEqual(start, float(deadline.get("data-ms")) - 0.001)
        self.assertIn("steps played: 4 of 4", summary)
        self.assertIn("length: 205 ms", summary)
        self.assertIn("largest lateness:", summary)

    def test_a_step_on_two_motors_is_one_bar(self):
        args = ["1", "150:20:1:10", "160:20:1:0"]
        self.assertEqual(self.thrum(args, MTSIM_DEVICES="motor=1,motor=2").returncode, 0)
        with open(self.log) as log:
            self.assertEqual(sum(" actuate " in line for line in log), 4)
        summary, bars, deadlines = self.draw(args)
        self.assertEqual(len(bars), 2)
        self.assertEqual(len(deadlines), 2)
        self.assertIn("steps played: 2 of 2", summary)

    def test_steps_after_a_missing_actuation_have_no_bar(self):
        args = ["1", "150:20:1:10", "160:20:1:10", "170:20:1:10", "180:20:1:0"]
        run = self.thrum(args, MTSIM_NULL_ACTUATION="3")
        self.assertEqual((run.returncode, run.stderr), (1, "no actuation\n"))
        summary, bars, deadlines = self.draw(args)
        self.assertEqual([float(b.get("data-hz")) for b in bars], [150, 160])
        self.assertEqual(len(deadlines), 4)
        self.assertIn("steps played: 2 of 4", summary)
        self.assertIn("step 3 was not played", summary)

    def test_reads_the_steps_the_tool_plays_and_refuses_the_rest(self):
        # Arabic-Indic digits are no number to the tool, so that piece is
        # skipped and 50 is the wait; a tiny number is zero; a huge one is an
        # infinity, which rejects its step.
        cases = [(["150:20:1:١٠٠:50", "150:20:1:0"], [0, 50]),
                 (["150:20:1:1e-999", "150:20:1:0"], [0, 0]),
                 (["150:20:1:0x1p99999:50", "150:20:1:0"], None),
                 (["150:20:1:0", "150:20:1e999:1:0"], None)]
        for steps, deadlines in cases:
            with self.subTest(steps=steps):
                if os.path.exists(self.log):
                    os.remove(self.log)
                played = self.thrum(["1"] + steps).returncode == 0
                self.assertEqual(played, deadlines is not None)
                if played:
                    _, bars, drawn = self.draw(["1"] + steps)
                    self.assertEqual(len(bars), 2)
                    self.assertEqual([float(d.get("data-ms")) for d in drawn], deadlines)
                else:
                    run = self.timeline(["1"] + steps)
                    self.assertEqual(run.returncode, 1)
                    self.assertRegex(run.stderr, r"^timeline: '.*' is not a step\n$")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    THRUM, REDIRECT, TIMELINE = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
