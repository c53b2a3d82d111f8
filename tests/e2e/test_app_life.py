#!/usr/bin/python3
"""Brindle's life as an application: launching again, hiding, quitting, the Edit keys and About.
Keys go through xdotool; dialogs and menus are pressed through the accessibility tree."""

import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from accessibility import application_of, find, press  # noqa: E402
from desktop import close_window, screenshot, visible_windows, xdotool  # noqa: E402
from harness import DEFAULT_TIMEOUT, now_ms, wait_for  # noqa: E402

import pyatspi  # noqa: E402

QUESTION = "Quit Brindle?"
INFORMATIVE = "Ringing alarms cannot sound while Brindle is quit. Close the window to keep alarms running."
HOUR_MS = 3600 * 1000.0


def built_version():
    """The version this build of Brindle carries, as the build wrote it into its settings."""
    settings = Path(os.environ.get("BRINDLE_BUILD_DIR", ".")) / "generated" / "build_config.h"
    match = re.search(r'version = "([^"]+)"', settings.read_text()) if settings.is_file() else None
    if not match:
        raise unittest.SkipTest("BRINDLE_BUILD_DIR does not hold a configured build")
    return match.group(1)


def alarm(key, at, title, mode="alarm", sound="bell"):
    return {"key": key, "at": at, "title": title, "sound": sound, "mode": mode}


def icon_pixels(png):
    """How many pixels of the picture have the orange of Brindle's icon tile."""
    histogram = subprocess.run(["convert", str(png), "-format", "%c", "histogram:info:-"], check=True,
                               capture_output=True, text=True).stdout
    counts = [map(int, match.groups()) for match in re.finditer(
        r"^\s*(\d+):\s*\(\s*(\d+),\s*(\d+),\s*(\d+)", histogram, re.MULTILINE)]
    return sum(pixels for pixels, red, green, blue in counts if red > 200 and 90 < green < 175 and blue < 100)


class AccessibleBrindle(harness.Brindle):
    """The harness's Brindle with its accessibility bridge on, so that its dialogs and menus can be pressed."""

    def environment(self):
        environment = super().environment()
        environment.pop("NO_AT_BRIDGE", None)
        return environment

    def find(self, predicate, root=None):
        return find(root or application_of(self.process.pid), predicate)

    def window_with_text(self, text):
        """The top-level window of Brindle's that shows a label with exactly this text."""
        application = application_of(self.process.pid)
        return next((window for window in application or [] if window is not None and self.find(
            lambda node: node.name == text and node.getRoleName() == "label", window)), None)

    def question(self):
        return self.window_with_text(QUESTION)

    def button(self, window, label):
        return self.find(lambda node: node.getRoleName() == "push button" and node.name == label, window)

    def menu_item(self, label):
        return self.find(lambda node: node.getRoleName() == "menu item" and node.name == label)

    def main_window(self):
        """The window shown at launch (the quit question is titled "Brindle" too, but comes later)."""
        if getattr(self, "main_window_id", None) is None:
            self.main_window_id = wait_for(lambda: visible_windows(self.process.pid),
                                           what="Brindle's main window")[0]
        return self.main_window_id

    def key(self, *keys):
        """Types keys with the main window focused. They go through XTEST, not to the window by id: a
        key that closes the window (Ctrl+Q) would otherwise have its release lost and stay held down."""
        xdotool("windowfocus", "--sync", self.main_window())
        xdotool("key", "--clearmodifiers", "--delay", "80", *keys)

    def exited(self):
        return self.process.poll() is not None


class AppLifeTest(unittest.TestCase):
    def launch(self, alarms=None):
        brindle = AccessibleBrindle(start=False)
        if alarms is not None:
            brindle.write_store(alarms)
        self.addCleanup(brindle.__exit__, None, None, None)
        brindle.start()
        brindle.wait_planner()
        return brindle

    def test_ctrl_h_hides_launching_again_shows_and_ctrl_q_with_nothing_ahead_quits_at_once(self):
        # A reminder ahead and an alarm already past do not make quitting costly.
        brindle = self.launch([alarm("r1/main", now_ms() + HOUR_MS, "Reminder ahead", mode="notify"),
                               alarm("a1/main", now_ms() - 20 * 60 * 1000.0, "Alarm long past")])
        window = brindle.main_window()
        brindle.key("ctrl+h")
        wait_for(lambda: not visible_windows(brindle.process.pid), what="Ctrl+H to hide the window")
        self.assertFalse(brindle.exited(), "hiding must not quit Brindle")

        second = subprocess.run([brindle.binary], env=brindle.environment(), capture_output=True,
                                timeout=DEFAULT_TIMEOUT)
        self.assertEqual(second.returncode, 0)
        self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window"), [window])
        self.assertEqual(brindle.hub.document_count(), 1, "the page must not load again")

        brindle.key("ctrl+q")
        self.assertEqual(brindle.process.wait(DEFAULT_TIMEOUT), 0)

    def test_ctrl_q_with_an_alarm_ahead_asks_and_deliveries_go_on_while_it_waits(self):
        ahead = alarm("a1/main", now_ms() + HOUR_MS, "Alarm in an hour")
        brindle = self.launch([ahead])
        window = brindle.main_window()

        brindle.key("ctrl+q")
        question = wait_for(brindle.question, what="the quit question")
        self.assertIsNotNone(brindle.find(lambda node: node.name == INFORMATIVE, question),
                             "the question explains itself")
        self.assertIsNotNone(brindle.button(question, "Quit"))
        self.assertTrue(brindle.button(question, "Keep running").getState().contains(pyatspi.STATE_IS_DEFAULT), "Keep running is the default")

        # While the question waits, the page hands over a reminder that falls due a few seconds
        # later; Brindle takes it and delivers it with the question still up.
        reminder = alarm("r1/main", now_ms() + 3000, "Water the plants", mode="notify")
        answer = brindle.page.request("schedule", {"alarms": [ahead, reminder], "taskIds": ["a1", "r1"]})
        self.assertEqual(answer, {"value": True})
        delivered = wait_for(lambda: [n for n in brindle.notifications() if n["summary"] == "Brindle reminder"],
                             what="the reminder while the question is up")
        self.assertEqual([n["body"] for n in delivered], ["Water the plants"])
        self.assertIsNotNone(brindle.question(), "the question is still waiting")
        self.assertFalse(brindle.exited())

        # Return answers the default button: Brindle keeps running, with its window and page.
        xdotool("key", "Return")
        wait_for(lambda: brindle.question() is None, what="the question to close")
        self.assertFalse(brindle.exited(), "Keep running must keep Brindle")
        self.assertEqual(visible_windows(brindle.process.pid), [window])
        self.assertEqual(brindle.page.run("return document.title"), "Planner under test")

        # Asked again, "Quit" ends it, cleanly.
        brindle.key("ctrl+q")
        question = wait_for(brindle.question, what="the quit question again")
        press(brindle.button(question, "Quit"))
        self.assertEqual(brindle.process.wait(DEFAULT_TIMEOUT), 0)
        # Quitting saved nothing: the store is the schedule the page last handed over.
        self.assertEqual([entry["key"] for entry in brindle.stored_alarms()], ["a1/main", "r1/main"])

    def test_edit_keys_and_items_act_on_the_page_and_about_shows_name_version_and_icon(self):
        brindle = self.launch()
        window = brindle.main_window()
        brindle.page.run("""
            document.body.insertAdjacentHTML("beforeend",
                '<input id="from" value="Buy oat milk"> <input id="to" value="">');
            return null;""")

        def focus(field):
            brindle.page.run(f'document.getElementById("{field}").focus(); return null;')

        def value(field):
            return brindle.page.run(f'return document.getElementById("{field}").value')

        def choose(label):
            press(wait_for(lambda: brindle.menu_item(label), what=f"the menu item {label!r}"))

        # From the keyboard: Ctrl+A, Ctrl+X in one field, Ctrl+V in the other.
        focus("from")
        brindle.key("ctrl+a", "ctrl+x")
        wait_for(lambda: value("from") == "", what="Ctrl+A, Ctrl+X to cut the whole field")
        focus("to")
        brindle.key("ctrl+v")
        wait_for(lambda: value("to") == "Buy oat milk", what="Ctrl+V to paste the cut text")

        # From the Edit menu: Select All and Copy in that field, Paste back in the first.
        choose("Select All")
        choose("Copy")
        focus("from")
        choose("Paste")
        wait_for(lambda: value("from") == "Buy oat milk", what="Edit, Paste to paste the copied text")
        self.assertEqual(value("to"), "Buy oat milk", "copying leaves the field as it was")

        for label in ("Show Brindle", "Hide Brindle", "Quit Brindle", "Cut"):
            self.assertIsNotNone(brindle.menu_item(label), label)
        choose("About Brindle")
        version = built_version()
        about = wait_for(lambda: brindle.window_with_text(version), what="the About dialog")
        self.assertIsNotNone(
            brindle.find(lambda node: node.name == "Brindle" and node.getRoleName() == "label", about))
        dialog = wait_for(lambda: visible_windows(brindle.process.pid, "About Brindle"), what="the About window")[0]
        picture = Path(brindle.root) / "about.png"
        screenshot(dialog, picture)
        self.assertGreater(icon_pixels(picture), 2000, "the About dialog shows Brindle's own icon")

        # With the main window closed, Ctrl+0 typed in another of Brindle's windows brings the
        # same window back.
        close_window(window)
        wait_for(lambda: not visible_windows(brindle.process.pid), what="the main window to close")
        xdotool("windowfocus", "--sync", dialog)
        xdotool("key", "--clearmodifiers", "ctrl+0")
        self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="Ctrl+0"), [window])
        self.assertFalse(brindle.exited())


if __name__ == "__main__":
    harness.main()
