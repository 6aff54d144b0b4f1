"""The installer's Program Manager conversation against a recording DDE
server of our own under Wine: the exact commands, a refused command, and a
server that never answers."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import winehost  # noqa: E402

SERVER = winehost.required_file("PROGMAN_SERVER_EXE")
CLIENT = winehost.required_file("PROGMAN_CLIENT_EXE")

EXAMPLE = [
    "[CreateGroup(Vantrel - Ver 1.30)]",
    "[ReplaceItem(Vantrel - Live Update)]",
    "[AddItem(C:\\VANTREL\\TVKUPDT.EXE ,Vantrel - Live Update,,,)]",
]


class ProgmanConversationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = winehost.WineHost("dde")

    @classmethod
    def tearDownClass(cls):
        cls.host.close()

    def converse(self, *server_options):
        """Starts our server (it answers before the shell's, having
        registered later), runs the conversation, returns the client's
        figures and the commands the server received."""
        log = os.path.join(self.host.drive_c, f"dde-{time.monotonic_ns()}.log")
        server = self.host.start(SERVER, *server_options, "--seconds", "90", self.host.win_path(log))
        try:
            deadline = time.monotonic() + 20
            while not os.path.exists(log + ".ready"):
                self.assertLess(time.monotonic(), deadline, "server did not start")
                time.sleep(0.1)
            result = self.host.run(CLIENT, timeout=120)
        finally:
            server.kill()
        figures = dict(line.split() for line in result.stdout.split("\n") if line.strip())
        commands = open(log, encoding="latin-1").read().splitlines() if os.path.exists(log) else []
        return result.returncode, figures, commands

    def test_sends_the_three_commands_exactly(self):
        code, figures, commands = self.converse()
        self.assertEqual(code, 0, figures)
        self.assertEqual(commands, EXAMPLE)
        self.assertEqual(figures["pending_error"], "0")
        self.assertEqual(figures["busy_nesting"], "0")
        print("conversation with a server:", figures["elapsed_ms"], "ms")

    def test_refused_replace_item_still_sends_add_item(self):
        code, figures, commands = self.converse("--refuse", "[ReplaceItem(")
        self.assertEqual(code, 0, figures)
        self.assertEqual(commands, EXAMPLE)

    def test_unanswered_requests_give_up_after_ten_seconds_each(self):
        code, figures, commands = self.converse("--hang")
        self.assertEqual(code, 0, figures)
        self.assertEqual(commands, EXAMPLE)
        elapsed = int(figures["elapsed_ms"])
        self.assertGreaterEqual(elapsed, 29000)
        self.assertLess(elapsed, 40000)


if __name__ == "__main__":
    unittest.main(verbosity=2)
