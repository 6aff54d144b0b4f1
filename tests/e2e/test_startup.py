"""End-to-end start-up scenarios: the real installer under Wine, from a
package folder, against a host product fixture.

All scenarios share one display and one prefix; each starts from a clean
state: no program of ours running, its own package folder, the host product
and its setting written afresh.
"""

import os
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winehost  # noqa: E402
from winehost import make_host_product, make_package, set_host_setting  # noqa: E402

TITLE = "Install Vantrel Live Update"
HEADER = "Vantrel,WEB130,WEB131,WEB120,WEB140,WEB110"
HOST = r"C:\Vantrel"
READY_STATUS = "Click Install to continue or Cancel to Exit"
DDE_LABEL = "This label used for DDE connection to the Program Manager"
UNSUPPORTED = "Live Update supported only in Vantrel 1.20 or higher versions"
PROMPT = "Enter path where Vantrel installed"

# Inner size of the window in twips, and twips per pixel at 96 dpi.
INNER_TWIPS = (6840, 5085)
TWIPS_PER_PIXEL = 15

END_TIMEOUT = 15  # seconds for the installer to end after an action
QUIET_PERIOD = 1.0  # seconds in which "nothing happens" is observed


class StartupScenarios(winehost.WineTestCase):
    host_name = "startup"

    # ---- helpers

    def start_installer(self, version="1.30", cs_path=HOST, update_lst=HEADER + "\n"):
        """Host product at C:\\Vantrel with that version, the setting CS_Path
        (None: absent), and the installer in a package folder of its own
        with that UPDATE.LST (None: none)."""
        self.host.kill_programs()  # a clean start for every subtest too
        make_host_product(self.host, HOST, version)
        set_host_setting(self.host, cs_path)
        folder = r"C:\pkg" + "\\" + self.id().split(".")[-1]
        exe = make_package(self.host, folder, update_lst)
        return self.host.start(exe, cwd=self.host.unix_path(folder), full_exit_code=True)

    def start_ready(self):
        process = self.start_installer()
        self.host.wait_window(TITLE)
        return process

    def assert_ends(self, process, what, exit_code):
        """The installer ends by itself with this exit code (a crash under
        Wine gives another, as the crash dialog is switched off)."""
        try:
            code = process.wait(END_TIMEOUT)
        except TimeoutError:
            self.fail(f"{what}: the installer is still running; windows: {self.host.list_windows()}")
        self.assertEqual(code, exit_code, f"{what}: exit code")

    def assert_keeps_running(self, process, what):
        time.sleep(QUIET_PERIOD)
        self.assertTrue(process.running(), f"{what}: the installer ended")

    def windows_of(self, pid):
        return [w for w in self.host.list_windows() if w["pid"] == pid]

    def answer_prompt(self, text, button="OK"):
        """Waits for the path prompt, types `text` and presses `button`."""
        prompt = self.host.dump(TITLE)
        self.assertEqual(prompt["class"], "#32770", "expected the path prompt first")
        handle = "hwnd:" + prompt["hwnd"]  # the window that follows has the same title
        if text is not None:
            self.host.type_text(handle, text)
        self.host.click(handle, button)
        self.assertTrue(self.host.wait_gone(handle), "the prompt stayed open")
        return prompt

    def assert_ready_window_follows(self, process):
        window = self.host.dump(TITLE)
        self.assertNotEqual(window["class"], "#32770")
        self.assertEqual(window.control(READY_STATUS, "Static")["text"], READY_STATUS)
        self.assertTrue(process.running())

    def assert_message_then_end(self, process, title, text, exit_code):
        """Exactly one message box of the installer, OK ends the program."""
        box = self.host.dump(title)
        self.assertEqual(box["class"], "#32770")
        self.assertIn(text, box.texts("Static"))
        self.assertEqual([w["title"] for w in self.windows_of(box["pid"])], [title])
        self.host.click(title, "OK")
        self.assert_ends(process, f"OK on the message {text!r}", exit_code)

    # ---- the Ready window

    def test_ready_window(self):
        self.start_ready()
        window = self.host.dump(TITLE)
        self.assertEqual(window["title"], TITLE)

        statics = {c["text"]: c for c in window.find(cls="Static")}
        for text in (TITLE, "This will install Vantrel Live Update on your system",
                     "Close Vantrel before continuing", READY_STATUS):
            self.assertIn(text, statics, f"no label {text!r}; labels: {list(statics)}")
            self.assertTrue(statics[text]["visible"], f"label {text!r} not visible")
        self.assertIn(DDE_LABEL, statics)
        self.assertFalse(statics[DDE_LABEL]["visible"], "Label1 shows")

        install = window.control("&Install", "Button")
        self.assertTrue(install["visible"] and install["enabled"], install)
        help_button = window.control("&Help", "Button")
        self.assertFalse(help_button["own_visible"], "Help shows")
        cancel = window.control("C&ancel", "Button")
        self.assertTrue(cancel["visible"] and cancel["enabled"], cancel)
        self.assertEqual((window.focused() or {}).get("hwnd"), cancel["hwnd"], "focus not on Cancel")

        self.assertFalse(window["minimizebox"], "minimise box")
        self.assertFalse(window["maximizebox"], "maximise box")
        self.assertTrue(window["sysmenu"], "no system menu")

        # Placed by the inner size: the window's left and top edges are at
        # half the screen minus half the inner size, so the outer frame
        # makes it lie a little right of and below true centre. Half a pixel
        # may round either way.
        left, top, right, bottom = window["client"]
        inner_w, inner_h = right - left, bottom - top
        screen_w, screen_h = window["screen"]
        self.assertEqual((inner_w, inner_h), tuple(t // TWIPS_PER_PIXEL for t in INNER_TWIPS))
        outer_left, outer_top = window["rect"][:2]
        self.assertLessEqual(abs(outer_left - (screen_w - inner_w) / 2), 0.5, window["rect"])
        self.assertLessEqual(abs(outer_top - (screen_h - inner_h) / 2), 0.5, window["rect"])

        self.host.screenshot(os.path.join(winehost.work_dir(), "ready.png"))

    # ---- the window at another DPI

    def measure_window(self):
        """What the Ready window shows, in screen pixels: the client size,
        the heading's and a body line's heights, the banner's width (read
        on the panel's lowest row, so the banner reaches it), whether the
        frame's right edge is drawn, and the visible labels' rectangles."""
        window = self.host.dump(TITLE)
        left, top, right, bottom = window["client"]
        screen = self.host.pixels()
        panel_bottom = top + window.control("Click Install to continue or Cancel to Exit")["rect"][3] + 3
        panel_colour = screen.at(right - 5, top + 5)
        banner = next(x for x in range(left, right) if screen.at(x, panel_bottom) == panel_colour) - left
        face_colour = screen.at(left + 5, bottom - 5)
        frame_right_edge = any(screen.at(right - 1, y) != face_colour for y in range(panel_bottom + 10, bottom - 5))
        labels = [c["rect"] for c in window.find(cls="Static") if c["visible"]]

        def height(text):
            rect = window.control(text, "Static")["rect"]
            return rect[3] - rect[1]

        return {"client": (right - left, bottom - top), "heading": height(TITLE),
                "body": height("Close Vantrel before continuing"), "banner": banner,
                "frame_right_edge": frame_right_edge, "labels": labels}

    def test_window_scales_with_the_screen_dpi(self):
        # At 144 DPI the layout, the texts and the banner are half as large
        # again as at 96 DPI; every label fits inside the window and none
        # covers another; the frame's edge is drawn inside the client area.
        measured = {}
        try:
            for dpi in (96, 144):
                self.host.set_dpi(dpi)
                process = self.start_ready()
                measured[dpi] = self.measure_window()
                self.host.screenshot(os.path.join(winehost.work_dir(), f"ready-{dpi}.png"))
                self.host.click(TITLE, "Cancel")
                self.assert_ends(process, f"Cancel at {dpi} DPI", 1602)
        finally:
            self.host.set_dpi(None)
        small, large = measured[96], measured[144]
        self.assertEqual(small["client"], tuple(t // TWIPS_PER_PIXEL for t in INNER_TWIPS))
        self.assertEqual(large["client"], tuple(int(t * 144 / 1440 + 0.5) for t in INNER_TWIPS))
        for what in ("heading", "body"):
            self.assertTrue(1.3 <= large[what] / small[what] <= 1.7, f"{what}: {small[what]} -> {large[what]} px")
        self.assertGreaterEqual(large["heading"], 1.25 * large["body"], "heading not clearly larger than the body")
        self.assertEqual(small["banner"], 164)
        self.assertEqual(large["banner"], 246)
        for dpi, m in measured.items():
            self.assertTrue(m["frame_right_edge"], f"frame edge outside the client area at {dpi} DPI")
            width, height = m["client"]
            for i, (l, t, r, b) in enumerate(m["labels"]):
                self.assertTrue(0 <= l and 0 <= t and r <= width and b <= height, f"{dpi} DPI: label {l, t, r, b}")
                for (l2, t2, r2, b2) in m["labels"][i + 1:]:
                    self.assertFalse(l < r2 and l2 < r and t < b2 and t2 < b, f"{dpi} DPI: labels overlap")

    # ---- start-up that ends the program

    def test_unsupported_version_shows_one_message(self):
        # A stored folder is not checked: without its settings file the
        # version reads "?", which no web ID matches.
        # That folder holds no host product at all, so it ends with 1605.
        for case, version, code in [("version 1.00", "1.00", 1642), ("stored folder without TOVASK.INI", None, 1605)]:
            with self.subTest(case):
                process = self.start_installer(version=version)
                self.host.wait_window("Vantrel")
                self.assertFalse(any(w["title"] == TITLE for w in self.host.list_windows()),
                                 "installer window shown")
                self.assert_message_then_end(process, "Vantrel", UNSUPPORTED, code)

    def test_broken_update_list_ends_quietly(self):
        # A message box or a window would keep the program alive, so ending
        # on its own within the time limit means nothing was shown.
        for case, text in [("missing", None), ("empty", ""), ("one field", "Vantrel\n")]:
            with self.subTest(case):
                process = self.start_installer(update_lst=text)
                self.assert_ends(process, case, 1620)
                self.assertEqual([w for w in self.host.list_windows() if w["title"] in (TITLE, "Vantrel")], [])

    # ---- asking for the host folder

    def test_prompt_answered_with_valid_folder(self):
        for cs_path in (None, "0"):
            with self.subTest(cs_path=cs_path):
                process = self.start_installer(cs_path=cs_path)
                prompt = self.answer_prompt(HOST)
                self.assertIn(PROMPT, prompt.texts("Static"))
                self.assertEqual(prompt.texts("Edit"), [""], "one empty edit field")
                self.assertEqual(len(prompt.find("OK", "Button")), 1)
                self.assertEqual(len(prompt.find("Cancel", "Button")), 1)
                self.assert_ready_window_follows(process)

    def test_prompt_answered_with_spaces_around_folder(self):
        # The typed text is kept as it is, spaces included, so the settings
        # file is looked for at "  C:\Vantrel  \Sys\TOVASK.INI". The system
        # strips trailing spaces from the last part of a path only: with
        # leading spaces the path is relative to the current folder
        # ("C:\pkg\...\  C:\Vantrel  \Sys\TOVASK.INI"), and a folder
        # part that ends in spaces names another folder. The lookup fails
        # either way, and the user is told the path is not valid.
        for answer in ("  " + HOST + "  ", HOST + "  "):
            with self.subTest(answer=answer):
                process = self.start_installer(cs_path=None)
                self.answer_prompt(answer)
                self.assert_message_then_end(process, TITLE, "Path not valid", 1605)

    def test_prompt_answered_with_folder_without_settings_file(self):
        process = self.start_installer(cs_path=None)
        self.answer_prompt(r"C:\pkg")
        self.assert_message_then_end(process, TITLE, "Path not valid", 1605)

    def test_prompt_cancelled_ends_quietly(self):
        process = self.start_installer(cs_path="0")
        self.answer_prompt(None, "Cancel")
        self.assert_ends(process, "Cancel on the prompt", 1602)

    # ---- leaving the Ready state

    def test_ready_state_exits_without_message(self):
        actions = {
            "Cancel": lambda: self.host.click(TITLE, "Cancel"),
            "close command": lambda: self.host.close_window(TITLE),
            "Enter": lambda: self.host.key(TITLE, "enter"),
            "Space": lambda: self.host.key(TITLE, "space"),
            "Alt+A": lambda: self.host.key(TITLE, "alt+a"),
        }
        for name, action in actions.items():
            with self.subTest(name):
                process = self.start_ready()
                action()
                self.assert_ends(process, name, 1602)

    def test_escape_and_alt_h_do_nothing(self):
        process = self.start_ready()
        before = self.host.dump(TITLE)
        for keys in ("escape", "alt+h"):
            self.host.key(TITLE, keys)
            self.assert_keeps_running(process, keys)
        after = self.host.dump(TITLE)
        self.assertEqual([(c["text"], c["visible"], c["enabled"]) for c in after.controls],
                         [(c["text"], c["visible"], c["enabled"]) for c in before.controls])
        self.host.click(TITLE, "Cancel")  # and it still answers
        self.assert_ends(process, "Cancel after Escape and Alt+H", 1602)


if __name__ == "__main__":
    unittest.main(verbosity=2)
