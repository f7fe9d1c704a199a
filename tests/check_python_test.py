#!/usr/bin/env python3
"""The Python 3.8 check finds, each on its line, what the oldest Mac's Python
would refuse or lack, and passes what that Python runs.

    check_python_test.py CHECK-PYTHON
"""
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

CHECK = None


class CheckPython(unittest.TestCase):
    def check(self, files):
        """Checks a folder of files (name to text): the exit status and the
        finding lines, each with the file's name alone."""
        with tempfile.TemporaryDirectory() as scratch:
            for name, text in files.items():
                with open(os.path.join(scratch, name), "w", encoding="utf-8") as f:
                    f.write(textwrap.dedent(text).lstrip())
            run = subprocess.run([sys.executable, CHECK, scratch], capture_output=True, text=True)
        self.assertIn("check-python:", run.stderr)
        return run.returncode, [os.path.basename(line) for line in run.stdout.splitlines()]

    def test_finds_what_3_8_lacks(self):
        status, lines = self.check({"newer.py": """
            import os
            import yaml

            def ends(status):
                return os.waitstatus_to_exitcode(status)

            version = "v1.0".removeprefix("v")
            Steps = list[int]
            pairs = zip("ab", "cd",
                        strict=True)

            @handlers["x"]
            def handle(steps: Steps | Pairs):
                return steps[first := 0]
            """})
        self.assertEqual(status, 1)
        self.assertEqual(lines, [
            "newer.py:2: imports yaml, which a Mac's Python lacks, outside a try that catches ImportError",
            "newer.py:5: os.waitstatus_to_exitcode, needs 3.9",
            "newer.py:7: .removeprefix, needs 3.9",
            "newer.py:8: list[...] at run time, needs 3.9",
            "newer.py:10: zip(strict=), needs 3.10",
            "newer.py:12: a decorator that is not a dotted name or its call, needs 3.9",
            "newer.py:13: a | of types at run time, needs 3.10",
            "newer.py:14: an unparenthesised := in a subscript, needs 3.10",
        ])

    def test_a_script_without_the_suffix_is_parsed_as_3_8(self):
        status, lines = self.check({"play": """
            #!/usr/bin/env python3
            match steps:
                case []:
                    pass
            """, "play.sh": "#!/bin/sh\n[[ -n $x ]] && echo $((x ** 2))\n"})
        self.assertEqual(status, 1)
        self.assertEqual(len(lines), 1)
        self.assertRegex(lines[0], r"^play:\d+: does not parse as Python 3.8: .*3\.10")

    def test_passes_what_3_8_runs(self):
        status, lines = self.check({"simulated.py": "", "fine.py": """
            #!/usr/bin/env python3
            from __future__ import annotations
            import sys
            import simulated
            try:
                import yaml
            except ImportError:
                yaml = None

            def steps(text: str, /, ceiling: int | None = None) -> list[int]:
                found: dict[str, int] = {}
                if (count := len(text)) > 1:
                    print(f"{count=}", sorted(found, key=len))
                return [found[(first := 0)]]

            old = "v1.0".removeprefix("v")  # py38: a str subclass of our own
            # py38: the same, alone on the line before
            old = old.removesuffix("0")
            if sys.version_info >= (3, 9):
                name = old.removesuffix(".0")
            """})
        self.assertEqual((status, lines), (0, []))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1].strip())
    CHECK = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
