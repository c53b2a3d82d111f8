#!/usr/bin/python3
"""The demo planner inside the real Brindle, driven through the page's own controls.

Text and dates are typed with xdotool into the focused fields, as a person types them; buttons
are pressed through the accessibility tree by the page's element ids, as assistive technology
presses them. Brindle runs with a private data folder against a stand-in notification server on
the session bus, and the demo server serves the planner with the test certificate.
"""

import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import warnings
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("BRINDLE_SOURCE_DIR", Path(__file__).resolve().parents[2]))
CERTS = SOURCE_DIR / "tests" / "e2e" / "certs"
SERVE = SOURCE_DIR / "demo" / "serve.py"
PORT = int(os.environ.get("BRINDLE_APP_PORT") or 9443)
# Set to a folder to keep pictures of Brindle with the planner and with the alarm panel.
SCREENSHOTS = os.environ.get("BRINDLE_DEMO_SCREENSHOTS")


def ensure_session():
    """Runs this file again inside a virtual X server and a session bus when it has neither."""
    if os.environ.get("DISPLAY") and os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        return
    if os.environ.get("BRINDLE_DEMO_SESSION"):
        raise SystemExit("no display or session bus even inside xvfb-run and dbus-run-session")
    os.environ["BRINDLE_DEMO_SESSION"] = "1"
    os.execvp("xvfb-run", ["xvfb-run", "-a", "-s", "-screen 0 1280x900x24", "dbus-run-session", "--",
                           "/usr/bin/python3", *sys.argv])


def brindle_binary():
    if os.environ.get("BRINDLE_BINARY"):
        return Path(os.environ["BRINDLE_BINARY"])
    return SOURCE_DIR / "build" / "test" / "bin" / "brindle"


def wait_for(what, probe, timeout=30.0, interval=0.25):
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def xdotool(*arguments):
    return subprocess.run(["xdotool", *arguments], capture_output=True, text=True).stdout.split()


def visible_windows(title):
    return xdotool("search", "--onlyvisible", "--name", f"^{title}$")


class Accessibility:
    """The page as assistive technology sees it: WebKit puts each element's id among the
    accessible object's attributes."""

    def __init__(self):
        import pyatspi

        self.pyatspi = pyatspi
        self.process_id = None

    def application(self):
        # Only the Brindle of this test: the registry may still list one that has just ended,
        # and every question to it waits for the bus to time out.
        for application in self.pyatspi.Registry.getDesktop(0):
            try:
                if application is not None and application.get_process_id() == self.process_id:
                    return application
            except Exception:
                continue
        return None

    def element(self, element_id):
        application = self.application()
        if application is None:
            return None
        def matches(node):
            try:
                return node is not None and node.get_attributes().get("id") == element_id
            except Exception:  # A node that went away while the tree was walked.
                return False

        return self.pyatspi.findDescendant(application, matches)

    def wait_for_element(self, element_id, timeout=30):
        return wait_for(f"the page element #{element_id}", lambda: self.element(element_id), timeout)

    def press(self, element_id):
        node = self.wait_for_element(element_id)
        action = node.queryAction()
        for index in range(action.nActions):
            if action.getName(index) in ("press", "click", "activate"):
                action.doAction(index)
                return
        action.doAction(0)

    def focus(self, element_id):
        node = self.wait_for_element(element_id)
        node.queryComponent().grabFocus()
        wait_for(f"the keyboard focus in #{element_id}",
                 lambda: node.getState().contains(self.pyatspi.STATE_FOCUSED), timeout=10)
        return node

    def segment_names(self, element_id):
        """The editable parts of a date field in the order the locale shows them."""
        node = self.wait_for_element(element_id)
        segments = self.pyatspi.findAllDescendants(node, lambda child: child.getRole() == self.pyatspi.ROLE_SPIN_BUTTON)
        return [segment.name for segment in segments]


class PlannerInBrindle:
    """One Brindle with the demo planner, its own folders, a notification server and a log."""

    def __init__(self, test):
        self.test = test
        self.scratch = Path(tempfile.mkdtemp(prefix="brindle-demo-"))
        test.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.store = self.scratch / "data" / "Brindle" / "alarms.json"
        self.defaults = self.scratch / "config" / "Brindle" / "defaults.json"
        self.notifications = self.scratch / "notifications.log"
        self.brindle = None
        self.accessibility = Accessibility()

    def start_process(self, command, log_name, **options):
        log = open(self.scratch / log_name, "w")
        self.test.addCleanup(log.close)
        process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, **options)
        self.test.addCleanup(self.end, process)
        return process

    @staticmethod
    def end(process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def start_notification_server(self):
        self.start_process(["/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon",
                            "-l", str(self.notifications)], "dbusmock.log")
        wait_for("the stand-in notification server", lambda: "true" in run(
            "gdbus", "call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
            "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
            "org.freedesktop.Notifications"))

    def start_planner_server(self):
        # The port is part of the test build, so a server of another test run has to finish
        # first; the demo server says "cannot listen" and exits while the port is taken.
        def started():
            server = self.start_process(["/usr/bin/python3", "-u", str(SERVE), "--port", str(PORT),
                                         "--cert-dir", str(CERTS)], "planner-server.log",
                                        stdin=subprocess.DEVNULL)
            while server.poll() is None:
                if "Serving the planner" in (self.scratch / "planner-server.log").read_text():
                    return True
                time.sleep(0.1)
            time.sleep(1)
            return False

        wait_for(f"port {PORT} for the planner server", started, timeout=120)

    def start_brindle(self):
        environment = {name: value for name, value in os.environ.items() if not name.startswith("LC_")}
        environment.update(XDG_DATA_HOME=str(self.scratch / "data"),
                           XDG_CONFIG_HOME=str(self.scratch / "config"),
                           XDG_CACHE_HOME=str(self.scratch / "cache"),
                           # The date field's parts follow the locale; the test reads their
                           # order from the page, but 24-hour time keeps AM and PM out of it.
                           LANG="C.UTF-8")
        self.brindle = self.start_process([str(brindle_binary())], "brindle.log", env=environment)
        self.accessibility.process_id = self.brindle.pid
        wait_for("Brindle's main window", lambda: visible_windows("Brindle"), timeout=60)
        # On every load the page hands its schedule to Brindle, which writes the store.
        wait_for("the planner's first schedule in the store", self.store.exists, timeout=60)
        title = self.accessibility.wait_for_element("task-title", timeout=60)
        # The page's script runs before WebKit first paints it; keys typed before then are lost.
        wait_for("the planner on screen", lambda: title.getState().contains(self.accessibility.pyatspi.STATE_SHOWING))

    def stop_brindle(self):
        self.brindle.send_signal(signal.SIGTERM)
        self.test.assertEqual(self.brindle.wait(timeout=20), 0)

    def alarms(self):
        try:
            return json.loads(self.store.read_text())
        except (OSError, ValueError):
            return None

    def focus_main_window(self):
        window = visible_windows("Brindle")[0]
        geometry = dict(line.split("=") for line in run("xdotool", "getwindowgeometry", "--shell", window).split())
        # The pointer rests inside the main window, away from where the alarm panel appears, so
        # that keys go to the window that has the focus.
        run("xdotool", "mousemove", str(int(geometry["X"]) + 40), str(int(geometry["Y"]) + 40))
        run("xdotool", "windowfocus", "--sync", window)

    def type(self, text):
        run("xdotool", "type", "--delay", "40", text)

    def keys(self, *names):
        run("xdotool", "key", "--delay", "60", *names)

    def add_task(self, title, at, mode, sound):
        """Adds a task the way a person does: type the title, Tab into the date and type each
        part, choose the kind with the arrow keys and the sound by its first letter, then Tab to
        "Add task" and press Return. Returns the alarm Brindle stored for it."""
        self.focus_main_window()
        self.accessibility.focus("task-title")
        self.type(title)
        self.keys("Tab")
        local = time.localtime(at)
        parts = {"month": local.tm_mon, "day": local.tm_mday, "year": local.tm_year,
                 "hour": local.tm_hour, "minutes": local.tm_min, "seconds": local.tm_sec}
        for name in self.accessibility.segment_names("task-at"):
            self.test.assertIn(name, parts, "the date field has a part this test cannot fill")
            self.type(f"{parts[name]:02d}")
            self.keys("Tab")
        if mode == "alarm":
            self.keys("Right")
        self.keys("Tab")
        self.type(sound[0])
        self.keys("Tab", "Tab", "Return")

        def stored():
            return next((alarm for alarm in self.alarms() or [] if alarm["title"] == title), None)

        alarm = wait_for(f"Brindle to store the task {title!r}", stored, timeout=20)
        self.test.assertEqual((alarm["at"], alarm["mode"], alarm["sound"]), (at * 1000, mode, sound))
        task_id, _, rest = alarm["key"].partition("/")
        self.test.assertEqual(rest, "main")
        self.test.assertTrue(task_id)
        return alarm

    def screenshot(self, name):
        if not SCREENSHOTS:
            return
        folder = Path(SCREENSHOTS)
        folder.mkdir(parents=True, exist_ok=True)
        run("import", "-window", "root", str(folder / name))


class DemoPlannerTest(unittest.TestCase):
    def setUp(self):
        self.planner = PlannerInBrindle(self)
        self.planner.start_notification_server()
        self.planner.start_planner_server()
        self.planner.start_brindle()

    def test_alarm_set_in_the_planner_rings_and_the_planner_stops_it(self):
        planner = self.planner
        tomorrow = (int(time.time()) // 60 + 26 * 60) * 60
        later = planner.add_task("Call the dentist about Thursday", tomorrow, "notify", "bell")
        due = int(time.time()) + 25
        alarm = planner.add_task("Take the bread out of the oven", due, "alarm", "digital")
        # Each change hands over the whole schedule, so the earlier task is still there.
        self.assertEqual([entry["key"] for entry in planner.alarms()], [later["key"], alarm["key"]])
        if SCREENSHOTS:
            # WebKit paints a moment after the page changes, and the toast needs to fade.
            time.sleep(4)
            planner.screenshot("planner.png")

        wait_for("the alarm panel", lambda: visible_windows("Brindle alarm"), timeout=due - time.time() + 30)
        time.sleep(1.5)
        planner.screenshot("alarm.png")

        planner.accessibility.press("stop-alarm")
        wait_for("the alarm panel to close", lambda: not visible_windows("Brindle alarm"), timeout=15)
        # Stopping from the page is a stop, not a snooze: nothing new waits in the schedule.
        self.assertEqual([entry["key"] for entry in planner.alarms()], [later["key"], alarm["key"]])
        fired = json.loads(planner.defaults.read_text())["fired"]
        self.assertEqual(len(fired), 1)
        self.assertTrue(fired[0].startswith(alarm["key"]))

    def test_reminder_set_in_the_planner_becomes_a_notification(self):
        planner = self.planner
        due = int(time.time()) + 20
        planner.add_task("Water the plants", due, "notify", "chime")

        def notified():
            text = planner.notifications.read_text() if planner.notifications.exists() else ""
            return [line for line in text.splitlines() if "Brindle reminder" in line]

        lines = wait_for("the reminder notification", notified, timeout=due - time.time() + 30)
        self.assertEqual(len(lines), 1)
        self.assertIn("Water the plants", lines[0])
        self.assertFalse(visible_windows("Brindle alarm"), "a reminder must not ring")

    def test_tasks_outlive_brindle_and_the_page_hands_them_over_again(self):
        planner = self.planner
        alarm = planner.add_task("Renew the passport", int(time.time()) + 3 * 3600, "alarm", "chime")
        # Give WebKit a moment to write the page's storage before Brindle goes away.
        time.sleep(2)
        planner.stop_brindle()
        planner.store.unlink()

        planner.start_brindle()
        self.assertEqual(wait_for("the task handed over again", planner.alarms), [alarm])

        task_id = alarm["key"].split("/")[0]
        planner.accessibility.press(f"remove-{task_id}")
        wait_for("the removal to reach Brindle", lambda: planner.alarms() == [])
        wait_for("the task to leave the page", lambda: planner.accessibility.element(f"remove-{task_id}") is None)


if __name__ == "__main__":
    ensure_session()
    # pyatspi calls interfaces that newer AT-SPI marks as deprecated; they work as before.
    warnings.filterwarnings("ignore", category=DeprecationWarning)
    unittest.main(verbosity=2)
