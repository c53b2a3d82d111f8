#!/usr/bin/python3
"""An alarm rings in the real Brindle: the floating panel comes up above every window with the
alarm's title, and its buttons, pressed through the accessibility tree, snooze or stop it."""

import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
# GTK reaches the accessibility bus only with its bridge on; the harness turns it off by default.
os.environ["NO_AT_BRIDGE"] = "0"

import harness  # noqa: E402
from accessibility import application_of, descendants, find, press  # noqa: E402
from desktop import titled_windows, window_size  # noqa: E402
import pyatspi  # noqa: E402

PANEL_TITLE = "Brindle alarm"
FIVE_MINUTES = 300000.0


class RingingTest(unittest.TestCase):
    def ring(self, brindle, key, title, sound):
        """Schedules an alarm a few seconds ahead and waits for its panel; gives the alarm and the buttons."""
        alarm = {"key": key, "at": harness.now_ms() + 3000.0, "title": title, "sound": sound, "mode": "alarm"}
        self.assertEqual(brindle.page.request("schedule", {"alarms": [alarm], "taskIds": [key.split("/")[0]]}),
                         {"value": True})
        self.assertEqual(brindle.stored_alarms(), [alarm])

        def ready():
            brindle.check_running()
            frame = titled_windows(PANEL_TITLE) and find(application_of(brindle.process.pid),
                                                         lambda node: node.name == PANEL_TITLE)
            try:
                nodes = [(n.getRole(), n.name, n) for n in descendants(frame)] if frame else []
            except Exception:  # The panel changed while it was read.
                return None
            buttons = {name: n for role, name, n in nodes if role == pyatspi.ROLE_PUSH_BUTTON}
            shown = (pyatspi.ROLE_LABEL, title) in [(role, name) for role, name, _ in nodes]
            return buttons if shown and len(buttons) == 2 else None
        buttons = harness.wait_for(ready, what="the alarm panel")
        self.assertEqual(set(buttons), {"Stop alarm", "Snooze 5 minutes"})
        return alarm, buttons

    def wait_panel_gone(self, brindle):
        harness.wait_for(lambda: brindle.check_running() or not titled_windows(PANEL_TITLE),
                         what="the alarm panel to close")

    def test_the_panel_floats_above_other_windows_and_snoozes_five_minutes_from_the_press(self):
        with harness.Brindle() as brindle:
            brindle.wait_planner()
            alarm, buttons = self.ring(brindle, "t1/main", "Take the <bread> & out of the oven", "chime")
            windows = titled_windows(PANEL_TITLE)
            self.assertEqual(len(windows), 1)
            state = subprocess.run(["xprop", "-id", windows[0], "_NET_WM_STATE"], capture_output=True, text=True)
            self.assertIn("_NET_WM_STATE_ABOVE", state.stdout)
            self.assertEqual(window_size(windows[0]), (420, 210))
            if os.environ.get("BRINDLE_PANEL_SCREENSHOT"):
                subprocess.run(["import", "-window", "root", os.environ["BRINDLE_PANEL_SCREENSHOT"]], check=True)

            before_press = harness.now_ms()
            press(buttons["Snooze 5 minutes"])
            self.wait_panel_gone(brindle)
            after_press = harness.now_ms()
            stored = harness.wait_for(lambda: len(brindle.stored_alarms() or []) == 2 and brindle.stored_alarms(),
                                      what="the snooze in the store file")
            snooze = stored[1]
            self.assertEqual(stored[0], alarm)
            self.assertEqual(snooze, {**alarm, "key": "t1/main/snooze", "baseKey": "t1/main", "at": snooze["at"]})
            # Five minutes from the press, not from the alarm's own time.
            self.assertGreaterEqual(snooze["at"], before_press + FIVE_MINUTES)
            self.assertLessEqual(snooze["at"], after_press + FIVE_MINUTES)

    def test_the_stop_button_and_the_pages_stop_end_the_alarm_and_add_nothing(self):
        with harness.Brindle() as brindle:
            brindle.wait_planner()
            alarm, buttons = self.ring(brindle, "t1/main", "Stand up and stretch", "no such sound")
            press(buttons["Stop alarm"])
            self.wait_panel_gone(brindle)
            # Stopping writes nothing: give a wrong write time to land, then look again.
            time.sleep(2)
            self.assertEqual(brindle.stored_alarms(), [alarm])

            alarm, _ = self.ring(brindle, "t2/main", "Leave for the station", "digital")
            self.assertEqual(brindle.page.request("stop"), {"value": True})
            self.wait_panel_gone(brindle)
            self.assertEqual(brindle.stored_alarms(), [alarm])
            brindle.check_running()


if __name__ == "__main__":
    harness.main()
