"""End-to-end lifecycle scenarios: installs, uninstalls, restarts and kills
in the orders a machine meets them, each ending where the README promises
(the host's and the machine's own bytes back), and a record, a list or a
link planted by someone who may write the package or host folder changing
nothing outside what the install made.
"""

import contextlib
import hashlib
import os
import shutil
import signal
import struct
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winehost  # noqa: E402
import test_deploy  # noqa: E402  (the module, so that its scenarios are not collected here)
from test_deploy import BODY, GROUP, HEADER, HOST, ITEM, RUN_MS, SHARED_DLLS, SYSTEM_DIR  # noqa: E402
from test_install import TYPELIB  # noqa: E402
from winehost import file_held_open, held_by_program, make_host_product, make_package, payload  # noqa: E402
from winehost import reg_query_default, set_host_setting, start_menu_programs, wait_until  # noqa: E402
from winehost import RECORD_FOLDER, registration  # noqa: E402

TITLE = "Install Vantrel Live Update"
CLIENT = HOST + r"\TVKUPDT.EXE"
README = HOST + r"\README.TXT"
HOST_README = b"the host's own readme\r\n"
PLANTED_FILES = ("victim.dll", "target.dll", "BIG.DLL")  # put into the system folder by the scenarios
MIB = 1 << 20
UNINSTALL_KEYS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def make_link(target):
    """A shell link (.lnk) to a local file, as the host's own setup would
    leave one: the fixed header and a LinkInfo with the target's path."""
    clsid = bytes.fromhex("0114020000000000c000000000000046")
    header = struct.pack("<I16sII24sIiIHHII", 0x4C, clsid, 0x2, 0x20, bytes(24), 0, 0, 1, 0, 0, 0, 0)
    volume = struct.pack("<IIII", 0x11, 3, 0, 0x10) + b"\0"
    base = target.encode("cp1252") + b"\0"
    info_head = 0x1C
    info = struct.pack("<IIIIIII", info_head + len(volume) + len(base) + 1, info_head, 0x1, info_head,
                       info_head + len(volume), 0, info_head + len(volume) + len(base))
    return header + info + volume + base + b"\0" + bytes(4)


class LifecycleScenarios(test_deploy.DeployFixture):
    host_name = "lifecycle"

    def prepare(self):
        super().prepare()
        self.close_group_windows()
        self.host.reg_delete(TYPELIB)
        for name in PLANTED_FILES:
            with contextlib.suppress(FileNotFoundError):
                os.remove(self.host.unix_path(SYSTEM_DIR + "\\" + name))

    def close_group_windows(self):
        """Closes the folder windows Wine's shell opens for the group."""
        for window in [w for w in self.host.list_windows() if w["title"] == GROUP]:
            self.host.close_window("hwnd:" + window["hwnd"])
            self.host.wait_gone("hwnd:" + window["hwnd"])

    def run_quiet(self, *args):
        """The exit code of a quiet run that showed nothing."""
        result = self.host.run_watched(*args, max_ms=RUN_MS)
        self.assertEqual(result["visible"], [], f"{args}: a window showed")
        return result["exit"]

    def uninstall(self):
        return self.run_quiet(*self.uninstall_command())

    def start_quiet_until_copying(self, exe, copy):
        """A quiet install started, once its copy to `copy` (a Unix path) has begun: the process and
        the installer's Linux pids."""
        process = self.host.start(exe, "/quiet", full_exit_code=True)
        installer = wait_until(lambda: self.host.linux_pids("LiveUpdateSetup.exe"), 60)
        self.assertEqual(len(installer or []), 1, "the installer's process")
        self.assertTrue(wait_until(lambda: os.path.exists(copy) and os.path.getsize(copy), 60, 0.001),
                        "the copy did not begin")
        return process, installer

    def read(self, win_path):
        with open(self.host.unix_path(win_path), "rb") as f:
            return f.read()

    def write(self, win_path, data):
        os.makedirs(os.path.dirname(self.host.unix_path(win_path)), exist_ok=True)
        with open(self.host.unix_path(win_path), "wb") as f:
            f.write(data)

    def folder_of(self, exe):
        return os.path.dirname(self.host.unix_path(exe))

    def record_lines(self):
        """The install record's lines, split into their tab-separated
        fields; none when there is no record."""
        with contextlib.suppress(FileNotFoundError):
            text = self.read(RECORD_FOLDER + "\\Install record.txt").decode("cp1252")
            return [line.split("\t") for line in text.splitlines()]
        return []

    def verify(self, uninstaller=None):
        """The exit code of /verify /quiet, run by the uninstaller copy."""
        return self.run_quiet(uninstaller or self.uninstall_command()[0], "/verify", "/quiet")

    def verify_log(self):
        with contextlib.suppress(FileNotFoundError):
            return self.log_lines("LiveUpdateSetup-verify.log")
        return ["(no /verify log)"]

    # ---- what someone who may write the package folder plants there

    def test_a_record_planted_beside_the_installer_is_never_read(self):
        # The package folder looks like a record folder whose record claims
        # a system library as created and another as replaced, its previous
        # content in the package. Following it would delete the one and
        # overwrite the other.
        exe = self.removal_package()
        package = exe.rpartition("\\")[0]
        victim, target = SYSTEM_DIR + r"\victim.dll", SYSTEM_DIR + r"\target.dll"
        system = {victim: b"a library of the system\r\n", target: b"another library of the system\r\n"}
        for path, data in system.items():
            self.write(path, data)
        kept = package + r"\Kept\1-target.dll"
        self.write(kept, b"what the planted record puts back\r\n")
        lines = ["# Live Update install record",
                 "begun\t2026-12-01 10:00:00\t1.0.0.0\tVantrel\tC:\\windows",
                 f"created\t{victim}\t{sha256(system[victim])}\t{len(system[victim])}",
                 f"replaced\t{target}\t{kept}\t{sha256(self.read(kept))}\t{sha256(system[target])}",
                 "ended\t2026-12-01 10:00:01\t0"]
        self.write(package + r"\Install record.txt", "\r\n".join(lines + [""]).encode("cp1252"))
        before = self.snapshot()
        with self.subTest("nothing installed"):
            self.assertEqual(self.run_quiet(exe, "/uninstall", "/quiet"), 1605)
            self.assertEqual({path: self.read(path) for path in system}, system)
            self.assert_same(self.snapshot(), before)
        with self.subTest("a real install"):
            self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
            self.assertEqual(self.run_quiet(exe, "/uninstall", "/quiet"), 0)
            self.host.restart()
            self.assertEqual({path: self.read(path) for path in system}, system)
            self.assert_same(self.snapshot(), before)
        with self.subTest("a system name that climbs out of Program Files"):
            # It would name the record folder and the uninstall entry.
            exe = make_package(self.host, package, HEADER.replace("Vantrel", r"..\..\windows\system32\x", 1) + "\n" +
                               BODY, {"TvkUpdt.exe": payload("TvkUpdt.exe"), "README.TXT": b"readme\r\n"})
            entries = self.host.run("reg", "query", UNINSTALL_KEYS).stdout
            self.assertEqual(self.run_quiet(exe, "/quiet"), 1620)
            self.assertIn("is not a name a folder can have", self.log_lines()[2])
            self.assertEqual(self.run_quiet(exe, "/uninstall", "/quiet"), 1605)
            self.assert_same(self.snapshot(), before)
            self.assertEqual(self.host.run("reg", "query", UNINSTALL_KEYS).stdout, entries)

    # ---- the host's bytes, wherever it lives

    def test_a_host_on_another_volume_keeps_its_bytes(self):
        # The record folder is on C:, the host on a drive of another file
        # system, so the kept contents cross volumes both ways.
        folder = tempfile.mkdtemp(prefix="lu-drive-d-", dir="/dev/shm")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        self.assertNotEqual(os.stat(folder).st_dev, os.stat(self.host.prefix).st_dev, "the same file system")
        self.host.map_drive("D:", folder)
        self.addCleanup(os.remove, os.path.join(self.host.prefix, "dosdevices", "d:"))
        host = r"D:\Vantrel"
        for held in (False, True):
            with self.subTest("the replaced file in use at the install" if held else "nothing in use"):
                self.prepare()
                make_host_product(self.host, host)
                set_host_setting(self.host, host)
                self.write(host + r"\README.TXT", HOST_README)
                self.write(host + r"\Sys\TVKOWN.DLL", payload("TVKCOM.dll"))  # bytes the host keeps as they are
                exe = self.package()
                own, machine = self.tree(host), self.snapshot()
                with file_held_open(self.host, host + r"\README.TXT") if held else contextlib.nullcontext():
                    self.assertEqual(self.run_quiet(exe, "/quiet"), 3010 if held else 0)
                if held:
                    self.host.restart()
                    files = self.tree(host)
                    self.assertEqual(files["readme.txt"], b"readme\r\n")
                    self.assertEqual(files["~lu00001.old"], HOST_README, "the previous content moved aside")
                self.assertEqual(self.uninstall(), 0)
                self.host.restart()
                self.assertEqual(self.tree(host), own)
                self.assert_same(self.snapshot(), machine)

    # ---- the Start menu

    def install_attended(self, exe, at_the_window=None):
        """Install, then Finish, through the window; the item is made by a
        conversation with Wine's shell. at_the_window() runs while the
        window waits for Install."""
        process = self.host.start(exe, cwd=self.folder_of(exe), full_exit_code=True)
        self.host.wait_window(TITLE)
        if at_the_window:
            at_the_window()
        self.host.click(TITLE, "Install")
        self.assertTrue(wait_until(lambda: self.host.dump(TITLE).find("Finish", "Button"), 60, 0.2),
                        "no completed window")
        wait_until(lambda: [w for w in self.host.list_windows() if w["title"] == GROUP], 10, 0.2)
        self.close_group_windows()
        self.host.click(TITLE, "Finish")
        self.assertEqual(process.wait(15), 0)

    def test_only_our_item_leaves_the_start_menu(self):
        group = os.path.join(start_menu_programs(self.host), GROUP)
        theirs = make_link(HOST + r"\VANTREL.EXE")
        for other in (True, False):
            with self.subTest("the group holds the host's shortcut" if other else "the group holds our item alone"):
                self.prepare()
                if other:
                    os.makedirs(group)
                    with open(os.path.join(group, "Vantrel.lnk"), "wb") as f:
                        f.write(theirs)
                self.install_attended(self.package())
                self.assertEqual(sorted(os.listdir(group)), [ITEM] + (["Vantrel.lnk"] if other else []))
                # The record says whose Start menu has the item (that of the
                # user who installed it), and /verify looks for it there.
                self.assertIn(["start menu", "Program Manager", GROUP, ITEM[:-len(".lnk")],
                               self.host.win_path(start_menu_programs(self.host))], self.record_lines())
                self.assertEqual(self.verify(), 0, self.verify_log())
                self.assertEqual(self.uninstall(), 0)
                self.close_group_windows()
                if other:
                    self.assertEqual(os.listdir(group), ["Vantrel.lnk"])
                    with open(os.path.join(group, "Vantrel.lnk"), "rb") as f:
                        self.assertEqual(f.read(), theirs)
                else:
                    self.assertFalse(os.path.exists(group), "the empty group is left")

    # ---- the uninstaller

    def test_the_uninstaller_is_copied_from_the_running_image(self):
        # While the window waits, a user tries to swap the running installer
        # in the package folder for another program: from a Windows program,
        # a rename aside (as a swap does first) and a copy over it. The
        # installer holds its own file from its start, so both are refused;
        # the uninstaller kept in the record folder is the installer that
        # ran, and /verify finds the install whole.
        exe = self.package()
        original = self.read(exe)
        other = exe[:-len("LiveUpdateSetup.exe")] + "TvkUpdt.exe"

        def swap_the_installer():
            renamed = self.host.rename(exe, exe[:-len(".exe")] + "-aside.exe")
            self.assertEqual((renamed["renamed"], renamed["errors"]), (False, [32]), "not a sharing violation")
            copied = self.host.run("cmd", "/c", "copy", "/y", other, exe)
            self.assertEqual((copied.returncode, self.read(exe)), (1, original), copied.stderr)
        self.install_attended(exe, at_the_window=swap_the_installer)
        self.assertEqual(self.read(RECORD_FOLDER + r"\LiveUpdateSetup.exe"), original)
        self.assertEqual(self.verify(), 0, self.verify_log())

    # ---- a link the user made in the host folder

    def test_a_link_planted_in_the_host_folder_is_never_followed(self):
        help_file = HOST + r"\HELP\VANTREL.HLP"
        self.write(help_file, b"the host's help\r\n")
        exe = self.package(BODY.replace("END", "FOLDER,HELP\nFILE,VANTREL.HLP\nEND"),
                           {"TvkUpdt.exe": payload("TvkUpdt.exe"), "README.TXT": b"readme\r\n",
                            "VANTREL.HLP": b"the package's help\r\n"})
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        self.assertEqual(self.read(help_file), b"the package's help\r\n")
        help_folder, system = self.host.unix_path(HOST + r"\HELP"), self.host.unix_path(SYSTEM_DIR)
        os.rename(help_folder, help_folder + ".OLD")
        os.symlink(system, help_folder)
        self.addCleanup(os.remove, help_folder)

        def stat_of(path):
            status = os.lstat(path)
            return status.st_ino, status.st_size, status.st_mtime_ns

        def system_state():
            return {os.path.relpath(os.path.join(folder, name), system).lower(): stat_of(os.path.join(folder, name))
                    for folder, _dirs, files in os.walk(system) for name in files}
        unchanged = system_state()
        code = self.uninstall()
        log = self.log_lines()
        named = [line for line in log if help_file in line]
        print(f"\nuninstall through the planted link: exit code {code}; {named}", file=sys.stderr)
        self.assertEqual(os.readlink(help_folder), system, "the link changed")
        self.assertNotIn("vantrel.hlp", system_state())
        self.assertEqual(system_state(), unchanged)
        self.assertTrue(named, log)
        self.assertIn(code, (0, 1603), log)
        if code == 1603:
            self.assertTrue(any("a link or junction leads to it" in line for line in named), named)

    def test_a_host_folder_cannot_be_swapped_while_the_install_changes_it(self):
        # Someone who may write the host folder tries to rename the folder an
        # install is copying into aside, to put a link to a system folder at
        # its name. (Wine 8 cannot make a junction or a symbolic link from a
        # Windows program, so what is shown is the rename that the swap
        # needs, refused.) The install is held still in the middle of a large
        # copy into the host's Sys folder, where it holds the folders from
        # the host folder down: neither Sys nor the host folder itself can be
        # renamed, and once it goes on, the install ends whole with nothing
        # written outside the host folder.
        big = bytes(128 * MIB)
        exe = self.package(BODY.replace("END", "FOLDER,SYS\nFILE,BIG.DAT\nEND"),
                           {"TvkUpdt.exe": payload("TvkUpdt.exe"), "README.TXT": b"readme\r\n", "BIG.DAT": big})
        copy = self.host.unix_path(HOST + r"\Sys\BIG.DAT")
        top_level = sorted(os.listdir(self.host.drive_c))
        process, installer = self.start_quiet_until_copying(exe, copy)
        with self.host.held(installer):
            tries = {folder: self.host.rename(folder, folder + "-aside", tries=20, interval_ms=10)
                     for folder in (HOST + r"\Sys", HOST)}
            size = os.path.getsize(copy)
        print(f"\nBIG.DAT at the renames: {size} of {len(big)} bytes; {tries}", file=sys.stderr)
        self.assertLess(size, len(big), "the copy had ended before the renames")
        for folder, tried in tries.items():
            self.assertFalse(tried["renamed"], f"{folder} was renamed while the install held it")
            # ERROR_ACCESS_DENIED or ERROR_SHARING_VIOLATION
            self.assertTrue(set(tried["errors"]) <= {5, 32}, tried)
        self.assertEqual(process.wait(60), 0, self.log_lines())
        self.assertEqual(self.read(HOST + r"\Sys\BIG.DAT"), big)
        self.assertEqual(sorted(os.listdir(self.host.drive_c)), top_level, "written outside the host folder")
        self.assertEqual(sorted(self.tree(HOST)), ["readme.txt", "sys", "sys/big.dat", "sys/tovask.ini",
                                                   "tvkupdt.exe"])

    # ---- runs before the restart

    def test_a_host_file_held_without_sharing_comes_back_at_the_restart(self):
        # A program holds the host's readme (replaced by the install) open
        # with no sharing at all when the removal comes, so the removal can't
        # even read it: it counts it in use, not changed, and puts the
        # host's own bytes back at the next restart.
        exe = self.removal_package()
        before = self.snapshot()
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        with held_by_program(self.host, "file", README):
            self.assertEqual(self.uninstall(), 3010, self.log_lines())
        log = self.log_lines()
        self.assertTrue(any(line.startswith(README + ": in use; restored from ") and " at the next restart" in line
                            for line in log), log)
        self.assertEqual(self.read(README), b"readme\r\n", "restored before the restart")
        self.host.restart()
        self.assertEqual(self.read(README), HOST_README)
        self.assert_same(self.snapshot(), before)

    def test_a_new_file_held_at_the_removal_is_made_again_after_the_restart(self):
        # The removal can neither read nor rename the client that a program
        # holds without sharing: the restart deletes it. An install before
        # that restart has its copy moved in after the deletion, not before.
        exe = self.removal_package()
        before = self.snapshot()
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        with held_by_program(self.host, "file", CLIENT):
            self.assertEqual(self.uninstall(), 3010, self.log_lines())
        self.assertEqual(self.run_quiet(exe, "/quiet"), 3010, self.log_lines())
        self.host.restart()
        self.assertEqual(self.read(CLIENT), payload("TvkUpdt.exe"))
        self.assertEqual(self.verify(), 0, self.verify_log())
        self.assertEqual(self.uninstall(), 0, self.log_lines())
        self.host.restart()
        self.assert_same(self.snapshot(), before)

    def test_uninstall_then_install_again_before_the_restart(self):
        exe = self.removal_package()
        before = self.snapshot()
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        client = self.host.start(CLIENT)  # the host's client, running
        self.host.wait_window("Vantrel Live Update")
        with file_held_open(self.host, README):
            self.assertEqual(self.uninstall(), 3010, self.log_lines())
        client.kill()
        # The host's readme comes back only at the restart; its replacement waits for it too.
        self.assertEqual(self.run_quiet(exe, "/quiet"), 3010, self.log_lines())
        self.host.restart()
        self.assertTrue(os.path.isfile(self.host.unix_path(self.uninstall_command()[0])), "the uninstaller went")
        self.assertEqual(self.read(CLIENT), payload("TvkUpdt.exe"))
        self.assertEqual(self.read(README), b"readme\r\n")
        self.assertEqual(self.uninstall(), 0)
        self.assertTrue(any(line.startswith(HOST + "\\~LU") and ": taken into " in line for line in self.log_lines()),
                        self.log_lines())
        self.host.restart()
        self.assert_same(self.snapshot(), before)

    def test_a_previous_content_a_user_rewrote_after_the_restart_stays_theirs(self):
        # The restart that replaces the host's readme (in use at the install)
        # moves its previous content aside beside it, where users may write.
        # Rewritten before the next run takes it into the record folder, it
        # is the user's: the removal puts none of it back, and leaves it.
        exe = self.removal_package()
        with file_held_open(self.host, README):
            self.assertEqual(self.run_quiet(exe, "/quiet"), 3010, self.log_lines())
        self.host.restart()
        aside = HOST + r"\~LU00001.OLD"
        self.assertEqual(self.read(aside), HOST_README)
        self.write(aside, b"the user's own\r\n")
        self.assertEqual(self.uninstall(), 0, self.log_lines())
        self.assertEqual(self.read(README), b"readme\r\n", self.log_lines())
        self.assertEqual(self.read(aside), b"the user's own\r\n")
        self.assertIn(README + ": left as it is: its previous content is no longer kept", self.log_lines())

    def test_a_replacement_withdrawn_then_made_again_before_the_restart(self):
        exe = self.removal_package()
        before = self.snapshot()
        with file_held_open(self.host, README):
            self.assertEqual(self.run_quiet(exe, "/quiet"), 3010, self.log_lines())
        withdrawn = README + ".1.new~"
        self.assertTrue(os.path.isfile(self.host.unix_path(withdrawn)))
        names = os.path.join(self.folder_of(self.uninstall_command()[0]), "Restart names.txt")
        self.assertEqual(self.uninstall(), 0, self.log_lines())  # the restart leaves the readme as it is
        self.assertFalse(os.path.exists(self.host.unix_path(withdrawn)))
        self.assertIn(withdrawn.upper(), open(names, encoding="cp1252").read().upper())
        # The second install's copy must not take the name the first rename still moves in.
        with file_held_open(self.host, README):
            self.assertEqual(self.run_quiet(exe, "/quiet"), 3010, self.log_lines())
        self.assertFalse(os.path.exists(self.host.unix_path(withdrawn)), self.log_lines())
        self.host.restart()
        self.assertEqual(self.read(README), b"readme\r\n")
        self.assertFalse(os.path.exists(names))
        self.assertEqual(self.uninstall(), 0, self.log_lines())
        self.host.restart()
        self.assert_same(self.snapshot(), before)

    def test_two_installs_and_one_uninstall_with_a_type_library(self):
        exe = self.removal_package_with_types()
        folder = self.folder_of(exe)
        before = self.snapshot()
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        self.assertIsNotNone(reg_query_default(self.host, TYPELIB + r"\1.0\0\win32"), "type library not registered")
        with open(os.path.join(folder, "README.TXT"), "wb") as f:
            f.write(b"a newer readme\r\n")
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        self.assertEqual(self.uninstall(), 0, self.log_lines())
        self.host.restart()
        self.assert_same(self.snapshot(), before)
        self.assertIsNone(reg_query_default(self.host, TYPELIB + r"\1.0\0\win32"), "still registered")

    # ---- a kill

    def test_a_kill_during_a_large_copy_then_a_reinstall(self):
        # A real COM library padded with zeros (a PE loads with data after
        # its end), so that its copy takes long enough to be cut short.
        big = payload("TVKCOM.dll")
        big += bytes(128 * MIB - len(big))  # its copy takes about 70 ms here
        exe = self.package("START\nFOLDER,SYSTEM\nFILE,BIG.DLL\nEND\n", {"BIG.DLL": big})
        copy = self.host.unix_path(SYSTEM_DIR + r"\BIG.DLL")
        before = self.snapshot()
        process, installer = self.start_quiet_until_copying(exe, copy)
        with self.host.held(installer):
            size = os.path.getsize(copy)
            os.kill(installer[0], signal.SIGKILL)
        process.kill()
        print(f"\nBIG.DLL at the kill: {size} of {len(big)} bytes", file=sys.stderr)
        self.assertLess(size, len(big), "the copy had ended at the kill")
        self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
        self.assertEqual(self.read(SYSTEM_DIR + r"\BIG.DLL"), big)
        self.assertEqual(self.host.reg_query(SHARED_DLLS, SYSTEM_DIR + r"\BIG.DLL"), "0x1")
        self.assertEqual((registration(self.host, "BIG.DLL") or "").lower(),
                         rf"DllRegisterServer {SYSTEM_DIR}\BIG.DLL".lower())
        self.assertEqual(self.uninstall(), 0)
        self.host.restart()
        self.assert_same(self.snapshot(), before)
        self.assertFalse(os.path.exists(copy))

    def test_a_removal_killed_then_run_again(self):
        # The host's readme is large, so that the removal's copy of its kept
        # content back beside it takes a while; another product counts the
        # package's system library too (count 2). The removal is killed
        # once its record tells that it lowers the library's shared count
        # (before or after the change itself), or while its restore copy
        # <name>.<n>.back~ is being written. Then /verify says it is not
        # installed, and the removal run again ends 0 having lowered the
        # count no further: the other product's library stays, counted
        # once; the host's readme is back and no restore copy is left.
        dll = SYSTEM_DIR + r"\TVKCOM.DLL"
        host_readme = HOST_README + bytes(64 * MIB)
        host_folder = self.host.unix_path(HOST)

        def restore_copies():
            return [name for name in os.listdir(host_folder) if name.lower().endswith(".back~")]

        def lowered():
            return any(line[0] == "lowered" for line in self.record_lines())
        for moment, reached in (("once the count's line is written", lowered),
                                ("while the restore copy is written", restore_copies)):
            with self.subTest(moment):
                self.prepare()
                exe = self.removal_package()
                self.write(README, host_readme)
                self.assertEqual(self.run_quiet(exe, "/quiet"), 0)
                self.assertEqual(self.host.reg_query(SHARED_DLLS, dll), "0x1")
                self.host.reg_add(SHARED_DLLS, dll, "2", "REG_DWORD")  # another product's install
                uninstall = self.uninstall_command()
                process = self.host.start(*uninstall, full_exit_code=True)
                removal = wait_until(lambda: self.host.linux_pids("LiveUpdateSetup.exe"), 60)
                self.assertEqual(len(removal or []), 1, "the removal's process")
                wait_until(lambda: reached() or not process.running(), 60, 0.001)
                self.assertTrue(reached(), "the removal ended before the moment came")
                with self.host.held(removal):
                    count, copies = self.host.reg_query(SHARED_DLLS, dll), restore_copies()
                    sizes = [os.path.getsize(os.path.join(host_folder, name)) for name in copies]
                    os.kill(removal[0], signal.SIGKILL)
                process.kill()
                print(f"\nkilled {moment}: count {count}, restore copies {dict(zip(copies, sizes))}",
                      file=sys.stderr)
                self.assertTrue(lowered(), "the record has no line for the count")
                if reached == restore_copies:
                    self.assertLess(sizes[0], len(host_readme), "the restore copy was whole at the kill")
                self.assertEqual(self.verify(uninstall[0]), 1605, self.verify_log())
                self.assertEqual(self.run_quiet(*uninstall), 0, self.log_lines())
                self.assertEqual(restore_copies(), [], self.log_lines())
                self.assertEqual(self.read(README), host_readme)
                self.assertEqual(self.read(dll), payload("TVKCOM.dll"), "the other product's library went")
                self.assertEqual(self.host.reg_query(SHARED_DLLS, dll), "0x1", self.log_lines())


    # ---- registrations: data, never a run of code that users may change

    def host_registration(self, name, threading):
        """The class the host's own copy of `name` registered, as its setup
        left it, naming its file in the host folder."""
        key = winehost.class_keys(name)
        self.host.reg_add(key[0] + r"\InprocServer32", "", HOST + "\\" + name)
        self.host.reg_add(key[0] + r"\InprocServer32", "ThreadingModel", threading)
        self.host.reg_add(key[1] + r"\CLSID", "", winehost.class_id(name))

    def test_a_package_with_class_data_runs_no_code_from_the_host_folder(self):
        # A user who may write the host folder planted TVKDEP.DLL, which the
        # package's TVKNEED.DLL imports, and replaced the host's TVKCOM.DLL
        # with a library of their own; both leave C:\PLANTED.TXT when
        # loaded. The host's TVKCOM.DLL class is registered (threading
        # "Both"). The package carries its class data: the install writes
        # the values, the removal puts the host's back, and neither starts
        # a program of the host folder or regsvr32 (Wine's process trace).
        planted = payload("TVKPLANT.dll")
        self.write(HOST + r"\TVKDEP.DLL", planted)
        self.write(HOST + r"\TVKCOM.DLL", planted)
        self.host_registration("TVKCOM.DLL", "Both")
        marker = self.host.unix_path(r"C:\PLANTED.TXT")
        with contextlib.suppress(FileNotFoundError):
            os.remove(marker)
        before = self.snapshot()
        exe = self.package("START\nFOLDER,SERVER\nFILE,TVKNEED.DLL,TVKCOM.DLL,README.TXT\nEND\n",
                           {"TVKNEED.DLL": payload("TVKNEED.dll"), "TVKDEP.DLL": payload("TVKDEP.dll"),
                            "TVKCOM.DLL": payload("TVKCOM.dll"), "README.TXT": b"readme\r\n"})
        with open(os.path.join(self.folder_of(exe), "CLASSES.TXT")) as f:
            self.assertIn("[TVKNEED.DLL]", f.read())

        def code_run(starts):  # the trace doubles backslashes
            lines = [start.replace("\\\\", "\\").lower() for start in starts]
            return [line for line in lines if "regsvr32" in line or HOST.lower() + "\\" in line]
        code, starts = self.host.run_tracing_starts(exe, "/quiet")
        self.assertEqual((code, code_run(starts)), (0, []), self.log_lines())
        for name in ("TVKNEED.DLL", "TVKCOM.DLL"):
            self.assertEqual((registration(self.host, name) or "").lower(),
                             rf"DllRegisterServer {HOST}\{name}".lower())
        threading = winehost.class_keys("TVKCOM.DLL")[0] + r"\InprocServer32"
        self.assertEqual(self.host.reg_query(threading, "ThreadingModel"), "Apartment")
        self.assertEqual(self.verify(), 0, self.verify_log())
        # A value deleted since is named by /verify.
        self.host.reg_delete(threading, "ThreadingModel")
        self.assertEqual(self.verify(), 1610)
        self.assertTrue(any(rf"\InprocServer32 ThreadingModel" in line for line in self.verify_log()),
                        self.verify_log())
        self.host.reg_add(threading, "ThreadingModel", "Apartment")
        code, starts = self.host.run_tracing_starts(*self.uninstall_command())
        self.assertEqual((code, code_run(starts)), (0, []), self.log_lines())
        self.assertEqual(self.read(HOST + r"\TVKCOM.DLL"), planted, "the host's content is back")
        self.assertFalse(os.path.exists(marker), "a planted library was loaded")
        self.host.restart()
        self.assert_same(self.snapshot(), before)

    def test_an_older_package_on_a_folder_others_may_change_runs_no_code(self):
        # A package without class data registers by running the files; on
        # a host folder that everyone may change (Wine shows Unix mode
        # o+w as Everyone's write right) nothing runs: 1603, and the log
        # says who may change the folder and what to do. The removal then
        # has nothing to unregister.
        os.chmod(self.host.unix_path(HOST), 0o777)
        before = self.snapshot()
        exe = make_package(self.host, r"C:\pkg\older", test_deploy.HEADER + "\n" +
                           "START\nFOLDER,SERVER\nFILE,TVKCOM.DLL,TvkUpdt.exe\nEND\n",
                           {"TVKCOM.DLL": payload("TVKCOM.dll"), "TvkUpdt.exe": payload("TvkUpdt.exe")},
                           class_data=False)
        self.assertEqual(self.host.run_for_exit_code(exe, "/quiet", timeout=RUN_MS / 1000), 1603)
        for name in ("TVKCOM.DLL", "TVKUPDT.EXE"):
            self.assertIsNone(registration(self.host, name), name)
            self.assertIn(rf"{HOST}\{name}: not registered: {HOST}: S-1-1-0 (Everyone) may change it; its "
                          "registration would run code from there as this account. Install a package that "
                          "carries its class data (CLASSES.TXT, made by lucheck --harvest), or let only "
                          "administrators change the folder", [line.replace("TvkUpdt.exe", "TVKUPDT.EXE")
                                                               for line in self.log_lines()])
        self.assertEqual(self.uninstall(), 0, self.log_lines())
        self.host.restart()
        self.assert_same(self.snapshot(), before)


if __name__ == "__main__":
    unittest.main(verbosity=2)
