"""End-to-end Program Manager scenarios: the real installer under Wine
makes its Start-menu group and item through Wine's shell, and talks to a
recording Program Manager server of ours, which registers after the shell's
and so answers the conversation in its place.

All scenarios share one display and one prefix; each starts from a clean
state: no program of ours running, no group left from an earlier scenario,
the host product written afresh and a package folder of its own.
"""

import os
import re
import shutil
import struct
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winehost  # noqa: E402
from winehost import make_host_product, make_package, required_file, set_host_setting  # noqa: E402
from winehost import start_menu_programs, wait_until  # noqa: E402

TITLE = "Install Vantrel Live Update"
HEADER = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110"
HOST = r"C:\Vantrel"
BODY = "START\nFOLDER,SERVER\nFILE,TvkUpdt.exe\nEND\n"
GROUP = "Vantrel - Ver 1.30"
ITEM = "Vantrel - Live Update"
CREATE_GROUP = f"[CreateGroup({GROUP})]"
REPLACE_ITEM = f"[ReplaceItem({ITEM})]"
# The command line (the client's short path and one space), the title and
# three empty fields.
ADD_ITEM = re.compile(r"\[AddItem\((?P<path>.*) ," + re.escape(ITEM) + r",,,\)\]")

INSTALL_TIMEOUT = 60  # seconds from Install to the completed window, when the server answers
HUNG_INSTALL_TIMEOUT = 90  # the same when no request is answered (three waits of 10 s)
LINK_TIMEOUT = 10  # seconds each request waits for an answer
END_TIMEOUT = 15
SERVER_START_TIMEOUT = 20
SHELL_WINDOW_TIMEOUT = 10


def link_target(lnk):
    """The local target path recorded in a shell link file (.lnk): the
    LinkInfo structure's local base path. None when the link has none."""
    flags = struct.unpack_from("<I", lnk, 0x14)[0]
    offset = 0x4C  # after the fixed header
    if flags & 0x1:  # HasLinkTargetIDList: skip the item ID list
        offset += 2 + struct.unpack_from("<H", lnk, offset)[0]
    if not flags & 0x2:  # HasLinkInfo
        return None
    info_flags, _volume, base_offset = struct.unpack_from("<III", lnk, offset + 8)
    if not info_flags & 0x1:  # VolumeIDAndLocalBasePath
        return None
    start = offset + base_offset
    return lnk[start:lnk.index(b"\0", start)].decode("cp1252")


class StartMenuScenarios(winehost.WineTestCase):
    host_name = "startmenu"
    keeps_desktop = True

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server_exe = required_file("PROGMAN_SERVER_EXE")
        cls.client = winehost.payload("TvkUpdt.exe")

    def prepare(self):
        self.close_shell_windows()
        shutil.rmtree(self.group_folder(), ignore_errors=True)

    # ---- helpers

    def group_folder(self):
        return os.path.join(start_menu_programs(self.host), GROUP)

    def close_shell_windows(self, wait_for_one=False):
        """Closes the folder windows Wine's shell opens for a new group."""
        def shell_windows():
            return [w for w in self.host.list_windows() if w["title"] == GROUP]
        if wait_for_one:
            wait_until(shell_windows, SHELL_WINDOW_TIMEOUT, 0.2)
        for window in shell_windows():
            handle = "hwnd:" + window["hwnd"]
            self.host.close_window(handle)
            self.host.wait_gone(handle)

    def start_recording_server(self, *options):
        """Our Program Manager server; returns the path of its log."""
        log = os.path.join(self.host.drive_c, f"progman-{self.id().split('.')[-1]}.log")
        for path in (log, log + ".ready"):
            if os.path.exists(path):
                os.remove(path)
        self.host.start(self.server_exe, *options, "--seconds", "150", self.host.win_path(log))
        self.assertTrue(wait_until(lambda: os.path.exists(log + ".ready"), SERVER_START_TIMEOUT),
                        "the recording server did not start")
        return log

    def start_ready(self, host_folder=HOST):
        make_host_product(self.host, host_folder)
        set_host_setting(self.host, host_folder)
        folder = r"C:\pkg" + "\\" + self.id().split(".")[-1]
        exe = make_package(self.host, folder, HEADER + "\n" + BODY, {"TvkUpdt.exe": self.client})
        process = self.host.start(exe, cwd=self.host.unix_path(folder), full_exit_code=True)
        self.host.wait_window(TITLE)
        return process, self.host.dump(TITLE)

    def install(self, process, timeout, watch_pid=None):
        """Presses Install and waits for the completed window; with
        watch_pid, fails on any message box of that process meanwhile."""
        self.host.click(TITLE, "Install")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.assertTrue(process.running(), "the installer ended during the install")
            if watch_pid is not None:
                boxes = [w for w in self.host.list_windows() if w["pid"] == watch_pid and w["class"] == "#32770"]
                self.assertEqual(boxes, [], "message box during the install")
            if self.host.dump(TITLE).find("Finish", "Button"):
                return
            time.sleep(0.5)
        self.fail(f"no completed window after {timeout} s; windows: {self.host.list_windows()}")

    def finish(self, process):
        self.host.click(TITLE, "Finish")
        try:
            self.assertEqual(process.wait(END_TIMEOUT), 0, "exit code")
        except TimeoutError:
            self.fail(f"the installer is still running; windows: {self.host.list_windows()}")

    def recorded(self, log):
        with open(log, encoding="cp1252") as f:
            return f.read().splitlines()

    def command_line_path(self, commands):
        """Checks that the server received the three commands, in order;
        returns the path in the item's command line."""
        self.assertEqual(len(commands), 3, commands)
        self.assertEqual(commands[:2], [CREATE_GROUP, REPLACE_ITEM])
        add_item = ADD_ITEM.fullmatch(commands[2])
        self.assertIsNotNone(add_item, f"AddItem: {commands[2]!r}")
        return add_item["path"]

    # ---- scenarios

    def test_shell_makes_group_and_item_for_the_client(self):
        process, _ready = self.start_ready()
        self.install(process, INSTALL_TIMEOUT)
        folder = self.group_folder()
        self.assertTrue(os.path.isdir(folder), f"no Start-menu group {GROUP!r}")
        self.assertEqual(os.listdir(folder), [ITEM + ".lnk"])
        with open(os.path.join(folder, ITEM + ".lnk"), "rb") as f:
            target = link_target(f.read())
        # C:\Vantrel\TvkUpdt.exe is its own short form (case aside).
        self.assertIsNotNone(target, "the item has no target path")
        self.assertEqual(target.lower(), (HOST + r"\TvkUpdt.exe").lower())
        self.close_shell_windows(wait_for_one=True)
        self.finish(process)

    def test_unanswering_server_delays_the_install_without_a_message(self):
        log = self.start_recording_server("--hang")
        process, ready = self.start_ready()
        started = time.monotonic()
        self.install(process, HUNG_INSTALL_TIMEOUT, watch_pid=ready["pid"])
        elapsed = time.monotonic() - started
        print(f"\ninstall with an unanswering server: {elapsed:.1f} s", file=sys.stderr)
        # Each of the three requests waits its full time for an answer.
        self.assertGreaterEqual(elapsed, 3 * LINK_TIMEOUT - 1)
        # C:\Vantrel\TvkUpdt.exe is its own short form (case aside).
        path = self.command_line_path(self.recorded(log))
        self.assertEqual(path.lower(), (HOST + r"\TvkUpdt.exe").lower())
        self.assertFalse(os.path.exists(self.group_folder()), "the shell was asked as well")
        self.finish(process)

    def test_command_line_holds_the_short_path_of_the_client(self):
        # A host folder whose long name has spaces: the item's command line
        # must carry the client's short (8.3) path, which has none.
        host_folder = r"C:\Vantrel Live Suite"
        log = self.start_recording_server()
        process, _ready = self.start_ready(host_folder)
        self.install(process, INSTALL_TIMEOUT)
        short = self.command_line_path(self.recorded(log))
        self.assertNotIn(" ", short)
        self.assertTrue(short.lower().endswith(r"\tvkupdt.exe"), short)
        # The system resolves it to the installed client.
        found = self.host.run("cmd", "/c", f"if exist {short} echo found").stdout.strip()
        self.assertEqual(found, "found", f"{short} names no file")
        self.assertFalse(os.path.exists(self.group_folder()), "the shell was asked as well")
        self.finish(process)


if __name__ == "__main__":
    unittest.main(verbosity=2)
