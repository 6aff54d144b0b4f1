"""End-to-end deployment scenarios: the installer run unattended from the
command line, as deployment tools run it, under Wine. Exit codes are read
in full through a Windows parent (uia), which also watches the process's
top-level windows. Also: one install at a time, the log's safety in the
temporary folder, and a damaged sealed package.
"""

import contextlib
import glob
import hashlib
import os
import shutil
import signal
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winehost  # noqa: E402
from test_start_menu import link_target  # noqa: E402
from winehost import add_profile, make_host_product, make_package, payload, set_host_setting  # noqa: E402
from winehost import file_held_open, held_by_program, start_menu_programs  # noqa: E402
from winehost import strip_access_keys, wait_until  # noqa: E402
from winehost import RECORD_FOLDER, RUN_ONCE, UNINSTALL_KEY, fixture_classes, forget_registrations, registration  # noqa: E402

TITLE = "Install Vantrel Live Update"
HEADER = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110"
HOST = r"C:\Vantrel"
BODY = "START\nFOLDER,SERVER\nFILE,TvkUpdt.exe,README.TXT\nEND\n"
GROUP = "Vantrel - Ver 1.30"
ITEM = "Vantrel - Live Update.lnk"
ALL_USERS_PROGRAMS = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
SYSTEM_DIR = r"C:\windows\system32"
SHARED_DLLS = r"HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
SESSION_MANAGER = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"
WININIT = r"C:\windows\WININIT.INI"
RUN_MS = 60000
OTHER_USER = "S-1-5-21-1-2-3-1001"
BUSY = "Another Live Update installation is in progress. Try again when it has finished."
EVENT_SOURCE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vantrel Live Update"
MESSAGE_FILE = "liveupdateevents.dll"  # what the uninstall leaves in the record folder, on purpose
DAMAGED = ("The update package is damaged: TVKUPDT.EXE does not match its checksum. Nothing was installed; "
           "obtain the package again.")


class DeployFixture(winehost.WineTestCase):
    """A host product at C:\\Vantrel, a clean machine for each test, and the
    packages, log, snapshots and commands the deployment scenarios share."""

    host_name = "deploy"
    keeps_desktop = True

    def prepare(self):
        make_host_product(self.host, HOST)
        set_host_setting(self.host, HOST)
        self.host.reg_delete(r"HKCU\Software\Wine\AppDefaults\LiveUpdateSetup.exe")
        for programs in (self.host.unix_path(ALL_USERS_PROGRAMS), start_menu_programs(self.host)):
            shutil.rmtree(os.path.join(programs, GROUP), ignore_errors=True)
        shutil.rmtree(self.host.unix_path(RECORD_FOLDER), ignore_errors=True)  # no install left by another test
        if os.path.exists(self.host.unix_path(SYSTEM_DIR + r"\TVKCOM.DLL")):
            os.remove(self.host.unix_path(SYSTEM_DIR + r"\TVKCOM.DLL"))
        for key in (UNINSTALL_KEY, SHARED_DLLS, EVENT_SOURCE_KEY):
            self.host.reg_delete(key)
        forget_registrations(self.host)
        self.host.reg_delete(SESSION_MANAGER, "PendingFileRenameOperations")  # left by a test without a restart
        if os.path.exists(self.host.unix_path(WININIT)):
            os.remove(self.host.unix_path(WININIT))
        for log in glob.glob(os.path.join(self.temp_folder(), "LiveUpdateSetup*.log*")):
            os.remove(log)

    def temp_folder(self):
        """The Linux path of the user's temporary folder."""
        path = self.host.run("cmd", "/c", "echo %TEMP%").stdout.strip()
        return self.host.unix_path(path)

    def package(self, body=BODY, files=None, update_lst=True, class_data=True):
        folder = r"C:\pkg" + "\\" + self.id().split(".")[-1]
        files = {"TvkUpdt.exe": payload("TvkUpdt.exe"), "README.TXT": b"readme\r\n"} if files is None else files
        return make_package(self.host, folder, HEADER + "\n" + body if update_lst else None, files, class_data)

    def log_lines(self, name="LiveUpdateSetup.log"):
        with open(os.path.join(self.temp_folder(), name), "rb") as f:
            return f.read().decode("cp1252").split("\r\n")[:-1]

    def assert_installed(self, programs=ALL_USERS_PROGRAMS):
        self.assertTrue(os.path.isfile(self.host.unix_path(HOST + r"\TVKUPDT.EXE")))
        with open(self.host.unix_path(HOST + r"\Sys\TOVASK.INI"), "rb") as f:
            self.assertIn(b"UPDATEONLINE=WEB130", f.read())
        link = os.path.join(self.host.unix_path(programs), GROUP, ITEM)
        with open(link, "rb") as f:
            self.assertEqual(link_target(f.read()).lower(), (HOST + r"\TvkUpdt.exe").lower())

    # ---- removing it again

    def tree(self, win_path):
        """The folder's files and subfolders by their lower-cased relative
        paths: a file's bytes, None for a folder."""
        root = self.host.unix_path(win_path)
        found = {}
        for folder, dirs, files in os.walk(root):
            for name in dirs:
                found[os.path.relpath(os.path.join(folder, name), root).lower()] = None
            for name in files:
                with open(os.path.join(folder, name), "rb") as f:
                    found[os.path.relpath(f.name, root).lower()] = f.read()
        return found

    def snapshot(self):
        """What an install changes and an uninstall must put back, byte for
        byte: the host folder's files, the system folder's names and the
        bytes of the package's file there, the Start-menu folders, the record
        folder (but the event messages, which stay), and the registry values
        an install writes."""
        system = self.host.unix_path(SYSTEM_DIR)
        registry = {key: [line for line in self.host.run("reg", "query", key, "/s").stdout.splitlines()
                          if line.startswith("    ")]  # the values; an empty key counts as none
                    for key in (UNINSTALL_KEY, SHARED_DLLS, RUN_ONCE)}
        registry["classes"] = fixture_classes(self.host)
        tree = self.tree
        return {"host": tree(HOST), "programs": tree(ALL_USERS_PROGRAMS), "user programs": tree(
                    self.host.run("cmd", "/c", "echo %APPDATA%").stdout.strip() + r"\Microsoft\Windows\Start Menu"),
                "record": {name: data for name, data in tree(RECORD_FOLDER).items() if name != MESSAGE_FILE},
                "system names": sorted(os.listdir(system)),
                "system TVKCOM.DLL": tree(SYSTEM_DIR).get("tvkcom.dll"), "registry": registry}

    def assert_same(self, after, before):
        for part in before:
            self.assertEqual(after[part], before[part], part)

    def uninstall_command(self, name="QuietUninstallString"):
        """The entry's command, split as a deployment tool runs it."""
        command = self.host.reg_query(UNINSTALL_KEY, name)
        self.assertIsNotNone(command, "no Add/Remove Programs entry")
        exe, _, args = command.partition('" ')
        return [exe.strip('"')] + args.split()

    def removal_package(self):
        """Replaces README.TXT, adds the client (a server) and a library in
        the system folder (shared, registered), writes the settings value."""
        with open(self.host.unix_path(HOST + r"\README.TXT"), "wb") as f:
            f.write(b"the host's own readme\r\n")
        body = "START\nFOLDER,SERVER\nFILE,TvkUpdt.exe,README.TXT\nFOLDER,SYSTEM\nFILE,TVKCOM.DLL\nEND\n"
        return self.package(body, {"TvkUpdt.exe": payload("TvkUpdt.exe"), "README.TXT": b"readme\r\n",
                                   "TVKCOM.DLL": payload("TVKCOM.dll")})

    def removal_package_with_types(self):
        """The removal package, with the type library in the host's Sys folder too."""
        exe = self.removal_package()
        folder = os.path.dirname(self.host.unix_path(exe))
        with open(os.path.join(folder, "TVKTYPES.TLB"), "wb") as f:
            f.write(payload("TVKTYPES.TLB"))
        with open(os.path.join(folder, "UPDATE.LST"), "r+b") as f:
            listed = f.read().replace(b"END", b"FOLDER,SYS\r\nFILE,TVKTYPES.TLB\r\nEND")
            f.seek(0)
            f.write(listed)
        return exe

    # ---- a damaged sealed package

    def seal(self, exe):
        """Writes SHA256SUMS for the package beside the installer, as sha256sum would."""
        folder = os.path.dirname(self.host.unix_path(exe))
        sums = ""
        for name in ("UPDATE.LST", "CLASSES.TXT", "TvkUpdt.exe", "README.TXT"):
            with open(os.path.join(folder, name), "rb") as f:
                sums += f"{hashlib.sha256(f.read()).hexdigest()}  {name}\n"
        with open(os.path.join(folder, "SHA256SUMS"), "w") as f:
            f.write(sums)
        return folder

    def sealed_package_damaged(self):
        exe = self.package()
        with open(os.path.join(self.seal(exe), "TvkUpdt.exe"), "r+b") as f:
            f.truncate(len(payload("TvkUpdt.exe")) // 2)  # a download that broke off
        return exe

    def assert_nothing_changed(self):
        self.assertEqual(sorted(os.listdir(self.host.unix_path(HOST))), ["Sys"])
        self.assertFalse(os.path.exists(self.host.unix_path(RECORD_FOLDER)), "a record was begun")
        with open(self.host.unix_path(HOST + r"\Sys\TOVASK.INI"), "rb") as f:
            self.assertNotIn(b"UPDATEONLINE", f.read())
        for programs in (self.host.unix_path(ALL_USERS_PROGRAMS), start_menu_programs(self.host)):
            self.assertFalse(os.path.exists(os.path.join(programs, GROUP)))


class DeployScenarios(DeployFixture):
    # ---- quiet and passive

    def test_quiet_install_shows_nothing_and_makes_the_item_without_a_shell(self):
        # A sealed package, checked and intact.
        exe = self.package()
        self.seal(exe)
        result = self.host.run_watched(exe, "/quiet", "/norestart", max_ms=RUN_MS)
        self.assertEqual(result["exit"], 0)
        self.assertEqual(result["visible"], [], "a window showed")
        self.assert_installed()
        log = self.log_lines()
        self.assertTrue(log[1].startswith('Run: command line "/quiet /norestart"; account '), log[1])
        self.assertEqual(log[2:4], [rf"Host folder: {HOST}, from the current user's setting",
                                    "Package check: every file matches SHA256SUMS"])
        self.assertEqual(log[-1], "Completed; exit code 0")

    def test_passive_install_shows_its_window_and_closes_itself(self):
        result = self.host.run_watched(self.package(), "/passive", max_ms=RUN_MS)
        self.assertEqual(result["exit"], 0)
        self.assertEqual(result["visible"], [TITLE])
        self.assert_installed()

    def test_refusals_and_partial_installs_end_with_their_codes(self):
        def no_setting():
            set_host_setting(self.host, None)

        def old_host():
            make_host_product(self.host, HOST, "1.00")

        cases = [
            ("unknown switch", ["/quiet", "/bogus"], None, True, BODY, 1639),
            ("switch without its value", ["/quiet", "/log"], None, True, BODY, 1639),
            ("unknown switch before quiet", ["/bogus", "/quiet"], None, True, BODY, 1639),
            ("switch without its value before quiet", ["/log", "/quiet"], None, True, BODY, 1639),
            ("no stored folder", ["/quiet"], no_setting, True, BODY, 1605),
            ("folder without the host", ["/quiet", "/DIR=C:\\Nowhere"], None, True, BODY, 1605),
            ("no UPDATE.LST", ["/quiet"], None, False, BODY, 1620),
            ("a list cut off after its header", ["/quiet"], None, True, "", 1620),
            ("unsupported version", ["/quiet"], old_host, True, BODY, 1642),
            ("a listed file missing", ["/qn"], None, True, BODY.replace("README.TXT", "NOTHERE.DLL"), 1603),
            # Installed and registered, it would start the installer with /RegServer.
            ("a list naming the installer", ["/quiet"], None, True,
             BODY.replace("README.TXT", "README.TXT,LiveUpdateSetup.exe"), 1620),
        ]
        for name, args, arrange, with_list, body, code in cases:
            with self.subTest(name):
                self.prepare()
                if arrange:
                    arrange()
                exe = self.package(body, update_lst=with_list)
                started = time.monotonic()
                result = self.host.run_watched(exe, *args, max_ms=RUN_MS)
                elapsed = time.monotonic() - started
                print(f"\n{name}: exit code {result['exit']} after {elapsed:.2f} s "
                      "(one uia run included)", file=sys.stderr)
                self.assertEqual(result["exit"], code)
                self.assertLess(elapsed, RUN_MS / 2000, "waited for a program it started")
                self.assertEqual(result["visible"], [])
                self.assertTrue(self.log_lines()[-1].endswith(f"exit code {code}"), self.log_lines())
                if code == 1620:
                    self.assert_nothing_changed()
                if code == 1639:  # the reason names the wrong switch
                    wrong = [arg for arg in args if arg != "/quiet"][0]
                    refused = [line for line in self.log_lines() if line.startswith("Refused: ")]
                    self.assertTrue(refused and wrong in refused[0], self.log_lines())
                if code == 1603:  # /verify then finds the install not whole, and names the file it lacks
                    verify = self.host.run_watched(exe, "/verify", "/quiet", max_ms=RUN_MS)
                    verify_log = self.log_lines("LiveUpdateSetup-verify.log")
                    self.assertEqual((verify["exit"], verify["visible"]), (1610, []), verify_log)
                    self.assertTrue([line for line in verify_log if line.startswith("Differs: the install begun ")
                                     and line.endswith(r"\NOTHERE.DLL not found")], verify_log)

    def test_windows95_family_needs_a_restart_that_quiet_runs_never_make(self):
        self.host.set_windows_version("LiveUpdateSetup.exe", "win95")
        result = self.host.run_watched(self.package(), "/quiet", max_ms=RUN_MS)
        self.assertEqual(result["exit"], 3010)
        self.assertEqual(result["visible"], [])
        self.assertEqual(self.log_lines()[-1], "Completed; restart needed; exit code 3010")

    def test_deployment_script(self):
        # A start-up script as an administrator writes it; cmd's ERRORLEVEL
        # carries the whole exit code.
        exe = self.package()
        script = "C:\\deploy\\install-live-update.cmd"
        os.makedirs(self.host.unix_path("C:\\deploy"), exist_ok=True)
        with open(self.host.unix_path(script), "wb") as f:
            f.write((f'@echo off\r\nstart "" /wait "{exe}" /quiet /norestart\r\necho first %ERRORLEVEL%\r\n'
                     f'start "" /wait "{exe}" /quiet /frobnicate\r\necho second %ERRORLEVEL%\r\n'
                     # Switches another installer's script passes: quiet, the rest changes nothing.
                     f'del "{HOST}\\TvkUpdt.exe"\r\n'
                     f'start "" /wait "{exe}" /SP- /VERYSILENT /SUPPRESSMSGBOXES /NORESTART\r\n'
                     'echo third %ERRORLEVEL%\r\n').encode())
        output = self.host.run("cmd", "/c", script, timeout=RUN_MS / 1000).stdout.split()
        self.assertEqual(output, ["first", "0", "second", "1639", "third", "0"])
        self.assert_installed()

    # ---- the host's folder when the running user has none stored (the system account)

    def test_quiet_install_takes_the_folder_from_a_loaded_user_hive(self):
        set_host_setting(self.host, None)
        set_host_setting(self.host, HOST, sid=OTHER_USER)
        self.addCleanup(self.host.reg_delete, rf"HKU\{OTHER_USER}")
        result = self.host.run_watched(self.package(), "/quiet", max_ms=RUN_MS)
        self.assertEqual((result["exit"], result["visible"]), (0, []))
        self.assert_installed()
        self.assertIn(rf"Host folder: {HOST}, from the setting of HKEY_USERS\{OTHER_USER}", self.log_lines())

    def test_quiet_install_loads_the_hive_of_a_profile_for_the_moment(self):
        set_host_setting(self.host, None)
        for sid, folder, cs_path in (("S-1-5-21-1-2-3-1002", r"C:\users\gone", None),
                                     ("S-1-5-21-1-2-3-1003", r"C:\users\bob", HOST)):
            self.addCleanup(self.host.reg_delete, add_profile(self.host, sid, folder, cs_path))
        result = self.host.run_watched(self.package(), "/quiet", max_ms=RUN_MS)
        self.assertEqual((result["exit"], result["visible"]), (0, []))
        self.assert_installed()
        log = self.log_lines()
        self.assertIn(r"Skipped the profile C:\users\gone: its hive cannot be loaded (error 2)", log)
        self.assertIn(rf"Host folder: {HOST}, from the profile C:\users\bob (its hive loaded for the moment)", log)
        hives = self.host.run("reg", "query", "HKU").stdout.split()
        self.assertEqual(sorted(hives), [r"HKEY_USERS\.Default", r"HKEY_USERS\S-1-5-21-0-0-0-1000"], "left loaded")

    # ---- one install at a time

    def test_second_instance_changes_nothing(self):
        # Also where another program took the lock's name first (a mutex of
        # that name made as any program makes one): the attended install
        # then holds the lock file in the record folder instead, and a
        # quiet install and /verify, which must not judge an install half
        # done, are still kept out.
        for squatted in (False, True):
            with self.subTest("the lock's name taken by another program" if squatted else "the lock free"):
                self.prepare()
                with held_by_program(self.host, "mutex", r"Global\LiveUpdateSetup.Installing") if squatted \
                        else contextlib.nullcontext():
                    self.second_instance_changes_nothing()

    def second_instance_changes_nothing(self):
        exe = self.package()
        first = self.host.start(exe, full_exit_code=True)
        ready = self.host.dump(TITLE)
        running_log = os.path.join(self.temp_folder(), "LiveUpdateSetup.log")
        with open(running_log, "wb") as f:
            f.write(b"the running install's log\r\n")
        quiet = self.host.run_watched(exe, "/quiet", max_ms=RUN_MS)
        self.assertEqual((quiet["exit"], quiet["visible"]), (1618, []))
        # The refusal goes beside the running install's log, which stays as it is.
        with open(running_log, "rb") as f:
            self.assertEqual(f.read(), b"the running install's log\r\n")
        self.assertEqual(self.log_lines(f"LiveUpdateSetup-{quiet['pid']}.log")[-2:],
                         ["Refused: " + BUSY, "Not installed; exit code 1618"])
        verify = self.host.run_watched(exe, "/verify", "/quiet", max_ms=RUN_MS)
        self.assertEqual((verify["exit"], verify["visible"]), (1618, []))

        second = self.host.start(exe, full_exit_code=True)
        box = wait_until(lambda: [w for w in self.host.list_windows()
                                  if w["class"] == "#32770" and w["pid"] != ready["pid"]], 15, 0.2)
        self.assertIsNotNone(box, "no message for the second installer")
        handle = "hwnd:" + box[0]["hwnd"]
        message = self.host.dump(handle)
        self.assertEqual(message["title"], TITLE)
        self.assertIn(BUSY, message.texts("Static"))
        self.assertEqual([strip_access_keys(t) for t in message.texts("Button")], ["OK"])
        self.host.click(handle, "OK")
        self.assertEqual(second.wait(15), 1618)

        self.assertFalse(os.path.exists(self.host.unix_path(HOST + r"\TVKUPDT.EXE")), "the second one installed")
        self.host.click(TITLE, "Cancel")
        self.assertEqual(first.wait(15), 1602)

    # ---- the log in a folder that others can write

    def test_log_never_writes_through_a_link(self):
        # In the temporary folder, and at a path given with /log in a folder
        # every user can write, as the Configuration Manager recipe has it.
        given = r"C:\windows\temp\LiveUpdateSetup.log"
        for args, windows_log in ((["/quiet"], None), (["/quiet", "/log", given], given)):
            with self.subTest(" ".join(args)):
                victim = os.path.join(self.host.prefix, "victim.txt")  # outside drive C, as a system file would be
                with open(victim, "wb") as f:
                    f.write(b"precious\r\n")
                log = self.host.unix_path(windows_log) if windows_log else os.path.join(self.temp_folder(),
                                                                                        "LiveUpdateSetup.log")
                if os.path.lexists(log):
                    os.remove(log)
                os.symlink(victim, log)
                result = self.host.run_watched(self.package(), *args, max_ms=RUN_MS)
                self.assertEqual(result["exit"], 0)
                with open(victim, "rb") as f:
                    self.assertEqual(f.read(), b"precious\r\n")
                self.assertFalse(os.path.islink(log), "the link is still there")
                with open(log, "rb") as f:
                    self.assertTrue(f.read().endswith(b"Completed; exit code 0\r\n"))

    def test_temporary_log_of_a_killed_run_changes_nothing(self):
        folder = self.temp_folder()
        leftovers = {"LiveUpdateSetup.log": b"an old run\r\n", "LiveUpdateSetup.log.new~": b"killed\r\n",
                     "LiveUpdateSetup-1234.log.new~": b"killed\r\n"}
        for name, content in leftovers.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
        result = self.host.run_watched(self.package(), "/quiet", max_ms=RUN_MS)
        self.assertEqual(result["exit"], 0)
        log = self.log_lines()
        self.assertIn(" LiveUpdateSetup ", log[0])
        self.assertEqual(log[-1], "Completed; exit code 0")
        for name in ("LiveUpdateSetup.log.new~", "LiveUpdateSetup-1234.log.new~"):
            with open(os.path.join(folder, name), "rb") as f:
                self.assertEqual(f.read(), leftovers[name])
        self.assertFalse(glob.glob(os.path.join(folder, f"LiveUpdateSetup-{result['pid']}*")),
                         "a temporary or a log of its own is left")

    # ---- removing it again

    def test_quiet_uninstall_puts_the_machine_back(self):
        exe = self.removal_package()
        before = self.snapshot()
        self.assertEqual(self.host.run_watched(exe, "/quiet", max_ms=RUN_MS)["exit"], 0)
        self.assertNotEqual(self.snapshot(), before)
        result = self.host.run_watched(*self.uninstall_command(), max_ms=RUN_MS)
        self.assertEqual((result["exit"], result["visible"]), (0, []))
        self.host.restart()  # the uninstaller's own file goes at the restart
        self.assert_same(self.snapshot(), before)
        again = self.host.run_watched(exe, "/uninstall", "/quiet", max_ms=RUN_MS)
        self.assertEqual(again["exit"], 1605, "not installed any more")

    def test_two_installs_then_one_uninstall(self):
        exe = self.removal_package()
        before = self.snapshot()
        self.assertEqual(self.host.run_watched(exe, "/quiet", max_ms=RUN_MS)["exit"], 0)
        with open(os.path.join(os.path.dirname(self.host.unix_path(exe)), "README.TXT"), "wb") as f:
            f.write(b"a newer readme\r\n")  # the second package replaces it again
        self.assertEqual(self.host.run_watched(exe, "/quiet", max_ms=RUN_MS)["exit"], 0)
        self.assertEqual(self.host.run_watched(*self.uninstall_command(), max_ms=RUN_MS)["exit"], 0)
        self.host.restart()
        self.assert_same(self.snapshot(), before)

    def test_a_file_changed_since_the_install_stays(self):
        self.assertEqual(self.host.run_watched(self.removal_package(), "/quiet", max_ms=RUN_MS)["exit"], 0)
        client = self.host.unix_path(HOST + r"\TVKUPDT.EXE")
        with open(client, "ab") as f:
            f.write(b"a later host update")
        changed = open(client, "rb").read()
        self.assertEqual(self.host.run_watched(*self.uninstall_command(), max_ms=RUN_MS)["exit"], 0)
        self.assertEqual(open(client, "rb").read(), changed)
        with open(self.host.unix_path(HOST + r"\README.TXT"), "rb") as f:
            self.assertEqual(f.read(), b"the host's own readme\r\n")
        self.assertTrue(any("TVKUPDT.EXE" in line and "changed since" in line for line in self.log_lines()))

    def test_an_install_killed_half_way_is_undone(self):
        # Killed mid-walk: the entry is there already, and the uninstall
        # takes back what arrived, the temporaries included. The installer
        # is held still once 300 files are there, and what it had done is
        # read before it is killed: some files, not all, and a record that
        # has begun but not ended.
        fillers = {f"F{i:04d}.TXT": b"x" * 4096 for i in range(1500)}
        body = "START\nFOLDER,SERVER\nFILE,README.TXT\n" + "".join(f"FILE,{name}\n" for name in fillers) + "END\n"
        with open(self.host.unix_path(HOST + r"\README.TXT"), "wb") as f:
            f.write(b"the host's own readme\r\n")
        exe = self.package(body, dict(fillers, **{"README.TXT": b"readme\r\n"}))
        before = self.snapshot()
        process = self.host.start(exe, "/quiet", full_exit_code=True)
        installer = wait_until(lambda: self.host.linux_pids("LiveUpdateSetup.exe"), 60)
        self.assertEqual(len(installer or []), 1, "the installer's process")
        host_folder = self.host.unix_path(HOST)
        self.assertTrue(wait_until(lambda: len(os.listdir(host_folder)) > 300, 60, 0.05), "the walk did not start")
        with self.host.held(installer):
            arrived = len({name.lower() for name in fillers} & {name.lower() for name in os.listdir(host_folder)})
            record = self.tree(RECORD_FOLDER).get("install record.txt", b"").decode("cp1252")
            os.kill(installer[0], signal.SIGKILL)
        process.kill()
        self.assertTrue(0 < arrived < len(fillers), f"{arrived} of {len(fillers)} files had arrived at the kill")
        kinds = [line.split("\t")[0] for line in record.splitlines()]
        self.assertIn("begun", kinds, "the record had not begun")
        self.assertNotIn("ended", kinds, "the install had ended")
        self.assertNotEqual(self.snapshot(), before)
        self.assertEqual(self.host.run_watched(*self.uninstall_command(), max_ms=RUN_MS)["exit"], 0)
        self.host.restart()
        self.assert_same(self.snapshot(), before)

    def test_a_file_in_use_goes_at_the_restart(self):
        self.assertEqual(self.host.run_watched(self.removal_package(), "/quiet", max_ms=RUN_MS)["exit"], 0)
        client = self.host.start(HOST + r"\TVKUPDT.EXE")  # the host's client, running
        self.host.wait_window("Vantrel Live Update")
        self.assertEqual(self.host.run_watched(*self.uninstall_command(), max_ms=RUN_MS)["exit"], 3010)
        pending = self.host.reg_query(SESSION_MANAGER, "PendingFileRenameOperations") or ""
        # Renamed aside, so that the restart never deletes a file an install
        # puts at its name before it.
        self.assertIn("tvkupdt.exe.1.del~", pending.lower())
        self.assertTrue(os.path.exists(self.host.unix_path(HOST + r"\TVKUPDT.EXE.1.del~")), "deleted while in use")
        client.kill()
        self.host.restart()
        self.assertEqual([name for name in self.tree(HOST) if name.startswith("tvkupdt")], [])

    def test_a_library_in_use_is_replaced_at_the_restart(self):
        # A library the host holds open: the quiet install leaves it as it
        # is and ends with 3010, its new content waiting beside it; the
        # restart (the holder gone, as at a real one) puts it in place. A
        # package with class data writes its values at once, naming the
        # path it will have; an older one registers it after the restart,
        # from RunOnce. The 95 family's renames wait in WININIT.INI. An
        # uninstall before the restart withdraws the replacement: after the
        # restart the machine is as it was.
        dll = HOST + r"\TVKCOM.DLL"
        waiting = dll + ".1.new~"
        new = {"TvkUpdt.exe": payload("TvkUpdt.exe"), "README.TXT": b"readme\r\n", "TVKCOM.DLL": payload("TVKCOM.dll")}
        for version, uninstall, data in (("default", False, True), ("win95", False, False), ("default", True, False),
                                         ("default", True, True)):
            with self.subTest(version + (", uninstalled before the restart" if uninstall else "") +
                              (", class data" if data else "")):
                self.prepare()
                if version != "default":
                    self.host.set_windows_version("LiveUpdateSetup.exe", version)
                old = {"README.TXT": b"the host's own readme\r\n", "TVKCOM.DLL": new["TVKCOM.DLL"] + b"version 1"}
                for name, content in old.items():
                    with open(self.host.unix_path(HOST + "\\" + name), "wb") as f:
                        f.write(content)
                exe = self.package(BODY.replace("README.TXT", "README.TXT,TVKCOM.DLL"), new, class_data=data)
                before = self.snapshot()
                with file_held_open(self.host, dll):
                    result = self.host.run_watched(exe, "/quiet", max_ms=RUN_MS)
                self.assertEqual((result["exit"], result["visible"]), (3010, []))
                files = self.tree(HOST)
                self.assertEqual(files["tvkcom.dll"], old["TVKCOM.DLL"], "replaced before the restart")
                self.assertEqual(files["tvkcom.dll.1.new~"], new["TVKCOM.DLL"])
                self.assertEqual(files["readme.txt"], new["README.TXT"], "a file not in use is replaced at once")
                register = (f"registered as data: 4 class values from CLASSES.TXT" if data else
                            rf'to register after the restart: {SYSTEM_DIR}\regsvr32.exe /s "{dll}"')
                self.assertEqual(self.host.reg_query(RUN_ONCE, dll), None if data else register.split(": ", 1)[1])
                if data:
                    self.assertEqual(registration(self.host, "TVKCOM.DLL"), f"DllRegisterServer {dll}")
                log = self.log_lines()
                self.assertIn(f"Files in use: {dll}", log)
                self.assertIn(rf"C:\pkg\{self.id().split('.')[-1]}\TVKCOM.DLL -> {dll}: in use; replaced at the next "
                              f"restart; waiting as {waiting}; {register}", log)
                self.assertEqual(log[-1], "Completed; files replaced at the next restart: 1; restart needed; "
                                          "exit code 3010")
                pending = self.host.reg_query(SESSION_MANAGER, "PendingFileRenameOperations")
                if version == "win95":
                    self.assertIsNone(pending)
                    with open(self.host.unix_path(WININIT), "rb") as f:  # short names: no spaces
                        self.assertRegex(f.read().decode(), r"^\[rename\]\r\nC:\\Vantrel\\~LU00001\.OLD=C:\\Vantrel\\"
                                         r"TVKCOM\.DLL\r\nC:\\Vantrel\\TVKCOM\.DLL=C:\\Vantrel\\[^ =\\]{1,8}\.NEW\r\n$")
                else:  # the previous content moves aside beside it (for the uninstall) first, on its own volume
                    self.assertEqual(pending, rf"\??\{dll}\0!\??\{HOST}\~LU00001.OLD\0\??\{waiting}\0!\??\{dll}")
                if uninstall:
                    result = self.host.run_watched(*self.uninstall_command(), max_ms=RUN_MS)
                    self.assertEqual((result["exit"], result["visible"]), (0, []))
                    self.assertIn(f"{dll}: its replacement at the next restart withdrawn", self.log_lines())
                self.host.restart()
                if uninstall:
                    self.assert_same(self.snapshot(), before)
                    continue
                files = self.tree(HOST)
                for name, content in new.items():
                    self.assertEqual(files[name.lower()], content, name)
                self.assertEqual(sorted(files), ["readme.txt", "sys", "sys/tovask.ini", "tvkcom.dll", "tvkupdt.exe",
                                                 "~lu00001.old"], "the waiting copy is left")
                self.assertEqual(files["~lu00001.old"], old["TVKCOM.DLL"], "the previous content kept for the uninstall")
                self.assertEqual(registration(self.host, "TVKCOM.DLL"), f"DllRegisterServer {dll}")
                self.assertIsNone(self.host.reg_query(RUN_ONCE, dll))

    def test_attended_removal_asks_first(self):
        self.assertEqual(self.host.run_watched(self.removal_package(), "/quiet", max_ms=RUN_MS)["exit"], 0)
        uninstaller = self.uninstall_command("UninstallString")
        for answer, code in (("No", 1602), ("Yes", 0)):
            with self.subTest(answer):
                process = self.host.start(*uninstaller, full_exit_code=True)
                box = wait_until(lambda: [w for w in self.host.list_windows() if w["class"] == "#32770"], 15, 0.2)
                self.assertIsNotNone(box, "no question")
                question = self.host.dump("hwnd:" + box[0]["hwnd"])
                self.assertIn("Remove Vantrel - Live Update from this computer?", question.texts("Static"))
                self.host.click("hwnd:" + box[0]["hwnd"], answer)
                if answer == "Yes":  # the last message: removed
                    done = wait_until(lambda: [w for w in self.host.list_windows()
                                               if w["class"] == "#32770" and w["hwnd"] != box[0]["hwnd"]], 60, 0.2)
                    self.assertIsNotNone(done, "no message at the end")
                    message = self.host.dump("hwnd:" + done[0]["hwnd"])
                    self.assertIn("Vantrel Live Update was removed from this computer.", message.texts("Static"))
                    self.host.click("hwnd:" + done[0]["hwnd"], "OK")
                self.assertEqual(process.wait(60), code)
                self.assertEqual(os.path.exists(self.host.unix_path(HOST + r"\TVKUPDT.EXE")), answer == "No")

    def test_uninstall_where_nothing_is_installed(self):
        result = self.host.run_watched(self.package(), "/uninstall", "/quiet", max_ms=RUN_MS)
        self.assertEqual((result["exit"], result["visible"]), (1605, []))

    # ---- a damaged sealed package

    def test_damaged_sealed_package_is_refused_before_anything_changes(self):
        process = self.host.start(self.sealed_package_damaged(), full_exit_code=True)
        ready = self.host.dump(TITLE)
        self.host.click(TITLE, "Install")
        box = wait_until(lambda: [w for w in self.host.list_windows()
                                  if w["class"] == "#32770" and w["pid"] == ready["pid"]], 30, 0.2)
        self.assertIsNotNone(box, "no message for the damaged package")
        message = self.host.dump("hwnd:" + box[0]["hwnd"])
        self.assertEqual(message["title"], TITLE)
        self.assertIn(DAMAGED, message.texts("Static"))
        self.host.click("hwnd:" + box[0]["hwnd"], "OK")
        self.assertEqual(process.wait(15), 1620)
        self.assert_nothing_changed()

        self.prepare()
        result = self.host.run_watched(self.sealed_package_damaged(), "/quiet", max_ms=RUN_MS)
        self.assertEqual((result["exit"], result["visible"]), (1620, []))
        self.assert_nothing_changed()
        self.assertIn("Refused: " + DAMAGED, self.log_lines())

    def test_names_with_a_folder_are_never_found_even_in_a_sealed_package(self):
        # The seal passes over names that carry a folder, so the installer
        # must never read them either: beside the package and above it lie
        # files of those names, and neither is copied, registered or written
        # outside the host folder.
        body = BODY.replace("README.TXT", "README.TXT,SUB\\X.DLL,..\\X.DLL")
        exe = self.package(body)
        folder = self.seal(exe)
        os.makedirs(os.path.join(folder, "SUB"))
        for planted in (os.path.join(folder, "SUB", "X.DLL"), os.path.join(folder, "..", "X.DLL")):
            with open(planted, "wb") as f:
                f.write(payload("TVKCOM.dll"))
        result = self.host.run_watched(exe, "/quiet", max_ms=RUN_MS)
        self.assertEqual((result["exit"], result["visible"]), (1603, []))
        self.assertFalse(os.path.exists(self.host.unix_path(r"C:\X.DLL")), "written outside the host folder")
        self.assertEqual(sorted(os.listdir(self.host.unix_path(HOST))), ["README.TXT", "Sys", "TVKUPDT.EXE"])
        log = self.log_lines()
        self.assertIn("Package check: every file matches SHA256SUMS", log)
        package = self.id().split(".")[-1]
        for name, destination in ((r"SUB\X.DLL", HOST + r"\SUB\X.DLL"), (r"..\X.DLL", HOST + r"\..\X.DLL")):
            self.assertIn(rf"C:\pkg\{package}\{name} -> {destination}: source not found", log)
        self.assertEqual(log[-1], rf"Completed with failures; last trouble: Source file C:\pkg\{package}\..\X.DLL "
                                  "not found; exit code 1603")


if __name__ == "__main__":
    unittest.main(verbosity=2)
