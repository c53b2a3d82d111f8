#!/usr/bin/python3
"""Brindle's reminders at a real notification server on the session bus (python3-dbusmock's):
what each Notify carries, how a later one with the same key replaces the earlier, how a click
brings the window back, and what the page is told about permission.
"""

import subprocess
import sys
import unittest
from pathlib import Path

import dbus

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from desktop import close_window, visible_windows  # noqa: E402
from harness import NOTIFICATIONS_NAME, NOTIFICATIONS_PATH, now_ms, wait_for  # noqa: E402

INTERFACE = "org.freedesktop.Notifications"
TITLE = "Pay A & B <today>"


def reminder(at, title=TITLE, key="t1/main"):
    return {"key": key, "at": at, "title": title, "sound": "bell", "mode": "notify"}


class PlainNotificationServer(harness.NotificationServer):
    """The same stand-in, but one that shows the body as plain text (no body-markup)."""

    def __init__(self, log_path):
        self.log_path = log_path
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon", "-l", str(log_path),
             "-p", '{"capabilities": "body actions"}'],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.bus = dbus.SessionBus()
        wait_for(lambda: self.bus.name_has_owner(NOTIFICATIONS_NAME), what="the notification server")
        self.mock = dbus.Interface(self.bus.get_object(NOTIFICATIONS_NAME, NOTIFICATIONS_PATH), harness.MOCK_INTERFACE)


class NotificationTest(unittest.TestCase):
    def schedule(self, brindle, *alarms):
        answer = brindle.page.request("schedule", {"alarms": list(alarms), "taskIds": ["t1", "t2"]})
        self.assertEqual(answer, {"value": True})

    def wait_notifications(self, brindle, count):
        return wait_for(lambda: brindle.notifications()[count - 1:] and brindle.notifications(),
                        what=f"{count} notification(s)")

    def emit(self, brindle, name, signature, arguments):
        brindle.notification_server.mock.EmitSignal(INTERFACE, name, signature, arguments)

    def test_reminder_carries_brindle_and_the_same_key_replaces_it(self):
        with harness.Brindle() as brindle:
            brindle.wait_planner()
            self.schedule(brindle, reminder(now_ms() + 1500))
            first = self.wait_notifications(brindle, 1)[0]
            self.assertEqual(first["app_name"], "Brindle")
            self.assertEqual(first["replaces_id"], 0)
            self.assertEqual(first["app_icon"], "app.brindle.Brindle")
            self.assertEqual(first["summary"], "Brindle reminder")
            # This server reads markup in the body, so the title is escaped to show as written.
            self.assertEqual(first["body"], "Pay A &amp; B &lt;today&gt;")
            self.assertEqual(first["actions"], ["default", "Show Brindle"])
            self.assertEqual(first["hints"], {"desktop-entry": "app.brindle.Brindle",
                                              "sound-name": "message-new-instant"})

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

    def test_clicking_a_reminder_brings_the_window_back(self):
        with harness.Brindle() as brindle:
            brindle.wait_planner()
            window = wait_for(lambda: visible_windows(brindle.process.pid), what="the main window")[0]
            self.schedule(brindle, reminder(now_ms() + 1500))
            self.wait_notifications(brindle, 1)
            close_window(window)
            wait_for(lambda: not visible_windows(brindle.process.pid), what="the window to hide")

            # A click on somebody else's notification is not Brindle's business.
            self.emit(brindle, "ActionInvoked", "us", [dbus.UInt32(77), "default"])
            self.emit(brindle, "ActionInvoked", "us", [dbus.UInt32(1), "default"])
            self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window"), [window])

    def test_plain_text_server_gets_the_title_unchanged(self):
        with harness.Brindle(notifications=False, start=False) as brindle:
            brindle.notification_server = PlainNotificationServer(brindle.root / "notifications.log")
            brindle.start()
            brindle.wait_planner()
            self.schedule(brindle, reminder(now_ms() + 1500))
            self.assertEqual(self.wait_notifications(brindle, 1)[0]["body"], TITLE)

    def test_permission_is_granted_while_a_notification_server_runs(self):
        with harness.Brindle() as brindle:
            brindle.wait_planner()
            self.assertEqual(brindle.page.request("permission"), {"value": "granted"})
            self.assertEqual(brindle.page.request("enable"), {"value": "granted"})


if __name__ == "__main__":
    harness.main()
