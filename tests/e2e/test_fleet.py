"""End-to-end fleet reporting under Wine: each run's one event, and /verify
against what the install left. Wine keeps no event log: its advapi32 shows
each ReportEventA call (number, type, strings) on its debug channels, which
these runs switch on; the source's registration is real registry, and the
message file is read the way Event Viewer reads it (uia message).
"""

import os
import re
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_deploy  # noqa: E402  (the module, so that its scenarios are not collected here)
from test_deploy import EVENT_SOURCE_KEY, HOST  # noqa: E402
from test_install import TYPELIB  # noqa: E402
from winehost import _run_captured, payload, RECORD_FOLDER  # noqa: E402

MESSAGE_FILE = RECORD_FOLDER + r"\LiveUpdateEvents.dll"
CLIENT = HOST + r"\TVKUPDT.EXE"
README = HOST + r"\README.TXT"
TYPES = HOST + r"\Sys\TVKTYPES.TLB"
EVENT_CALL = re.compile(r"fixme:advapi:ReportEventA \(\w+,0x(\w{4}),0x\w{4},0x(\w{8}),")
EVENT_STRING = re.compile(r'(?:trace|warn|err):eventlog:ReportEventW L"(.*)"$')  # by the event's type
INFORMATION, WARNING, ERROR = 4, 2, 1


class FleetScenarios(test_deploy.DeployFixture):
    host_name = "fleet"

    def prepare(self):
        super().prepare()
        self.host.reg_delete(TYPELIB)

    def run_reported(self, *args):
        """Runs the installer from a Windows parent with the event calls
        shown: its full exit code, and each event as (number, type, strings)."""
        env = dict(self.host.env, WINEDEBUG="fixme+advapi,+eventlog")
        result = _run_captured(["wine", self.host.uia_exe, "run", *args], env, 120)
        events = []
        for line in result.stderr.splitlines():
            call, string = EVENT_CALL.search(line), EVENT_STRING.search(line)
            if call:
                events.append((int(call.group(2), 16), int(call.group(1), 16), []))
            elif string and events:
                events[-1][2].append(string.group(1).replace("\\\\", "\\"))
        return int(result.stdout), events

    def assert_one_event(self, events, number, kind, code, meaning):
        self.assertEqual(len(events), 1, events)
        self.assertEqual(events[0][:2], (number, kind), events)
        strings = events[0][2]
        self.assertEqual(strings[:6], ["Vantrel Live Update", "1.0.0.0", "1033", str(code), "Vantrel", meaning])
        self.assertEqual(strings[6:8], [HOST, "1.30"])
        return strings

    def verify_log(self):
        return self.log_lines("LiveUpdateSetup-verify.log")

    def assert_message_file(self):
        """The kept message file is the build's, holds an English message
        table, and reads as the README shows it."""
        with open(self.host.unix_path(MESSAGE_FILE), "rb") as f, open(os.environ["LU_EVENTS_DLL"], "rb") as built:
            self.assertEqual(f.read(), built.read())
        dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", os.environ["LU_EVENTS_DLL"]],
                              capture_output=True, text=True, check=True).stdout
        self.assertRegex(dump, r"Entry: ID: 0x00000b.*\n.*\n.*Entry: ID: 0x000001.*\n.*\n.*Entry: ID: 0x000409")
        value = self.host.run("reg", "query", EVENT_SOURCE_KEY, "/v", "EventMessageFile").stdout
        self.assertIn("REG_EXPAND_SZ", value)
        text = self.host.uia("message", MESSAGE_FILE, "1033", *[f"<{n}>" for n in range(1, 12)]).stdout
        self.assertEqual(text.strip(), "Live Update Setup ran an installation. Product Name: <1>. Product Version: <2>. "
                         "Product Language: <3>. Manufacturer: <5>. Installation success or error status: <4> (<6>). "
                         "Host folder: <7>. Host version: <8>. Last trouble: <9>. User: <10>. Log: <11>.")

    def test_install_verify_change_verify_uninstall_verify(self):
        exe = self.removal_package_with_types()
        code, events = self.run_reported(exe, "/quiet")
        self.assertEqual(code, 0, self.log_lines())
        strings = self.assert_one_event(events, 1033, INFORMATION, 0, "installed")
        self.assertEqual(strings[8], "none")
        self.assertTrue(strings[10].endswith(r"\LiveUpdateSetup.log"), strings)
        self.assertEqual(self.host.reg_query(EVENT_SOURCE_KEY, "EventMessageFile"), MESSAGE_FILE)
        self.assertEqual(self.host.reg_query(EVENT_SOURCE_KEY, "TypesSupported"), "0x7")
        self.assert_message_file()

        uninstaller = self.uninstall_command()[0]
        code, events = self.run_reported(uninstaller, "/verify", "/quiet")
        self.assertEqual(code, 0, self.verify_log())
        self.assert_one_event(events, 1050, INFORMATION, 0, "whole")
        self.assertEqual(self.verify_log()[-1], "Whole; exit code 0")
        self.assertEqual(self.log_lines()[-1], "Completed; exit code 0", "the install's log changed")

        # The host updates its readme and removes the client; the type
        # library's registration goes.
        with open(self.host.unix_path(README), "wb") as f:
            f.write(b"the host's newer readme\r\n")
        os.remove(self.host.unix_path(CLIENT))
        self.host.reg_delete(TYPELIB)
        code, events = self.run_reported(exe, "/verify", "/quiet")  # from the package folder
        log = self.verify_log()
        self.assertEqual(code, 1610, log)
        differs = [line for line in log if line.startswith("Differs: ")]
        self.assertEqual(len(differs), 3, log)
        self.assertTrue(any(line.startswith(f"Differs: {CLIENT}: the record holds SHA-256 ") and
                            line.endswith("; the machine holds missing") for line in differs), differs)
        self.assertTrue(any(line.startswith(f"Differs: {README}: the record holds SHA-256 ") and
                            line.endswith(", 25 bytes") for line in differs), differs)
        self.assertIn(f"Differs: {TYPES}: the record holds registered (type library); the machine holds not registered"
                      .lower(), [line.lower() for line in differs])
        self.assertEqual(log[-1], "Not whole; differences: 3; exit code 1610")
        strings = self.assert_one_event(events, 1050, ERROR, 1610, "not whole")
        self.assertEqual("Differs: " + strings[8], differs[-1])

        code, events = self.run_reported(exe, "/quiet")  # installing again mends it
        self.assertEqual(code, 0, self.log_lines())
        self.assertEqual(self.run_reported(uninstaller, "/verify", "/quiet")[0], 0, self.verify_log())

        code, events = self.run_reported(*self.uninstall_command())
        self.assertEqual(code, 0, self.log_lines())
        self.assert_one_event(events, 1034, INFORMATION, 0, "removed")
        self.assertTrue(os.path.isfile(self.host.unix_path(MESSAGE_FILE)), "the message file went")
        self.assertEqual(self.host.reg_query(EVENT_SOURCE_KEY, "EventMessageFile"), MESSAGE_FILE)

        code, events = self.run_reported(exe, "/verify", "/quiet")
        self.assertEqual(code, 1605, self.verify_log())
        self.assertEqual(len(events), 1, events)
        self.assertEqual(events[0][:2], (1050, ERROR))
        self.assertEqual(events[0][2][3:6], ["1605", "Vantrel", "not installed"])
        self.assertEqual(events[0][2][8], "Live Update is not installed")


if __name__ == "__main__":
    unittest.main(verbosity=2)
