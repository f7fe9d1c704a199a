#!/usr/bin/env python3
"""scripts/mac-report.sh on the simulated trackpad: a well-formed Markdown
report that always ends, the patterns played only after a yes at a terminal
and never in CI, every answer at the prompt recorded, and the issue form it
is pasted into a valid form.

    mac_report_test.py SOURCE-DIR BUILD-DIR
"""
import os
import pty
import re
import select
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = BUILD = None
HEADINGS = ["## 1. The machine", "## 2. The framework", "## 3. The devices", "## 4. The patterns, felt",
            "## 5. The schedule"]


def cookbook():
    """The README's patterns, as the documented-examples test reads them."""
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
        found = [line.split("#")[0].strip()[len("thrum "):] for line in readme if line.startswith("    thrum ")]
    return {args for args in found if args != "--check" and "&&" not in args and not args.startswith("strength")}


def well_formed(test, text):
    """Checks the report's Markdown: one title, the five parts in order, code
    fences that close, tables whose rows all have the header's cells."""
    lines = text.splitlines()
    test.assertTrue(lines[0].startswith("# How thrum did on "), lines[0])
    test.assertEqual([line for line in lines if line.startswith("## ")], HEADINGS)
    test.assertEqual(len([line for line in lines if line.startswith("```")]) % 2, 0, text)
    cells = lambda row: len(re.split(r"(?<!\\)\|", row.strip())) - 2
    width = None
    for line in lines:
        if not line.startswith("|"):
            width = None
        elif width is None:
            width = cells(line)
        else:
            test.assertEqual(cells(line), width, line)
    test.assertTrue(text.endswith("\n"))


class Report:
    """One run of the report against the build, in a folder whose path has a
    space and a non-ASCII letter, with the simulation's log kept."""

    def __init__(self, test, env=None):
        self.scratch = tempfile.TemporaryDirectory()
        test.addCleanup(self.scratch.cleanup)
        self.built = os.path.join(self.scratch.name, "a folder", "bü ild")
        os.makedirs(os.path.join(self.built, "probe"))
        for part in ("thrum", "sim", os.path.join("probe", "mac_probe")):
            os.symlink(os.path.join(BUILD, part), os.path.join(self.built, part))
        self.log = os.path.join(self.scratch.name, "sim.log")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("MTSIM_") and k != "CI"}
        self.env.update(MTSIM_LOG=self.log, **(env or {}))
        self.command = [os.path.join(SOURCE, "scripts", "mac-report.sh"), "--built", self.built]

    def file(self):
        with open(os.path.join(self.built, "mac-report.md"), encoding="utf-8") as f:
            return f.read()

    def runs(self):
        """How many processes loaded the simulation: the probe, then each
        pattern played."""
        if not os.path.exists(self.log):
            return 0
        with open(self.log, encoding="utf-8") as f:
            return sum(1 for line in f if line.split()[1:2] == ["load"])

    def without_terminal(self):
        return subprocess.run(self.command, env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True, timeout=120)

    def at_terminal(self, answers):
        """Runs the report with a pseudo-terminal as its input, answering each
        prompt with the next of `answers` (None: end of input), and returns
        its exit status, standard output and what the terminal showed."""
        out = tempfile.TemporaryFile()
        pid, terminal = pty.fork()
        if pid == 0:
            os.dup2(out.fileno(), 1)
            os.execve(self.command[0], self.command, self.env)
        shown, answers = b"", list(answers)
        deadline = time.monotonic() + 120
        while time.monotonic() < deadline:
            ready, _, _ = select.select([terminal], [], [], 1)
            if not ready:
                continue
            try:
                data = os.read(terminal, 4096)
            except OSError:
                break
            if not data:
                break
            shown += data
            if shown.endswith((b"[y/N] ", b"[y/n/s] ")):
                answer = answers.pop(0) if answers else None
                os.write(terminal, b"\x04" if answer is None else answer.encode() + b"\n")
        _, status = os.waitpid(pid, 0)
        os.close(terminal)
        out.seek(0)
        return os.waitstatus_to_exitcode(status), out.read().decode(), shown.decode(errors="replace")


def rows(text):
    """The table of part 4 as {pattern arguments: (felt, status, stderr, took, should)}."""
    table = {}
    for line in text.splitlines():
        match = re.match(r"\| [^|]+ \| `thrum ([^`]+)` \| ([^|]+) \| ([^|]*) \| ([^|]*) \| ([^|]*) \| (\d+) ms \|$", line)
        if match:
            table[match.group(1)] = tuple(cell.strip() for cell in match.group(2, 3, 4, 5, 6))
    return table


# On a Mac the report runs on the real framework, and would play on the trackpad.
ON_A_MAC = unittest.skipIf(sys.platform == "darwin", "on a Mac the report uses the real framework and trackpad")


@ON_A_MAC
class WithoutATerminal(unittest.TestCase):
    def test_reports_parts_one_to_three_and_plays_nothing(self):
        report = Report(self, {"MTSIM_DEVICES": "motor=7,noopen=9,noid,noactuator=4", "MTSIM_NULL_ACTUATION": "1"})
        run = report.without_terminal()
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, report.file())
        well_formed(self, run.stdout)
        # No reader can take it for a Mac's, and the settings it ran with show.
        self.assertIn("(not a Mac)", run.stdout.splitlines()[0])
        self.assertIn("> **NOT A MAC.", run.stdout)
        settings = run.stdout.split("> Simulation settings: ", 1)[1].split("\n", 1)[0]
        self.assertIn("`MTSIM_DEVICES=motor=7,noopen=9,noid,noactuator=4`", settings)
        self.assertIn("`MTSIM_NULL_ACTUATION=1`", settings)
        for line in ("- Device 3: **no ID**", "- Device 4: ID 4; **no actuator**", "it **does not open**",
                     "- **The actuation is refused**", "- Not played: standard input is not a terminal"):
            self.assertIn(line, run.stdout)
        self.assertEqual(report.runs(), 1)

    def test_in_ci_asks_nothing_even_at_a_terminal(self):
        report = Report(self, {"CI": "true"})
        status, out, shown = report.at_terminal([])
        self.assertEqual(status, 0)
        self.assertIn("- Not played: this is a CI run.", out)
        self.assertNotIn("[y/N]", shown)
        self.assertEqual(report.runs(), 1)

    def test_a_missing_probe_or_framework_still_ends_the_report(self):
        report = Report(self, {"MTSIM_DEVICES": "null"})
        os.remove(os.path.join(report.built, "probe", "mac_probe"))
        os.remove(os.path.join(report.built, "thrum"))
        status, out, _ = report.at_terminal(["y"])
        self.assertEqual(status, 0)
        well_formed(self, out)
        self.assertEqual(out.count("- Not probed: the probe was not built."), 2)
        self.assertIn("- Not played: thrum was not built.", out)


@ON_A_MAC
class AtATerminal(unittest.TestCase):
    def test_yes_plays_every_pattern_and_records_each_answer(self):
        # The second actuation of every process is refused: one-step patterns
        # play, longer ones end with the tool's own line.
        report = Report(self, {"MTSIM_NULL_ACTUATION": "2"})
        status, out, shown = report.at_terminal(["yes", "y", "n", "maybe", "y", "y", "n"])
        self.assertEqual(status, 0)
        well_formed(self, out)
        self.assertIn("y: felt it, n: felt nothing", shown)
        table = rows(out)
        self.assertEqual(set(table), cookbook())
        self.assertEqual([felt for felt, *_ in table.values()], ["yes", "no", "yes", "yes", "no"])
        self.assertEqual(report.runs(), 1 + len(table))
        for args, (felt, status, stderr, took, should) in table.items():
            with self.subTest(args=args):
                steps = args.split()[1:]
                self.assertEqual(int(should), sum(float(s.split(":")[3]) for s in steps)
                                 + float(steps[-1].split(":")[1]) + 100)
                if len(steps) == 1:
                    self.assertEqual((status, stderr), ("0", ""))
                    # It waited out the tone: its length is wall-clock milliseconds.
                    self.assertGreaterEqual(int(took.removesuffix(" ms")), int(should))
                else:
                    self.assertEqual((status, stderr), ("1", "no actuation"))

    def test_no_plays_nothing(self):
        for answer in ("n", "", None):
            with self.subTest(answer=answer):
                report = Report(self)
                status, out, _ = report.at_terminal([answer])
                self.assertEqual(status, 0)
                well_formed(self, out)
                self.assertIn("- Not played: the input ended at the prompt." if answer is None
                              else "- Not played: the answer at the prompt was no.", out)
                self.assertEqual(report.runs(), 1)

    def test_skip_or_the_end_of_input_plays_no_more(self):
        for answer, felt, rest in (("s", "skipped", "not played (skipped)"),
                                   (None, "no answer (the input ended)", "not played (the input ended)")):
            with self.subTest(answer=answer):
                report = Report(self)
                status, out, _ = report.at_terminal(["y", "y", answer])
                self.assertEqual(status, 0)
                well_formed(self, out)
                table = list(rows(out).values())
                self.assertEqual([row[0] for row in table], ["yes", felt] + [rest] * (len(table) - 2))
                self.assertEqual([row[1] for row in table[2:]], [""] * (len(table) - 2))
                self.assertEqual(report.runs(), 3)


class IssueForm(unittest.TestCase):
    def test_the_form_parses_and_asks_for_the_report(self):
        try:
            import yaml
        except ImportError:
            if sys.platform == "darwin":
                self.skipTest("no YAML parser in a Mac's Python")
            raise
        path = os.path.join(SOURCE, ".github", "ISSUE_TEMPLATE", "mac-report.yml")
        with open(path, encoding="utf-8") as f:
            form = yaml.safe_load(f)
        self.assertEqual(form["name"], "How thrum did on my Mac")
        self.assertTrue(form["description"])
        fields = {item["id"]: item for item in form["body"] if item["type"] != "markdown"}
        self.assertEqual(len(fields), len([item for item in form["body"] if item["type"] != "markdown"]))
        for item in form["body"]:
            self.assertIn(item["type"], ("markdown", "textarea", "input", "dropdown", "checkboxes"))
            self.assertTrue(item["attributes"].get("label" if item["type"] != "markdown" else "value"))
        self.assertEqual({k: v.get("validations", {}).get("required", False) for k, v in fields.items()},
                         {"report": True, "trackpad": False, "felt": False})
        # The README sends people to this form by its file name.
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
            self.assertTrue("template=mac-report.yml" in readme.read(), "README.md does not link the form")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    SOURCE, BUILD = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=sys.argv[:1], verbosity=2)
