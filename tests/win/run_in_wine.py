#!/usr/bin/env python3
"""Runs a Windows program under Wine for the Windows-side tests.

The Wine side is the end-to-end tests' (tests/e2e/winehost.py): every run
works in its own throw-away copy of their base prefix (made once and kept
under E2E_WORK), with its own Xvfb display, its own wineserver and its own
short TMPDIR (Wine keeps its server socket below it; a short path keeps the
socket within the Unix limit), so runs neither see each other's registry
and files nor kill each other's processes. The copy's wineserver runs from
the start (wineserver -p) till the end, when it is killed (wineserver -k)
and the copy removed.

Started by root, the programs run as the user `nobody` (the copy is handed
over to that user): Unix permissions do not bind root, so under root Wine
lets programs write to read-only files, which Windows never does. Set
WIN_TEST_AS_ROOT=1 to run as root all the same.

Command line:
  run_in_wine.py [--timeout S] [--env NAME=VALUE]... [--keep] [--] program.exe [arguments...]
The exit code is the program's; 124 when it ran out of time.

As a module, `WineRun` gives the same life cycle to test scripts that need
to lay out files and start several programs in one prefix.
"""

import argparse
import contextlib
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import winehost  # noqa: E402

# Code page 1252 for the ANSI calls, whatever the build machine's locale.
WINE_ENV = dict(winehost.WINE_ENV, LANG="C.UTF-8", LC_ALL="C.UTF-8")
TIMED_OUT = 124


def run_as_ids():
    """(uid, gid) to run the Windows programs as, or None for the caller."""
    if os.geteuid() != 0 or os.environ.get("WIN_TEST_AS_ROOT") == "1":
        return None
    try:
        entry = pwd.getpwnam("nobody")
    except KeyError:
        return None
    return entry.pw_uid, entry.pw_gid


class WineRun:
    """One private prefix copy and X display for the life of a `with` block."""

    # C:\ paths map to Linux ones as in the end-to-end tests' host.
    drive_c = winehost.WineHost.drive_c
    unix_path = winehost.WineHost.unix_path

    def __init__(self, name="run", keep=False):
        self.keep = keep
        self.ids = run_as_ids()
        self.tmp = tempfile.mkdtemp(prefix="luw-")
        self.display = self.prefix = None
        try:
            self.display = winehost.Display()
            self.prefix = winehost.prefix_copy(name)
            self.give(self.prefix)
            self.give(self.tmp)
            # One server for the whole block: one that ends by itself between
            # two programs may be ending just as the next connects to it.
            subprocess.run(self.command(["wineserver", "-p"]), env=self.env(), check=True, timeout=30,
                           stdin=subprocess.DEVNULL)
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def give(self, path):
        """Hands a file tree the programs write to over to the user they run as."""
        if self.ids:
            subprocess.run(["chown", "-R", "-h", "%d:%d" % self.ids, path], check=True)

    def env(self, extra=None):
        env = {**os.environ, **WINE_ENV, "WINEPREFIX": self.prefix, "DISPLAY": self.display.name,
               **(extra or {}), "TMPDIR": self.tmp}
        if self.ids:
            env["HOME"] = self.tmp
        return env

    def command(self, args):
        if not self.ids:
            return list(args)
        uid, gid = self.ids
        return ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups", *args]

    def start(self, program, args=(), extra_env=None, cwd=None, stdout=None, stderr=None):
        """Starts `wine program args`; the Linux process is the Windows one."""
        return subprocess.Popen(self.command(["wine", program, *args]), env=self.env(extra_env), cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)

    def run(self, program, args=(), extra_env=None, cwd=None, timeout=120):
        """Runs the program to its end with its output passed through; returns
        its exit code, or TIMED_OUT after killing it."""
        command = self.command(["wine", program, *args])
        try:
            result = winehost._run_captured(command, self.env(extra_env), timeout, cwd, merged=True)
        except subprocess.TimeoutExpired as error:
            print(f"{error.output}run_in_wine: {program} did not end within {timeout} s", flush=True)
            return TIMED_OUT
        print(result.stdout, end="", flush=True)
        return result.returncode

    def close(self):
        if self.prefix:
            with contextlib.suppress(subprocess.TimeoutExpired, OSError):  # ends every process of the prefix
                subprocess.run(self.command(["wineserver", "-k"]), env=self.env(), timeout=30,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if self.keep:
                print(f"run_in_wine: prefix kept at {self.prefix}", flush=True)
            else:
                shutil.rmtree(self.prefix, ignore_errors=True)
        if self.display:
            self.display.stop()
        shutil.rmtree(self.tmp, ignore_errors=True)
        self.prefix = self.display = None


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--timeout", type=float, default=120, help="seconds before the program is killed")
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--keep", action="store_true", help="keep the prefix copy afterwards")
    parser.add_argument("program")
    parser.add_argument("args", nargs=argparse.REMAINDER)
    options = parser.parse_args(argv)
    extra = dict(item.split("=", 1) for item in options.env)
    started = time.monotonic()
    with WineRun(os.path.splitext(os.path.basename(options.program))[0], options.keep) as run:
        code = run.run(options.program, options.args, extra, timeout=options.timeout)
    print(f"run_in_wine: exit code {code} after {time.monotonic() - started:.1f} s", flush=True)
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
