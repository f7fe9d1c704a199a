#!/usr/bin/env python3
"""scripts/set-home.sh and scripts/check-home.sh on a copy of the files they
touch: publishing is one command, and GitHub's jobs fail while the placeholder
stands, pass where the files name the repository they run in or, in a fork,
its upstream.

    home_test.py SOURCE-DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = None
FILES = [os.path.join("Formula", "thrum.rb"), "README.md", os.path.join(".github", "ISSUE_TEMPLATE", "mac-report.yml")]


class Home(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.top = scratch.name
        for name in FILES + [os.path.join("scripts", "set-home.sh"), os.path.join("scripts", "check-home.sh")]:
            os.makedirs(os.path.join(self.top, os.path.dirname(name)), exist_ok=True)
            shutil.copy(os.path.join(SOURCE, name), os.path.join(self.top, name))

    def run_script(self, name, *args):
        return subprocess.run([os.path.join(self.top, "scripts", name), *args], capture_output=True, text=True)

    def text(self):
        texts = []
        for name in FILES:
            with open(os.path.join(self.top, name), encoding="utf-8") as f:
                texts.append(f.read())
        return "\n".join(texts)

    def test_the_placeholder_fails_with_one_line_that_names_the_fix(self):
        run = self.run_script("check-home.sh", "acme/thrum")
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, "")
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        self.assertIn("OWNER", run.stderr)
        self.assertIn("scripts/set-home.sh acme/thrum", run.stderr)

    def test_one_command_publishes_and_a_second_moves_it(self):
        for home, tap in (("Acme/homebrew-Haptics", "acme/haptics"), ("someone-else/thrum", "someone-else/thrum")):
            with self.subTest(home=home):
                run = self.run_script("set-home.sh", home)
                self.assertEqual(run.returncode, 0, run.stderr)
                text = self.text()
                self.assertNotIn("OWNER", text)
                self.assertIn('head "https://github.com/%s.git", branch: "main"' % home, text)
                self.assertIn('homepage "https://github.com/%s"' % home, text)
                self.assertIn("brew tap %s https://github.com/%s\n" % (tap, home), text)
                self.assertIn("brew install --HEAD %s/thrum\n" % tap, text)
                self.assertIn("brew untap %s\n" % tap, text)
                self.assertIn("git clone https://github.com/%s thrum\n" % home, text)
                # Every address on github.com is now the one home.
                self.assertEqual(set(re.findall(r"https://github\.com/([^/\s\"`]+/[^/\s\"`.]+)", text)), {home})
                here = self.run_script("check-home.sh", home.lower())
                self.assertEqual((here.returncode, here.stderr), (0, ""))
                self.assertIn("where this runs", here.stdout)
                fork = self.run_script("check-home.sh", "a-fork/thrum")
                self.assertEqual((fork.returncode, fork.stderr), (0, ""))
                self.assertIn("a fork", fork.stdout)
        if shutil.which("ruby"):
            subprocess.run(["ruby", "-c", os.path.join(self.top, FILES[0])], check=True, capture_output=True)

    def test_a_line_that_names_another_home_fails(self):
        self.run_script("set-home.sh", "acme/thrum")
        readme = os.path.join(self.top, "README.md")
        with open(readme, encoding="utf-8") as f:
            text = f.read()
        with open(readme, "w", encoding="utf-8") as f:
            f.write(text.replace("brew untap acme/thrum", "brew untap other/thrum"))
        run = self.run_script("check-home.sh", "acme/thrum")
        self.assertEqual(run.returncode, 1)
        self.assertIn("other/thrum", run.stderr)

    def test_a_name_github_would_refuse_changes_nothing(self):
        before = self.text()
        for home in ("acme", "acme/", "-acme/thrum", "acme/thr um", "acme/$(id)", "ac#me/thrum", "acme/.."):
            with self.subTest(home=home):
                run = self.run_script("set-home.sh", home)
                self.assertEqual(run.returncode, 2, run.stderr)
                self.assertEqual(self.text(), before)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    SOURCE = os.path.abspath(sys.argv[1])
    unittest.main(argv=sys.argv[:1], verbosity=2)
