#!/usr/bin/env python3
"""Every thrum command line shown in the manual page, README.md and
CONTRIBUTING.md runs, on the simulated trackpad, to exit status 0 with no
output, and the manual and the README show the same cookbook. The by-hand
commands of README.md, CONTRIBUTING.md and sim/README.md work as written from
a folder whose path has a space and non-ASCII letters.

    docs_test.py THRUM REDIRECT SOURCE-DIR
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile
import unittest

import simulated

# The tool is started directly, never through a shell: a Mac drops the
# loader's variables when a program under /bin or /usr/bin starts.
THRUM = REDIRECT = SOURCE = None


def commands(lines):
    """The argument lists of the thrum commands in shell lines (after an
    optional "$ " prompt, with "&&" chains and trailing comments)."""
    found = []
    for line in lines:
        line = line.strip().removeprefix("$ ")
        for part in line.split("#", 1)[0].split("&&"):
            words = shlex.split(part)
            if words[:1] == ["thrum"] and words[1:2] != ["strength"]:
                found.append(words[1:])
    return found


def manual_examples():
    with open(os.path.join(SOURCE, "man", "thrum.1.in"), encoding="utf-8") as manual:
        return commands(line[len(".Dl"):] for line in manual if line.startswith(".Dl "))


def readme_examples(name="README.md"):
    # Indented code lines that start a thrum command.
    with open(os.path.join(SOURCE, name), encoding="utf-8") as readme:
        return commands(line for line in readme if re.match(r"^    thrum ", line))


class Examples(unittest.TestCase):
    def test_every_example_plays(self):
        examples = manual_examples() + readme_examples() + readme_examples("CONTRIBUTING.md")
        self.assertGreaterEqual(len(examples), 10)
        environment = simulated.environment(REDIRECT)
        for args in examples:
            with self.subTest(args=" ".join(args)):
                run = subprocess.run([THRUM] + args, env=environment, capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stdout, run.stderr), (0, "", ""))

    def test_manual_and_readme_show_the_same_patterns(self):
        patterns = lambda examples: {tuple(args) for args in examples if args != ["--check"]}
        self.assertEqual(patterns(manual_examples()), patterns(readme_examples()))


def by_hand(name):
    """The shell commands of a text's code blocks that run what the build made
    (build/...) or a script, continuation lines joined."""
    with open(os.path.join(SOURCE, name), encoding="utf-8") as text:
        lines = text.read().replace("\\\n", "").splitlines()
    return [line.strip() for line in lines if re.match(r"^    ([A-Z_]+=\S* +)*(build|scripts)/", line)]


class ByHand(unittest.TestCase):
    @unittest.skipIf(sys.platform == "darwin", "the by-hand commands are Linux's, run through sh, "
                     "which a Mac starts without the loader's variables")
    def test_commands_work_from_a_folder_named_with_a_space(self):
        with tempfile.TemporaryDirectory() as scratch:
            # The checkout as the commands see it: build/ holds the tool and
            # the simulation's folder, scripts/ the scripts.
            top = os.path.join(scratch, "a folder", "thrüm")
            os.makedirs(os.path.join(top, "build"))
            os.symlink(os.path.abspath(THRUM), os.path.join(top, "build", "thrum"))
            os.symlink(os.path.dirname(os.path.abspath(REDIRECT)), os.path.join(top, "build", "sim"))
            os.symlink(os.path.join(os.path.dirname(os.path.abspath(THRUM)), "probe"), os.path.join(top, "build", "probe"))
            os.symlink(os.path.join(os.path.abspath(SOURCE), "scripts"), os.path.join(top, "scripts"))
            environment = {k: v for k, v in os.environ.items()
                           if not k.startswith("MTSIM_") and k not in ("LD_PRELOAD", "LD_LIBRARY_PATH")}
            environment["PWD"] = top
            commands = by_hand("README.md") + by_hand("CONTRIBUTING.md") + by_hand(os.path.join("sim", "README.md"))
            # The Mac's own commands (dyld's variable) are for a Mac, and a
            # report that is not given a build makes its own, for minutes.
            commands = [command for command in commands if not command.startswith("DYLD_")
                        and ("mac-report.sh" not in command or "--built build" in command)]
            self.assertGreaterEqual(len(commands), 8)
            for command in commands:
                with self.subTest(command=command):
                    run = subprocess.run(["sh", "-c", command], cwd=top, env=environment,
                                         stdin=subprocess.DEVNULL, capture_output=True, text=True)
                    # A comment that quotes a line names the one failure expected.
                    expected = re.search(r'#.*"([^"]+)"$', command)
                    if expected:
                        self.assertEqual(run.returncode, 1, run.stderr)
                        self.assertTrue(run.stderr.endswith(expected.group(1) + "\n"), run.stderr)
                    else:
                        self.assertEqual(run.returncode, 0, run.stderr)
                    if "echo $?" in command:
                        self.assertEqual(run.stdout, "0\n", run.stderr)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    THRUM, REDIRECT, SOURCE = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
