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
CLIENT_DEADLINE = 240  # seconds; a conversation takes well under a minute, three unanswered requests included
REQUEST_WAIT_MS = 10000  # how long a request waits for its answer

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
        figures, the commands the server received and whether the server
        was still running when the client ended. The server outlives any
        client that gives up as it should; a client that waits on for an
        answer fails at the deadline."""
        log = os.path.join(self.host.drive_c, f"dde-{time.monotonic_ns()}.log")
        server = self.host.start(SERVER, *server_options, "--seconds", str(2 * CLIENT_DEADLINE),
                                 self.host.win_path(log))
        try:
            deadline = time.monotonic() + 20
            while not os.path.exists(log + ".ready"):
                self.assertLess(time.monotonic(), deadline, "server did not start")
                time.sleep(0.1)
            result = self.host.run(CLIENT, timeout=CLIENT_DEADLINE)
            server_stayed = server.running()
        finally:
            server.kill()
        figures = dict(line.split() for line in result.stdout.split("\n") if line.strip())
        commands = []
        if os.path.exists(log):
            with open(log, encoding="latin-1") as f:
                commands = f.read().splitlines()
        return result.returncode, figures, commands, server_stayed

    def test_sends_the_three_commands_exactly(self):
        code, figures, commands, _ = self.converse()
        self.assertEqual(code, 0, figures)
        self.assertEqual(commands, EXAMPLE)
        self.assertEqual(figures["pending_error"], "0")
        self.assertEqual(figures["busy_nesting"], "0")
        print("conversation with a server:", figures["elapsed_ms"], "ms")

    def test_refused_replace_item_still_sends_add_item(self):
        code, figures, commands, _ = self.converse("--refuse", "[ReplaceItem(")
        self.assertEqual(code, 0, figures)
        self.assertEqual(commands, EXAMPLE)

    def test_unanswered_requests_give_up_after_ten_seconds_each(self):
        # A server that takes every request and never answers: the client
        # gives up on each by itself, while the server is still there, and
        # sends the next; the three waits take their full time. (How long
        # each may wait is the host tests' concern: a machine under load
        # makes any upper bound here a guess.)
        code, figures, commands, server_stayed = self.converse("--hang")
        self.assertEqual(code, 0, figures)
        self.assertEqual(commands, EXAMPLE)
        self.assertTrue(server_stayed, "the conversation ended only when the server went away")
        print("conversation with an unanswering server:", figures["elapsed_ms"], "ms")
        self.assertGreaterEqual(int(figures["elapsed_ms"]), 3 * REQUEST_WAIT_MS - 1000)


if __name__ == "__main__":
    unittest.main(verbosity=2)
