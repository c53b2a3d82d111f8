"""The demo planner in the real Brindle, driven through its own controls."""

import time
import unittest
from pathlib import Path

import pyatspi

from harness import Brindle, application_of, find, main, panel_shown, press, wait_for, xdotool

DEMO_DIR = Path(__file__).resolve().parents[2] / "demo" / "planner"


class DemoPlanner(unittest.TestCase):
    def element(self, element_id):
        """The page's element in the accessibility tree, where WebKit puts its id among the attributes."""
        return wait_for(lambda: find(application_of(self.brindle.process.pid),
                                     lambda n: n.get_attributes().get("id") == element_id), what=f"#{element_id}")

    def add_alarm(self, title, at, sound):
        """Fills in and adds the task with keys, the date's parts in the locale's order; gives what was stored."""
        xdotool("mousemove", "--window", self.brindle.main_window(), 40, 40)  # Away from where the panel appears.
        xdotool("windowfocus", "--sync", self.brindle.main_window())
        self.element("task-title").queryComponent().grabFocus()
        wait_for(lambda: self.element("task-title").getState().contains(pyatspi.STATE_FOCUSED), what="the focus")
        local = time.localtime(at)
        values = {"month": local.tm_mon, "day": local.tm_mday, "year": local.tm_year, "hour": local.tm_hour,
                  "minutes": local.tm_min, "seconds": local.tm_sec}
        parts = pyatspi.findAllDescendants(self.element("task-at"), lambda n: n.getRole() == pyatspi.ROLE_SPIN_BUTTON)
        for text in [title, "Tab", *[key for p in parts for key in (f"{values[p.name]:02d}", "Tab")],
                     "Right", "Tab", sound[0], "Tab", "Tab", "Return"]:
            xdotool(*(("key",) if text in ("Tab", "Right", "Return") else ("type", "--delay", 40)), text)
        stored = wait_for(lambda: [a for a in self.brindle.stored_alarms() if a["title"] == title], what=title)[0]
        self.assertEqual((stored["at"], stored["mode"], stored["sound"]), (at * 1000, "alarm", sound))
        return stored

    def test_an_alarm_added_in_the_planner_rings_until_its_stop(self):
        self.brindle = brindle = self.enterContext(Brindle(start=False, accessible=True))
        for name, kind in (("index.html", "text/html"), ("planner.css", "text/css"), ("planner.js", "text/javascript")):
            brindle.hub.route("/planner" + ("" if kind == "text/html" else f"/{name}"), (DEMO_DIR / name).read_bytes(), kind)
        brindle.environment = lambda: {**Brindle.environment(brindle), "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"}
        brindle.start()
        # The page hands its schedule over at load; WebKit paints a little later, and keys typed before are lost.
        wait_for(lambda: brindle.check_running() or brindle.stored_alarms() is not None, what="the first schedule")
        wait_for(lambda: self.element("task-title").getState().contains(pyatspi.STATE_SHOWING), what="the planner")
        began = time.time()
        later = self.add_alarm("Renew the passport", int(began) + 3 * 3600, "chime")
        # Due well after the second is typed in, however long the first took on a loaded machine.
        due = int(time.time() + 2 * (time.time() - began)) + 10
        alarm = self.add_alarm("Take the bread out of the oven", due, "digital")
        self.assertEqual(brindle.stored_alarms(), [later, alarm])  # Every change hands over the whole schedule.
        wait_for(lambda: brindle.check_running() or panel_shown(), timeout=due - time.time() + 60, what="the panel")
        press(self.element("stop-alarm"))
        wait_for(lambda: not panel_shown(), what="the alarm panel to close")
        self.assertEqual(brindle.stored_alarms(), [later, alarm], "the page's stop is not a snooze")


if __name__ == "__main__":
    main()
