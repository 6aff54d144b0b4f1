#!/usr/bin/env python3
"""DLL planting: a DLL placed beside the installer in its download folder,
under the name of a system DLL that is loaded by name after start, must
never be loaded.

The planted DLL (planted_probe.dll under the system DLL's name) appends a
line to a marker file when it is loaded. WINEDLLOVERRIDES="<name>=n,b"
makes Wine prefer a native DLL found on the search path to its own, as
Windows would for a DLL that is not a known system DLL.

- SearchRestrictionControl: dll_probe.exe, in a folder holding the planted
  DLLs, loads each name with LoadLibraryA. Without the installer's search
  restriction the planted copy is loaded (so the test can see a planted
  load); after RestrictDllSearchToSystem() the system copy is.
- InstallerIgnoresPlantedDlls: LiveUpdateSetup.exe from such a folder, with
  a host product fixture so that it reaches its Ready window (common
  controls 6, the banner picture), loads every one of those DLLs from the
  system, none from its folder. The load order comes from Wine's loaddll
  trace (WINEDEBUG=-all,+pid,+loaddll).

Environment: LU_EXE, DLL_PROBE_EXE, PLANTED_DLL (the built files) and
E2E_WORK (where the base Wine prefix is kept, see run_in_wine.py).
"""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_in_wine  # noqa: E402  # puts the end-to-end tests' winehost on the path
from winehost import make_host_product, required_file, write_ansi  # noqa: E402

# DLLs that the installer process loads beyond its own imports: the theme
# library (loaded by common controls 6), the imaging codecs and the libraries
# they bring in (the banner picture), and the alpha-blending library. Some
# are loaded by their full registered path (COM), the others by name.
LATE_DLLS = ["uxtheme", "windowscodecs", "msimg32", "propsys", "shcore"]
PACKAGE = r"C:\Download"
MARKER = r"C:\planted-marker.txt"
HEADER = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110"
LOADED = re.compile(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)')
READY_TIMEOUT = 30  # seconds for the installer to reach its window


def plant(run, names):
    """The package folder with the planted DLL under each name."""
    folder = run.unix_path(PACKAGE)
    os.makedirs(folder, exist_ok=True)
    for name in names:
        shutil.copy(required_file("PLANTED_DLL"), os.path.join(folder, name + ".dll"))
    return folder


def plant_env(names):
    overrides = run_in_wine.WINE_ENV["WINEDLLOVERRIDES"] + ";" + ";".join(f"{name}=n,b" for name in names)
    return {"WINEDLLOVERRIDES": overrides, "LU_PLANTED_MARKER": MARKER}


def take_marker(run):
    """Lines of the marker file (DLL path|program path), removing it."""
    path = run.unix_path(MARKER)
    if not os.path.exists(path):
        return []
    with open(path, encoding="cp1252") as f:
        lines = [line.strip() for line in f if line.strip()]
    os.remove(path)
    return lines


def loads_by_process(trace_text):
    """{pid: [(module path, native or builtin)]} from a +pid,+loaddll trace
    (lines "pid:tid:trace:loaddll:... Loaded L\"path\" at address: kind")."""
    result = {}
    for line in trace_text.splitlines():
        match = LOADED.match(line)
        if match:
            pid, path, kind = match.groups()
            result.setdefault(pid, []).append((path.replace("\\\\", "\\"), kind))
    return result


class DllPlanting(unittest.TestCase):
    def test_search_restriction_control(self):
        with run_in_wine.WineRun(name="dll-control") as run:
            folder = plant(run, LATE_DLLS)
            shutil.copy(required_file("DLL_PROBE_EXE"), os.path.join(folder, "dll_probe.exe"))
            run.give(run.drive_c)
            probe = PACKAGE + r"\dll_probe.exe"
            env = plant_env(LATE_DLLS)
            for name in LATE_DLLS:
                dll = name + ".dll"
                with self.subTest(dll=dll, restricted=False):
                    self.assertEqual(run.run(probe, [dll], env, cwd=folder, timeout=60), 0)
                    self.assertIn(f"{PACKAGE}\\{dll}|{probe}", take_marker(run),
                                  "an unrestricted load by name must find the planted copy")
                with self.subTest(dll=dll, restricted=True):
                    self.assertEqual(run.run(probe, ["--restrict", dll], env, cwd=folder, timeout=60), 0)
                    self.assertEqual(take_marker(run), [], "the restricted load used the planted copy")

    def test_installer_ignores_planted_dlls(self):
        with run_in_wine.WineRun(name="dll-installer") as run:
            folder = plant(run, LATE_DLLS)
            shutil.copy(required_file("LU_EXE"), os.path.join(folder, "LiveUpdateSetup.exe"))
            write_ansi(os.path.join(folder, "UPDATE.LST"), HEADER + "\n")
            make_host_product(run, r"C:\Vantrel", "1.30")
            run.give(run.drive_c)
            self.assertEqual(run.run("reg", ["add", r"HKCU\Software\Vantrel\Setup", "/v", "CS_Path",
                                             "/d", r"C:\Vantrel", "/f"], timeout=60), 0)

            installer = PACKAGE + r"\LiveUpdateSetup.exe"
            trace_path = os.path.join(run.tmp, "loaddll.txt")
            env = dict(plant_env(LATE_DLLS), WINEDEBUG="-all,+pid,+loaddll")
            with open(trace_path, "wb") as trace:
                proc = run.start(installer, extra_env=env, cwd=folder, stdout=trace, stderr=subprocess.STDOUT)
                try:
                    loads, ended = watch_until_ready(proc, trace_path, installer, run.unix_path(MARKER))
                finally:
                    proc.kill()
                    proc.wait()

            modules = [path for path, _ in loads]
            from_package = [path for path in modules[1:] if path.lower().startswith(PACKAGE.lower() + "\\")]
            self.assertEqual(take_marker(run), [], "a planted DLL was loaded (DLL|program)")
            self.assertEqual(from_package, [], "modules loaded from the installer's folder")
            self.assertIsNone(ended, f"the installer did not reach its window ({ended}); it loaded {modules}")
            for name in LATE_DLLS:
                loaded = [path for path in modules if path.lower().endswith("\\" + name + ".dll")]
                self.assertTrue(loaded, f"the installer never loaded {name}.dll; it loaded {modules}")
                for path in loaded:
                    self.assertTrue(path.lower().startswith("c:\\windows\\"), f"{name}.dll came from {path}")


def installer_loads(trace_path, installer):
    """The installer process's module loads so far, in order."""
    with open(trace_path, encoding="utf-8", errors="replace") as f:
        by_pid = loads_by_process(f.read())
    return next((entries for entries in by_pid.values() if entries[0][0].lower() == installer.lower()), [])


def watch_until_ready(proc, trace_path, installer, marker_path):
    """Follows the installer until it has loaded every late DLL and still
    runs (its window is up), a planted DLL has been loaded, it ends, or time
    runs out. Returns its module loads, and None when it got there, else
    why not."""
    deadline = time.monotonic() + READY_TIMEOUT
    while time.monotonic() < deadline:
        loads = installer_loads(trace_path, installer)
        names = {path.lower().rsplit("\\", 1)[-1] for path, _ in loads}
        if all(name + ".dll" in names for name in LATE_DLLS) or os.path.exists(marker_path):
            time.sleep(1)  # anything loaded just after
            if proc.poll() is None:
                ready = all(name + ".dll" in names for name in LATE_DLLS)
                return installer_loads(trace_path, installer), None if ready else "a planted DLL was loaded"
        if proc.poll() is not None:
            return installer_loads(trace_path, installer), f"it ended with exit code {proc.returncode}"
        time.sleep(0.2)
    return installer_loads(trace_path, installer), f"not within {READY_TIMEOUT} s"


if __name__ == "__main__":
    unittest.main(verbosity=2)
