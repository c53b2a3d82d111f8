#!/usr/bin/python3
"""The demo planner inside the real Brindle, driven through the page's own controls: text typed
with xdotool, buttons pressed through the accessibility tree by element id. Set
BRINDLE_DEMO_SCREENSHOTS to a folder to keep pictures of the planner and of the alarm panel."""

import json
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from accessibility import application_of, find, press  # noqa: E402
from desktop import titled_windows, visible_windows, xdotool  # noqa: E402
import pyatspi  # noqa: E402

DEMO_DIR = Path(__file__).resolve().parents[2] / "demo" / "planner"
SCREENSHOTS = os.environ.get("BRINDLE_DEMO_SCREENSHOTS")


def panel_windows():
    return titled_windows("Brindle alarm")


class DemoBrindle(harness.Brindle):
    """The harness's Brindle on the demo planner, with its accessibility bridge on."""

    def __init__(self):
        super().__init__()
        for path, name, kind in (("/planner", "index.html", "html"), ("/planner/planner.css", "planner.css", "css"),
                                 ("/planner/planner.js", "planner.js", "javascript")):
            self.hub.route(path, (DEMO_DIR / name).read_bytes(), f"text/{kind}; charset=utf-8")

    def environment(self):
        environment = {name: value for name, value in super().environment().items()
                       if not name.startswith("LC_")}
        environment.pop("NO_AT_BRIDGE", None)
        # The date field's parts follow the locale. The test reads their order from the page,
        # but this locale keeps the clock at 24 hours, with no AM or PM part to type.
        environment["LANG"] = "C.UTF-8"
        return environment

    def start(self):
        super().start()
        self.wait_ready()
        return self

    def wait_ready(self):
        # The page hands its schedule over on every load, so the store file appears once the
        # planner's script runs; WebKit paints a little later, and keys typed before then are lost.
        harness.wait_for(lambda: self.check_running() or self.stored_alarms() is not None,
                         what="the planner's first schedule")
        title = self.wait_element("task-title")
        harness.wait_for(lambda: title.getState().contains(pyatspi.STATE_SHOWING), what="the planner on screen",
                         interval=0.25)

    def end(self):
        """Ends Brindle as the session does, leaving its folders and the servers as they are."""
        self.process.send_signal(harness.signal.SIGTERM)
        self.process.wait(20)

    def launch(self):
        self.relaunch()
        self.wait_ready()

    def element(self, element_id):
        """The page's element in the accessibility tree, where WebKit puts its id among the attributes."""
        return find(application_of(self.process.pid), lambda node: node.get_attributes().get("id") == element_id)

    def wait_element(self, element_id):
        return harness.wait_for(lambda: self.element(element_id), what=f"the page's #{element_id}", interval=0.25)

    def press(self, element_id):
        press(self.wait_element(element_id))

    def text(self, element_id):
        """The text an element shows; WebKit may hand it to an anonymous child (a flex box)."""
        def text_of(node):
            try:
                text = node.queryText()
                return text.getText(0, text.characterCount)
            except NotImplementedError:
                return "".join(text_of(child) for child in node if child is not None)

        node = self.element(element_id)
        try:
            return None if node is None else text_of(node)
        except Exception:  # The element changed while it was read.
            return None

    def wait_text(self, element_id, expected):
        harness.wait_for(lambda: self.check_running() or self.text(element_id) == expected,
                         what=f"{expected!r} in #{element_id} (last seen {self.text(element_id)!r})", interval=0.25)

    # The keyboard.

    def focus(self, element_id):
        window = harness.wait_for(lambda: visible_windows(self.process.pid), what="Brindle's main window")[0]
        # The pointer rests in a corner of the main window, away from where the alarm panel
        # appears, so that the keys go where the focus is.
        xdotool("mousemove", "--window", window, 40, 40)
        xdotool("windowfocus", "--sync", window)
        node = self.wait_element(element_id)
        node.queryComponent().grabFocus()
        harness.wait_for(lambda: node.getState().contains(pyatspi.STATE_FOCUSED), what=f"the focus in #{element_id}")

    @staticmethod
    def type(text):
        xdotool("type", "--delay", 40, text)

    @staticmethod
    def keys(*names):
        xdotool("key", "--delay", 60, *names)

    def add_task(self, test, title, at, mode, sound):
        """Adds a task as a person does: type the title, Tab into the date and type each part,
        pick the kind with an arrow key and the sound by its first letter, Tab to "Add task" and
        press Return. Gives back the alarm that Brindle stored for it."""
        self.focus("task-title")
        self.type(title)
        self.keys("Tab")
        local = time.localtime(at)
        values = {"month": local.tm_mon, "day": local.tm_mday, "year": local.tm_year,
                  "hour": local.tm_hour, "minutes": local.tm_min, "seconds": local.tm_sec}
        # The date field's editable parts, in the order the locale shows them.
        for part in [node.name for node in pyatspi.findAllDescendants(
                self.wait_element("task-at"), lambda child: child.getRole() == pyatspi.ROLE_SPIN_BUTTON)]:
            test.assertIn(part, values, "the date field has a part this test cannot fill")
            self.type(f"{values[part]:02d}")
            self.keys("Tab")
        if mode == "alarm":
            self.keys("Right")
        self.keys("Tab")
        self.type(sound[0])
        self.keys("Tab", "Tab", "Return")

        def stored():
            self.check_running()
            return next((alarm for alarm in self.stored_alarms() or [] if alarm["title"] == title), None)

        alarm = harness.wait_for(stored, what=f"Brindle to store the task {title!r}")
        test.assertEqual((alarm["at"], alarm["mode"], alarm["sound"]), (at * 1000, mode, sound))
        test.assertRegex(alarm["key"], r"^[^/]+/main$")
        return alarm

    @staticmethod
    def screenshot(name):
        if SCREENSHOTS:
            Path(SCREENSHOTS).mkdir(parents=True, exist_ok=True)
            subprocess.run(["import", "-window", "root", str(Path(SCREENSHOTS) / name)], check=True)


class DemoPlannerTest(unittest.TestCase):
    def test_a_reminder_becomes_a_notification_and_an_alarm_rings_until_the_planner_stops_it(self):
        with DemoBrindle() as brindle:
            reminder = brindle.add_task(self, "Water the plants", int(time.time()) + 20, "notify", "chime")
            due = int(time.time()) + 60
            alarm = brindle.add_task(self, "Take the bread out of the oven", due, "alarm", "digital")
            # Every change hands over the whole schedule: the earlier task is still in it.
            self.assertEqual(brindle.stored_alarms(), [reminder, alarm])
            # The page learnt from Brindle that notifications are allowed, and its preview is answered.
            brindle.wait_text("permission", "Notifications allowed")
            brindle.press("preview-sound")
            brindle.wait_text("status", "Playing Digital.")  # The sound picked last.
            if SCREENSHOTS:
                time.sleep(4)  # WebKit paints a moment after a change, and the toast fades.
                brindle.screenshot("brindle-planner.png")

            shown = harness.wait_for(
                lambda: brindle.check_running() or [n["body"] for n in brindle.notifications()
                                                    if n["summary"] == "Brindle reminder"],
                timeout=reminder["at"] / 1000 - time.time() + harness.DEFAULT_TIMEOUT, what="the reminder")
            self.assertEqual(shown, ["Water the plants"])
            self.assertFalse(panel_windows(), "a reminder must not ring")

            harness.wait_for(lambda: brindle.check_running() or panel_windows(),
                             timeout=due - time.time() + harness.DEFAULT_TIMEOUT, what="the alarm panel")
            if SCREENSHOTS:
                time.sleep(2)
                brindle.screenshot("brindle-alarm.png")
            brindle.press("stop-alarm")
            harness.wait_for(lambda: not panel_windows(), what="the alarm panel to close")
            # The page's stop is a stop, not a snooze: nothing new waits in the schedule.
            self.assertEqual(brindle.stored_alarms(), [reminder, alarm])
            fired = json.loads(brindle.defaults_path.read_text())["fired"]
            self.assertEqual(sorted(key.split("/")[0] for key in fired),
                             sorted(task["key"].split("/")[0] for task in (reminder, alarm)))

    def test_tasks_outlive_brindle_and_the_page_hands_them_over_again(self):
        with DemoBrindle() as brindle:
            alarm = brindle.add_task(self, "Renew the passport", int(time.time()) + 3 * 3600, "alarm", "chime")
            # Give WebKit a moment to write the page's storage before Brindle goes away.
            time.sleep(2)
            brindle.end()
            brindle.store_path.unlink()
            brindle.launch()
            self.assertEqual(brindle.stored_alarms(), [alarm])

            task_id = alarm["key"].split("/")[0]
            brindle.press(f"remove-{task_id}")
            harness.wait_for(lambda: brindle.stored_alarms() == [], what="the removal to reach Brindle")
            harness.wait_for(lambda: brindle.element(f"remove-{task_id}") is None, what="the task to leave the page",
                             interval=0.25)


if __name__ == "__main__":
    harness.main()
