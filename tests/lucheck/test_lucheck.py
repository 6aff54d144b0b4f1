"""The package checker on a package with a mistake of every kind, beside a
host folder and a system directory: its diagnostics and its dry-run plan
against the expected ones, its JSON against its text, and its exit codes.

LUCHECK names the checker. With LUCHECK_WINE=1 it is the Windows console
program, run under Wine in a copy of the Wine tests' prepared prefix."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
PLAN = ["--plan", "package", "--host", "host", "--version", "1.30", "--system-dir", "system"]


def expected(name):
    with open(os.path.join(HERE, name), encoding="utf-8") as f:
        return f.read()


class LucheckTest(unittest.TestCase):
    runner = None  # Wine, when the checker is the Windows program

    @classmethod
    def setUpClass(cls):
        # A copy of the fixtures, with a name that differs from another only
        # in case (which a checkout on Windows could not hold), readable by
        # the user the Wine tests run as.
        cls.work = tempfile.mkdtemp(prefix="lucheck-")
        for folder in ("package", "host", "system"):
            shutil.copytree(os.path.join(HERE, folder), os.path.join(cls.work, folder))
        with open(os.path.join(cls.work, "package", "notes.txt"), "wb") as f:
            f.write(b"notes\r\n")
        for root, dirs, files in os.walk(cls.work):
            os.chmod(root, 0o755)
            for name in files:
                os.chmod(os.path.join(root, name), 0o644)
        cls.exe = os.environ["LUCHECK"]
        if os.environ.get("LUCHECK_WINE") == "1":
            sys.path.insert(0, os.path.join(HERE, "..", "win"))
            sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
            import run_in_wine  # noqa: E402
            cls.runner = run_in_wine.WineRun("lucheck")

    @classmethod
    def tearDownClass(cls):
        if cls.runner:
            cls.runner.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def lucheck(self, *args):
        """(exit code, standard output with LF line ends)."""
        if self.runner:
            import winehost  # noqa: E402
            command = self.runner.command(["wine", self.exe, *args])
            result = winehost._run_captured(command, self.runner.env(), 120, self.work)
        else:
            result = subprocess.run([self.exe, *args], cwd=self.work, capture_output=True, text=True, timeout=60)
        return result.returncode, result.stdout.replace("\r\n", "\n")

    def test_diagnostics(self):
        code, text = self.lucheck("package")
        self.assertEqual(text, expected("expected-check.txt"))
        self.assertEqual(code, 1)
        code, data = self.lucheck("--json", "package")
        report = json.loads(data)
        self.assertEqual(code, 1)
        lines = text.splitlines()
        self.assertEqual(len(report["diagnostics"]), len(lines) - 1)
        first = report["diagnostics"][0]
        self.assertEqual(f'{first["file"]}:{first["line"]}: {first["severity"]}: {first["message"]}', lines[0])
        self.assertTrue(lines[-1].startswith(f'{report["summary"]["errors"]} errors, '))

    def test_plan(self):
        code, text = self.lucheck(*PLAN)
        self.assertEqual(text, expected("expected-plan.txt"))
        self.assertEqual(code, 1, "files are missing from the package")
        code, data = self.lucheck(*PLAN, "--json")
        plan = json.loads(data)
        self.assertEqual(len(plan["files"]), sum(1 for line in text.splitlines() if line[:1].isdigit()))
        self.assertEqual(plan["start_menu"]["group"], "Vantrel - Ver 1.30")
        code, text = self.lucheck("--plan", "package", "--host", "host", "--version", "1.20")
        self.assertIn("turns it away", text)
        self.assertEqual(code, 1)

    def test_usage(self):
        code, text = self.lucheck("--help")
        self.assertEqual(code, 0)
        self.assertIn("--plan PACKAGE_DIR --host DIR --version VERSION", text)
        self.assertEqual(self.lucheck("no-such-folder")[0], 2)
        self.assertEqual(self.lucheck("--plan", "package")[0], 2)


if __name__ == "__main__":
    unittest.main(verbosity=2)
