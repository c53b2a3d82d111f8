"""Brindle killed with SIGKILL again and again (BRINDLE_KILL_COUNT, 30 by default), one kill in ten
while it starts, the others while the page replaces its schedule as fast as it can. After every
kill the store holds one whole schedule the page sent, none older than the last acknowledged one,
and beside it at most the temporary file of the request in flight. The page builds each schedule
from its run (the time it loaded) and a counter, so the store names the request it came from."""

import json
import os
import random
import time
import unittest

import dbus

from harness import Brindle, main, wait_for

KILLS = int(os.environ.get("BRINDLE_KILL_COUNT") or 30)
TEMPORARY = ".alarms.json.brindle-tmp"

PAGE = """<!doctype html><meta charset="utf-8"><script>
"use strict";
const run = Date.now();
const report = (name, n) => fetch("/report", { method: "POST", body: JSON.stringify({ name, value: [run, n] }) });
const schedule = (n) => Array.from({ length: n % 4 + 1 }, (_, i) => ({ key: `t${i}/run-${run}/n-${n}`,
    at: 4102444800000 + n * 60000 + i + 0.5, title: `${n} ${i} ` + "\u00e9\U0001F600".repeat(n % 7) + "x".repeat(n % 50),
    sound: "bell", mode: i % 2 ? "notify" : "alarm" }));
(async () => {
    for (let n = 1; ; ++n) {
        if (await BrindleDesktop.request("schedule", { alarms: schedule(n), taskIds: ["t0", "t1", "t2", "t3"] }) !== true)
            return report("refused", n);
        if (n === 1 || n % 20 === 0)
            report("acked", n);
    }
})();
</script>"""


def schedule(run, n):
    """The schedule that request n of a run sends, as JSON gives it back."""
    return [{"key": f"t{i}/run-{run}/n-{n}", "at": 4102444800000 + n * 60000 + i + 0.5,
             "title": f"{n} {i} " + "\u00e9\U0001F600" * (n % 7) + "x" * (n % 50), "sound": "bell",
             "mode": "notify" if i % 2 else "alarm"} for i in range(n % 4 + 1)]


def origin(stored):
    """(run, n) of the request a stored schedule came from."""
    _, run, n = stored[0]["key"].split("/")
    return int(run[4:]), int(n[2:])


class CrashSafety(unittest.TestCase):
    def test_every_kill_leaves_one_whole_schedule_the_page_sent(self):
        with Brindle(notifications=False, start=False) as brindle:
            brindle.hub.route("/planner", PAGE)
            folder, floor, leftovers, began = brindle.store_path.parent, (0, 0), 0, time.monotonic()
            brindle.start()
            bus = dbus.SessionBus()
            for kill in range(1, KILLS + 2):
                acked = len(brindle.hub.reports_named("acked"))
                if kill > 1:
                    brindle.relaunch()
                if kill % 10 or kill > KILLS:
                    wait_for(lambda: brindle.check_running() or brindle.hub.reports_named("acked")[acked:],
                             what="the page to flood")
                time.sleep(random.uniform(0, 0.25 if kill % 10 else 2))
                if kill > KILLS:
                    break  # The last run ends as the session ends it, and clears whatever a kill left.
                brindle.process.kill()  # As a crash or the out-of-memory killer would.
                brindle.process.wait()
                wait_for(lambda: not bus.name_has_owner("app.brindle.Brindle"), what="the bus to free Brindle's name")

                where = f"kill {kill}"
                floor = max([floor, *map(tuple, brindle.hub.reports_named("acked"))])
                stored = brindle.stored_alarms()
                if stored is None:
                    self.assertEqual(floor, (0, 0), f"{where}: the store is gone")
                    continue
                self.assertEqual(stored, schedule(*origin(stored)), f"{where}: the store is not whole")
                self.assertGreaterEqual(origin(stored), floor, f"{where}: an acknowledged schedule was lost")
                floor = origin(stored)
                # Only a kill between writing the new content and renaming it over the store leaves
                # the temporary file, and then it holds exactly the request in flight.
                others = sorted(set(os.listdir(folder)) - {"alarms.json", "WebKit"})
                if others:
                    leftovers += 1
                    left = json.loads((folder / TEMPORARY).read_text())
                    run, n = origin(left)
                    self.assertEqual((others, left), ([TEMPORARY], schedule(run, n)), where)
                    self.assertEqual(n, floor[1] + 1 if floor[0] == run else 1, f"{where}: not the request in flight")
            self.assertEqual(brindle.end(), 0)
            self.assertEqual(sorted(os.listdir(folder)), ["WebKit", "alarms.json"])
            self.assertEqual(brindle.hub.reports_named("refused"), [])
            print(f"\n{KILLS} kills in {time.monotonic() - began:.0f} s; {leftovers} left the temporary file")


if __name__ == "__main__":
    main()
