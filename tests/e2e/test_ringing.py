#!/usr/bin/python3
"""An alarm rings in the real Brindle: the planner page schedules it, the floating panel comes
up above every window with the alarm's title, and its buttons, pressed through the
accessibility tree as assistive technology presses them, snooze or stop it.

Run through run-e2e, which provides the virtual X server and the session bus.
"""

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
from accessibility import descendants  # noqa: E402
from desktop import window_size, xdotool  # noqa: E402
import pyatspi  # noqa: E402

PANEL_TITLE = "Brindle alarm"
FIVE_MINUTES = 300000.0
# Far enough ahead that the schedule is stored well before the alarm is due.
LEAD_MS = 3000.0


def panel_windows():
    return xdotool("search", "--onlyvisible", "--name", f"^{PANEL_TITLE}$")


def window_state(window):
    return subprocess.run(["xprop", "-id", str(window), "_NET_WM_STATE"], capture_output=True,
                          text=True).stdout


def accessible_panel():
    """The panel's frame in Brindle's accessibility tree, or None while it is not there."""
    for application in pyatspi.Registry.getDesktop(0):
        if application is None:
            continue
        try:
            frames = list(application)
        except Exception:
            continue
        for frame in frames:
            try:
                if frame is not None and frame.name == PANEL_TITLE:
                    return frame
            except Exception:
                continue
    return None


def panel_content(frame):
    """The texts of the panel's labels and a map from button label to button."""
    labels, buttons = [], {}
    for node in descendants(frame):
        try:
            role = node.getRole()
            if role == pyatspi.ROLE_LABEL:
                labels.append(node.name)
            elif role == pyatspi.ROLE_PUSH_BUTTON:
                buttons[node.name] = node
        except Exception:
            continue
    return labels, buttons


def press(button):
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("click"))


class RingingTest(unittest.TestCase):
    def schedule_alarm(self, brindle, title, sound="chime"):
        brindle.wait_planner()
        alarm = {"key": "t1/main", "at": harness.now_ms() + LEAD_MS, "title": title, "sound": sound,
                 "mode": "alarm"}
        reply = brindle.page.request("schedule", {"alarms": [alarm], "taskIds": ["t1"]})
        self.assertEqual(reply, {"value": True})
        self.assertEqual(harness.wait_for(brindle.stored_alarms, what="the stored schedule"), [alarm])
        return alarm

    def wait_panel(self, brindle, title):
        """Waits for the panel on screen and in the accessibility tree; gives its buttons."""
        def ready():
            brindle.check_running()
            frame = panel_windows() and accessible_panel()
            if not frame:
                return None
            labels, buttons = panel_content(frame)
            return (labels, buttons) if title in labels and len(buttons) == 2 else None
        labels, buttons = harness.wait_for(ready, what="the alarm panel")
        self.assertEqual(set(buttons), {"Stop alarm", "Snooze 5 minutes"})
        return buttons

    def wait_panel_gone(self, brindle):
        def gone():
            brindle.check_running()
            return not panel_windows()
        harness.wait_for(gone, what="the alarm panel to close")

    def test_the_panel_floats_above_other_windows_and_snoozes_five_minutes_from_the_press(self):
        with harness.Brindle() as brindle:
            alarm = self.schedule_alarm(brindle, "Take the <bread> & out of the oven")
            buttons = self.wait_panel(brindle, alarm["title"])

            windows = panel_windows()
            self.assertEqual(len(windows), 1)
            self.assertIn("_NET_WM_STATE_ABOVE", window_state(windows[0]))
            self.assertEqual(window_size(windows[0]), (420, 210))

            if os.environ.get("BRINDLE_PANEL_SCREENSHOT"):
                subprocess.run(["import", "-window", "root", os.environ["BRINDLE_PANEL_SCREENSHOT"]],
                               check=True)

            before_press = harness.now_ms()
            press(buttons["Snooze 5 minutes"])
            self.wait_panel_gone(brindle)
            after_press = harness.now_ms()

            def snoozed():
                stored = brindle.stored_alarms() or []
                return stored if len(stored) == 2 else None
            stored = harness.wait_for(snoozed, what="the snooze in the store file")
            self.assertEqual(stored[0], alarm)
            snooze = stored[1]
            self.assertEqual(snooze["key"], "t1/main/snooze")
            self.assertEqual(snooze["baseKey"], "t1/main")
            self.assertEqual((snooze["title"], snooze["sound"], snooze["mode"]),
                             (alarm["title"], alarm["sound"], alarm["mode"]))
            # Five minutes from the press, not from the alarm's own time.
            self.assertGreaterEqual(snooze["at"], before_press + FIVE_MINUTES)
            self.assertLessEqual(snooze["at"], after_press + FIVE_MINUTES)
            brindle.check_running()

    def test_stop_ends_the_alarm_and_adds_nothing(self):
        with harness.Brindle() as brindle:
            alarm = self.schedule_alarm(brindle, "Stand up and stretch", sound="no such sound")
            buttons = self.wait_panel(brindle, alarm["title"])

            press(buttons["Stop alarm"])
            self.wait_panel_gone(brindle)

            # Stopping writes nothing: give a wrong write time to land, then look again.
            time.sleep(2)
            self.assertEqual(brindle.stored_alarms(), [alarm])
            self.assertFalse(panel_windows())
            brindle.check_running()

    def test_the_pages_stop_request_closes_the_panel(self):
        with harness.Brindle() as brindle:
            alarm = self.schedule_alarm(brindle, "Leave for the station", sound="digital")
            self.wait_panel(brindle, alarm["title"])

            self.assertEqual(brindle.page.request("stop"), {"value": True})
            self.wait_panel_gone(brindle)
            self.assertEqual(brindle.stored_alarms(), [alarm])
            brindle.check_running()


if __name__ == "__main__":
    harness.main()
