"""The real Brindle under a flood of page requests: 10,000 of them, as fast as the page can send,
of every cheap kind ("stop", "preview" with nothing ringing, "schedule" valid and invalid,
"permission", an unknown method). Every one is answered exactly once with its own id: each
method gets an outcome of its own, so an answer that reached the wrong request would show as a
wrong outcome, and a missing answer as the page's time-out.

While the page floods, the test measures from outside how long Brindle's main loop stalls (the
round trip of D-Bus calls to the GApplication's org.gtk.Actions List, which the main loop
serves) and Brindle's resident memory before and after. It prints those and asserts nothing
about them: the machines are shared and their speed says nothing about Brindle.
"""

import os
import threading
import time
import unittest
from pathlib import Path

import dbus

from harness import Brindle, main

APPLICATION_ID = "app.brindle.Brindle"
APPLICATION_PATH = "/app/brindle/Brindle"
REQUESTS = 10_000
# Requests in flight at once. The page stops each request after 10 s without an answer, so the
# page keeps this many waiting rather than all of them: a slow machine then answers late, not
# too late.
IN_FLIGHT = 500
FAR_AHEAD = 4102444800000

FLOOD = """
const tools = window.bridgeTools;
const total = %(total)d, window_ = %(window)d;
const alarms = (i) => [{ key: `task-${i %% 7}/a`, at: %(far)d + i, title: `Flood ${i}`, sound: "bell", mode: "alarm" }];
// What each kind of request sends and the outcome it must get.
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
let next = 0, settled = 0, timedOut = 0, lastSchedule = -1;
const started = performance.now();
const one = async (i) => {
    const [method, data, expected] = kinds[i %% kinds.length];
    if (method === "schedule" && "value" in expected)
        lastSchedule = i;
    const outcome = await tools.call(method, data(i));
    settled += 1;
    if (outcome.error === "Desktop request timed out")
        timedOut += 1;
    if (JSON.stringify(outcome) !== JSON.stringify(expected) && wrong.length < 20)
        wrong.push({ i, method, outcome });
};
const worker = async () => {
    while (next < total)
        await one(next++);
};
await Promise.all(Array.from({ length: window_ }, worker));
const elapsed = performance.now() - started;
return { settled, timedOut, wrong, elapsed, sent: tools.sent.length, lastSchedule,
         lastAlarms: alarms(lastSchedule) };
"""


def resident_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


class MainLoopProbe(threading.Thread):
    """Calls the running GApplication's org.gtk.Actions List over and over, on a bus connection
    of its own, and keeps the longest round trip."""

    def __init__(self):
        super().__init__(daemon=True)
        self.bus = dbus.bus.BusConnection(os.environ["DBUS_SESSION_BUS_ADDRESS"])
        self.actions = dbus.Interface(self.bus.get_object(APPLICATION_ID, APPLICATION_PATH), "org.gtk.Actions")
        self.stopping = threading.Event()
        self.lock = threading.Lock()
        self.longest = 0.0
        self.calls = 0

    def run(self):
        while not self.stopping.is_set():
            began = time.monotonic()
            self.actions.List(timeout=120)
            took = time.monotonic() - began
            with self.lock:
                self.longest = max(self.longest, took)
                self.calls += 1
            time.sleep(0.002)

    def take(self):
        """The longest round trip and the number of calls since the last take."""
        with self.lock:
            result = (self.longest, self.calls)
            self.longest, self.calls = 0.0, 0
        return result

    def stop(self):
        self.stopping.set()
        self.join(130)


class Flood(unittest.TestCase):
    def test_ten_thousand_requests_each_get_exactly_their_own_answer(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            pid = brindle.process.pid
            probe = MainLoopProbe()
            probe.start()
            # A quiet second first, to compare with.
            time.sleep(1.0)
            quiet_longest, quiet_calls = probe.take()
            memory_before = resident_kib(pid)

            result = brindle.page.run(FLOOD % {"total": REQUESTS, "window": IN_FLIGHT, "far": FAR_AHEAD},
                                      timeout=900)
            flood_longest, flood_calls = probe.take()
            memory_after = resident_kib(pid)
            probe.stop()
            brindle.check_running()

            self.assertEqual(result["wrong"], [])
            self.assertEqual(result["timedOut"], 0)
            self.assertEqual(result["settled"], REQUESTS)
            self.assertEqual(result["sent"], REQUESTS)
            # The last schedule the page sent is the one stored.
            self.assertEqual(brindle.stored_alarms(), result["lastAlarms"])
            # Brindle still answers as before.
            self.assertEqual(brindle.page.request("stop"), {"value": True})

            print(f"\n{REQUESTS} requests, {IN_FLIGHT} in flight, answered in {result['elapsed'] / 1000:.1f} s "
                  f"({REQUESTS / result['elapsed'] * 1000:.0f} a second); "
                  f"longest main-loop round trip: {quiet_longest * 1000:.1f} ms quiet ({quiet_calls} calls), "
                  f"{flood_longest * 1000:.1f} ms during the flood ({flood_calls} calls); "
                  f"Brindle's resident memory: {memory_before} KiB before, {memory_after} KiB after")


if __name__ == "__main__":
    main()
