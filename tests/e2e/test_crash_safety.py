"""Brindle killed with SIGKILL again and again (BRINDLE_KILL_COUNT), one kill in ten while it starts: the
store always holds one whole schedule the page sent, none older than the last acknowledged one."""

import json
import os
import random
import time
import unittest

import dbus

from harness import APP_ID, Brindle, alarm, main, wait_for

KILLS = int(os.environ.get("BRINDLE_KILL_COUNT") or 30)
TEMPORARY = ".alarms.json.brindle-tmp"

PAGE = """<!doctype html><meta charset="utf-8"><script>
const run = Date.now(), report = (n) => fetch("/report", { method: "POST", body: JSON.stringify({ name: "acked", value: [run, n] }) });
const schedule = (n) => Array.from({ length: n % 4 + 1 }, (_, i) => ({ key: `t${i}/${run}/${n}`, sound: "bell", mode: "alarm",
    at: 4102444800000 + n * 60000 + i + 0.5, title: `${n} ` + "\u00e9\U0001F600".repeat(n % 7) + "x".repeat(n % 50) }));
(async () => {
    for (let n = 1; ; ++n)  // A refusal ends the flood, and the test waits for it in vain.
        if (await BrindleDesktop.request("schedule", { alarms: schedule(n), taskIds: [] }) === true && (n === 1 || n % 20 === 0))
            report(n);
})();
</script>"""


def schedule(run, n):
    return [alarm(f"t{i}/{run}/{n}", 4102444800000 + n * 60000 + i + 0.5, f"{n} " + "\u00e9\U0001F600" * (n % 7) + "x" * (n % 50))
            for i in range(n % 4 + 1)]


def origin(stored):
    return tuple(map(int, stored[0]["key"].split("/")[1:]))


class CrashSafety(unittest.TestCase):
    def test_every_kill_leaves_one_whole_schedule_the_page_sent(self):
        with Brindle(notifications=False, start=False) as brindle:
            brindle.hub.route("/planner", PAGE)
            folder, floor, leftovers, began = brindle.store_path.parent, (0, 0), 0, time.monotonic()
            launched = int(time.time() * 1000)
            brindle.start()
            bus = dbus.SessionBus()
            for kill in range(1, KILLS + 2):
                if kill > 1:
                    launched = int(time.time() * 1000)
                    brindle.relaunch()
                # A report the killed page had on its way may still come in: only this launch's page
                # counts, or the session's SIGTERM could come before Brindle has started handling it.
                if kill % 10 or kill > KILLS:
                    wait_for(lambda: brindle.check_running() or [run for run, _ in brindle.hub.reports_named("acked") if run >= launched],
                             what="the flood")
                time.sleep(random.uniform(0, 0.25 if kill % 10 else 2))
                if kill > KILLS:
                    break  # The last run ends as the session ends it, and clears whatever a kill left.
                brindle.process.kill()  # As a crash or the out-of-memory killer would.
                brindle.process.wait()
                wait_for(lambda: not bus.name_has_owner(APP_ID), what="the bus to free Brindle's name")

                floor = max([floor, *map(tuple, brindle.hub.reports_named("acked"))])
                stored = brindle.stored_alarms()
                if stored is None:
                    self.assertEqual(floor, (0, 0), f"kill {kill}: the store is gone")
                    continue
                self.assertEqual(stored, schedule(*origin(stored)), f"kill {kill}: the store is not whole")
                self.assertGreaterEqual(origin(stored), floor, f"kill {kill}: an acknowledged schedule was lost")
                floor = origin(stored)
                # Only a kill between writing the new content and renaming it over the store leaves
                # the temporary file, and then it holds exactly the request in flight.
                if (others := sorted(set(os.listdir(folder)) - {"alarms.json", "WebKit"})):
                    leftovers += 1
                    left = json.loads((folder / TEMPORARY).read_text())
                    self.assertEqual((others, left), ([TEMPORARY], schedule(*origin(left))), f"kill {kill}")
                    in_flight = (floor[0], floor[1] + 1) if floor[0] == origin(left)[0] else (origin(left)[0], 1)
                    self.assertEqual(origin(left), in_flight, f"kill {kill}: not the request in flight")
            self.assertEqual(brindle.end(), 0)
            self.assertEqual(sorted(os.listdir(folder)), ["WebKit", "alarms.json"])
            print(f"\n{KILLS} kills in {time.monotonic() - began:.0f} s; {leftovers} left the temporary file")


if __name__ == "__main__":
    main()
