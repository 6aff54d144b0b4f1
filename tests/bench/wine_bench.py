#!/usr/bin/env python3
"""Timings of the real installer under Wine. A benchmark, not a test: it
prints figures and never fails on time.

Run by hand from the source tree after a Windows build, with the
environment the end-to-end tests get:

  B=build/win
  LU_EXE=$B/LiveUpdateSetup.exe LUCHECK_EXE=$B/lucheck.exe UIA_EXE=$B/tests/e2e/uia.exe \\
  LU_PAYLOAD=$B/tests/payload PROGMAN_SERVER_EXE=$B/tests/dde/progman_server.exe \\
  PROGMAN_CLIENT_EXE=$B/tests/dde/progman_client.exe E2E_WORK=$B/e2e \\
  WINBENCH_EXE=$B/tests/e2e/winbench.exe LU_BASE_EXE=/path/to/older/LiveUpdateSetup.exe \\
  LU_NORECORD_EXE=/path/to/norecord/LiveUpdateSetup.exe \\
  python3 tests/bench/wine_bench.py

PROGMAN_CLIENT_EXE is optional: with it, the conversation alone is timed
too. LU_BASE_EXE is optional: an earlier build of the installer, timed
beside LU_EXE in a, b, d, e and f. LU_NORECORD_EXE is optional: the
installer built from the last commit before the install record (eda40f8),
which h needs; j needs wixl (scripts/install-deps.sh installs it). Each
figure has its --...-runs option; 0 leaves the figure out. Figures
(medians; min and max beside them):

  a. start-up: from starting LiveUpdateSetup.exe to its Ready window
     answering, timed inside Wine by winbench.exe, which starts it, looks
     for its visible window every millisecond and sends it a message; the
     same for winbench.exe's own minimal window (the installer's title and
     its two buttons), started in turn from the same folder, and the ratio
     of the two;
  b. a 2,000-file install: 2,000 small text files listed under
     FOLDER,SERVER and copied into the host folder, from the Install click
     to the completed window (Cancel reads Finish); the copying alone is
     timed by watching the host folder;
  c. what the Program Manager conversation adds: a one-file install with
     the shell's server, with our recording server (answers at once, does
     nothing), and with no server at all. Each look at the window costs
     one uia run (about 0.1 s), which bounds the resolution of the install
     figures; the conversation alone (progman_client) is timed inside
     Wine to the millisecond;
  d. 20 DLL registrations (copies of the payload TVKCOM.dll listed under
     FOLDER,SERVER, with their harvested CLASSES.TXT): a quiet install from
     start to exit, in turn with the base exe's (which, older than the
     class data, runs regsvr32 for each), how many classes were there at
     the exit, and the 20 `regsvr32 /s` runs alone, all started at once by
     winbench.exe, which times them inside Wine;
  e. the window's answer times during a 1,500-file install: uia sends it
     WM_NULL every 50 ms; the samples sent from the Install click to the
     completed window count (median, 95th percentile, longest);
  f. a quiet install (/quiet) of 2,000 files of 4 KiB from start to exit,
     its quiet uninstall (the entry's QuietUninstallString) from start to
     exit, the same quiet install by the base exe, and the attended
     install from start to the completed window plus
     Finish to exit; and quiet refusals from start to exit: another
     install waiting at its Ready window (1618), an unknown switch (1639),
     no stored host folder (1605). Both started through uia run, whose own
     cost shows in the row for winbench.exe ending at once;
  g. a sealed package (SHA256SUMS) of 20 random files of 20 MiB beside the
     same package unsealed, Install click to completed window; the extra
     time beside what sha256sum's throughput on the same 400 MiB predicts;
  h. what the install record costs: f's quiet install of 2,000 files of
     4 KiB beside the same install by LU_NORECORD_EXE, in turn, each into
     a fresh host product;
  i. big files: a quiet install of 20 files of 20 MiB beside winbench.exe
     copying the same files with CopyFileA, one after the other, into an
     empty folder on the host folder's file system; both from start to
     exit, started through uia run;
  j. the quiet uninstall (f's) of 2,000 files of 4 KiB beside Windows
     Installer's: an MSI of the same files that wixl builds, one component
     per file, installed with `msiexec /i ... /qn` and timed removing with
     `msiexec /x {product} /qn`; each uninstall after its own install,
     start to exit through uia run, the installs timed too;
  k. /verify /quiet, run from the record folder's uninstaller copy right
     after f's quiet install of 2,000 files of 4 KiB into a fresh host
     product, beside that install; both start to exit through uia run.
"""

import argparse
import collections
import glob
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import uuid
from xml.sax.saxutils import quoteattr

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import winehost  # noqa: E402
from winehost import make_host_product, make_package, payload, set_host_setting, start_menu_programs  # noqa: E402
from winehost import keep_desktop, wait_until  # noqa: E402

TITLE = "Install Vantrel Live Update"
HEADER = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110"
HOST = r"C:\Vantrel"
GROUP = "Vantrel - Ver 1.30"
TIMEOUT = 300  # seconds for anything to happen before the run is given up
RECORD_FOLDER = r"C:\Program Files\Vantrel Live Update"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel Live Update"
ALL_USERS_PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"  # quiet runs' Start-menu item
MIB = 1024 * 1024
MSI_FOLDER = r"C:\Program Files\Live Update bench MSI"  # where j's MSI installs its files


class NoShellHost(winehost.WineHost):
    """A host whose prefix copy never starts explorer.exe, the process that
    provides the desktop and the shell's Program Manager server."""

    def _start(self):
        self.display = winehost.Display()
        self.prefix = winehost.prefix_copy(self.name)
        wine_env = dict(winehost.WINE_ENV)
        wine_env["WINEDLLOVERRIDES"] += ";explorer.exe=d"
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display.name, **wine_env)
        subprocess.run(["wineserver", f"-p{winehost.SERVER_LINGER_S}"], env=self.env, check=True, timeout=30)


class Bench:
    def __init__(self, host):
        self.host = host

    # ---- helpers

    def shell_windows(self):
        return [w for w in self.host.list_windows() if w["title"] == GROUP]

    def close_shell_windows(self, wait_for_one=False):
        """Closes the folder windows Wine's shell opens for a new group.
        With wait_for_one, first waits for one to open: a window that opens
        late, on a group folder the next run has removed, upsets the shell
        (its windows then no longer show in the window list)."""
        if wait_for_one:
            wait_until(self.shell_windows, 10, 0.2)
        for window in self.shell_windows():
            self.host.close_window("hwnd:" + window["hwnd"])
            self.host.wait_gone("hwnd:" + window["hwnd"])

    def fresh_host_product(self):
        self.host.kill_programs()
        self.close_shell_windows()
        make_host_product(self.host, HOST)
        set_host_setting(self.host, HOST)
        for programs in (start_menu_programs(self.host), self.host.unix_path(ALL_USERS_PROGRAMS)):
            shutil.rmtree(os.path.join(programs, GROUP), ignore_errors=True)
        shutil.rmtree(self.host.unix_path(RECORD_FOLDER), ignore_errors=True)  # each install is a first one
        self.host.reg_delete(UNINSTALL_KEY)

    def package(self, folder, body, files=None, exe=None):
        """make_package with this list body; with `exe` (a Linux path), that
        installer instead of LU_EXE."""
        installer = make_package(self.host, folder, HEADER + "\n" + body, files)
        if exe:
            shutil.copy(exe, self.host.unix_path(installer))
        return installer

    def files_package(self, folder, count, size=None, exe=None):
        """A package of `count` files listed under FOLDER,SERVER, 25 to a
        line: small text files, or `size` bytes each. Returns the installer
        and the names."""
        names = [f"F{i:04d}.TXT" for i in range(count)]
        body = "START\nFOLDER,SERVER\n" + "".join(
            "FILE," + ",".join(names[i:i + 25]) + "\n" for i in range(0, count, 25)) + "END\n"
        files = {name: b"x" * size if size else f"file {name}\r\n".encode() * 4 for name in names}
        return self.package(folder, body, files, exe), names

    def start_ready(self, exe, full_exit_code=False):
        """Starts a program from its own folder and waits for its window."""
        process = self.host.start(exe, cwd=self.host.unix_path(exe.rsplit("\\", 1)[0]), full_exit_code=full_exit_code)
        self.host.wait_window(TITLE, TIMEOUT * 1000)
        return process

    def wait_completed(self, process):
        """Looks at the window until Cancel reads Finish; the time of the
        look that saw it."""
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            if not process.running():
                raise RuntimeError("the installer ended during the install")
            if self.host.dump(TITLE, TIMEOUT * 1000).find("Finish", "Button"):
                return time.monotonic()
        raise RuntimeError("no completed window")

    def install(self, process, names):
        """Clicks Install and waits for the completed window. The window is
        looked at only once the last listed file is in the host folder: an
        older installer's window does not answer while it copies, and each
        look is a uia run that takes processor time from the install.
        Returns the times of the click, the first and the last file's
        arrival and the completed window."""
        first, last = (self.host.unix_path(HOST + "\\" + name) for name in (names[0], names[-1]))
        started = time.monotonic()
        self.host.click(TITLE, "Install")
        wait_until(lambda: os.path.exists(first), TIMEOUT, 0.01)
        first_seen = time.monotonic()
        if not wait_until(lambda: os.path.exists(last), TIMEOUT, 0.01):
            raise RuntimeError("the last file was not copied")
        return started, first_seen, time.monotonic(), self.wait_completed(process)

    def finish(self, process):
        """Finish; the exit code."""
        self.host.click(TITLE, "Finish")
        return process.wait(30)

    def run_timed(self, *command):
        """Runs a Windows program to its end through uia run; (seconds from
        start to exit, its exit code)."""
        started = time.monotonic()
        code = self.host.run_for_exit_code(*command, timeout=TIMEOUT)
        return time.monotonic() - started, code

    def timed_into(self, figures, label, *command):
        """run_timed; the time goes to figures[label][0], the exit code
        to figures[label][1]. Returns the exit code."""
        seconds, code = self.run_timed(*command)
        figures[label][0].append(seconds)
        figures[label][1].add(code)
        return code

    def quiet_uninstall_command(self):
        """The entry's QuietUninstallString as program and arguments; None
        without one."""
        uninstall = self.host.reg_query(UNINSTALL_KEY, "QuietUninstallString")
        if not uninstall:
            return None
        exe, _, arguments = uninstall.partition('" ')
        return [exe.strip('"'), *arguments.split()]

    def registered(self):
        """How many classes the copies of TVKCOM.dll have registered."""
        return sum(key.upper().endswith(r"\INPROCSERVER32") for key in winehost.fixture_classes(self.host))

    def log_lines(self, start):
        """Lines of the install log in the user's temporary folder that
        begin with `start`."""
        found = glob.glob(os.path.join(self.host.drive_c, "users", "*", "**", "LiveUpdateSetup.log"), recursive=True)
        if not found:
            return []
        with open(found[0], "rb") as f:
            return [line for line in f.read().decode("cp1252").split("\r\n") if line.startswith(start)]

    # ---- a. start-up

    def startup(self, runs, base_exe=None):
        """Start to Ready of the installer, of winbench.exe's minimal window
        and of base_exe when given, in turn, each started (and cancelled)
        by winbench.exe from its package folder; {label: times}."""
        self.fresh_host_product()
        folder = r"C:\bench\startup"
        winbench = winehost.required_file("WINBENCH_EXE")
        programs = {"installer": self.package(folder, "")}
        shutil.copy(winbench, self.host.unix_path(folder + r"\winbench.exe"))
        programs["minimal window"] = folder + r"\winbench.exe"
        if base_exe:
            programs["base exe"] = self.package(r"C:\bench\startup-base", "", exe=base_exe)
        times = {label: [] for label in programs}
        for _ in range(runs):
            for label, exe in programs.items():
                self.host.kill_programs()
                result = self.host.run(winbench, "ready", TITLE, exe, cwd=self.host.unix_path(exe.rsplit("\\", 1)[0]))
                if result.returncode != 0:
                    raise RuntimeError(f"winbench ready {exe} failed with {result.returncode}")
                times[label].append(float(result.stdout) / 1000)
        return times

    # ---- b. many files

    def many_files(self, runs, count, base_exe=None):
        """2,000-file installs, in turn with base_exe's when given;
        {label: (times to completed, times of copying)}."""
        packages = {"installer": self.files_package(r"C:\bench\files", count)}
        if base_exe:
            packages["base exe"] = self.files_package(r"C:\bench\files-base", count, exe=base_exe)
        figures = {label: ([], []) for label in packages}
        for _ in range(runs):
            for label, (installer, names) in packages.items():
                self.fresh_host_product()
                process = self.start_ready(installer)
                started, first, last, done = self.install(process, names)
                figures[label][0].append(done - started)
                figures[label][1].append(last - first)
                self.close_shell_windows(wait_for_one=True)
                self.finish(process)
        return figures

    # ---- c. the Program Manager conversation

    def one_file_install(self, runs, server_options=None):
        """Install times of a one-file package; server_options: None for
        the shell's server, else the options of our recording server."""
        folder = r"C:\bench\tiny"
        exe = make_package(self.host, folder, HEADER + "\nSTART\nFOLDER,SERVER\nFILE,TvkUpdt.exe\nEND\n",
                           {"TvkUpdt.exe": winehost.payload("TvkUpdt.exe")})
        times = []
        for run in range(runs):
            self.fresh_host_product()
            if server_options is not None:
                log = os.path.join(self.host.drive_c, f"bench-progman-{run}.log")
                self.host.start(os.environ["PROGMAN_SERVER_EXE"], *server_options, "--seconds", "120",
                                self.host.win_path(log))
                if not wait_until(lambda: os.path.exists(log + ".ready"), 30):
                    raise RuntimeError("the recording server did not start")
            process = self.start_ready(exe)
            started = time.monotonic()
            self.host.click(TITLE, "Install")
            times.append(self.wait_completed(process) - started)
            self.close_shell_windows(wait_for_one=server_options is None)
            self.finish(process)
        self.host.kill_programs()
        return times

    def conversation(self, runs):
        """The conversation alone, as progman_client times it inside Wine,
        in seconds; None without PROGMAN_CLIENT_EXE."""
        client = os.environ.get("PROGMAN_CLIENT_EXE")
        if not client:
            return None
        times = []
        for _ in range(runs):
            result = self.host.run(client, timeout=120)
            figures = dict(line.split() for line in result.stdout.splitlines() if line.strip())
            times.append(int(figures["elapsed_ms"]) / 1000)
        self.close_shell_windows()
        return times

    # ---- d. registrations

    def registrations(self, runs, count, base_exe=None):
        """Quiet installs of `count` copies of TVKCOM.dll, in turn with
        base_exe's when given; {label: (times from start to exit, how many
        classes were registered at the exit)}."""
        names = [f"REG{i:02d}.DLL" for i in range(1, count + 1)]
        body = "START\nFOLDER,SERVER\nFILE," + ",".join(names) + "\nEND\n"
        files = {name: payload("TVKCOM.dll") for name in names}
        installers = {"installer": self.package(r"C:\bench\reg", body, files)}
        if base_exe:
            installers["base exe"] = self.package(r"C:\bench\reg-base", body, files, base_exe)
        figures = {label: ([], []) for label in installers}
        for _ in range(runs):
            for label, installer in installers.items():
                self.fresh_host_product()
                winehost.forget_registrations(self.host, names)
                started = time.monotonic()
                code = self.host.run_for_exit_code(installer, "/quiet", timeout=TIMEOUT)
                figures[label][0].append(time.monotonic() - started)
                if code != 0:
                    raise RuntimeError(f"{label}: the quiet install ended with {code}")
                figures[label][1].append(self.registered())
        return figures

    def registrations_alone(self, runs, count):
        """The same `count` regsvr32 runs on the files the last install left
        in the host folder, all started at once by winbench.exe, which
        times them inside Wine; seconds."""
        commands = [rf"C:\windows\system32\regsvr32.exe /s {HOST}\REG{i:02d}.DLL" for i in range(1, count + 1)]
        times = []
        for _ in range(runs):
            winehost.forget_registrations(self.host, [rf"REG{i:02d}.DLL" for i in range(1, count + 1)])
            result = self.host.run(winehost.required_file("WINBENCH_EXE"), "run", *commands, timeout=TIMEOUT)
            times.append(float(result.stdout) / 1000)
            if self.registered() != count:
                raise RuntimeError("the registrations run alone did not all record themselves")
        return times

    # ---- e. answer times

    def answer_times(self, runs, count, exe=None):
        """Answer times in ms of the window while it installs `count` files:
        uia pings it every 50 ms from Ready until it is gone; the samples
        sent from the Install click to the completed window count. uia ends
        at most about 50 ms after its last answer, which places its clock
        on ours."""
        installer, names = self.files_package(r"C:\bench\answers", count, exe=exe)
        answers = []
        for _ in range(runs):
            self.fresh_host_product()
            process = self.start_ready(installer)
            handle = "hwnd:" + self.host.wait_window(TITLE)
            pinged = {}

            def ping():
                pinged["samples"] = self.host.ping(handle, 50, TIMEOUT * 1000)
                pinged["ended"] = time.monotonic()

            pinger = threading.Thread(target=ping)
            pinger.start()
            time.sleep(1)  # uia is pinging by now
            started, _first, _last, done = self.install(process, names)
            self.close_shell_windows(wait_for_one=True)
            self.finish(process)
            pinger.join(TIMEOUT)
            samples = pinged["samples"]
            offset = pinged["ended"] - (samples[-1][0] + samples[-1][1]) / 1000
            answers += [s[1] for s in samples if started <= offset + s[0] / 1000 <= done]
        return answers

    # ---- f. quiet installs and refusals

    def quiet_and_attended(self, runs, count, size, base=None):
        """In turn, a quiet install from start to exit, the quiet uninstall
        of it (the entry's QuietUninstallString, start to exit), the same
        quiet install by the base exe, and an attended one from start to the
        completed window plus Finish to exit, all started through uia run;
        {label: times} and the exit codes."""
        installer, names = self.files_package(r"C:\bench\quiet", count, size)
        base_installer = self.files_package(r"C:\bench\quiet-base", count, size, base)[0] if base else None
        times, codes = {"quiet": [], "uninstall": [], "base": [], "attended": []}, set()

        def timed(label, *command):
            seconds, code = self.run_timed(*command)
            codes.add(code)
            times[label].append(seconds)

        for _ in range(runs):
            self.fresh_host_product()
            timed("quiet", installer, "/quiet")
            uninstall = self.quiet_uninstall_command()
            if uninstall:
                timed("uninstall", *uninstall)
            if base_installer:
                self.fresh_host_product()
                timed("base", base_installer, "/quiet")

            self.fresh_host_product()
            started = time.monotonic()
            process = self.start_ready(installer, full_exit_code=True)
            _click, _first, _last, done = self.install(process, names)
            self.close_shell_windows(wait_for_one=True)
            finishing = time.monotonic()
            codes.add(self.finish(process))
            times["attended"].append(done - started + time.monotonic() - finishing)
        return times, codes

    def refusals(self, runs):
        """{label: (times, exit codes)} of quiet runs that are refused, from
        start to exit through uia run, and of winbench.exe ending at once
        started the same way, for what that way costs."""
        self.fresh_host_product()
        installer = self.package(r"C:\bench\refusals", "START\nFOLDER,SERVER\nFILE,README.TXT\nEND\n",
                                 {"README.TXT": b"readme\r\n"})

        def timed(*command):
            times, codes = [], set()
            for _ in range(runs):
                started = time.monotonic()
                codes.add(self.host.run_for_exit_code(*command, timeout=TIMEOUT))
                times.append(time.monotonic() - started)
            return times, codes

        figures = {}
        attended = self.start_ready(installer)
        figures["another install waiting at Ready"] = timed(installer, "/quiet")
        self.host.click(TITLE, "Cancel")
        attended.wait(30)
        figures["/quiet /bogus"] = timed(installer, "/quiet", "/bogus")
        set_host_setting(self.host, None)
        figures["/quiet without the stored host folder"] = timed(installer, "/quiet")
        set_host_setting(self.host, HOST)
        figures["winbench.exe ending at once, for scale"] = timed(winehost.required_file("WINBENCH_EXE"), "run")
        return figures

    # ---- g. a sealed package

    def sealed(self, runs, count, size):
        """Installs of `count` random files of `size` bytes, sealed and
        unsealed in turn, from Install to the completed window; and
        sha256sum's times over the same files. Returns (sealed, unsealed,
        sha256sum, the logs' package-check lines)."""
        names = [f"S{i:02d}.BIN" for i in range(1, count + 1)]
        folder = r"C:\bench\sealed"
        installer = self.package(folder, "START\nFOLDER,SERVER\nFILE," + ",".join(names) + "\nEND\n")
        unix_folder = self.host.unix_path(folder)
        try:
            for name in names:
                with open(os.path.join(unix_folder, name), "wb") as f:
                    f.write(os.urandom(size))
            hashing = []
            for _ in range(runs):
                started = time.monotonic()
                sums = subprocess.run(["sha256sum", "UPDATE.LST", *names], cwd=unix_folder, check=True,
                                      capture_output=True).stdout
                hashing.append(time.monotonic() - started)
            times, checks = {True: [], False: []}, set()
            for _ in range(runs):
                for seal in (True, False):
                    seal_path = os.path.join(unix_folder, "SHA256SUMS")
                    if seal:
                        with open(seal_path, "wb") as f:
                            f.write(sums)
                    elif os.path.exists(seal_path):
                        os.remove(seal_path)
                    self.fresh_host_product()
                    process = self.start_ready(installer)
                    started, _first, _last, done = self.install(process, names)
                    times[seal].append(done - started)
                    checks.update(self.log_lines("Package check"))
                    self.close_shell_windows(wait_for_one=True)
                    self.finish(process)
        finally:  # 800 MiB between the package and the host folder
            shutil.rmtree(unix_folder, ignore_errors=True)
            shutil.rmtree(self.host.unix_path(HOST), ignore_errors=True)
        return times[True], times[False], hashing, sorted(checks)

    # ---- h. the install record's cost

    def record_cost(self, runs, count, norecord_exe):
        """Quiet installs of `count` files of 4 KiB by the installer and by
        norecord_exe, in turn, each into a fresh host product, start to
        exit; {label: (times, exit codes)}."""
        installers = {"installer": self.files_package(r"C:\bench\record", count, 4096),
                      "no record": self.files_package(r"C:\bench\norecord", count, 4096, norecord_exe)}
        record = self.host.unix_path(RECORD_FOLDER + r"\Install record.txt")
        figures = timed_figures()
        for _ in range(runs):
            for label, (installer, names) in installers.items():
                self.fresh_host_product()
                os.sync()  # the write-back of the run before is not this run's
                self.timed_into(figures, label, installer, "/quiet")
                if present(self.host.unix_path(HOST), names) != count:
                    raise RuntimeError(f"{label}: the quiet install left files out")
                if os.path.exists(record) != (label == "installer"):  # LU_NORECORD_EXE is what it says
                    raise RuntimeError(f"{label}: the install record is "
                                       f"{'missing' if label == 'installer' else 'there'}")
        return figures

    # ---- i. big files beside a plain copy loop

    def big_files(self, runs, count, size):
        """In turn, a quiet install of `count` files of `size` bytes into a
        fresh host product, and winbench.exe copying the same files with
        CopyFileA into an empty folder on the host folder's file system,
        both from start to exit; {label: (times, exit codes)}. Each starts
        with the disk's write-back of the run before done."""
        folder, target = r"C:\bench\big", r"C:\bench\big-copy"
        installer, names = self.files_package(folder, count, size)
        unix_target = self.host.unix_path(target)
        figures = timed_figures()
        try:
            for _ in range(runs):
                self.fresh_host_product()
                os.sync()
                self.timed_into(figures, "installer", installer, "/quiet")
                if present(self.host.unix_path(HOST), names) != count:
                    raise RuntimeError("the quiet install left files out")
                shutil.rmtree(unix_target, ignore_errors=True)
                os.makedirs(unix_target)
                if os.stat(unix_target).st_dev != os.stat(self.host.unix_path(HOST)).st_dev:
                    raise RuntimeError(f"{target} is not on the host folder's file system")
                os.sync()
                code = self.timed_into(figures, "copy", winehost.required_file("WINBENCH_EXE"), "copy",
                                       folder + r"\F*.TXT", target)
                if code != 0 or present(unix_target, names) != count:
                    raise RuntimeError(f"winbench copy ended with {code}")
        finally:  # 1.2 GiB between the package, the host folder and the copies
            for path in (self.host.unix_path(folder), unix_target, self.host.unix_path(HOST)):
                shutil.rmtree(path, ignore_errors=True)
        return figures

    # ---- j. the uninstall beside Windows Installer's

    def msi_package(self, folder, names):
        """Builds with wixl, in the package folder `folder` that holds the
        files `names`, an MSI that installs them into MSI_FOLDER, one
        component each. Its GUIDs derive from the names, so every build
        makes the same MSI. Returns its Windows path and product code."""
        def guid(name):
            return str(uuid.uuid5(uuid.NAMESPACE_URL, "liveupdate-bench-msi/" + name)).upper()

        components = "".join(f'    <Component Id="C{i}" Guid="{guid(name)}">'
                             f'<File Id="F{i}" Source={quoteattr(name)} KeyPath="yes"/></Component>\n'
                             for i, name in enumerate(names))
        wxs = f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
 <Product Id="{guid("product")}" UpgradeCode="{guid("upgrade")}" Name="Live Update bench MSI"
          Language="1033" Version="1.0.0" Manufacturer="Live Update bench">
  <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
  <Media Id="1" Cabinet="files.cab" EmbedCab="yes"/>
  <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="ProgramFilesFolder">
   <Directory Id="INSTALLDIR" Name={quoteattr(MSI_FOLDER.rsplit(chr(92), 1)[1])}>
{components}   </Directory>
  </Directory></Directory>
  <Feature Id="Files" Level="1">{"".join(f'<ComponentRef Id="C{i}"/>' for i in range(len(names)))}</Feature>
 </Product>
</Wix>
"""
        unix_folder = self.host.unix_path(folder)
        with open(os.path.join(unix_folder, "bench.wxs"), "w") as f:
            f.write(wxs)
        # wixl takes the files' sources relative to where it runs.
        subprocess.run(["wixl", "-o", "bench.msi", "bench.wxs"], cwd=unix_folder, check=True, capture_output=True)
        return folder + r"\bench.msi", "{" + guid("product") + "}"

    def uninstall_vs_msi(self, runs, count):
        """In turn: a quiet install of `count` files of 4 KiB into a fresh
        host product and its quiet uninstall (QuietUninstallString); msiexec
        installing an MSI of the same files and removing it. Each from
        start to exit; {label: (times, exit codes)}."""
        folder = r"C:\bench\msi"
        installer, names = self.files_package(folder, count, 4096)
        msi, product = self.msi_package(folder, names)
        host_files, msi_files = self.host.unix_path(HOST), self.host.unix_path(MSI_FOLDER)
        figures = timed_figures()
        for _ in range(runs):
            self.fresh_host_product()
            self.timed_into(figures, "install", installer, "/quiet")
            uninstall = self.quiet_uninstall_command()
            if not uninstall or present(host_files, names) != count:
                raise RuntimeError("the quiet install left files out or wrote no QuietUninstallString")
            code = self.timed_into(figures, "uninstall", *uninstall)
            if present(host_files, names):
                raise RuntimeError(f"the quiet uninstall ended with {code} and left files")
            code = self.timed_into(figures, "msi install", "msiexec", "/i", msi, "/qn")
            if present(msi_files, names) != count:
                raise RuntimeError(f"msiexec /i ended with {code} and installed {present(msi_files, names)}"
                                   f" of {count} files into {MSI_FOLDER}")
            code = self.timed_into(figures, "msi uninstall", "msiexec", "/x", product, "/qn")
            if present(msi_files, names):
                raise RuntimeError(f"msiexec /x ended with {code} and left {present(msi_files, names)} files")
        return figures

    # ---- k. /verify beside the install it checks

    def verify_vs_install(self, runs, count):
        """In turn: a quiet install of `count` files of 4 KiB into a fresh
        host product, and /verify /quiet of the uninstaller copy, each from
        start to exit; {label: (times, exit codes)}."""
        installer, names = self.files_package(r"C:\bench\verify", count, 4096)
        figures = timed_figures()
        for _ in range(runs):
            self.fresh_host_product()
            os.sync()
            self.timed_into(figures, "install", installer, "/quiet")
            uninstall = self.quiet_uninstall_command()
            if not uninstall or present(self.host.unix_path(HOST), names) != count:
                raise RuntimeError("the quiet install left files out or wrote no QuietUninstallString")
            code = self.timed_into(figures, "verify", uninstall[0], "/verify", "/quiet")
            if code != 0:
                raise RuntimeError(f"/verify after the install ended with {code}")
        return figures


def timed_figures():
    """{label: (times, exit codes)}, filled by Bench.timed_into."""
    return collections.defaultdict(lambda: ([], set()))


def present(unix_folder, names):
    """How many of the files `names` are in the folder."""
    return sum(os.path.exists(os.path.join(unix_folder, name)) for name in names)


def no_server(runs):
    """Without explorer.exe there is no desktop and no shell server. Returns
    (what happened to the installer, conversation times or None)."""
    with NoShellHost("bench-noshell") as host:
        make_host_product(host, HOST)
        set_host_setting(host, HOST)
        folder = r"C:\bench\noshell"
        exe = make_package(host, folder, HEADER + "\n")
        process = host.start(exe, cwd=host.unix_path(folder))
        try:
            host.wait_window(TITLE, 15000)
            outcome = "its window appears"
        except winehost.UiaError:
            try:
                outcome = f"no window: the installer ended with exit code {process.wait(15)}"
            except TimeoutError:
                outcome = "no window within 15 s, the installer still running"
        host.kill_programs()
        return outcome, Bench(host).conversation(runs)


def row(label, times):
    if not times:
        return f"  {label:<58} {'-':>8}"
    return (f"  {label:<58} {statistics.median(times):8.3f} s   ({min(times):.3f} .. {max(times):.3f},"
            f" {len(times)} runs)")


def ratio_row(label, times, reference):
    """The ratio of two medians."""
    ratio = statistics.median(times) / statistics.median(reference)
    return f"  {label:<58} {ratio:8.2f} x   ({100 * (ratio - 1):+.1f} %)"


def difference_row(label, times, reference):
    """The difference of two medians."""
    return f"  {label:<58} {statistics.median(times) - statistics.median(reference):8.3f} s"


def text_row(label, text):
    return f"  {label:<58} {text}"


def answers_row(label, answers):
    """Median, 95th percentile and longest of answer times in ms."""
    if not answers:
        return f"  {label:<58} {'-':>8}"
    answers = sorted(answers)
    return (f"  {label:<58} {statistics.median(answers):8.1f} ms  (95th percentile "
            f"{answers[int(0.95 * (len(answers) - 1))]:.1f}, longest {answers[-1]:.1f}, {len(answers)} samples)")


def counts_text(counts, of):
    return ", ".join(str(count) for count in counts) + f" of {of}"


def codes_text(codes):
    return "exit code " + ", ".join(str(code) for code in sorted(codes))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--startup-runs", type=int, default=12)
    parser.add_argument("--files-runs", type=int, default=3)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--progman-runs", type=int, default=5)
    parser.add_argument("--registration-runs", type=int, default=3)
    parser.add_argument("--registrations", type=int, default=20)
    parser.add_argument("--answer-runs", type=int, default=1)
    parser.add_argument("--answer-files", type=int, default=1500)
    parser.add_argument("--quiet-runs", type=int, default=3)
    parser.add_argument("--refusal-runs", type=int, default=3)
    parser.add_argument("--seal-runs", type=int, default=2)
    parser.add_argument("--record-runs", type=int, default=2)
    parser.add_argument("--big-runs", type=int, default=2)
    parser.add_argument("--big-kib", type=int, default=20 * 1024,
                        help="size of each of the 20 files of figure i; 1 shows the fixed cost of each side")
    parser.add_argument("--msi-runs", type=int, default=2)
    parser.add_argument("--verify-runs", type=int, default=3)
    args = parser.parse_args()
    for variable in ("LU_EXE", "LUCHECK_EXE", "UIA_EXE", "PROGMAN_SERVER_EXE", "WINBENCH_EXE"):
        winehost.required_file(variable)
    base = winehost.required_file("LU_BASE_EXE") if os.environ.get("LU_BASE_EXE") else None
    if os.environ.get("E2E_WORK"):
        os.environ["E2E_WORK"] = os.path.abspath(os.environ["E2E_WORK"])  # Wine wants absolute prefixes
    if not os.path.isdir(os.environ.get("LU_PAYLOAD", "")):
        raise RuntimeError("LU_PAYLOAD must name the folder of the built payload files")
    # The build may be remade while this runs: every package gets this copy.
    snapshot = tempfile.mkdtemp(prefix="bench-exe-", dir=winehost.work_dir())
    os.environ["LU_EXE"] = shutil.copy(os.environ["LU_EXE"], snapshot)

    lines = []
    try:
        with winehost.WineHost("bench") as host:
            keeper = keep_desktop(host)
            try:
                bench_sections(Bench(host), args, base, lines)
            finally:
                keeper.kill()
        if args.progman_runs:
            outcome, alone = no_server(args.progman_runs)
            lines.append(row("   conversation alone (progman_client), no server", alone))
            lines.append(f"  one-file install without a shell (explorer.exe disabled): {outcome}")
    finally:
        shutil.rmtree(snapshot, ignore_errors=True)

    print(f"\nLiveUpdateSetup.exe under {winehost._wine_version()}, Xvfb:")
    print("\n".join(lines))


def bench_sections(bench, args, base, lines):
    """Runs the figures whose run count is not 0; adds their rows to `lines`."""
    if args.startup_runs:
        print("a. start-up ...", file=sys.stderr)
        startup = bench.startup(args.startup_runs, base)
        lines.append(row("a. start to Ready window", startup["installer"]))
        if base:
            lines.append(row("   the same, base exe", startup["base exe"]))
        lines.append(row("   the same, a minimal window (winbench.exe)", startup["minimal window"]))
        lines.append(ratio_row("   installer / minimal window", startup["installer"], startup["minimal window"]))

    if args.files_runs:
        print(f"b. {args.files} files ...", file=sys.stderr)
        files = bench.many_files(args.files_runs, args.files, base)
        totals, copying = files["installer"]
        lines.append(row(f"b. {args.files}-file install: Install to completed", totals))
        lines.append(row("   of which copying (first to last file)", copying))
        if base:
            base_totals, base_copying = files["base exe"]
            lines.append(row("   the same, base exe: Install to completed", base_totals))
            lines.append(row("   of which copying, base exe", base_copying))
            lines.append(ratio_row("   installer / base exe, Install to completed", totals, base_totals))

    if args.progman_runs:
        print("c. Program Manager ...", file=sys.stderr)
        shell = bench.one_file_install(args.progman_runs)
        recording = bench.one_file_install(args.progman_runs, [])
        lines.append(row("c. one-file install, the shell's server", shell))
        lines.append(row("   one-file install, a server that answers at once", recording))
        lines.append(row("   conversation alone (progman_client), the shell's server",
                         bench.conversation(args.progman_runs)))

    if args.registration_runs:
        count = args.registrations
        print(f"d. {count} registrations ...", file=sys.stderr)
        installs = bench.registrations(args.registration_runs, count, base)
        totals, recorded = installs["installer"]
        lines.append(row(f"d. {count} DLL registrations: quiet install, start to exit", totals))
        lines.append(text_row("   classes registered at the exit", counts_text(recorded, count)))
        if base:
            base_totals, base_recorded = installs["base exe"]
            lines.append(row("   the same, base exe", base_totals))
            lines.append(text_row("   classes registered at the exit, base exe", counts_text(base_recorded, count)))
            lines.append(text_row("   installer / base exe (medians)",
                                  f"{statistics.median(totals) / statistics.median(base_totals):.2f}"))
        alone = bench.registrations_alone(args.registration_runs, count)
        lines.append(row(f"   the {count} regsvr32 /s alone, started at once, all ended", alone))

    if args.answer_runs:
        print(f"e. answer times, {args.answer_files} files ...", file=sys.stderr)
        lines.append(answers_row(f"e. answer times, {args.answer_files}-file install: median",
                                 bench.answer_times(args.answer_runs, args.answer_files)))
        if base:
            lines.append(answers_row("   the same, base exe", bench.answer_times(args.answer_runs, args.answer_files,
                                                                                  base)))

    if args.quiet_runs:
        print(f"f. quiet install of {args.files} files ...", file=sys.stderr)
        times, codes = bench.quiet_and_attended(args.quiet_runs, args.files, 4096, base)
        quiet = times["quiet"]
        lines.append(row(f"f. quiet install, {args.files} files of 4 KiB: start to exit", quiet))
        if times["uninstall"]:
            lines.append(row("   its quiet uninstall (QuietUninstallString): start to exit", times["uninstall"]))
            lines.append(ratio_row("   uninstall / install", times["uninstall"], quiet))
        if base:
            lines.append(row("   the same quiet install, base exe", times["base"]))
            lines.append(ratio_row("   installer / base exe", quiet, times["base"]))
        lines.append(row("   attended: start to completed + Finish to exit", times["attended"]))
        lines.append(ratio_row("   quiet / attended", quiet, times["attended"]))
        lines.append(text_row("   exit codes", codes_text(codes)))
    if args.refusal_runs:
        print("f. quiet refusals ...", file=sys.stderr)
        for label, (times, codes) in bench.refusals(args.refusal_runs).items():
            lines.append(row(f"   {label}: {codes_text(codes)}", times))

    if args.seal_runs:
        count, size = 20, 20 * MIB
        print(f"g. sealed package of {count} x {size // MIB} MiB ...", file=sys.stderr)
        sealed, unsealed, hashing, checks = bench.sealed(args.seal_runs, count, size)
        lines.append(row(f"g. sealed package, {count} x {size // MIB} MiB: Install to completed", sealed))
        lines.append(row("   the same package unsealed", unsealed))
        extra = statistics.median(sealed) - statistics.median(unsealed)
        lines.append(difference_row("   the check adds (sealed - unsealed)", sealed, unsealed))
        lines.append(row(f"   sha256sum on the same {count * size // MIB} MiB (Linux)", hashing))
        mib = count * size / MIB
        lines.append(text_row("   throughput: the check (MiB / what it adds), sha256sum",
                              f"{mib / extra if extra > 0 else float('inf'):.0f} MiB/s, "
                              f"{mib / statistics.median(hashing):.0f} MiB/s"))
        lines.append(text_row("   what it adds / what sha256sum's throughput predicts",
                              f"{extra / statistics.median(hashing):.2f} x"))
        for check in checks:
            lines.append(text_row("   install log", check))

    if args.record_runs:
        if not os.environ.get("LU_NORECORD_EXE"):
            lines.append(text_row("h. the install record's cost", "left out: LU_NORECORD_EXE is not set"))
        else:
            print(f"h. the install record's cost, {args.files} files ...", file=sys.stderr)
            figures = bench.record_cost(args.record_runs, args.files, winehost.required_file("LU_NORECORD_EXE"))
            (recorded, codes), (unrecorded, base_codes) = figures["installer"], figures["no record"]
            lines.append(row(f"h. quiet install, {args.files} files of 4 KiB, with the record", recorded))
            lines.append(row("   the same without the record (LU_NORECORD_EXE)", unrecorded))
            lines.append(ratio_row("   installer / no record", recorded, unrecorded))
            lines.append(text_row("   exit codes: installer; no record",
                                  f"{codes_text(codes)}; {codes_text(base_codes)}"))

    if args.big_runs:
        count, size = 20, args.big_kib * 1024
        print(f"i. quiet install of {count} x {args.big_kib} KiB and a CopyFileA loop ...", file=sys.stderr)
        figures = bench.big_files(args.big_runs, count, size)
        (installs, codes), copies = figures["installer"], figures["copy"][0]
        lines.append(row(f"i. quiet install, {count} files of {args.big_kib} KiB: start to exit", installs))
        lines.append(row("   CopyFileA loop over the same files (winbench copy)", copies))
        lines.append(ratio_row("   installer / CopyFileA loop", installs, copies))
        lines.append(text_row("   exit codes of the installs", codes_text(codes)))

    if args.msi_runs:
        if not shutil.which("wixl"):
            lines.append(text_row("j. uninstall beside msiexec", "left out: no wixl (Debian package wixl)"))
        else:
            print(f"j. uninstall beside msiexec, {args.files} files ...", file=sys.stderr)
            figures = bench.uninstall_vs_msi(args.msi_runs, args.files)
            (uninstalls, codes), (msi_uninstalls, msi_codes) = figures["uninstall"], figures["msi uninstall"]
            lines.append(row(f"j. quiet uninstall, {args.files} files of 4 KiB: start to exit", uninstalls))
            lines.append(row("   msiexec /x {product} /qn, an MSI of the same files", msi_uninstalls))
            lines.append(ratio_row("   uninstall / msiexec /x", uninstalls, msi_uninstalls))
            lines.append(row("   their installs: quiet install", figures["install"][0]))
            lines.append(row("   msiexec /i /qn", figures["msi install"][0]))
            lines.append(text_row("   exit codes: uninstall; msiexec /x; /i",
                                  "; ".join(codes_text(figures[label][1])
                                            for label in ("uninstall", "msi uninstall", "msi install"))))

    if args.verify_runs:
        print(f"k. /verify beside its install, {args.files} files ...", file=sys.stderr)
        figures = bench.verify_vs_install(args.verify_runs, args.files)
        (verifies, codes), installs = figures["verify"], figures["install"][0]
        lines.append(row(f"k. /verify /quiet, {args.files} files of 4 KiB: start to exit", verifies))
        lines.append(row("   the quiet install it checks", installs))
        lines.append(ratio_row("   verify / install", verifies, installs))
        lines.append(text_row("   exit codes of /verify", codes_text(codes)))


if __name__ == "__main__":
    main()
