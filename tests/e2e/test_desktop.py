"""Brindle on the desktop, in one launch: navigations, a reminder, the ringing panel's wake-up timer and
lid inhibitor (at a stand-in logind), hiding, launching again and the quit question."""

import contextlib
import json
import re
import socket
import subprocess
import time
from pathlib import Path

import dbus
import dbusmock
import pyatspi

from harness import (APP_ID, APP_PORT, PLANNER_URL, Brindle, alarm, application_of, close_window, find, main, now_ms, panel_shown,
                     press, visible_windows, wait_for, xdotool)

MINUTE = 60e3


class Desktop(dbusmock.DBusTestCase):
    def node(self, role, name, root=None):  # by the role's number: its name differs between AT-SPI releases
        return wait_for(lambda: find(root or application_of(self.brindle.process.pid),
                                     lambda n: n.getRole() == role and n.name == name), what=f"{role} {name!r}")

    def reminders(self):
        return [n for n in self.brindle.notifications() if n["summary"] == "Brindle reminder"]

    def question(self):
        return next((w for w in application_of(self.brindle.process.pid) or () if w is not None and find(
            w, lambda n: n.name == "Quit Brindle?")), None)

    def key(self, *keys):
        """Types keys through XTEST into the focused main window: sent to a window, Ctrl+Q would lose its release."""
        xdotool("windowfocus", "--sync", self.window)
        xdotool("key", "--clearmodifiers", "--delay", "80", *keys)

    def wake_up(self):
        """Milliseconds until Brindle's kernel alarm timer (clockid 8, CLOCK_REALTIME_ALARM) fires; None: none."""
        timers = []
        for info in Path(f"/proc/{self.brindle.process.pid}/fdinfo").iterdir():
            with contextlib.suppress(OSError):  # Closed meanwhile.
                timers += re.findall(r"clockid: 8\n.*\n.*\nit_value: \((\d+), (\d+)\)", info.read_text())
        self.assertLessEqual(len(timers), 1, "one alarm timer at most")
        return int(timers[0][0]) * 1e3 + int(timers[0][1]) / 1e6 if timers else None

    def inhibitors(self):
        return [tuple(i[:2]) + tuple(i[3:4]) for i in self.logind.ListInhibitors(dbus_interface="org.freedesktop.login1.Manager")]

    def test_window_navigations_notifications_ringing_hiding_waking_and_quitting(self):
        self.start_system_bus()  # Brindle finds it through DBUS_SYSTEM_BUS_ADDRESS.
        logind, self.logind = self.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)
        self.addCleanup(lambda: (logind.terminate(), logind.wait()))
        # 127.0.0.1 is another host than Brindle's "localhost": a connection in this backlog would
        # show the view tried to load it.
        tripwire = self.enterContext(socket.create_server(("127.0.0.1", 0)))
        tripwire.setblocking(False)
        elsewhere = f"https://127.0.0.1:{tripwire.getsockname()[1]}"
        self.brindle = brindle = self.enterContext(Brindle(accessible=True))
        brindle.hub.route("/away", "", status=302, headers={"Location": f"{elsewhere}/landing"})
        brindle.wait_planner()
        page, self.window = brindle.page, brindle.main_window()
        self.assertEqual(page.run("return [innerWidth, innerHeight];"), [1060, 780])  # The menubar sits above.

        # Other hosts, downloads and frames of another host go to the browser; other schemes
        # nowhere; a server redirect to another host goes to the browser without connecting.
        self.assertEqual(page.run("return [open('https://example.com/popup'), open('/planner?popup')];"), [None, None])
        for url in ("https://example.org/elsewhere", "/downloads/Brindle.dmg", f"http://localhost:{APP_PORT}/planner",
                    "mailto:someone@example.org", "file:///etc/hostname", "data:text/html,hello", "about:blank"):
            page.run(f"location.href = {json.dumps(url)};")
        page.run(f"document.body.append(Object.assign(document.createElement('iframe'), {{ src: '{elsewhere}/frame' }}));")
        page.send("location.href = '/away';")
        wait_for(lambda: brindle.opened_urls()[3:], what="four addresses in the browser")
        time.sleep(1.5)  # A long poll that the navigation cut off may hold a command for a second.
        page.run('location.href = "https://example.org/marker";')  # What was wrongly opened arrives before it.
        wait_for(lambda: brindle.opened_urls()[-1:] == ["https://example.org/marker"], what="the marker")
        self.assertEqual(sorted(brindle.opened_urls()[:-1]), sorted(["https://example.org/elsewhere", f"https://localhost:{APP_PORT}/downloads/Brindle.dmg",
                                                          f"{elsewhere}/frame", f"{elsewhere}/landing"]))
        self.assertEqual((page.run("return location.href;"), len(brindle.hub.documents)), (PLANNER_URL, 1))
        self.assertRaises(BlockingIOError, tripwire.accept)

        # A reminder reaches the notification server with Brindle's name, escaped for its markup;
        # a click on it shows the closed window; the same key replaces it, another key does not.
        brindle.schedule(alarm("t1/main", now_ms() + 1500, "Pay A & B <today>", "notify"))
        first = wait_for(self.reminders, what="the reminder")[0]
        self.assertEqual(first, {"app_name": "Brindle", "replaces_id": 0, "app_icon": APP_ID,
                                 "summary": "Brindle reminder", "body": "Pay A &amp; B &lt;today&gt;",
                                 "actions": ["default", "Show Brindle"],
                                 "hints": {"desktop-entry": APP_ID, "sound-name": "message-new-instant"}})
        close_window(self.window)
        wait_for(lambda: not visible_windows(brindle.process.pid), what="the window to hide")
        for server_id in (77, 1):  # Somebody else's first.
            brindle.mock.EmitSignal("org.freedesktop.Notifications", "ActionInvoked", "us", [dbus.UInt32(server_id), "default"])
        self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window"), [self.window])
        brindle.schedule(alarm("t1/main", now_ms() + 1500, "Again", "notify"), alarm("t2/main", now_ms() + 1500, "Other", "notify"))
        calls = wait_for(lambda: self.reminders()[2:] and self.reminders(), what="two more reminders")
        self.assertEqual({call["body"]: call["replaces_id"] for call in calls[1:]}, {"Again": 1, "Other": 0})

        # The wake-up at an alarm's time holds the lid until the ring ends, then waits a minute before the snooze.
        self.assertIsNone(self.wake_up())
        brindle.schedule(alarm("t3/main", now_ms() + 3000, "Take the <bread> & out"))
        brindle.wait_panel()
        self.node(pyatspi.ROLE_LABEL, "Take the <bread> & out")
        self.assertEqual(wait_for(self.inhibitors, what="the lid inhibitor"), [("handle-lid-switch", "Brindle", "block")])
        press(self.node(pyatspi.ROLE_PUSH_BUTTON, "Snooze 5 minutes"))
        wait_for(lambda: not panel_shown(), what="the panel to close")
        stored = wait_for(lambda: brindle.stored_alarms()[1:] and brindle.stored_alarms(), what="the snooze")
        self.assertEqual(self.inhibitors(), [])
        self.assertAlmostEqual(self.wake_up(), stored[1]["at"] - MINUTE - now_ms(), delta=2000)
        brindle.schedule()
        self.assertIsNone(self.wake_up(), "no alarm ahead")
        # An alarm no clock can hold arms nothing, and leaves no wake-up of the one before it.
        brindle.schedule(alarm("t4/main", now_ms() + 20 * MINUTE))
        wait_for(self.wake_up, what="the wake-up twenty minutes ahead")
        brindle.schedule(alarm("t4/main", 1e300))
        self.assertIsNone(self.wake_up(), "a wake-up left for an alarm at 1e300 ms")

        # A page that sends a base key of its own gets its reminder once, however often it sends it;
        # a later reminder shows that no twin came in between.
        own = dict(alarm("b1/main", now_ms() + 2500, "Once", "notify"), baseKey="b1/main")
        for _ in range(3):
            brindle.schedule(own)
        brindle.schedule(own, alarm("b2/main", now_ms() + 4000, "After", "notify"))
        wait_for(lambda: "After" in [n["body"] for n in self.reminders()], what="the later reminder")
        self.assertEqual([n["body"] for n in self.reminders()].count("Once"), 1)

        # Ctrl+H hides; launching again shows the same window on the same document and ends.
        self.key("ctrl+h")
        wait_for(lambda: not visible_windows(brindle.process.pid), what="Ctrl+H to hide the window")
        self.assertEqual(subprocess.run([brindle.binary], env=brindle.environment(), capture_output=True, timeout=60).returncode, 0)
        self.assertEqual(wait_for(lambda: visible_windows(brindle.process.pid), what="the window"), [self.window])
        self.assertEqual(len(brindle.hub.documents), 1, "the page loaded again")

        # With an alarm ahead, Ctrl+Q asks first, with "Keep running" the default; a reminder
        # handed over meanwhile is delivered; Return keeps Brindle running, "Quit" ends it.
        ahead = alarm("ahead/main", now_ms() + 60 * MINUTE, "An hour ahead")
        brindle.schedule(ahead)
        self.key("ctrl+q")
        question = wait_for(self.question, what="the quit question")
        self.assertTrue(self.node(pyatspi.ROLE_PUSH_BUTTON, "Keep running", question).getState().contains(pyatspi.STATE_IS_DEFAULT))
        brindle.schedule(ahead, alarm("r1/main", now_ms() + 3000, "Water the plants", "notify"))
        wait_for(lambda: "Water the plants" in [n["body"] for n in self.reminders()], what="the reminder while the question is up")
        xdotool("key", "Return")
        wait_for(lambda: self.question() is None, what="the question to close")
        self.assertEqual(page.run("return document.title"), "Planner under test")
        self.key("ctrl+q")
        press(self.node(pyatspi.ROLE_PUSH_BUTTON, "Quit", wait_for(self.question, what="the quit question again")))
        self.assertEqual(brindle.process.wait(60), 0)


if __name__ == "__main__":
    main()
