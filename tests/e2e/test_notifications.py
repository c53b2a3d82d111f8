#!/usr/bin/python3
"""Brindle's reminders at a real notification server on the session bus (python3-dbusmock's)."""

import sys
import unittest
from pathlib import Path

import dbus

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from desktop import close_window, visible_windows  # noqa: E402
from harness import now_ms, wait_for  # noqa: E402

INTERFACE = "org.freedesktop.Notifications"
TITLE = "Pay A & B <today>"


def reminder(at, title=TITLE, key="t1/main"):
    return {"key": key, "at": at, "title": title, "sound": "bell", "mode": "notify"}


class NotificationTest(unittest.TestCase):
    def schedule(self, brindle, *alarms):
        answer = brindle.page.request("schedule", {"alarms": list(alarms), "taskIds": ["t1", "t2"]})
        self.assertEqual(answer, {"value": True})

    def wait_notifications(self, brindle, count):
        return wait_for(lambda: brindle.notifications()[count - 1:] and brindle.notifications(),
                        what=f"{count} notification(s)")

    def emit(self, brindle, name, signature, arguments):
        brindle.notification_server.mock.EmitSignal(INTERFACE, name, signature, arguments)

    def test_reminder_carries_brindle_a_click_shows_the_window_and_the_same_key_replaces_it(self):
        with harness.Brindle() as brindle:
            brindle.wait_planner()
            window = wait_for(lambda: visible_windows(brindle.process.pid), what="the main window")[0]
            self.schedule(brindle, reminder(now_ms() + 1500))
            first = self.wait_notifications(brindle, 1)[0]
            # This server reads markup in the body, so the title is escaped to show as written.
            self.assertEqual(first, {
                "app_name": "Brindle", "replaces_id": 0, "app_icon": "app.brindle.Brindle",
                "summary": "Brindle reminder", "body": "Pay A &amp; B &lt;today&gt;", "actions": ["default", "Show Brindle"],
                "hints": {"desktop-entry": "app.brindle.Brindle", "sound-name": "message-new-instant"}})

            # A click on it (not on somebody else's, id 77) brings the closed window back.
            close_window(window)
            wait_for(lambda: not visible_windows(brindle.process.pid), what="the window to hide")
            self.emit(brindle, "ActionInvoked", "us", [dbus.UInt32(77), "default"])
            self.emit(brindle, "ActionInvoked", "us", [dbus.UInt32(1), "default"])
            self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window"), [window])

            # The same key at a new time is a new delivery that replaces the one shown (the
            # server gave the first one id 1), while another key gets a notification of its own.
            self.schedule(brindle, reminder(now_ms() + 1500), reminder(now_ms() + 1500, "Other", "t2/main"))
            calls = self.wait_notifications(brindle, 3)
            replaced = {call["body"]: call["replaces_id"] for call in calls[1:]}
            self.assertEqual(replaced, {"Pay A &amp; B &lt;today&gt;": 1, "Other": 0})

            # Once the server says the first one is closed, the key starts afresh.
            self.emit(brindle, "NotificationClosed", "uu", [dbus.UInt32(1), dbus.UInt32(2)])
            self.schedule(brindle, reminder(now_ms() + 1500))
            self.assertEqual(self.wait_notifications(brindle, 4)[3]["replaces_id"], 0)

    def test_plain_text_server_gets_the_title_unchanged(self):
        with harness.Brindle(notifications=False, start=False) as brindle:
            # This server shows the body as plain text (no body-markup).
            brindle.notification_server = harness.NotificationServer(
                brindle.root / "notifications.log", ["-p", '{"capabilities": "body actions"}'])
            brindle.start()
            brindle.wait_planner()
            self.schedule(brindle, reminder(now_ms() + 1500))
            self.assertEqual(self.wait_notifications(brindle, 1)[0]["body"], TITLE)


if __name__ == "__main__":
    harness.main()
