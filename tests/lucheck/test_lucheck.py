"""The package checker on a package with a mistake of every kind, beside a
host folder and a system directory: its diagnostics and its dry-run plan
against the expected ones, its JSON against its text, and its exit codes.

LUCHECK names the checker. With LUCHECK_WINE=1 it is the Windows console
program, run under Wine in a copy of the Wine tests' prepared prefix."""

import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True
PLAN = ["--plan", "package", "--host", "host", "--version", "1.30", "--system-dir", "system"]
# Payload sizes around SHA-256's 64-byte block and its padding, and a few MiB.
SEALED_SIZES = [0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 4097, 1048575, 3 * 1048576 + 17]


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
        with open(os.path.join(cls.work, "package", "LiveUpdateSetup.exe"), "wb") as f:
            f.write(b"MZ unsigned")
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

    def lucheck(self, *args, errors=False):
        """(exit code, standard output with LF line ends), and the error output with `errors`."""
        if self.runner:
            import winehost  # noqa: E402
            command = self.runner.command(["wine", self.exe, *args])
            result = winehost._run_captured(command, self.runner.env(), 120, self.work)
        else:
            result = subprocess.run([self.exe, *args], cwd=self.work, capture_output=True, text=True, timeout=60)
        out = result.returncode, result.stdout.replace("\r\n", "\n")
        return out + (result.stderr.replace("\r\n", "\n"),) if errors else out

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
        self.assertEqual((plan["events"]["source"], plan["events"]["install"]), ("Vantrel Live Update", 1033))
        # The item's program in the host folder: no warning.
        self.write(os.path.join("host", "TVKUPDT.EXE"), b"MZ")
        try:
            code, data = self.lucheck(*PLAN, "--json")
            self.assertTrue(json.loads(data)["start_menu"]["command_found"])
            self.assertNotIn("neither the package nor the host folder", self.lucheck(*PLAN)[1])
        finally:
            os.remove(os.path.join(self.work, "host", "TVKUPDT.EXE"))
        # Turned away: a version whose field is empty, and one the header has no field for.
        code, text = self.lucheck("--plan", "package", "--host", "host", "--version", "1.20")
        self.assertIn("1.20: no web ID in the header, so the installer turns it away", text)
        self.assertEqual(code, 1)
        code, text = self.lucheck("--plan", "package", "--host", "host", "--version", "1.3")
        self.assertIn("1.3: not a version the header knows (its fields are for 1.30, 1.31, 1.20, 1.40, in that "
                      "order)", text)
        self.assertEqual(code, 1)
        # Without --version, the host folder's own; another one is planned for, and said.
        self.assertEqual(self.lucheck(*PLAN[:4], *PLAN[6:]), (1, expected("expected-plan.txt")))
        code, text = self.lucheck(*PLAN[:5], "1.40", *PLAN[6:])
        self.assertEqual(text.splitlines()[0],
                         "note: host\\Sys\\TOVASK.INI says version 1.30; planned for 1.40, as --version asks")
        # A host folder given through "..": planned as its full path, never refused.
        up = os.path.join("..", os.path.basename(self.work), "host")
        code, text = self.lucheck("--plan", "package", "--host", up.replace("/", "\\") if self.runner else up,
                                  "--version", "1.30", "--system-dir", "system")
        self.assertTrue(text.splitlines()[0].endswith("README.TXT: replace"), text)
        self.assertEqual(code, 1)

    def run_checker(self, *args):
        """(exit code, output, error output) of the checker."""
        if not self.runner:
            result = subprocess.run([self.exe, *args], cwd=self.work, capture_output=True, text=True, timeout=60)
        else:
            import winehost  # noqa: E402
            result = winehost._run_captured(self.runner.command(["wine", *args]), self.runner.env(), 120, self.work)
        return result.returncode, result.stdout.replace("\r\n", "\n"), result.stderr.replace("\r\n", "\n")

    def test_harvest(self):
        # Each listed library is registered in the checker's own process
        # with the registry redirected, each server by its /RegServer run
        # with the class keys compared before and after: a class's keys
        # become data, its own path the token <file>; a write outside the
        # class keys or a failed run refuses the package, and the machine's
        # registry is left as it was either way.
        if not self.runner:
            code, _, errors = self.run_checker("--harvest", "package")
            self.assertEqual(code, 1)
            self.assertIn("only lucheck.exe on Windows can", errors)
            return
        payload = os.environ["LU_PAYLOAD"]
        # The fixtures' classes for the names TVKCOM.DLL and TVKUPDT.EXE.
        clsid, server = "{5A1D3B2E-7C41-4F0B-9E61-00007AA923DB}", "{5A1D3B2E-7C41-4F0B-9E61-0000406BDF8F}"
        for name, built, outcome in (
                ("TVKCOM.DLL", "TVKCOM.dll", [
                    "[TVKCOM.DLL]",
                    f"CLSID\\{clsid}\t\tREG_SZ\tVantrel test component",
                    f"CLSID\\{clsid}\\InprocServer32\t\tREG_SZ\t<file>",
                    f"CLSID\\{clsid}\\InprocServer32\tThreadingModel\tREG_SZ\tApartment",
                    f"Vantrel.TVKCOM\\CLSID\t\tREG_SZ\t{clsid}"]),
                ("TVKCOM.DLL", "TVKOUT.dll",
                 "TVKCOM.DLL: writes HKEY_CURRENT_USER\\Software\\LiveUpdateTest, outside the class keys"),
                ("TvkUpdt.exe", "TvkUpdt.exe", [
                    "[TVKUPDT.EXE]",
                    f"CLSID\\{server}\t\tREG_SZ\tVantrel test component",
                    f"CLSID\\{server}\\LocalServer32\t\tREG_SZ\t<file>",
                    f"Vantrel.TvkUpdt\\CLSID\t\tREG_SZ\t{server}"]),
                ("TVKBAD.EXE", "TVKBAD.exe", "TVKBAD.EXE: its /RegServer run ended with exit code 7")):
            written = isinstance(outcome, list)
            folder = self.harvest_package(name, os.path.join(payload, built))
            code, out, errors = self.run_checker(self.exe, "--harvest", folder)
            data = os.path.join(self.work, folder, "CLASSES.TXT")
            self.assertEqual((code, os.path.exists(data)), (0 if written else 1, written), out + errors)
            if written:
                self.assertEqual(sorted(self.class_lines(folder)), sorted(outcome))
                self.assertEqual(self.run_checker(self.exe, folder)[0], 0, "the check reads what the harvest wrote")
                code, text = self.lucheck("--plan", folder, "--host", "host", "--version", "1.30")
                self.assertIn(f"register: {len(outcome) - 1} class values from CLASSES.TXT", text)
            else:
                self.assertIn(outcome, errors)
        # A server already registered rewrites nothing that is not there and
        # unregistering takes away what was: no section, and its class is
        # put back.
        exe = os.path.join(self.work, "harvest-tvkupdt.exe", "TvkUpdt.exe")
        self.assertEqual(self.run_checker(exe, "/RegServer")[0], 0)
        code, out, _ = self.run_checker(self.exe, "--harvest", "harvest-tvkupdt.exe")
        self.assertEqual(code, 0)
        self.assertIn("TVKUPDT.EXE: cannot be harvested exactly (it changes class data that was there before)", out)
        self.assertEqual(self.class_lines("harvest-tvkupdt.exe"), [])
        code, out, errors = self.run_checker("reg", "query", r"HKCR\Vantrel.TVKUPDT\CLSID")
        self.assertEqual(code, 0, "not put back: " + out + errors)
        self.assertEqual(self.run_checker(exe, "/UnregServer")[0], 0)
        for key in (rf"HKCR\CLSID\{clsid}", r"HKCR\Vantrel.TVKCOM", rf"HKCR\CLSID\{server}", r"HKCR\Vantrel.TVKUPDT",
                    r"HKCU\Software\LiveUpdateTest", r"HKCU\Software\LiveUpdateHarvest"):
            self.assertNotEqual(self.run_checker("reg", "query", key)[0], 0, key + " reached the registry")

    def harvest_package(self, name, built):
        """A package folder listing `built` as `name`, for the harvest; its name."""
        folder = "harvest-" + os.path.basename(built).lower()
        os.makedirs(os.path.join(self.work, folder))
        os.chmod(os.path.join(self.work, folder), 0o777)  # the user the checker runs as writes there
        shutil.copy(built, os.path.join(self.work, folder, name))
        self.write(os.path.join(folder, "UPDATE.LST"),
                   f"Vantrel,W130,W131,W120,W140,\r\nSTART\r\nFOLDER,SERVER\r\nFILE,{name}\r\nEND\r\n".encode())
        return folder

    def class_lines(self, folder):
        with open(os.path.join(self.work, folder, "CLASSES.TXT"), encoding="cp1252") as f:
            return [line for line in f.read().splitlines() if not line.startswith("#")]

    def write(self, path, data):
        with open(os.path.join(self.work, path), "wb") as f:
            f.write(data)

    def sealed_package(self):
        """A package of random payload files (names in lower case on disk),
        for the checker to seal; its folder's name."""
        folder = "sealed"
        os.mkdir(os.path.join(self.work, folder))
        generator = random.Random(15)
        names = [f"pay{size}.bin" for size in SEALED_SIZES]
        for name, size in zip(names, SEALED_SIZES):
            self.write(os.path.join(folder, name), generator.randbytes(size))
        body = "START\r\nFOLDER,SERVER\r\nFILE," + ",".join(n.upper() for n in names) + ",PAY0.BIN\r\nEND\r\n"
        self.write(os.path.join(folder, "UPDATE.LST"), ("Vantrel,W130,W131,W120,W140,\r\n" + body).encode())
        for root, dirs, files in os.walk(os.path.join(self.work, folder)):
            os.chmod(root, 0o777)
        return folder

    def test_folders_that_look_like_the_system_directory(self):
        folder = os.path.join(self.work, "lookalikes")
        os.makedirs(folder, exist_ok=True)
        self.write(os.path.join(folder, "UPDATE.LST"),
                   b"Vantrel,W130,W131,W120,W140,\r\nSTART\r\nFOLDER,SYSTEM32\r\nFOLDER,system,en\r\n"
                   b"FOLDER,Windows,System\r\nFOLDER,system\r\nFOLDER,SYS\r\nEND\r\n")
        lines = self.lucheck("lookalikes")[1].splitlines()
        hint = "is a folder inside the host folder, not the system directory: did you mean FOLDER,SYSTEM? "
        self.assertEqual([line for line in lines if "did you mean" in line],
                         [f"UPDATE.LST:{n}: warning: FOLDER {name} {hint}(it takes no subfolders)"
                          for n, name in [(3, "SYSTEM32"), (4, "SYSTEM\\EN"), (5, "WINDOWS\\SYSTEM")]])

    def test_seal(self):
        self.assertEqual(self.lucheck("--seal", "package")[0], 1, "MISSING.EXE is listed")
        self.assertFalse(os.path.exists(os.path.join(self.work, "package", "SHA256SUMS")))
        folder = self.sealed_package()
        sums = os.path.join(self.work, folder, "SHA256SUMS")
        self.assertEqual(self.lucheck("--seal", folder)[0], 0)
        verified = subprocess.run(["sha256sum", "--strict", "-c", "SHA256SUMS"], cwd=os.path.dirname(sums),
                                  capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertEqual(verified.stdout.count(": OK\n"), len(SEALED_SIZES) + 1)
        twice = "UPDATE.LST:4: warning: PAY0.BIN goes to the same place as on line 4: installed twice"
        self.assertEqual(self.lucheck(folder),
                         (0, twice + "\n0 errors, 1 warning, 0 notes; 16 entries listed, 15 payload files\n"))

        # A truncated file, a file without its line, a line naming no listed file, a malformed line.
        with open(sums) as f:
            lines = f.read().splitlines(keepends=True)
        self.write(sums, "".join(lines[:-1]).encode() + b"%s  OTHER.BIN\r\nnot a line\n" % (b"0" * 64))
        with open(os.path.join(self.work, folder, "pay4097.bin"), "r+b") as f:
            f.truncate(4096)
        code, text = self.lucheck(folder)
        self.assertEqual(code, 1)
        self.assertEqual(text.splitlines(), [
            twice,
            "SHA256SUMS:16: warning: names OTHER.BIN, which UPDATE.LST does not list: never checked",
            'SHA256SUMS:17: error: is malformed: not "<64 hex digits> <space or *><file name>": '
            "the installer refuses the package",
            "pay3145745.bin: error: has no line in SHA256SUMS: the installer refuses the package",
            "pay4097.bin: error: does not match its checksum (SHA256SUMS line 14): the installer refuses the package",
            "3 errors, 2 warnings, 0 notes; 16 entries listed, 15 payload files"])
        self.assertEqual(json.loads(self.lucheck("--json", folder)[1])["summary"]["seal"], "damaged")

    def test_usage(self):
        code, text = self.lucheck("--help")
        self.assertEqual(code, 0)
        self.assertIn("--plan PACKAGE_DIR --host DIR [--version VERSION]", text)
        self.assertIn("--seal PACKAGE_DIR", text)
        self.assertEqual(self.lucheck("no-such-folder")[0], 2)
        # A command line that is not whole says what it lacks.
        for args, reason in [(["--plan", "package"], "--plan needs --host DIR"),
                             (["--plan", "package", "--host"], "--host needs a value after it"),
                             (["--bogus", "package"], "unknown option --bogus"), ([], "no PACKAGE_DIR given")]:
            code, _, errors = self.lucheck(*args, errors=True)
            self.assertEqual(code, 2, args)
            self.assertIn("lucheck: " + reason, errors)


if __name__ == "__main__":
    unittest.main(verbosity=2)
