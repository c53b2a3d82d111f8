"""Brindle killed with SIGKILL again and again while the planner replaces its schedule as fast as
it can: after every kill the store holds one whole schedule that the page sent, never a torn or
an older one, and nothing but the store is left in its folder.

The page sends "schedule" requests one after another, each awaited, each built from its run (the
time the page loaded) and a counter, so the store names the request it came from and the test
rebuilds that request to compare. Now and then the page reports the last counter Brindle
acknowledged; as Brindle answers only after saving, the store can never be older than that. Most
kills land while the page floods, some while Brindle is still starting.

Several independent Brindles are killed side by side, each with its own folders and session bus;
each is told apart by its time zone, which the page reads and nothing in Brindle uses.

BRINDLE_KILL_COUNT sets the number of kills (300 by default), BRINDLE_KILL_WORKERS the number of
Brindles running side by side (2 by default).
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
APPLICATION_ID = "app.brindle.Brindle"
# One kill in this many lands while Brindle starts rather than while the page floods.
EARLY_KILL_EVERY = 10
# After the page has started flooding, the kill comes at a random moment within this span.
FLOOD_KILL_SPAN = 0.25
# Far ahead, so that nothing is due or pruned while the test runs.
BASE_AT = 4102444800000
ACK_REPORT_EVERY = 20
SOUNDS = ["bell", "chime", "digital"]
TEMPORARY_NAME = ".alarms.json.brindle-tmp"

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>Planner flooding its schedule</title>
<script>
"use strict";
const worker = Intl.DateTimeFormat().resolvedOptions().timeZone;
const run = Date.now();
const sounds = %(sounds)s;
const report = (name, n) => fetch("/report", { method: "POST", body: JSON.stringify({ name, value: { worker, run, n } }) })
    .catch(() => {});
const schedule = (n) => {
    const alarms = [];
    for (let i = 0; i <= n %% 4; ++i) {
        alarms.push({
            key: `task-${i}/run-${run}/n-${n}`,
            at: %(base)d + n * 60000 + i * 1000 + 0.5,
            title: `${worker} request ${n} alarm ${i} ` + "\u00e9\U0001F600".repeat(n %% 7) + "x".repeat(n %% 50),
            sound: sounds[i %% 3],
            mode: i %% 2 ? "reminder" : "alarm",
        });
    }
    return alarms;
};
(async () => {
    const taskIds = ["task-0", "task-1", "task-2", "task-3"];
    for (let n = 1; ; ++n) {
        const answer = await window.BrindleDesktop.request("schedule", { alarms: schedule(n), taskIds });
        if (answer !== true) {
            report("refused", n);
            return;
        }
        if (n === 1)
            report("flooding", n);
        else if (n %% %(every)d === 0)
            report("acked", n);
    }
})();
</script></head><body></body></html>
""" % {"sounds": json.dumps(SOUNDS), "base": BASE_AT, "every": ACK_REPORT_EVERY}


def schedule(worker, run, n):
    """The schedule that request n of a run sends, as JSON gives it back."""
    alarms = []
    for i in range(n % 4 + 1):
        alarms.append({
            "key": f"task-{i}/run-{run}/n-{n}",
            "at": BASE_AT + n * 60000 + i * 1000 + 0.5,
            "title": f"{worker} request {n} alarm {i} " + "\u00e9\U0001F600" * (n % 7) + "x" * (n % 50),
            "sound": SOUNDS[i % 3],
            "mode": "reminder" if i % 2 else "alarm",
        })
    return alarms


def request_of(stored):
    """(run, n) of the request a stored schedule came from."""
    _, run, n = stored[0]["key"].split("/")
    return int(run.removeprefix("run-")), int(n.removeprefix("n-"))


# Processes whose parent dies are handed to this process rather than to init, so that the test
# can see WebKit's processes end with Brindle and collect them.
PR_SET_CHILD_SUBREAPER = 36


def become_subreaper():
    libc = ctypes.CDLL(None, use_errno=True)
    return libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0


def process_table():
    """pid -> (parent pid, state) of every process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
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
    """Those of pids that still run (zombies have ended); collects the zombies that are ours."""
    table = process_table()
    running = set()
    for pid in pids:
        if pid not in table:
            continue
        parent, state = table[pid]
        if state != "Z":
            running.add(pid)
        elif parent == os.getpid():
            try:
                os.waitpid(pid, os.WNOHANG)
            except ChildProcessError:
                pass
    return running


class SessionBus:
    """A private session bus of its own, for a Brindle beside the one on the test's bus."""

    def __init__(self):
        self.process = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.process.stdout.readline().strip()
        self.process.stdout.close()

    def stop(self):
        self.process.terminate()
        self.process.wait()


class KillableBrindle(Brindle):
    """A Brindle in a time zone of its own, on the test's session bus or on a private one."""

    def __init__(self, zone, hub=None, bus=None):
        super().__init__(notifications=False, start=False)
        if hub:
            self.hub = hub
            self.page.hub = hub
        self.zone = zone
        self.bus = bus

    def environment(self):
        env = super().environment()
        env["TZ"] = self.zone
        if self.bus:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.address
        return env

    def session_bus(self):
        return dbus.bus.BusConnection(self.bus.address) if self.bus else dbus.SessionBus()


class Worker:
    """Kills one Brindle over and over and checks its store after each kill."""

    def __init__(self, test, brindle, kills):
        self.test = test
        self.brindle = brindle
        self.kills = kills
        self.worker = brindle.zone
        self.folder = brindle.store_path.parent
        # (run, n) of the newest schedule known to be stored.
        self.floor = None
        self.starts, self.rounds = [], []
        self.early_kills = self.leftovers = 0

    def reported(self, *names):
        # A report cut off by a kill arrives without its body; only whole ones count.
        hub = self.brindle.hub
        with hub.lock:
            values = [r["value"] for r in hub.reports if isinstance(r, dict) and r.get("name") in names]
        return [(v["run"], v["n"]) for v in values if v["worker"] == self.worker]

    def run(self, abort):
        """Runs the kills; stops early once abort is set, and sets it when a check fails."""
        try:
            self.run_kills(abort)
        except BaseException:
            abort.set()
            raise

    def run_kills(self, abort):
        bus = self.brindle.session_bus()
        for kill in range(1, self.kills + 1):
            if abort.is_set():
                return
            began = time.monotonic()
            flooding_before = len(self.reported("flooding"))
            self.brindle.relaunch()
            if kill % EARLY_KILL_EVERY == 0 and self.starts:
                self.early_kills += 1
                time.sleep(random.uniform(0, statistics.median(self.starts)))
            else:
                wait_for(lambda: len(self.reported("flooding")) > flooding_before or self.check_running(),
                         what=f"{self.worker} to start flooding")
                self.starts.append(time.monotonic() - began)
                time.sleep(random.uniform(0, FLOOD_KILL_SPAN))

            family = descendants(self.brindle.process.pid)
            self.brindle.kill()
            # WebKit's processes end with Brindle; a kill must not leave them running.
            wait_for(lambda: not alive(family), what=f"WebKit's processes to end after a kill of {self.worker}")
            wait_for(lambda: not bus.name_has_owner(APPLICATION_ID), what="the bus to release Brindle's name")
            self.check_store(f"{self.worker}, kill {kill}")
            self.rounds.append(time.monotonic() - began)
        self.test.assertEqual(self.reported("refused"), [])

    def check_running(self):
        self.brindle.check_running()
        return False

    def check_store(self, where):
        check = self.test
        acknowledged = self.reported("flooding", "acked")
        if acknowledged:
            self.floor = max(self.floor or (0, 0), max(acknowledged))
        try:
            text = self.brindle.store_path.read_text(encoding="utf-8")
        except FileNotFoundError:
            check.assertIsNone(self.floor, f"{where}: the store is gone")
            text = None
        origin = None
        if text is not None:
            try:
                stored = json.loads(text)
            except ValueError:
                check.fail(f"{where}: the store does not parse: {text!r}")
            check.assertIsInstance(stored, list, where)
            check.assertTrue(stored, f"{where}: the store is empty")
            origin = request_of(stored)
            check.assertEqual(stored, schedule(self.worker, *origin), f"{where}: the store is not whole")
            if self.floor:
                check.assertGreaterEqual(origin, self.floor, f"{where}: an acknowledged schedule was lost")
            self.floor = origin

        # Only a kill between naming the new content and renaming it over the store leaves the
        # temporary file, and then it holds exactly the request in flight.
        others = sorted(set(os.listdir(self.folder)) - {"alarms.json", "WebKit"})
        if others:
            self.leftovers += 1
            check.assertEqual(others, [TEMPORARY_NAME], where)
            left = json.loads((self.folder / TEMPORARY_NAME).read_text(encoding="utf-8"))
            run, n = request_of(left)
            check.assertEqual(left, schedule(self.worker, run, n), where)
            expected_n = origin[1] + 1 if origin and origin[0] == run else 1
            check.assertEqual(n, expected_n, f"{where}: the temporary file is not the request in flight")
            check.assertGreater((run, n), origin or (0, 0), where)


class CrashSafety(unittest.TestCase):
    def test_every_kill_leaves_one_whole_schedule_the_page_sent_and_nothing_beside_it(self):
        subreaper = become_subreaper()
        buses = [SessionBus() for _ in range(WORKERS - 1)]
        brindles = [KillableBrindle("Etc/GMT+1")]
        brindles += [KillableBrindle(f"Etc/GMT+{index + 1}", brindles[0].hub, bus)
                     for index, bus in enumerate(buses, start=1)]
        try:
            for brindle in brindles:
                brindle.hub.route("/planner", PAGE)
            shares = [KILLS // WORKERS + (1 if index < KILLS % WORKERS else 0) for index in range(WORKERS)]
            workers = [Worker(self, brindle, share) for brindle, share in zip(brindles, shares)]
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
                flooding_before = len(worker.reported("flooding"))
                worker.brindle.relaunch()
                wait_for(lambda: len(worker.reported("flooding")) > flooding_before or worker.check_running(),
                         what="a last run to start flooding")
                # Ended as the session ends it; stop() would also end the servers the others use.
                worker.brindle.process.terminate()
                worker.brindle.process.wait(60)
                self.assertEqual(sorted(os.listdir(worker.folder)), ["WebKit", "alarms.json"])
                worker.check_store(f"{worker.worker}, after the last run")

            starts = [s for w in workers for s in w.starts]
            rounds = [r for w in workers for r in w.rounds]
            print(f"\n{KILLS} kills by {WORKERS} Brindles side by side "
                  f"({sum(w.early_kills for w in workers)} while starting) in {duration:.0f} s; "
                  f"launch to first stored schedule: median {statistics.median(starts):.2f} s, "
                  f"longest {max(starts):.2f} s; one launch and kill: median {statistics.median(rounds):.2f} s; "
                  f"kills that left the temporary file: {sum(w.leftovers for w in workers)}; "
                  f"WebKit's orphans collected here: {'yes' if subreaper else 'no'}")
        finally:
            for brindle in reversed(brindles):
                brindle.__exit__(None, None, None)
            for bus in buses:
                bus.stop()


if __name__ == "__main__":
    main()
