"""The real Brindle under a flood of 10,000 page requests of every cheap kind, as fast as the page
can send. Each kind gets an outcome of its own, so an answer that reached the wrong request shows
as a wrong outcome, and a missing one as the page's time-out. The longest stall of Brindle's main
loop (the round trip of org.gtk.Actions List over D-Bus) and its resident memory are printed,
never asserted: the machines are shared.
"""

import os
import threading
import time
import unittest
from pathlib import Path

import dbus

from harness import Brindle, main

REQUESTS = 10_000
# The page times a request out after 10 s, so it keeps this many in flight rather than all of
# them: a slow machine then answers late, not too late.
IN_FLIGHT = 500

FLOOD = """
const total = %(total)d;
const alarms = (i) => [{ key: `task-${i %% 7}/a`, at: 4102444800000 + i, title: `Flood ${i}`, sound: "bell", mode: "alarm" }];
const kinds = [
    ["stop", () => ({}), { value: true }],
    ["preview", () => ({ sound: "chime" }), { value: true }],
    ["schedule", (i) => ({ alarms: alarms(i), taskIds: ["task-1"] }), { value: true }],
    ["stop", () => null, { value: true }],
    ["schedule", (i) => ({ alarms: [{ key: `task-${i}` }] }), { error: "Invalid alarm schedule" }],
    ["flood", (i) => ({ i }), { error: "Unknown desktop request" }],
    ["permission", () => ({}), { value: "granted" }],
    ["stop", () => ({ extra: "x".repeat(200) }), { value: true }],
    ["preview", () => ({ sound: 5 }), { value: true }],
    ["stop", () => ({}), { value: true }],
];
const wrong = [];
let next = 0, settled = 0, lastSchedule = -1;
const started = performance.now();
const worker = async () => {
    while (next < total) {
        const i = next++;
        const [method, data, expected] = kinds[i %% kinds.length];
        if (method === "schedule" && "value" in expected)
            lastSchedule = i;
        const outcome = await window.bridgeTools.call(method, data(i));
        settled += 1;
        if (JSON.stringify(outcome) !== JSON.stringify(expected) && wrong.length < 20)
            wrong.push({ i, method, outcome });
    }
};
await Promise.all(Array.from({ length: %(in_flight)d }, worker));
return { settled, wrong, elapsed: performance.now() - started, sent: window.bridgeTools.sent.length,
         lastAlarms: alarms(lastSchedule) };
""" % {"total": REQUESTS, "in_flight": IN_FLIGHT}


def resident_kib(pid):
    return int(next(line.split()[1] for line in Path(f"/proc/{pid}/status").read_text().splitlines()
                    if line.startswith("VmRSS:")))


class MainLoopProbe(threading.Thread):
    """Calls Brindle's org.gtk.Actions List over and over on a connection of its own and keeps
    the longest round trip."""

    def __init__(self):
        super().__init__(daemon=True)
        bus = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
        self.actions = dbus.Interface(bus.get_object("app.brindle.Brindle", "/app/brindle/Brindle"),
                                      "org.gtk.Actions")
        self.stopping = threading.Event()
        self.longest, self.calls = 0.0, 0

    def run(self):
        while not self.stopping.is_set():
            began = time.monotonic()
            self.actions.List(timeout=120)
            self.longest = max(self.longest, time.monotonic() - began)
            self.calls += 1
            time.sleep(0.002)

    def take(self):
        """The longest round trip and the number of calls since the last take."""
        result = (self.longest, self.calls)
        self.longest, self.calls = 0.0, 0
        return result


class Flood(unittest.TestCase):
    def test_ten_thousand_requests_each_get_exactly_their_own_answer(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            probe = MainLoopProbe()
            probe.start()
            time.sleep(1.0)  # A quiet second first, to compare with.
            quiet_longest, quiet_calls = probe.take()
            memory_before = resident_kib(brindle.process.pid)

            result = brindle.page.run(FLOOD, timeout=900)
            flood_longest, flood_calls = probe.take()
            memory_after = resident_kib(brindle.process.pid)
            probe.stopping.set()
            probe.join(130)
            brindle.check_running()

            self.assertEqual(result["wrong"], [])
            self.assertEqual((result["settled"], result["sent"]), (REQUESTS, REQUESTS))
            # The last schedule the page sent is the one stored, and Brindle still answers.
            self.assertEqual(brindle.stored_alarms(), result["lastAlarms"])
            self.assertEqual(brindle.page.request("stop"), {"value": True})
            print(f"\n{REQUESTS} requests, {IN_FLIGHT} in flight, answered in {result['elapsed'] / 1000:.1f} s; "
                  f"longest main-loop round trip: {quiet_longest * 1000:.1f} ms quiet ({quiet_calls} calls), "
                  f"{flood_longest * 1000:.1f} ms during the flood ({flood_calls} calls); "
                  f"resident memory: {memory_before} KiB before, {memory_after} KiB after")


if __name__ == "__main__":
    main()
