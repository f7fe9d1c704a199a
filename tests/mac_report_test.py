#!/usr/bin/env python3
"""scripts/mac-report.sh on the simulated trackpad: a well-formed Markdown
report that always ends, the patterns played only after a yes at a terminal
and never in CI, every answer at the prompt recorded; from a clone, a build
that fails or a machine with no cmake still gives a report, and nothing
printed names the owner; and the issue form it is pasted into is a valid form.

    mac_report_test.py SOURCE-DIR BUILD-DIR
"""
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import pasted

SOURCE = BUILD = None
HEADINGS = ["## 1. The machine", "## 2. The framework", "## 3. The devices", "## 4. The patterns, felt",
            "## 5. The schedule"]


def cookbook():
    """The README's patterns, as the documented-examples test reads them, and
    the baseline that plays nothing."""
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    section = text.split("### Cookbook", 1)[1].split("\n## ", 1)[0]
    return {"1"} | {line[len("thrum "):] for line in pasted.code_lines(section) if line.startswith("thrum ")}


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


def hints(test, *texts):
    """Every command the report shows reads the same in zsh, bash and sh."""
    for text in texts:
        for command in pasted.inline_commands(text):
            test.assertEqual(pasted.faults(command), [], command)


def waited(status):
    return os.WEXITSTATUS(status) if os.WIFEXITED(status) else 128 + os.WTERMSIG(status)


class Report:
    """One run of the report against the build, in a folder whose path has a
    space and a non-ASCII letter, with the simulation's log kept."""

    def __init__(self, test, env=None, options=()):
        self.scratch = tempfile.TemporaryDirectory()
        test.addCleanup(self.scratch.cleanup)
        self.built = os.path.join(self.scratch.name, "a folder", "bü ild")
        os.makedirs(os.path.join(self.built, "probe"))
        for part in ("thrum", "sim", os.path.join("probe", "mac_probe")):
            os.symlink(os.path.join(BUILD, part), os.path.join(self.built, part))
        self.log = os.path.join(self.scratch.name, "sim.log")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("MTSIM_") and k != "CI"}
        self.env.update(MTSIM_LOG=self.log, **(env or {}))
        self.command = [os.path.join(SOURCE, "scripts", "mac-report.sh"), *options, "--built", self.built]

    def file(self):
        with open(os.path.join(self.built, "mac-report.md"), encoding="utf-8") as f:
            return f.read()

    def runs(self):
        """How many processes loaded the simulation: the probe, the tool's
        check, then each pattern played."""
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
        its exit status, standard output, what the terminal showed, and how
        long each pattern's count took from the answer before it."""
        out = tempfile.TemporaryFile()
        pid, terminal = pty.fork()
        if pid == 0:
            os.dup2(out.fileno(), 1)
            os.execve(self.command[0], self.command, self.env)
        shown, answers, answered, mark, counts = b"", list(answers), None, 0, []
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
            if answered is not None and b"now " in shown[mark:]:
                counts.append(time.monotonic() - answered)
                answered = None
            if shown.endswith((b"[y/N] ", b"[y/n/r/s] ")):
                answer = answers.pop(0) if answers else None
                os.write(terminal, b"\x04" if answer is None else answer.encode() + b"\n")
                answered, mark = time.monotonic(), len(shown)
        if time.monotonic() >= deadline:
            os.kill(pid, signal.SIGKILL)
        _, status = os.waitpid(pid, 0)
        os.close(terminal)
        out.seek(0)
        text = out.read().decode()
        out.close()
        return waited(status), text, shown.decode(errors="replace"), counts


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
        hints(self, run.stdout, run.stderr)
        # No reader can take it for a Mac's, and the settings it ran with show.
        self.assertIn("(not a Mac)", run.stdout.splitlines()[0])
        self.assertIn("> **NOT A MAC.", run.stdout)
        settings = run.stdout.split("> Simulation settings: ", 1)[1].split("\n", 1)[0]
        self.assertIn("`MTSIM_DEVICES=motor=7,noopen=9,noid,noactuator=4`", settings)
        self.assertIn("`MTSIM_NULL_ACTUATION=1`", settings)
        for line in ("- Device 3: **no ID**", "- Device 4: ID 4; **no actuator**", "it **does not open**",
                     "- **The actuation is refused**", "- Not played: standard input is not a terminal",
                     "- `thrum --check`, the thrum built here: status 0, nothing on standard error."):
            self.assertIn(line, run.stdout)
        # The probe, and the tool's answer to --check.
        self.assertEqual(report.runs(), 2)

    def test_in_ci_asks_nothing_even_at_a_terminal(self):
        report = Report(self, {"CI": "true"})
        status, out, shown, _ = report.at_terminal([])
        self.assertEqual(status, 0)
        self.assertIn("- Not played: this is a CI run.", out)
        self.assertNotIn("[y/N]", shown)
        self.assertEqual(report.runs(), 2)

    def test_a_missing_probe_or_framework_still_ends_the_report(self):
        report = Report(self, {"MTSIM_DEVICES": "null"}, ["--bench"])
        os.remove(os.path.join(report.built, "probe", "mac_probe"))
        os.remove(os.path.join(report.built, "thrum"))
        status, out, _, _ = report.at_terminal(["y"])
        self.assertEqual(status, 0)
        well_formed(self, out)
        self.assertEqual(out.count("- Not probed: the probe was not built."), 2)
        self.assertIn("- Not played: thrum was not built.", out)
        # The schedule says what it would have needed.
        self.assertIn("- Not measured: the build has no `thrum` `bench/reference_loop`", out)


@ON_A_MAC
class AtATerminal(unittest.TestCase):
    def test_yes_plays_every_pattern_after_a_count_and_records_each_answer(self):
        # The second actuation of every process is refused: one-step patterns
        # play, longer ones end with the tool's own line.
        report = Report(self, {"MTSIM_NULL_ACTUATION": "2"})
        status, out, shown, counts = report.at_terminal(["yes", "y", "r", "n", "maybe", "y", "y", "n"])
        self.assertEqual(status, 0)
        well_formed(self, out)
        self.assertIn("y: felt it, n: felt nothing, r: play it again", shown)
        table = rows(out)
        self.assertEqual(set(table), cookbook())
        self.assertEqual([felt for felt, *_ in table.values()],
                         ["nothing to feel", "yes", "no (played 2 times)", "yes", "yes", "no"])
        # The probe, the check, the baseline, five patterns and one replay.
        self.assertEqual(report.runs(), 2 + len(table) + 1)
        # Each pattern plays after a count, not as the Return that answered
        # the question before it goes down.
        self.assertEqual(len(counts), len(table))
        self.assertGreaterEqual(min(counts), 1.2)
        for args, (felt, status, stderr, took, should) in table.items():
            with self.subTest(args=args):
                steps = args.split()[1:]
                if steps:
                    self.assertEqual(int(should), sum(float(s.split(":")[3]) for s in steps)
                                     + float(steps[-1].split(":")[1]) + 100)
                else:
                    self.assertEqual(should, "100")
                if len(steps) <= 1:
                    self.assertEqual((status, stderr), ("0", ""))
                    # It waited out the tone: its length is wall-clock milliseconds.
                    self.assertGreaterEqual(int(took[:-len(" ms")]), int(should))
                else:
                    self.assertEqual((status, stderr), ("1", "no actuation"))

    def test_no_plays_nothing(self):
        for answer in ("n", "", None):
            with self.subTest(answer=answer):
                report = Report(self)
                status, out, _, _ = report.at_terminal([answer])
                self.assertEqual(status, 0)
                well_formed(self, out)
                self.assertIn("- Not played: the input ended at the prompt." if answer is None
                              else "- Not played: the answer at the prompt was no.", out)
                self.assertEqual(report.runs(), 2)

    def test_skip_or_the_end_of_input_plays_no_more(self):
        for answer, felt, rest in (("s", "played, not answered", "not played (skipped)"),
                                   (None, "no answer (the input ended)", "not played (the input ended)")):
            with self.subTest(answer=answer):
                report = Report(self)
                status, out, _, _ = report.at_terminal(["y", "y", answer])
                self.assertEqual(status, 0)
                well_formed(self, out)
                table = list(rows(out).values())
                self.assertEqual([row[0] for row in table], ["nothing to feel", "yes", felt]
                                 + [rest] * (len(table) - 3))
                # The pattern it stopped at played: its status and time stay.
                self.assertEqual(table[2][1], "0")
                self.assertTrue(table[2][3].endswith(" ms"), table[2])
                self.assertEqual([row[1] for row in table[3:]], [""] * (len(table) - 3))
                self.assertEqual(report.runs(), 5)


# A user and a host no text holds by chance.
NAME, HOST = "Qzx_Owner-7", "QZX-Host-5.local"

FAKE_CMAKE = """#!/bin/sh
# Configures by writing a cache that names its generator, and refuses another
# generator for an existing cache, as cmake does; every build fails.
printf '%s\\n' "$*" >>"$FAKE_CMAKE_LOG"
if [ "$1" = --build ]; then
    echo "[1/3] Building CXX object src/CMakeFiles/thrumcore.dir/fail.cc.o"
    echo "FAILED: $PWD/src/fail.cc"
    echo "$PWD/src/fail.cc:1:1: error: something $(echo "$USER" | tr A-Z a-z) on $(hostname) wrote" >&2
    exit 1
fi
generator="" folder=""
while [ $# -gt 0 ]; do
    case $1 in -G) generator=$2; shift ;; -B) folder=$2; shift ;; esac
    shift
done
if [ -f "$folder/CMakeCache.txt" ] && [ -n "$generator" ] &&
    ! grep -qx "CMAKE_GENERATOR:INTERNAL=$generator" "$folder/CMakeCache.txt"; then
    echo "CMake Error: Error: generator : $generator" >&2
    echo "Does not match the generator used previously: $(sed -n 's/^CMAKE_GENERATOR:INTERNAL=//p' "$folder/CMakeCache.txt")" >&2
    exit 1
fi
mkdir -p "$folder"
[ -f "$folder/CMakeCache.txt" ] || echo "CMAKE_GENERATOR:INTERNAL=${generator:-Unix Makefiles}" >"$folder/CMakeCache.txt"
echo "-- Build files have been written to: $folder"
"""


def program(path, text):
    """A new executable at `path`, never written through what is there."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.lexists(path):
        os.remove(path)
    with open(path, "x") as f:
        f.write(text)
    os.chmod(path, 0o755)


@ON_A_MAC
class FromAClone(unittest.TestCase):
    """The report as an owner runs it: from a clone in their home folder,
    building in build-report/, with the system's commands but those given."""

    def clone(self, commands, earlier_build=True):
        scratch = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, scratch)
        self.home = os.path.join(scratch, "Users", NAME)
        self.top = os.path.join(self.home, "src", "thrum")
        os.makedirs(os.path.join(self.top, "scripts"))
        for part in (os.path.join("scripts", "mac-report.sh"), "README.md"):
            shutil.copy(os.path.join(SOURCE, part), os.path.join(self.top, part))
        git = ["git", "-C", self.top, "-c", "user.name=" + NAME, "-c", "user.email=%s@%s" % (NAME, HOST)]
        for command in (["init", "-q"], ["add", "."], ["commit", "-q", "-m", "the clone"]):
            subprocess.run(git + command, check=True, capture_output=True)
        # A thrum of the owner's own, on PATH.
        os.makedirs(os.path.join(self.home, ".local", "bin"))
        os.symlink(os.path.join(BUILD, "thrum"), os.path.join(self.home, ".local", "bin", "thrum"))
        if earlier_build:
            # What an earlier run built, with the generator cmake alone picks.
            built = os.path.join(self.top, "build-report")
            os.makedirs(os.path.join(built, "probe"))
            for part in ("thrum", "sim", os.path.join("probe", "mac_probe")):
                os.symlink(os.path.join(BUILD, part), os.path.join(built, part))
            with open(os.path.join(built, "CMakeCache.txt"), "w") as f:
                f.write("CMAKE_GENERATOR:INTERNAL=Unix Makefiles\n")
        # The commands given, then the system's, less cmake and ninja.
        bin = os.path.join(scratch, "bin")
        os.makedirs(bin)
        program(os.path.join(bin, "hostname"), "#!/bin/sh\necho %s\n" % HOST)
        program(os.path.join(bin, "id"), '#!/bin/sh\n[ "$1" = -un ] && echo %s && exit\nexec %s "$@"\n'
                % (NAME, shutil.which("id")))
        for name, text in commands.items():
            program(os.path.join(bin, name), text)
        os.symlink(sys.executable, os.path.join(bin, "python3"))
        for folder in os.environ["PATH"].split(os.pathsep):
            for name in os.listdir(folder) if os.path.isdir(folder) else ():
                target = os.path.join(bin, name)
                if name not in ("cmake", "ninja", "thrum") and not os.path.lexists(target):
                    os.symlink(os.path.join(folder, name), target)
        self.calls = os.path.join(scratch, "cmake-calls")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith(("MTSIM_", "LD_")) and k != "CI"}
        self.env.update(HOME=self.home, USER=NAME, LOGNAME=NAME, FAKE_CMAKE_LOG=self.calls,
                        PATH=os.pathsep.join([os.path.join(self.home, ".local", "bin"), bin]))

    def run_report(self):
        run = subprocess.run([os.path.join(self.top, "scripts", "mac-report.sh")], cwd=self.home, env=self.env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.top, "build", "mac-report.md"), encoding="utf-8") as f:
            self.assertEqual(run.stdout, f.read())
        well_formed(self, run.stdout)
        hints(self, run.stdout, run.stderr)
        for private in (NAME, HOST, HOST.split(".")[0], self.home):
            for text in (run.stdout, run.stderr):
                self.assertNotIn(private.lower(), text.lower())
        return run

    def cmake_calls(self):
        with open(self.calls) as f:
            return f.read().splitlines()

    def test_a_failed_build_keeps_the_last_one_and_names_no_one(self):
        self.clone({"cmake": FAKE_CMAKE, "ninja": "#!/bin/sh\n"})
        run = self.run_report()
        # The cache's own generator, though ninja is there now.
        configure, build = self.cmake_calls()
        self.assertNotIn("-G", configure.split())
        self.assertTrue(build.startswith("--build"))
        self.assertIn("**The build failed**", run.stdout)
        self.assertIn("error: something … on … wrote", run.stdout)
        self.assertIn("~/src/thrum/src/fail.cc", run.stdout)
        self.assertIn("comes from an earlier build", run.stdout)
        # The earlier build answers, as does the owner's thrum, written from ~.
        self.assertIn("## 2. The framework\n\n- It loads", run.stdout)
        self.assertIn("- `thrum --check`, the thrum built here: status 0, nothing on standard error.", run.stdout)
        self.assertIn("- `thrum --check`, the thrum at `~/.local/bin/thrum`: status 0, nothing on standard "
                      "error: the same answer.", run.stdout)
        self.assertIn("- Also on `PATH`: a thrum at `~/.local/bin/thrum`, not from Homebrew.", run.stdout)

    def test_a_new_build_folder_takes_ninja_where_there_is_one(self):
        self.clone({"cmake": FAKE_CMAKE, "ninja": "#!/bin/sh\n"}, earlier_build=False)
        run = self.run_report()
        self.assertIn("-G Ninja", self.cmake_calls()[0])
        self.assertIn("- Not probed: the probe was not built.", run.stdout)
        self.assertIn("- `thrum --check`: not asked, thrum was not built.", run.stdout)

    def test_without_cmake_it_says_how_to_get_it(self):
        self.clone({}, earlier_build=False)
        run = self.run_report()
        self.assertIn("**CMake is not installed**", run.stdout)
        for way in ("`brew install cmake`", "<https://cmake.org/download/>", "`python3 -m pip install --user cmake`",
                    '`export PATH="$HOME/.local/bin:$PATH"`'):
            self.assertIn(way, run.stdout)
        self.assertIn("## 1. The machine", run.stdout)


class IssueForm(unittest.TestCase):
    def test_the_form_parses_and_asks_for_the_report_as_markdown(self):
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
        # Reports tell apart in the list by their title, and carry a label.
        self.assertIn("MODEL", form["title"])
        self.assertTrue(form["labels"])
        fields = {item["id"]: item for item in form["body"] if item["type"] != "markdown"}
        self.assertEqual(len(fields), len([item for item in form["body"] if item["type"] != "markdown"]))
        for item in form["body"]:
            self.assertIn(item["type"], ("markdown", "textarea", "input", "dropdown", "checkboxes"))
            self.assertTrue(item["attributes"].get("label" if item["type"] != "markdown" else "value"))
        self.assertEqual({k: v.get("validations", {}).get("required", False) for k, v in fields.items()},
                         {"report": True, "trackpad": False, "felt": False})
        # Rendered as a code block, the report's tables would show as text,
        # and its own fences would break out of the block.
        self.assertNotIn("render", fields["report"]["attributes"])
        self.assertIn("pbcopy < build/mac-report.md", form["body"][0]["attributes"]["value"])


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    SOURCE, BUILD = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=sys.argv[:1], verbosity=2)
