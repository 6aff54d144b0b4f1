#!/usr/bin/env python3
"""Timings of the real installer under Wine. A benchmark, not a test: it
prints figures and never fails on time.

Run by hand from the source tree after a Windows build, with the
environment the end-to-end tests get:

  B=build/win
  LU_EXE=$B/LiveUpdateSetup.exe UIA_EXE=$B/tests/e2e/uia.exe \\
  LU_PAYLOAD=$B/tests/payload PROGMAN_SERVER_EXE=$B/tests/dde/progman_server.exe \\
  PROGMAN_CLIENT_EXE=$B/tests/dde/progman_client.exe E2E_WORK=$B/e2e \\
  python3 tests/bench/wine_bench.py

PROGMAN_CLIENT_EXE is optional: with it, the conversation alone is timed
too. Figures (medians; min and max beside them):

  a. start-up: from starting LiveUpdateSetup.exe to its Ready window
     (found by uia, which looks every 50 ms);
  b. a 2,000-file install: 2,000 small text files listed under
     FOLDER,SERVER and copied into the host folder, from the Install click
     to the completed window (Cancel reads Finish); the copying alone is
     timed by watching the host folder;
  c. what the Program Manager conversation adds: a one-file install with
     the shell's server, with our recording server (answers at once, does
     nothing), and with no server at all. Each look at the window costs
     one uia run (about 0.1 s), which bounds the resolution of the install
     figures; the conversation alone (progman_client) is timed inside
     Wine to the millisecond.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import winehost  # noqa: E402
from winehost import make_host_product, make_package, set_host_setting, start_menu_programs  # noqa: E402
from winehost import keep_desktop, wait_until  # noqa: E402

TITLE = "Install Vantrel Live Update"
HEADER = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110"
HOST = r"C:\Vantrel"
GROUP = "Vantrel - Ver 1.30"
TIMEOUT = 300  # seconds for anything to happen before the run is given up


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
        shutil.rmtree(os.path.join(start_menu_programs(self.host), GROUP), ignore_errors=True)

    def start_ready(self, exe, folder):
        process = self.host.start(exe, cwd=self.host.unix_path(folder))
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

    def finish(self, process):
        self.host.click(TITLE, "Finish")
        process.wait(30)

    # ---- a. start-up

    def startup(self, runs):
        self.fresh_host_product()
        folder = r"C:\bench\startup"
        exe = make_package(self.host, folder, HEADER + "\n")
        times = []
        for _ in range(runs):
            self.host.kill_programs()
            started = time.monotonic()
            process = self.start_ready(exe, folder)
            times.append(time.monotonic() - started)
            self.host.click(TITLE, "Cancel")
            process.wait(30)
        return times

    # ---- b. many files

    def many_files(self, runs, count):
        names = [f"F{i:04d}.TXT" for i in range(count)]
        body = "START\nFOLDER,SERVER\n" + "".join(
            "FILE," + ",".join(names[i:i + 25]) + "\n" for i in range(0, count, 25)) + "END\n"
        folder = r"C:\bench\files"
        exe = make_package(self.host, folder, HEADER + "\n" + body,
                           {name: f"file {name}\r\n".encode() * 4 for name in names})
        totals, copying = [], []
        for _ in range(runs):
            self.fresh_host_product()
            first, last = (self.host.unix_path(HOST + "\\" + name) for name in (names[0], names[-1]))
            process = self.start_ready(exe, folder)
            started = time.monotonic()
            self.host.click(TITLE, "Install")
            wait_until(lambda: os.path.exists(first), TIMEOUT, 0.01)
            copy_started = time.monotonic()
            # The window is not looked at while the files are copied: it
            # does not answer then, and each look would wait for it.
            if not wait_until(lambda: os.path.exists(last), TIMEOUT, 0.01):
                raise RuntimeError("the last file was not copied")
            copying.append(time.monotonic() - copy_started)
            totals.append(self.wait_completed(process) - started)
            self.close_shell_windows(wait_for_one=True)
            self.finish(process)
        return totals, copying

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
            process = self.start_ready(exe, folder)
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--startup-runs", type=int, default=7)
    parser.add_argument("--files-runs", type=int, default=3)
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--progman-runs", type=int, default=5)
    args = parser.parse_args()
    for variable in ("LU_EXE", "UIA_EXE", "PROGMAN_SERVER_EXE"):
        winehost.required_file(variable)
    if os.environ.get("E2E_WORK"):
        os.environ["E2E_WORK"] = os.path.abspath(os.environ["E2E_WORK"])  # Wine wants absolute prefixes
    if not os.path.isdir(os.environ.get("LU_PAYLOAD", "")):
        raise RuntimeError("LU_PAYLOAD must name the folder of the built payload files")

    lines = []
    with winehost.WineHost("bench") as host:
        keeper = keep_desktop(host)
        try:
            bench = Bench(host)
            print("a. start-up ...", file=sys.stderr)
            lines.append(row("a. start to Ready window", bench.startup(args.startup_runs)))
            print(f"b. {args.files} files ...", file=sys.stderr)
            totals, copying = bench.many_files(args.files_runs, args.files)
            lines.append(row(f"b. {args.files}-file install: Install to completed", totals))
            lines.append(row("   of which copying (first to last file)", copying))
            print("c. Program Manager ...", file=sys.stderr)
            shell = bench.one_file_install(args.progman_runs)
            recording = bench.one_file_install(args.progman_runs, [])
            lines.append(row("c. one-file install, the shell's server", shell))
            lines.append(row("   one-file install, a server that answers at once", recording))
            lines.append(row("   conversation alone (progman_client), the shell's server",
                             bench.conversation(args.progman_runs)))
        finally:
            keeper.kill()
    outcome, alone = no_server(args.progman_runs)
    lines.append(row("   conversation alone (progman_client), no server", alone))
    lines.append(f"  one-file install without a shell (explorer.exe disabled): {outcome}")

    print(f"\nLiveUpdateSetup.exe under {winehost._wine_version()}, Xvfb:")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
