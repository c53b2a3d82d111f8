"""Brindle killed with SIGKILL again and again while the page replaces its schedule as fast as it
can: after every kill the store holds one whole schedule the page sent, never a torn one nor one
older than the last acknowledged, and nothing else is left beside it but the request in flight.

Each request is built from its run (the time the page loaded) and a counter, so the store names
the request it came from and the test rebuilds it. Several Brindles, each on its own session bus
and told apart by a time zone that only the page reads, are killed side by side.
BRINDLE_KILL_COUNT sets the number of kills (300), BRINDLE_KILL_WORKERS the Brindles (2).
"""

import ctypes
import json
import os
import random
import statistics
import subprocess
import threading
import time
import unittest
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import dbus

from harness import Brindle, main, wait_for

KILLS = int(os.environ.get("BRINDLE_KILL_COUNT") or 300)
WORKERS = max(1, int(os.environ.get("BRINDLE_KILL_WORKERS") or 2))
EARLY_KILL_EVERY = 10  # One kill in this many lands while Brindle starts.
FLOOD_KILL_SPAN = 0.25  # Seconds after the flood began within which the kill comes.
BASE_AT = 4102444800000  # Far ahead: nothing falls due or is pruned.
SOUNDS = ["bell", "chime", "digital"]
TEMPORARY_NAME = ".alarms.json.brindle-tmp"

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Planner flooding its schedule</title>
<script>
"use strict";
const worker = Intl.DateTimeFormat().resolvedOptions().timeZone;
const run = Date.now();
const report = (name, n) => fetch("/report", { method: "POST", body: JSON.stringify({ name, value: { worker, run, n } }) })
    .catch(() => {});
const schedule = (n) => Array.from({ length: n %% 4 + 1 }, (_, i) => ({
    key: `task-${i}/run-${run}/n-${n}`,
    at: %(base)d + n * 60000 + i * 1000 + 0.5,
    title: `${worker} request ${n} alarm ${i} ` + "\u00e9\U0001F600".repeat(n %% 7) + "x".repeat(n %% 50),
    sound: %(sounds)s[i %% 3],
    mode: i %% 2 ? "reminder" : "alarm",
}));
(async () => {
    const taskIds = ["task-0", "task-1", "task-2", "task-3"];
    for (let n = 1; ; ++n) {
        if (await window.BrindleDesktop.request("schedule", { alarms: schedule(n), taskIds }) !== true)
            return report("refused", n);
        if (n === 1 || n %% 20 === 0)
            report(n === 1 ? "flooding" : "acked", n);
    }
})();
</script></head><body></body></html>
""" % {"sounds": json.dumps(SOUNDS), "base": BASE_AT}


def schedule(worker, run, n):
    """The schedule that request n of a run sends, as JSON gives it back."""
    return [{"key": f"task-{i}/run-{run}/n-{n}", "at": BASE_AT + n * 60000 + i * 1000 + 0.5,
             "title": f"{worker} request {n} alarm {i} " + "\u00e9\U0001F600" * (n % 7) + "x" * (n % 50),
             "sound": SOUNDS[i % 3], "mode": "reminder" if i % 2 else "alarm"} for i in range(n % 4 + 1)]


def request_of(stored):
    """(run, n) of the request a stored schedule came from."""
    _, run, n = stored[0]["key"].split("/")
    return int(run.removeprefix("run-")), int(n.removeprefix("n-"))


def become_subreaper():
    """Orphans of Brindle come to this process, which collects WebKit's processes as they end."""
    ctypes.CDLL(None).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER


def process_table():
    """pid -> (parent pid, state)."""
    table = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            text = Path(f"/proc/{entry}/stat").read_text()
        except OSError:
            continue
        state, parent = text[text.rindex(")") + 2:].split()[:2]
        table[int(entry)] = (int(parent), state)
    return table


def descendants(pid):
    table = process_table()
    found, frontier = set(), {pid}
    while frontier:
        frontier = {child for child, (parent, _) in table.items() if parent in frontier} - found
        found |= frontier
    return found


def alive(pids):
    """Those of pids that still run; collects the zombies that are ours."""
    table = process_table()
    for pid in pids & table.keys():
        if table[pid] == (os.getpid(), "Z"):
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass
    return {pid for pid in pids & table.keys() if table[pid][1] != "Z"}


class KillableBrindle(Brindle):
    """A Brindle in a time zone of its own, on the test's session bus or on a private one."""

    def __init__(self, zone, hub=None, bus_address=None):
        super().__init__(notifications=False, start=False)
        if hub:
            self.hub = self.page.hub = hub
        self.zone, self.bus_address = zone, bus_address

    def environment(self):
        env = super().environment()
        env["TZ"] = self.zone
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        return env


class Worker:
    """Kills one Brindle over and over and checks its store after each kill."""

    def __init__(self, test, brindle, kills):
        self.test, self.brindle, self.kills = test, brindle, kills
        self.folder = brindle.store_path.parent
        self.floor = None  # (run, n) of the newest schedule known to be stored.
        self.starts, self.leftovers = [], 0

    def reported(self, *names):
        # A report cut off by a kill arrives without its body; only whole ones count.
        with self.brindle.hub.lock:
            values = [r["value"] for r in self.brindle.hub.reports if isinstance(r, dict) and r.get("name") in names]
        return [(v["run"], v["n"]) for v in values if v["worker"] == self.brindle.zone]

    def launch_until_flooding(self):
        before = len(self.reported("flooding"))
        self.brindle.relaunch()
        wait_for(lambda: len(self.reported("flooding")) > before or self.brindle.check_running(),
                 what=f"{self.brindle.zone} to start flooding")

    def run(self, abort):
        """Runs the kills until done or aborted; aborts the others when a check fails."""
        try:
            bus = dbus.bus.BusConnection(self.brindle.environment()["DBUS_SESSION_BUS_ADDRESS"])
            for kill in range(1, self.kills + 1):
                if abort.is_set():
                    return
                began = time.monotonic()
                if kill % EARLY_KILL_EVERY == 0 and self.starts:
                    self.brindle.relaunch()
                    time.sleep(random.uniform(0, statistics.median(self.starts)))
                else:
                    self.launch_until_flooding()
                    self.starts.append(time.monotonic() - began)
                    time.sleep(random.uniform(0, FLOOD_KILL_SPAN))
                family = descendants(self.brindle.process.pid)
                self.brindle.kill()
                # WebKit's processes end with Brindle; a kill must not leave them running.
                wait_for(lambda: not alive(family), what="WebKit's processes to end after a kill")
                wait_for(lambda: not bus.name_has_owner("app.brindle.Brindle"), what="the bus to release the name")
                self.check_store(f"{self.brindle.zone}, kill {kill}")
            self.test.assertEqual(self.reported("refused"), [])
        except BaseException:
            abort.set()
            raise

    def check_store(self, where):
        check = self.test
        acknowledged = self.reported("flooding", "acked")
        if acknowledged:
            self.floor = max(self.floor or (0, 0), max(acknowledged))
        origin = None
        try:
            text = self.brindle.store_path.read_text(encoding="utf-8")
        except FileNotFoundError:
            check.assertIsNone(self.floor, f"{where}: the store is gone")
        else:
            try:
                stored = json.loads(text)
            except ValueError:
                check.fail(f"{where}: the store does not parse: {text!r}")
            check.assertTrue(stored and isinstance(stored, list), f"{where}: the store is no schedule: {text!r}")
            origin = request_of(stored)
            check.assertEqual(stored, schedule(self.brindle.zone, *origin), f"{where}: the store is not whole")
            check.assertGreaterEqual(origin, self.floor or origin, f"{where}: an acknowledged schedule was lost")
            self.floor = origin

        # Only a kill between writing the new content and renaming it over the store leaves the
        # temporary file, and then it holds exactly the request in flight.
        others = sorted(set(os.listdir(self.folder)) - {"alarms.json", "WebKit"})
        if others:
            self.leftovers += 1
            check.assertEqual(others, [TEMPORARY_NAME], where)
            left = json.loads((self.folder / TEMPORARY_NAME).read_text(encoding="utf-8"))
            run, n = request_of(left)
            check.assertEqual(left, schedule(self.brindle.zone, run, n), where)
            in_flight = origin[1] + 1 if origin and origin[0] == run else 1
            check.assertEqual(n, in_flight, f"{where}: the temporary file is not the request in flight")
            check.assertGreater((run, n), origin or (0, 0), where)


class CrashSafety(unittest.TestCase):
    def test_every_kill_leaves_one_whole_schedule_the_page_sent_and_nothing_beside_it(self):
        become_subreaper()
        buses = [subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                 for _ in range(WORKERS - 1)]
        brindles = [KillableBrindle("Etc/GMT+1")]
        brindles += [KillableBrindle(f"Etc/GMT+{index}", brindles[0].hub, bus.stdout.readline().strip())
                     for index, bus in enumerate(buses, start=2)]
        try:
            brindles[0].hub.route("/planner", PAGE)
            workers = [Worker(self, brindle, KILLS // WORKERS + (index < KILLS % WORKERS))
                       for index, brindle in enumerate(brindles)]
            # The first Brindle's servers serve them all.
            brindles[0].start_servers()
            began = time.monotonic()
            abort = threading.Event()
            with ThreadPoolExecutor(WORKERS) as pool:
                for result in [pool.submit(worker.run, abort) for worker in workers]:
                    result.result()
            duration = time.monotonic() - began

            # One more run of each that floods and ends normally clears whatever a kill left.
            for worker in workers:
                worker.launch_until_flooding()
                # Ended as the session ends it; stop() would also end the servers the others use.
                worker.brindle.process.terminate()
                worker.brindle.process.wait(60)
                self.assertEqual(sorted(os.listdir(worker.folder)), ["WebKit", "alarms.json"])
                worker.check_store(f"{worker.brindle.zone}, after the last run")

            starts = [s for w in workers for s in w.starts]
            print(f"\n{KILLS} kills by {WORKERS} Brindles side by side in {duration:.0f} s; launch to first "
                  f"stored schedule: median {statistics.median(starts):.2f} s, longest {max(starts):.2f} s; "
                  f"kills that left the temporary file: {sum(w.leftovers for w in workers)}")
        finally:
            for brindle in reversed(brindles):
                brindle.__exit__(None, None, None)
            for bus in buses:
                bus.stdout.close()
                bus.terminate()
                bus.wait()


if __name__ == "__main__":
    main()
