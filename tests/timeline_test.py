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
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
THRUM = REDIRECT = TIMELINE = None
# The loader variable that injects the redirect; the tool is started directly,
# as a Mac drops it when a program under /bin or /usr/bin starts.
PRELOAD = "DYLD_INSERT_LIBRARIES" if sys.platform == "darwin" else "LD_PRELOAD"


class Timeline(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "sim.log")
        self.svg = os.path.join(self.dir.name, "timeline.svg")

    def tearDown(self):
        self.dir.cleanup()

    def thrum(self, args, **env):
        environment = dict(os.environ, **{PRELOAD: REDIRECT}, MTSIM_LOG=self.log, **env)
        return subprocess.run([THRUM] + args, env=environment, capture_output=True, text=True)

    def draw(self, args):
        """Renders the log for `args`; the summary and the SVG's bars and deadlines."""
        summary = subprocess.run([sys.executable, TIMELINE, self.log, self.svg] + args,
                                 capture_output=True, text=True, check=True).stdout
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


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    THRUM, REDIRECT, TIMELINE = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
