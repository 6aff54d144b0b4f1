#!/usr/bin/env python3
"""Runs a Windows program under Wine for the Windows-side tests.

A base prefix is made once (wineboot -i under a private Xvfb) and kept; the
creation is guarded by a file lock, so parallel test runs wait for one
another instead of both building it. Every run then works in its own
throw-away copy of that prefix (system binaries hard-linked, everything else
copied), with its own Xvfb display and its own wineserver, so runs neither
see each other's registry and files nor kill each other's processes. At the
end the copy's wineserver is killed (wineserver -k) and the copy removed.

Started by root, the programs run as the user `nobody` (the copy is handed
over to that user): Unix permissions do not bind root, so under root Wine
lets programs write to read-only files, which Windows never does. Set
WIN_TEST_AS_ROOT=1 to run as root all the same.

Command line:
  run_in_wine.py [--prefix BASE] [--timeout S] [--env NAME=VALUE]... [--keep]
                 [--] program.exe [arguments...]
The exit code is the program's; 124 when it ran out of time.

As a module, `WineRun` gives the same life cycle to test scripts that need
to lay out files and start several programs in one prefix.
"""

import argparse
import contextlib
import fcntl
import glob
import os
import pwd
import select
import shutil
import subprocess
import sys
import tempfile
import time

WINE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    "WINEARCH": "win32",
    # Code page 1252 for the ANSI calls, whatever the build machine's locale.
    "LANG": "en_US.UTF-8",
    "LC_ALL": "en_US.UTF-8",
}
READY_STAMP = ".win-tests-ready"
TIMED_OUT = 124
# Files Wine only ever reads after wineboot; the copies share them by hard
# link, which makes a copy of the ~600 MB prefix take a fraction of a second.
SHARED_EXTENSIONS = {".dll", ".exe", ".drv", ".nls", ".vxd", ".ocx", ".cpl", ".acm", ".tlb", ".ax",
                     ".sys", ".mui", ".ttf", ".fon", ".ds", ".com", ".msstyles"}


def run_as_ids():
    """(uid, gid) to run the Windows programs as, or None for the caller."""
    if os.geteuid() != 0 or os.environ.get("WIN_TEST_AS_ROOT") == "1":
        return None
    try:
        entry = pwd.getpwnam("nobody")
    except KeyError:
        return None
    return entry.pw_uid, entry.pw_gid


def default_base_prefix():
    return os.environ.get("WIN_TEST_PREFIX") or os.path.join(tempfile.gettempdir(), "lu-wine-prefix-win")


class Display:
    """A private Xvfb on a free display number."""

    def __init__(self):
        read_end, write_end = os.pipe()
        # -noreset: the server keeps going unchanged when its last client
        # leaves, between one program and the next.
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        try:
            number = self._read_number(read_end)
        finally:
            os.close(read_end)
        if not number:
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    @staticmethod
    def _read_number(fd):
        """The display number, read up to its newline: Xvfb may write the
        digits and the newline separately and dies if the pipe is closed
        in between."""
        text = b""
        deadline = time.monotonic() + 20
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([fd], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(fd, 32) if ready else b""
            if not chunk:
                break
            text += chunk
        return text.decode().strip() if text.endswith(b"\n") else ""

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def wine_env(prefix, display, extra=None):
    env = dict(os.environ)
    env.update(WINE_ENV)
    env.update(WINEPREFIX=prefix, DISPLAY=display)
    env.update(extra or {})
    return env


def _wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=30).stdout.strip()


def _read(path):
    with open(path) as f:
        return f.read()


def _build_base(target):
    for stale in glob.glob(glob.escape(target) + ".tmp-*"):  # left by an interrupted build
        shutil.rmtree(stale, ignore_errors=True)
    staging = f"{target}.tmp-{os.getpid()}"
    display = Display()
    server_tmp = tempfile.mkdtemp(prefix="luw-")
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = wine_env(staging, display.name, {"TMPDIR": server_tmp})
    try:
        subprocess.run(["wineboot", "-i"], env=env, timeout=300, check=True, **quiet)
        for key, name, value in [
            (r"HKCU\Software\Wine\X11 Driver", "Managed", "N"),   # no 2 s waits without a window manager
            (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "0"),  # a crash ends the process quietly
        ]:
            subprocess.run(["wine", "reg", "add", key, "/v", name, "/d", value, "/f"], env=env, timeout=120,
                           check=True, **quiet)
    finally:
        with contextlib.suppress(subprocess.TimeoutExpired, OSError):
            subprocess.run(["wineserver", "-k"], env=env, timeout=30, **quiet)
        display.stop()
        shutil.rmtree(server_tmp, ignore_errors=True)
    with open(os.path.join(staging, READY_STAMP), "w") as stamp:
        stamp.write(_wine_version())
    shutil.rmtree(target, ignore_errors=True)
    os.rename(staging, target)


def ensure_base_prefix(base):
    """The prepared base prefix, made once; parallel callers wait on the lock."""
    base = os.path.abspath(base)
    os.makedirs(os.path.dirname(base), exist_ok=True)
    with open(base + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = os.path.join(base, READY_STAMP)
        if not (os.path.isfile(stamp) and _read(stamp) == _wine_version()):
            _build_base(base)
    return base


def clone_prefix(base, target):
    """Copies the prefix: symbolic links as links, system binaries hard-linked,
    all other files (registry, INI files, folders) copied."""
    for root, dirs, files in os.walk(base):
        rel = os.path.relpath(root, base)
        dst_root = os.path.normpath(os.path.join(target, rel))
        os.makedirs(dst_root, exist_ok=True)
        shutil.copystat(root, dst_root)
        for name in dirs + files:
            src = os.path.join(root, name)
            dst = os.path.join(dst_root, name)
            if os.path.islink(src):
                os.symlink(os.readlink(src), dst)
                if name in dirs:
                    dirs.remove(name)  # never walk into a linked folder (z: is the whole disk)
            elif name in files:
                if os.path.splitext(name)[1].lower() in SHARED_EXTENSIONS and rel.startswith("drive_c"):
                    os.link(src, dst)
                else:
                    shutil.copy2(src, dst)


class WineRun:
    """One private prefix copy and X display for the life of a `with` block."""

    def __init__(self, base=None, name="run", keep=False):
        self.base = ensure_base_prefix(base or default_base_prefix())
        runs = self.base + ".runs"
        os.makedirs(runs, exist_ok=True)
        self.folder = tempfile.mkdtemp(prefix=f"{name}-", dir=runs)
        self.prefix = os.path.join(self.folder, "prefix")
        # Wine keeps its server socket below TMPDIR; a short private folder
        # keeps the socket path within the Unix limit and is removed after.
        self.tmp = tempfile.mkdtemp(prefix="luw-")
        self.ids = run_as_ids()
        self.keep = keep
        self.display = None
        try:
            clone_prefix(self.base, self.prefix)
            self.give(self.folder)
            self.give(self.tmp)
            self.display = Display()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def give(self, path):
        """Hands a file tree the programs write to over to the user they run
        as. Hard-linked system files stay as they are: they belong to the base."""
        if not self.ids:
            return
        for root, dirs, files in os.walk(path):
            os.lchown(root, *self.ids)
            for name in dirs + files:
                full = os.path.join(root, name)
                info = os.lstat(full)
                if not (os.path.isfile(full) and not os.path.islink(full) and info.st_nlink > 1):
                    os.lchown(full, *self.ids)

    def env(self, extra=None):
        env = wine_env(self.prefix, self.display.name if self.display else "", extra)
        env["TMPDIR"] = self.tmp
        if self.ids:
            env["HOME"] = self.tmp
        return env

    def command(self, args):
        if not self.ids:
            return list(args)
        uid, gid = self.ids
        return ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups", *args]

    def windows_path(self, unix_path):
        """Z:\\ path of a Linux path (drive Z: is the root of the Linux file system)."""
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def drive_c(self, *parts):
        return os.path.join(self.prefix, "drive_c", *parts)

    def start(self, program, args=(), extra_env=None, cwd=None, stdout=None, stderr=None):
        """Starts `wine program args`; the Linux process is the Windows one."""
        return subprocess.Popen(self.command(["wine", program, *args]), env=self.env(extra_env), cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)

    def run(self, program, args=(), extra_env=None, cwd=None, timeout=120):
        """Runs the program to its end with its output passed through; returns
        its exit code, or TIMED_OUT after killing it."""
        # Output goes through files, not pipes: Wine's background processes
        # inherit the handles and would hold a pipe open after the program ends.
        with tempfile.TemporaryFile() as out:
            proc = self.start(program, args, extra_env, cwd, stdout=out, stderr=subprocess.STDOUT)
            try:
                code = proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                code = TIMED_OUT
            out.seek(0)
            sys.stdout.buffer.write(out.read())
            sys.stdout.flush()
        if code == TIMED_OUT:
            print(f"run_in_wine: {program} did not end within {timeout} s", flush=True)
        return code

    def kill(self):
        """Ends every process of the prefix. Never waits without a limit."""
        with contextlib.suppress(subprocess.TimeoutExpired, OSError):
            subprocess.run(self.command(["wineserver", "-k"]), env=self.env(), timeout=30,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        if os.path.isdir(self.prefix):
            self.kill()
        if self.display:
            self.display.stop()
            self.display = None
        shutil.rmtree(self.tmp, ignore_errors=True)
        if self.keep:
            print(f"run_in_wine: prefix kept at {self.prefix}", flush=True)
        else:
            shutil.rmtree(self.folder, ignore_errors=True)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--prefix", default=default_base_prefix(), help="base prefix folder")
    parser.add_argument("--timeout", type=float, default=120, help="seconds before the program is killed")
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE")
    parser.add_argument("--keep", action="store_true", help="keep the prefix copy afterwards")
    parser.add_argument("program")
    parser.add_argument("args", nargs=argparse.REMAINDER)
    options = parser.parse_args(argv)
    extra = dict(item.split("=", 1) for item in options.env)
    started = time.monotonic()
    with WineRun(options.prefix, os.path.splitext(os.path.basename(options.program))[0], options.keep) as run:
        code = run.run(options.program, options.args, extra, timeout=options.timeout)
    print(f"run_in_wine: exit code {code} after {time.monotonic() - started:.1f} s", flush=True)
    return code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
