#!/usr/bin/env python3
"""Every thrum command line shown in the manual page, README.md and
CONTRIBUTING.md runs, on the simulated trackpad, to exit status 0 with no
output, and the manual and the README show the same cookbook. Every line a
reader may paste from them means the same in interactive zsh, bash and sh. The
by-hand commands of README.md, CONTRIBUTING.md and sim/README.md work as
written from a folder whose path has a space and non-ASCII letters, and the
README, the formula and the macOS job install thrum with the same commands.

    docs_test.py THRUM REDIRECT SOURCE-DIR
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile
import unittest

import pasted
import simulated

# The tool is started directly, never through a shell: a Mac drops the
# loader's variables when a program under /bin or /usr/bin starts.
THRUM = REDIRECT = SOURCE = None


def read(name):
    with open(os.path.join(SOURCE, name), encoding="utf-8") as f:
        return f.read()


def commands(lines):
    """The argument lists of the thrum commands in shell lines, "&&" and ";"
    chains split."""
    found = []
    for line in lines:
        for part in re.split(r"&&|;", line):
            words = shlex.split(part)
            if words[:1] == ["thrum"]:
                found.append(words[1:])
    return found


def manual_examples():
    return commands(pasted.manual_lines(read(os.path.join("man", "thrum.1.in"))))


def readme_examples(name="README.md"):
    return commands(line for line in pasted.code_lines(read(name)) if line.startswith("thrum "))


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


def pasteable():
    """Every line a reader may paste: the code blocks and inline commands of
    the Markdown files, the manual's examples and the install lines of the
    formula's header."""
    lines = []
    for name in ("README.md", "CONTRIBUTING.md", os.path.join("sim", "README.md")):
        text = read(name)
        lines += pasted.code_lines(text) + pasted.inline_commands(text)
    lines += pasted.manual_lines(read(os.path.join("man", "thrum.1.in")))
    lines += formula_lines()
    return list(dict.fromkeys(lines))


def formula_lines():
    return [line[len("#   "):] for line in read(os.path.join("Formula", "thrum.rb")).splitlines()
            if line.startswith("#   ")]


class Pasting(unittest.TestCase):
    def test_every_line_reads_the_same_in_zsh_bash_and_sh(self):
        lines = pasteable()
        self.assertGreaterEqual(len(lines), 30)
        for line in lines:
            with self.subTest(line=line):
                self.assertEqual(pasted.faults(line), [])

    def test_every_line_does_the_same_pasted_into_each_shell(self):
        for line, done in pasted.run_everywhere(pasteable()).items():
            with self.subTest(line=line):
                self.assertEqual(done["zsh"], done["sh"])
                self.assertEqual(done["bash"], done["sh"])

    def test_the_rules_catch_what_zsh_reads_otherwise(self):
        for line in ("thrum 1 150:25:1:0  # a tap", "ls build/*.log", "cd $HOME/thrum", "echo 'a'!",
                     "brew install {cmake,ninja}", "make PREFIX=~/x"):
            with self.subTest(line=line):
                self.assertNotEqual(pasted.faults(line), [])


def by_hand(name):
    """The shell commands of a text's code blocks that run what the build made
    (build/...) or a script, continuation lines joined, each with the line it
    should end with on standard error: the one the paragraph before its block
    says the tool answers, or None for success."""
    found = []
    for paragraph, line in pasted.code_blocks(read(name)):
        if re.match(r"^([A-Z_]+=\S* +)*(build|scripts)/", line):
            expected = re.search(r"answers\s+`([^`]+)`:$", paragraph)
            found.append((line, expected.group(1) if expected else None))
    return found


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
            os.symlink(os.path.join(os.path.abspath(SOURCE), "README.md"), os.path.join(top, "README.md"))
            environment = {k: v for k, v in os.environ.items()
                           if not k.startswith("MTSIM_") and k not in ("LD_PRELOAD", "LD_LIBRARY_PATH")}
            environment["PWD"] = top
            commands = by_hand("README.md") + by_hand("CONTRIBUTING.md") + by_hand(os.path.join("sim", "README.md"))
            # The Mac's own commands (dyld's variable) are for a Mac, a report
            # that is not given a build makes its own, for minutes, and
            # publishing rewrites the checkout's files.
            commands = [(command, expected) for command, expected in commands if not command.startswith("DYLD_")
                        and ("mac-report.sh" not in command or "--built build" in command)
                        and "set-home.sh" not in command]
            self.assertGreaterEqual(len(commands), 8)
            self.assertEqual(sum(1 for _, expected in commands if expected), 3)
            for command, expected in commands:
                with self.subTest(command=command):
                    run = subprocess.run(["sh", "-c", command], cwd=top, env=environment,
                                         stdin=subprocess.DEVNULL, capture_output=True, text=True)
                    if expected:
                        self.assertEqual(run.returncode, 1, run.stderr)
                        self.assertTrue(run.stderr.endswith(expected + "\n"), run.stderr)
                    else:
                        self.assertEqual(run.returncode, 0, run.stderr)
                    if "echo $?" in command:
                        self.assertEqual(run.stdout, "0\n", run.stderr)


def brew_lines(lines, tap, url):
    """The brew commands that install, test and remove, with the tap's name
    and address in a form of their own, so that two sets of them compare."""
    found = []
    for line in lines:
        if not line.strip().startswith("brew "):
            continue
        words = shlex.split(line.strip())
        if words[:1] == ["brew"] and words[1:2] and words[1] in ("tap", "untap", "trust", "install", "uninstall",
                                                                  "reinstall", "test", "upgrade"):
            found.append(" ".join(w.replace(url, "URL").replace(tap + "/", "TAP/") if w != tap else "TAP"
                                  for w in words))
    return found


class Install(unittest.TestCase):
    def readme(self):
        lines = [line for line in pasted.code_lines(read("README.md")) if line.startswith("brew ")]
        tap, url = shlex.split(lines[0])[2:4]
        return lines, tap, url

    def test_the_readme_installs_by_the_full_name_trusting_no_tap(self):
        lines, tap, url = self.readme()
        self.assertEqual(brew_lines(lines, tap, url),
                         ["brew tap TAP URL", "brew install --HEAD TAP/thrum", "brew test thrum",
                          "brew uninstall thrum", "brew untap TAP"])
        # Wherever the repository is published, the README sends people to
        # its own issue form.
        links = re.findall(r"\]\(([^)]*template=mac-report\.yml)\)", read("README.md"))
        self.assertEqual(links, ["../../issues/new?template=mac-report.yml"])

    def test_the_formula_and_the_macos_job_install_as_the_readme_says(self):
        lines, tap, url = self.readme()
        readme = brew_lines(lines, tap, url)
        self.assertEqual(brew_lines(formula_lines(), tap, url), readme[:3])
        workflow = read(os.path.join(".github", "workflows", "macos.yml"))
        # From the install to the removal, the steps that run brew.
        step = workflow.split("- name: Install with Homebrew\n", 1)[1].split("- name: Keep the logs", 1)[0]
        # The job taps its own copy, a local git repository, under its own name.
        job_tap = re.search(r"^\s*brew tap (\S+) ", step, re.M).group(1)
        job = brew_lines(step.splitlines(), job_tap, "file://$tap")
        self.assertEqual(job, readme)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    THRUM, REDIRECT, SOURCE = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
