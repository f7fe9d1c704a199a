#!/usr/bin/env python3
"""Every thrum command line shown in the manual page and the README runs, on
the simulated trackpad, to exit status 0 with no output, and the two show the
same cookbook.

    docs_test.py THRUM REDIRECT SOURCE-DIR
"""
import os
import re
import shlex
import subprocess
import sys
import unittest

THRUM = REDIRECT = SOURCE = None
# The loader variable that injects the redirect; the tool is started directly,
# as a Mac drops it when a program under /bin or /usr/bin starts.
PRELOAD = "DYLD_INSERT_LIBRARIES" if sys.platform == "darwin" else "LD_PRELOAD"


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
    with open(os.path.join(SOURCE, "man", "thrum.1"), encoding="utf-8") as manual:
        return commands(line[len(".Dl"):] for line in manual if line.startswith(".Dl "))


def readme_examples():
    # Indented code lines that start a thrum command.
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
        return commands(line for line in readme if re.match(r"^    thrum ", line))


class Examples(unittest.TestCase):
    def test_every_example_plays(self):
        examples = manual_examples() + readme_examples()
        self.assertGreaterEqual(len(examples), 10)
        environment = dict(os.environ, **{PRELOAD: REDIRECT})
        for args in examples:
            with self.subTest(args=" ".join(args)):
                run = subprocess.run([THRUM] + args, env=environment, capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stdout, run.stderr), (0, "", ""))

    def test_manual_and_readme_show_the_same_patterns(self):
        patterns = lambda examples: {tuple(args) for args in examples if args != ["--check"]}
        self.assertEqual(patterns(manual_examples()), patterns(readme_examples()))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    THRUM, REDIRECT, SOURCE = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
