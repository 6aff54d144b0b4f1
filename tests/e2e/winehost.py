"""Wine and Xvfb harness for the end-to-end tests (standard library only).

A WineHost owns one X display and one Wine prefix for the life of a test
file. The prefix is a copy of a base prefix that is made once and cached
under E2E_WORK; the copy's wineserver is kept running for speed. The host
starts Windows programs, drives their windows through our `uia` tool, reads
and writes the registry, maps paths between Windows and Linux and takes
screenshots; close() ends everything it started, whatever happened.

Environment:
  LU_EXE            the installer under test (LiveUpdateSetup.exe)
  LUCHECK_EXE       the package checker (lucheck.exe), which harvests the packages' class data
  UIA_EXE           the UI-automation tool (uia.exe)
  E2E_WORK          work and cache folder (default: /tmp/lu-e2e)
  E2E_USE_DISPLAY=1 use $DISPLAY instead of starting Xvfb
  E2E_KEEP=1        keep the prefix copy after the run, for inspection
"""

import contextlib
import ctypes
import fcntl
import glob
import hashlib
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

WINE_ENV = {
    "WINEDEBUG": "-all",
    "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
    "WINEARCH": "win32",
}
BASE_STAMP = ".e2e-base-ready"
BASE_RECIPE = "3"  # bump when the base prefix is prepared differently
SCREEN = "1024x768x24"
SERVER_LINGER_S = 120

# uia's exit codes
UIA_OK, UIA_USAGE, UIA_NOT_FOUND, UIA_NO_CONTROL, UIA_FAILED = range(5)


def work_dir():
    path = os.environ.get("E2E_WORK") or os.path.join(tempfile.gettempdir(), "lu-e2e")
    os.makedirs(path, exist_ok=True)
    return path


def required_file(variable):
    path = os.environ.get(variable)
    if not path or not os.path.isfile(path):
        raise RuntimeError(f"{variable} must name an existing file (got {path!r})")
    return os.path.abspath(path)


def strip_access_keys(text):
    """'C&ancel' -> 'Cancel', '&&' -> '&'."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "&" and i + 1 < len(text):
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


# ---- X display ---------------------------------------------------------------


def _end_with_parent():
    """Runs in the child before exec: the child gets SIGTERM when the test
    process dies, even by SIGKILL (Linux prctl PR_SET_PDEATHSIG)."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)


class Display:
    """An Xvfb server on a free display number, or the caller's $DISPLAY."""

    def __init__(self):
        self.proc = None
        self.number_pipe = None
        if os.environ.get("E2E_USE_DISPLAY") == "1":
            self.name = os.environ["DISPLAY"]
            return
        # Xvfb picks a free display and writes its number to the pipe. It
        # writes the newline separately and dies if that write fails, so the
        # pipe stays open for the server's life.
        self.number_pipe, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN, "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=_end_with_parent)
        os.close(write_end)
        self.name = ":" + self._read_number()

    def _read_number(self):
        text, deadline = b"", time.monotonic() + 15
        while not text.endswith(b"\n") and time.monotonic() < deadline:
            ready, _, _ = select.select([self.number_pipe], [], [], max(0.0, deadline - time.monotonic()))
            chunk = os.read(self.number_pipe, 32) if ready else b""
            if not chunk:
                break
            text += chunk
        if not text.endswith(b"\n"):
            self.stop()
            raise RuntimeError("Xvfb did not start")
        return text.decode().strip()

    def screenshot(self, png_path):
        subprocess.run(["import", "-display", self.name, "-window", "root", png_path],
                       check=True, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pixels(self):
        """The screen as it is now."""
        ppm = subprocess.run(["import", "-display", self.name, "-window", "root", "-depth", "8", "ppm:-"], check=True,
                             timeout=30, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        return Screen(ppm)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self.number_pipe is not None:
            os.close(self.number_pipe)
        self.proc = self.number_pipe = None


# ---- Base prefix -----------------------------------------------------------------


def _read_text(path):
    with open(path) as f:
        return f.read()


def _wine_version():
    return subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()


def _forget_server_folder(prefix):
    """Debian's Wine records a prefix's private server folder in the prefix;
    a copy must make its own."""
    with contextlib.suppress(FileNotFoundError):
        os.remove(os.path.join(prefix, "wineserver"))


def _base_identity():
    """What a cached base prefix must match to be reused."""
    return f"{_wine_version()} recipe {BASE_RECIPE}"


def _run_in_prefix(prefix, display, args, timeout):
    env = dict(os.environ, WINEPREFIX=prefix, DISPLAY=display, **WINE_ENV)
    return subprocess.run(args, env=env, timeout=timeout, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def _build_base_prefix(target):
    for stale in glob.glob(glob.escape(target) + ".tmp-*"):  # left by an interrupted build
        shutil.rmtree(stale, ignore_errors=True)
    staging = f"{target}.tmp-{os.getpid()}"
    display = Display()
    try:
        _run_in_prefix(staging, display.name, ["wineboot", "-i"], timeout=180).check_returncode()
        for key, name, value in [
            (r"HKCU\Software\Wine\X11 Driver", "Managed", "N"),  # no 2 s waits without a window manager
            (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "0"),  # a crash ends the process quietly
        ]:
            _run_in_prefix(staging, display.name, ["wine", "reg", "add", key, "/v", name, "/d", value, "/f"],
                           timeout=60).check_returncode()
    finally:
        _run_in_prefix(staging, display.name, ["wineserver", "-k"], timeout=30)
        display.stop()
    _forget_server_folder(staging)
    _install_wine_fonts(staging)
    with open(os.path.join(staging, BASE_STAMP), "w") as stamp:
        stamp.write(_base_identity())
    shutil.rmtree(target, ignore_errors=True)
    os.rename(staging, target)


def _install_wine_fonts(prefix):
    """Debian's Wine does not find the fonts of its fonts-wine package on its
    own; copied into the prefix they give the windows their standard faces
    (MS Sans Serif, Tahoma) instead of a wider fallback."""
    source = "/usr/share/wine/fonts"
    target = os.path.join(prefix, "drive_c", "windows", "Fonts")
    if os.path.isdir(source):
        os.makedirs(target, exist_ok=True)
        for name in os.listdir(source):
            shutil.copy2(os.path.join(source, name), target)


def base_prefix():
    """The cached, prepared prefix; built once, under a lock that parallel
    test processes share."""
    target = os.path.join(work_dir(), "base-prefix")
    with open(target + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = os.path.join(target, BASE_STAMP)
        if not (os.path.isfile(stamp) and _read_text(stamp) == _base_identity()):
            _build_base_prefix(target)
    return target


def prefix_copy(name):
    """A new copy of the base prefix in the work folder, its name starting
    with `name`."""
    base = base_prefix()
    prefix = tempfile.mkdtemp(prefix=f"{name}-", dir=work_dir())
    os.rmdir(prefix)
    try:
        subprocess.run(["cp", "-a", base, prefix], check=True)
    except BaseException:
        shutil.rmtree(prefix, ignore_errors=True)
        raise
    _forget_server_folder(prefix)
    return prefix


# ---- Windows processes and windows ----------------------------------------------------


def _run_captured(args, env, timeout, cwd=None, merged=False):
    """subprocess.run with the output captured in files, not pipes: Wine's
    background processes (explorer, services) inherit the output handles of
    the program that started them and would hold a pipe open forever.
    merged: the error output goes into the output, in order. A program out
    of time is killed; the TimeoutExpired carries its output so far."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(args, env=env, cwd=cwd, stdout=out, stderr=subprocess.STDOUT if merged else err,
                                stdin=subprocess.DEVNULL)
        try:
            returncode = proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            returncode = None
        out.seek(0)
        err.seek(0)
        output, errors = out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")
        if returncode is None:
            raise subprocess.TimeoutExpired(args, timeout, output, errors)
        return subprocess.CompletedProcess(args, returncode, output, errors)


class WinProcess:
    """A Windows program started with `wine`; the Linux process is the
    Windows process, so its end and exit code are the program's. Started
    through `uia run` (exit_file), its Windows parent reports the full
    32-bit exit code, of which wine hands the shell only the low 8 bits."""

    def __init__(self, popen, name, exit_file=None, host=None):
        self.popen = popen
        self.name = name
        self.exit_file = exit_file
        self.host = host

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """The exit code; TimeoutError if the program is still running."""
        try:
            code = self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TimeoutError(f"{self.name} still running after {timeout} s") from None
        if self.exit_file is None:
            return code
        self.exit_file.seek(0)
        text = self.exit_file.read().decode().strip()
        if code != 0 or not text:
            raise RuntimeError(f"uia run {self.name} failed ({code}): {text!r}")
        return int(text)

    def kill(self):
        if self.running():
            self.popen.kill()
            self.popen.wait()
        if self.exit_file is not None and self.host and self.host.prefix:
            # The program is a child of the Windows parent, not of this process.
            self.host.run("taskkill", "/f", "/im", self.name, timeout=30)


class Screen:
    """A screen image read from binary PPM: pixel colours by position."""

    def __init__(self, ppm):
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", ppm)  # one whitespace byte ends the header
        if not header:
            raise ValueError("not an 8-bit binary PPM image")
        self.width, self.height = int(header[1]), int(header[2])
        self.data = ppm[header.end():]

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])


class Window:
    """A snapshot of a top-level window and its controls, as `uia dump`
    reports them."""

    def __init__(self, data):
        self.data = data
        self.controls = data["controls"]

    def __getitem__(self, key):
        return self.data[key]

    def find(self, text=None, cls=None):
        """Controls whose text (with or without '&' markers) and class match."""
        found = []
        for control in self.controls:
            if cls is not None and control["class"].lower() != cls.lower():
                continue
            if text is not None and text not in (control["text"], strip_access_keys(control["text"])):
                continue
            found.append(control)
        return found

    def control(self, text=None, cls=None):
        found = self.find(text, cls)
        if len(found) != 1:
            raise LookupError(f"expected one control text={text!r} class={cls!r}, found {len(found)}: "
                              + ", ".join(repr(c["text"]) for c in self.controls))
        return found[0]

    def focused(self):
        return next((c for c in self.controls if c["focused"]), None)

    def texts(self, cls=None):
        return [c["text"] for c in self.controls if cls is None or c["class"].lower() == cls.lower()]


class UiaError(RuntimeError):
    def __init__(self, args, result):
        super().__init__(f"uia {' '.join(args)} failed with {result.returncode}: {result.stderr.strip()}")
        self.returncode = result.returncode


# ---- The host ------------------------------------------------------------------------


class WineHost:
    """One display and one prefix copy. Use as a context manager."""

    def __init__(self, name):
        self.name = name
        self.uia_exe = required_file("UIA_EXE")
        self.display = None
        self.prefix = None
        self.env = None
        self.processes = []
        signal.signal(signal.SIGTERM, self._on_terminate)
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    def _on_terminate(self, signum, _frame):
        self.close()
        os._exit(128 + signum)

    def _start(self):
        self.display = Display()
        self.prefix = prefix_copy(self.name)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=self.display.name, **WINE_ENV)
        # Kept running between programs; should this process die without
        # cleaning up, the server still goes a while after its last client.
        subprocess.run(["wineserver", f"-p{SERVER_LINGER_S}"], env=self.env, check=True, timeout=30)
        self.list_windows()  # brings up the prefix's desktop and services once

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self.kill_programs()
        if self.prefix and os.path.isdir(self.prefix):
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if os.environ.get("E2E_KEEP") != "1":
                shutil.rmtree(self.prefix, ignore_errors=True)
        if self.display:
            self.display.stop()
        self.prefix = self.display = None

    # ---- paths

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def unix_path(self, win_path):
        """C:\\A\\b.txt -> <prefix>/drive_c/A/b.txt; another drive through
        its mapping in the prefix's dosdevices (see map_drive)."""
        drive, rest = win_path[:2], win_path[2:]
        if drive.upper() == "C:":
            root = self.drive_c
        else:
            root = os.path.join(self.prefix, "dosdevices", drive.lower())
            if not (re.fullmatch(r"[a-zA-Z]:", drive) and os.path.isdir(root)):
                raise ValueError(f"not on a mapped drive: {win_path}")
        return os.path.join(root, *[part for part in rest.split("\\") if part])

    def map_drive(self, letter, unix_folder):
        """Makes `unix_folder` the drive `letter` (e.g. "D:") for the
        programs of the prefix, as winecfg does: a link in dosdevices."""
        os.symlink(os.path.abspath(unix_folder), os.path.join(self.prefix, "dosdevices", letter.lower()))

    def win_path(self, unix_path):
        """<prefix>/drive_c/A/b.txt -> C:\\A\\b.txt; other paths go through Z:."""
        unix_path = os.path.abspath(unix_path)
        relative = os.path.relpath(unix_path, self.drive_c)
        if relative == ".":
            return "C:\\"
        if not relative.startswith(".."):
            return "C:\\" + relative.replace("/", "\\")
        return "Z:" + unix_path.replace("/", "\\")

    # ---- programs

    def start(self, program, *args, cwd=None, full_exit_code=False):
        """Starts a Windows program (Windows or Linux path) without waiting;
        with full_exit_code, through `uia run`, so that wait() gives its
        whole exit code."""
        exit_file = tempfile.TemporaryFile() if full_exit_code else None
        command = ["wine", self.uia_exe, "run", program, *args] if full_exit_code else ["wine", program, *args]
        popen = subprocess.Popen(command, env=self.env, cwd=cwd, stdout=exit_file or subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        process = WinProcess(popen, re.split(r"[\\/]", program)[-1], exit_file, self)
        self.processes.append(process)
        return process

    def run(self, program, *args, timeout=60, cwd=None):
        """Runs a Windows program to its end; returns the CompletedProcess
        with its output as text."""
        return _run_captured(["wine", program, *args], self.env, timeout, cwd)

    def run_tracing_starts(self, program, *args, timeout=120):
        """Runs a Windows program to its end under Wine's process trace;
        returns its full exit code (read by uia) and the command line of
        every program started meanwhile (the program itself, and Wine's own
        services when they start, included)."""
        env = dict(self.env, WINEDEBUG="-all,+process")
        result = _run_captured(["wine", self.uia_exe, "run", program, *args], env, timeout)
        code = int(result.stdout.strip().splitlines()[-1])
        starts = re.findall(r"CreateProcessInternalW app .* cmdline (.*)", result.stderr)
        name = re.split(r"[\\/]", program)[-1].lower()
        if not any(name in start.lower() for start in starts):  # a trace that shows nothing proves nothing
            raise RuntimeError(f"Wine's process trace does not show {program} starting")
        return code, starts

    def linux_pids(self, exe_name):
        """The Linux processes of this prefix's programs named `exe_name`
        (any case). Wine shows a Windows program's command line as the
        process's own, its Windows path first."""
        pids = []
        marker = ("WINEPREFIX=" + self.prefix).encode()
        for entry in os.listdir("/proc"):
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if marker not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    program = f.read().split(b"\0")[0].decode("utf-8", "replace").strip()
            except OSError:
                continue
            if re.split(r"[\\/]", program)[-1].lower() == exe_name.lower():
                pids.append(int(entry))
        return pids

    @contextlib.contextmanager
    def held(self, pids, timeout=10):
        """Holds these processes still for the life of the block: every
        thread of theirs is stopped before the block begins, so that they
        change nothing meanwhile and whatever is sent to their windows waits
        in their queues; they go on after it, unless the block killed them."""
        for pid in pids:
            os.kill(pid, signal.SIGSTOP)
        try:
            def stopped(pid):
                for stat in glob.glob(f"/proc/{pid}/task/*/stat"):
                    try:
                        if _read_text(stat).rsplit(")", 1)[1].split()[0] not in "tT":
                            return False
                    except OSError:
                        pass  # a thread that has ended
                return True
            if not wait_until(lambda: all(stopped(pid) for pid in pids), timeout, 0.01):
                raise RuntimeError(f"processes {pids} did not stop")
            yield
        finally:
            for pid in pids:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(pid, signal.SIGCONT)

    def restart(self):
        """Carries out what waits for the next restart, as Windows would:
        the pending renames (WININIT.INI's too), then the machine's RunOnce
        commands, each waited for. Programs that run stay running."""
        self.run("wineboot", "-r", timeout=120)

    def kill_programs(self):
        """Ends every program this host started that still runs."""
        for process in self.processes:
            process.kill()
        self.processes = []

    # ---- uia

    def uia(self, *args, check=True, timeout=60):
        result = _run_captured(["wine", self.uia_exe, *args], self.env, timeout)
        if check and result.returncode != UIA_OK:
            raise UiaError(args, result)
        return result

    def list_windows(self, hidden=False):
        """Top-level windows: hwnd, pid, class, title, visible; the hidden
        ones too when asked."""
        windows = json.loads(self.uia("list").stdout)
        return windows if hidden else [w for w in windows if w["visible"]]

    def wait_window(self, title, timeout_ms=10000):
        """The window's handle; UiaError when it does not appear in time."""
        return self.uia("wait", title, str(timeout_ms)).stdout.strip()

    def wait_gone(self, title, timeout_ms=10000):
        return self.uia("wait-gone", title, str(timeout_ms), check=False).returncode == UIA_OK

    def dump(self, title, timeout_ms=10000):
        return Window(json.loads(self.uia("dump", title, str(timeout_ms)).stdout))

    def click(self, title, caption):
        self.uia("click", title, caption)

    def type_text(self, title, text):
        self.uia("type", title, text)

    def key(self, title, keys):
        self.uia("key", title, keys)

    def close_window(self, title):
        self.uia("close", title)

    def ping(self, title, interval_ms=50, max_ms=60000):
        """Sends the window WM_NULL every interval_ms until it is gone or
        max_ms have passed. Returns the samples [t_ms, answer_ms,
        progress_pos, progress_max, progress_visible] (pos and max None
        without a progress bar or an answer). Blocks meanwhile: run it in a
        thread to drive the window at the same time."""
        result = self.uia("ping", title, str(interval_ms), str(max_ms), timeout=max_ms / 1000 + 30)
        return json.loads(result.stdout)["samples"]

    def run_for_exit_code(self, program, *args, timeout=60):
        """Runs a Windows program to its end from a Windows parent; its full
        32-bit exit code (wine hands the shell only the low 8 bits)."""
        return int(self.uia("run", program, *args, timeout=timeout).stdout)

    def rename(self, source, target, tries=1, interval_ms=10):
        """Renames a file or folder from a Windows program (MoveFile), as a
        user could, trying up to `tries` times until it works: {"renamed",
        "tries", "errors": the distinct Windows error codes of the failed
        tries}."""
        return json.loads(self.uia("rename", source, target, str(tries), str(interval_ms),
                                   timeout=tries * interval_ms / 1000 + 30).stdout)

    def run_watched(self, program, *args, max_ms=60000):
        """Starts a Windows program from a Windows parent and watches it until
        it ends or max_ms have passed: {"visible": titles of its visible
        top-level windows seen, "exit": exit code or None while it runs,
        "pid": its Windows pid}. A program still running is left running."""
        return json.loads(self.uia("watch-run", str(max_ms), program, *args, timeout=max_ms / 1000 + 30).stdout)

    # ---- registry

    def reg_add(self, key, name, value, kind="REG_SZ"):
        result = self.run("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f")
        if result.returncode != 0:
            raise RuntimeError(f"reg add {key} {name} failed: {result.stderr.strip()}")

    def reg_delete(self, key, name=None):
        """Deletes a value, or the whole key when no name is given; a
        missing key or value is no error."""
        self.run("reg", "delete", key, *(["/v", name] if name else []), "/f")

    def reg_query(self, key, name):
        """The value's data as `reg query` prints it (spaces kept), or None
        if absent. reg prints "    <name>    <type>    <data>"."""
        result = self.run("reg", "query", key, "/v", name)
        if result.returncode != 0:
            return None
        head = f"    {name}    ".lower()
        for line in result.stdout.splitlines():
            if line.lower().startswith(head):
                _kind, _, data = line[len(head):].partition("    ")
                return data
        return None

    def set_dpi(self, dpi):
        """The screen DPI that programs started from now on see; None for Wine's default (96)."""
        if dpi is None:
            self.reg_delete(r"HKCU\Control Panel\Desktop", "LogPixels")
        else:
            self.reg_add(r"HKCU\Control Panel\Desktop", "LogPixels", str(dpi), "REG_DWORD")

    def set_windows_version(self, exe_name, version):
        """Makes the system report `version` (e.g. win95) to that program."""
        self.reg_add(rf"HKCU\Software\Wine\AppDefaults\{exe_name}", "Version", version)

    # ---- screen

    def screenshot(self, png_path):
        self.display.screenshot(png_path)

    def pixels(self):
        return self.display.pixels()


# ---- Fixtures ----------------------------------------------------------------------------


def write_ansi(path, text):
    """Writes text in the ANSI code page with CRLF line ends, as the
    product's files are written on Windows."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.replace("\r\n", "\n").replace("\n", "\r\n").encode("cp1252"))


def payload(name):
    """A built payload fixture (TVKCOM.dll, TvkUpdt.exe or TVKTYPES.TLB) from
    the folder named by LU_PAYLOAD."""
    with open(os.path.join(os.environ["LU_PAYLOAD"], name), "rb") as f:
        return f.read()


def make_package(host, folder, update_lst, files=None, class_data=True):
    """Lays out an installer folder: LiveUpdateSetup.exe, UPDATE.LST with the
    given text (None: no UPDATE.LST at all) and payload files {name: bytes}.
    With class_data, CLASSES.TXT holds the harvested registrations of the
    listed libraries and servers that register (as a package author's
    release has);
    without, the package is an older one that registers by running them.
    `folder` is a Windows path; returns the installer's Windows path."""
    unix_folder = host.unix_path(folder)
    shutil.rmtree(unix_folder, ignore_errors=True)
    os.makedirs(unix_folder)
    shutil.copy(required_file("LU_EXE"), os.path.join(unix_folder, "LiveUpdateSetup.exe"))
    if update_lst is not None:
        write_ansi(os.path.join(unix_folder, "UPDATE.LST"), update_lst)
    for name, data in (files or {}).items():
        with open(os.path.join(unix_folder, name), "wb") as f:
            f.write(data)
    listed = set(re.findall(r"[^,\s]+", (update_lst or "").upper()))
    sections = [harvested(host, name, files) for name in (files or {})
                if class_data and name.upper() in listed and name.upper().endswith((".DLL", ".OCX", ".EXE"))]
    if any(sections):
        with open(os.path.join(unix_folder, "CLASSES.TXT"), "w", encoding="cp1252", newline="\r\n") as f:
            f.write("".join(sections))
    return folder.rstrip("\\") + "\\LiveUpdateSetup.exe"


def harvested(host, name, files):
    """The CLASSES.TXT section that `lucheck --harvest` writes for the
    library or server `name` among the package's `files` (which it may need
    to load); empty when it cannot be harvested (no DllRegisterServer, or a
    registration that fails). Kept under E2E_WORK by name and content, which
    is all that the harvest of a file that loads depends on."""
    data = files[name]
    cache = os.path.join(work_dir(), "harvested")
    os.makedirs(cache, exist_ok=True)
    kept = os.path.join(cache, f"{name.upper()}-{hashlib.sha256(data).hexdigest()}.txt")
    if os.path.exists(kept):
        with open(kept, encoding="cp1252") as f:
            return f.read()
    package = host.unix_path(r"C:\harvest-" + name.upper())
    shutil.rmtree(package, ignore_errors=True)
    os.makedirs(package)
    for other, content in files.items():
        with open(os.path.join(package, other), "wb") as f:
            f.write(content)
    write_ansi(os.path.join(package, "UPDATE.LST"), f"Vantrel,W130,W131,W120,W140,\nSTART\nFOLDER,SERVER\nFILE,{name}\nEND\n")
    host.run(required_file("LUCHECK_EXE"), "--harvest", host.win_path(package), timeout=120)
    section = ""
    if os.path.exists(os.path.join(package, "CLASSES.TXT")):
        with open(os.path.join(package, "CLASSES.TXT"), encoding="cp1252") as f:
            section = "".join(line + "\n" for line in f.read().splitlines() if not line.startswith("#"))
    shutil.rmtree(package, ignore_errors=True)
    with open(kept + ".part", "w", encoding="cp1252") as f:
        f.write(section)
    os.replace(kept + ".part", kept)
    return section


def class_id(name):
    """The CLSID the payload fixtures register under the file name `name`
    (tests/payload/class_keys.h)."""
    value = 2166136261
    for byte in name.upper().encode("cp1252"):
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return f"{{5A1D3B2E-7C41-4F0B-9E61-0000{value:08X}}}"


def class_keys(name):
    """The keys a payload fixture's registration writes: its class and its ProgID."""
    return [rf"HKCR\CLSID\{class_id(name)}", rf"HKCR\Vantrel.{name.split('.')[0]}"]


def registration(host, name):
    """What registering the payload fixture `name` left: "DllRegisterServer
    <path>" for a library's class, "/RegServer <path>" for a program's;
    None when its class is not there (or its ProgID is missing)."""
    if reg_query_default(host, class_keys(name)[1] + r"\CLSID") != class_id(name):
        return None
    for server, how in (("InprocServer32", "DllRegisterServer"), ("LocalServer32", "/RegServer")):
        path = reg_query_default(host, rf"{class_keys(name)[0]}\{server}")
        if path:
            return f"{how} {path}"
    return None


def fixture_classes(host):
    """Every key the payload fixtures' registrations wrote, whatever their
    names, with its values' lines: {key: [lines]}."""
    classes, key = {}, None
    for line in host.run("reg", "query", "HKCR", "/s", timeout=120).stdout.splitlines():
        if line.startswith("HKEY_"):
            ours = line.upper().startswith((r"HKEY_CLASSES_ROOT\CLSID\{5A1D3B2E-", r"HKEY_CLASSES_ROOT\VANTREL."))
            key = line if ours else None
            if key:
                classes[key] = []
        elif key and line.startswith("    "):
            classes[key].append(line)
    return classes


# The names the tests install the payload fixtures under.
PAYLOAD_NAMES = ("TVKCOM.DLL", "TVKUPDT.EXE", "TVKSYS.DLL", "TVKNEED.DLL", "TVKOLD.DLL", "TVKFAIL.DLL", "TVKBAD.EXE",
                 "BIG.DLL", "X.DLL", "TVKOWN.DLL")


def forget_registrations(host, names=PAYLOAD_NAMES):
    for name in names:
        for key in class_keys(name):
            host.reg_delete(key)


HOST_SETTING_KEY = r"HKCU\Software\Vantrel\Setup"
# Where the installer keeps its record and entry.
RECORD_FOLDER = r"C:\Program Files\Vantrel Live Update"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantrel Live Update"
RUN_ONCE = r"HKLM\Software\Microsoft\Windows\CurrentVersion\RunOnce"


def make_host_product(host, folder=r"C:\Vantrel", version="1.30", ini_text=None):
    """Lays out the host product: <folder>\\Sys\\TOVASK.INI with
    [Tovask] Ver=<version> (or the given INI text; None for neither)."""
    unix_folder = host.unix_path(folder)
    shutil.rmtree(unix_folder, ignore_errors=True)
    os.makedirs(os.path.join(unix_folder, "Sys"))
    if ini_text is None and version is not None:
        ini_text = f"[Tovask]\nVer={version}\n"
    if ini_text is not None:
        write_ansi(os.path.join(unix_folder, "Sys", "TOVASK.INI"), ini_text)
    return folder


def set_host_setting(host, cs_path, sid=None):
    """The host product's per-user setting CS_Path, of the current user or
    in the hive of the user `sid` under HKEY_USERS (created as need be);
    None removes it."""
    key = HOST_SETTING_KEY if sid is None else rf"HKU\{sid}\Software\Vantrel\Setup"
    if cs_path is None:
        host.reg_delete(key, "CS_Path")
    else:
        host.reg_add(key, "CS_Path", cs_path)


PROFILE_LIST_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\ProfileList"


def add_profile(host, sid, folder, cs_path):
    """Lists a profile whose hive is not loaded: `folder` (written with
    %SystemDrive%, as the profile list may hold it) in the profile list, and
    its NTUSER.DAT with the host setting CS_Path (None: no hive file). Wine
    loads hives in its own text format, the one its registry files use.
    Returns the profile list's key for the profile."""
    unix_folder = host.unix_path(folder)
    os.makedirs(unix_folder, exist_ok=True)
    if cs_path is not None:
        escaped = cs_path.replace("\\", "\\\\")
        with open(os.path.join(unix_folder, "NTUSER.DAT"), "w") as f:
            f.write(f'WINE REGISTRY Version 2\n\n[Software\\\\Vantrel\\\\Setup] 0\n"CS_Path"="{escaped}"\n')
    key = rf"{PROFILE_LIST_KEY}\{sid}"
    host.reg_add(key, "ProfileImagePath", "%SystemDrive%" + folder[2:], "REG_EXPAND_SZ")
    return key


def reg_query_default(host, key):
    """The data of the key's default value, or None when the key or its
    default value is absent."""
    result = host.run("reg", "query", key, "/ve")
    if result.returncode != 0:
        return None
    head = "    (default)    "
    for line in result.stdout.splitlines():
        if line.lower().startswith(head):
            _kind, _, data = line[len(head):].partition("    ")
            return None if data == "(value not set)" else data
    return None


@contextlib.contextmanager
def file_held_open(host, win_path, timeout=30):
    """Keeps a file open for writing in another Windows program for the
    life of the block, the way a program that uses the file would: `cmd`
    runs `pause` with its error output appended to the file, and pause
    waits on a pipe that stays open until the block ends. Whoever asks Wine
    for sole access to the file meanwhile is refused; reading it still
    works. (The read-only attribute can't serve here: Wine keeps it in the
    permission bits, which do not stop a test that runs as root.)
    `win_path` must not contain spaces or quotes, which do not survive
    wine's command line."""
    if any(c in win_path for c in ' "'):
        raise ValueError(f"no spaces or quotes in the path: {win_path}")
    holder = subprocess.Popen(["wine", "cmd", "/c", f"pause 2>>{win_path}"], env=host.env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              start_new_session=True)
    try:
        # pause prints its prompt once its redirection is in place. (Wine's
        # cmd does not keep a redirection of a bracketed block open.)
        ready, _, _ = select.select([holder.stdout], [], [], timeout)
        if not ready or not os.read(holder.stdout.fileno(), 256):
            raise RuntimeError(f"cmd did not open {win_path}")
        yield
    finally:
        holder.kill()
        holder.wait()
        holder.stdin.close()
        holder.stdout.close()


@contextlib.contextmanager
def held_by_program(host, kind, name, timeout=30):
    """Holds a file open with no sharing at all (kind "file": whoever else
    opens it, even to read it or to rename it, is refused) or a mutex of the
    given name (kind "mutex", made as any program makes one) in another
    Windows program, `uia hold`, for the life of the block. The holder has
    ended, and let go, when the block ends."""
    holder = subprocess.Popen(["wine", host.uia_exe, "hold", kind, name], env=host.env, stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        ready, _, _ = select.select([holder.stdout], [], [], timeout)
        if not ready or not os.read(holder.stdout.fileno(), 256).startswith(b"held"):
            raise RuntimeError(f"uia could not hold the {kind} {name}")
        yield
    finally:
        holder.stdin.close()  # its input ends: it lets go and ends
        try:
            holder.wait(15)
        except subprocess.TimeoutExpired:
            holder.kill()
            holder.wait()
        holder.stdout.close()


def start_menu_programs(host):
    """The Linux path of the Start menu's Programs folder of the prefix's
    user (the folder Wine's shell makes Program Manager groups in)."""
    users = os.path.join(host.drive_c, "users")
    found = [os.path.join(users, name, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs")
             for name in sorted(os.listdir(users)) if name.lower() != "public"]
    found = [path for path in found if os.path.isdir(path)]
    if len(found) != 1:
        raise RuntimeError(f"expected one user's Start menu in {users}, found {found}")
    return found[0]


def wait_until(condition, timeout, interval=0.1):
    """Polls condition() until it returns something true, which is
    returned; None when the time runs out."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value or None
        time.sleep(interval)


def keep_desktop(host):
    """Starts a program that keeps the prefix's desktop in use until it is
    ended (its kill(); WineHost.close() ends it too). Wine closes a desktop
    about a second after the last program using it has gone, and a program
    that starts just then lands on the desktop that is going away: its
    windows are missing from the window list from then on. Back-to-back
    runs with a slow step between them (removing a folder of 2,000 files)
    met this. A console program waiting on a pipe counts as a user and
    costs nothing."""
    popen = subprocess.Popen(["wine", "cmd", "/c", "pause"], env=host.env, stdin=subprocess.PIPE,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    return WinProcess(popen, "cmd (keeps the desktop)")


class WineTestCase(unittest.TestCase):
    """One WineHost for all the tests of a class. Each test starts with none of
    the host's programs running (and whatever `prepare` adds); a failing test
    leaves a screenshot and the window list behind; the class prints how long
    each test took. Subclasses set `host_name` and, for runs back to back,
    `keeps_desktop`."""

    host_name = "e2e"
    keeps_desktop = False

    @classmethod
    def setUpClass(cls):
        start = time.monotonic()
        cls.timings = {}
        cls.host = WineHost(cls.host_name)
        if cls.keeps_desktop:
            cls.desktop_keeper = keep_desktop(cls.host)
        cls.timings["(set-up: display, prefix copy)"] = time.monotonic() - start

    @classmethod
    def tearDownClass(cls):
        cls.host.close()
        print("\ntimings:", file=sys.stderr)
        for name, seconds in cls.timings.items():
            print(f"  {seconds:6.1f} s  {name}", file=sys.stderr)
        print(f"  {sum(cls.timings.values()):6.1f} s  total", file=sys.stderr)

    def prepare(self):
        """What each test of the subclass starts from, besides no programs."""

    def setUp(self):
        self.host.kill_programs()
        self.prepare()
        self.started = time.monotonic()

    def tearDown(self):
        if self._failed():
            self._save_evidence()
        self.host.kill_programs()
        self.timings[self.id().split(".")[-1]] = time.monotonic() - self.started

    def _failed(self):
        result = self._outcome.result
        return any(test is self for test, _ in result.errors + result.failures)

    def _save_evidence(self):
        name = self.id().split(".")[-1]
        try:
            self.host.screenshot(os.path.join(work_dir(), f"failed-{name}.png"))
            print(f"\nwindows at failure of {name}: {self.host.list_windows()}", file=sys.stderr)
        except Exception as error:  # evidence is best effort
            print(f"\nno evidence for {name}: {error}", file=sys.stderr)
