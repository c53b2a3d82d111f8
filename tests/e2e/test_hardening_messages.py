#!/usr/bin/python3
"""Hostile messages from the page: nesting 100,000 levels deep, an envelope past the bound, a
50 MB schedule, lone UTF-16 surrogates, numbers past a double and a 64-bit id, a key of a
megabyte. Each is answered as a well-formed one would be, or dropped; Brindle keeps running, the
store stays UTF-8 JSON, and an ordinary request right after still gets its answer.
Run through run-e2e, which provides the virtual X server and the session bus."""

import json
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import Brindle, now_ms, wait_for  # noqa: E402
from hardening_support import read_store, serve_planner  # noqa: E402

DEPTH = 100_000
# The longest envelope Brindle takes, in UTF-16 code units (platform/linux/script_relay.h).
MAXIMUM_ENVELOPE_LENGTH = 64 << 20
HOUR = 3600e3
ANSWERED = {"value": "granted"}


def alarm(key, at, title="Hostile", mode="alarm"):
    return {"key": key, "at": at, "title": title, "sound": "bell", "mode": mode}


def schedule_text(alarms_text, id_text="${id}", task_ids='["t1"]'):
    """A page expression making a hand-written schedule envelope for the reserved id."""
    return (f'(id) => `{{"id":{id_text},"method":"schedule","data":{{"alarms":` + {alarms_text} + '
            f'`,"taskIds":{task_ids}}}}}`')


class HostileMessages(unittest.TestCase):
    def setUp(self):
        self.brindle = self.enterContext(Brindle(start=False))
        serve_planner(self.brindle, assets=["hostile.js"])
        self.brindle.start()
        self.brindle.wait_planner()

    def send(self, make, timeout=harness.DEFAULT_TIMEOUT):
        """Posts the envelope make(id) gives and returns Brindle's answer or "dropped", after
        checking that the ordinary request after it was answered."""
        result = self.brindle.page.run(f"return await window.hostile.send({make});", timeout)
        self.assertEqual(result["after"], ANSWERED, "the ordinary request after it went unanswered")
        self.brindle.check_running()
        return result["outcome"]

    def schedule(self, alarms):
        self.assertEqual(self.brindle.page.request("schedule", {"alarms": alarms, "taskIds": ["t1"]}), {"value": True})

    def assert_fired(self, due):
        """The reminder due went out and its fired key is stored as UTF-8."""
        wait_for(lambda: any(n["body"] == due["title"] for n in self.brindle.notifications()), what="the reminder")
        path = self.brindle.defaults_path
        defaults = wait_for(lambda: path.exists() and path.read_bytes(), what="the fired list")
        self.assertEqual(json.loads(defaults.decode("utf-8"))["fired"], [due["key"] + json.dumps(due["at"])])

    def test_deep_nesting_and_an_envelope_past_the_bound(self):
        brindle = self.brindle
        kept = alarm("t1/kept", now_ms() + HOUR)
        self.schedule([kept])

        # The page's own stringify gives up on such a body: Brindle hears nothing of it.
        in_page = brindle.page.run(f"""
            let data = {{}};
            for (let level = 0; level < {DEPTH}; ++level)
                data = {{ alarms: [data] }};
            return await window.hostile.outcome(window.BrindleDesktop.request("schedule", data));""")
        self.assertIn("error", in_page)
        self.assertNotEqual(in_page["error"], "Desktop request timed out")

        nested = f"window.hostile.nested({DEPTH}, "
        outcomes = {
            "body": self.send(f"(id) => {nested}'[', '0', ']')"),
            "id": self.send(f"(id) => '{{\"id\":' + {nested}'[', '1', ']') + ',\"method\":\"stop\"}}'"),
            "unclosed": self.send(f"(id) => `{{\"id\":${{id}},\"method\":\"stop\",\"data\":` + '['.repeat({DEPTH})"),
            "data": self.send(f"(id) => `{{\"id\":${{id}},\"method\":\"stop\",\"data\":` + {nested}'{{\"a\":', '1', '}}') + '}}'"),
            "alarms": self.send(f"(id) => `{{\"id\":${{id}},\"method\":\"schedule\",\"data\":{{\"alarms\":` + {nested}'[', '', ']') + '}}}}'"),
        }
        self.assertEqual(outcomes, {"body": "dropped", "id": "dropped", "unclosed": "dropped",
                                    "data": {"value": True}, "alarms": {"error": "Invalid alarm schedule"}})
        self.assertEqual(read_store(self, brindle), [kept])

        # Depth in a member Brindle does not read is no reason to refuse the rest.
        fresh = alarm("t1/fresh", now_ms() + HOUR)
        member = json.dumps(fresh)[:-1] + ',"extra":'
        self.assertEqual(self.send(schedule_text(f"'[' + {json.dumps(member)} + {nested}'[', '', ']') + '}}]'")),
                         {"value": True})
        self.assertEqual(read_store(self, brindle), [fresh])

        # Brindle holds a message several times over while it reads and stores it, so the
        # longest envelope is bounded, above 50 MB.
        envelope = '`{"id":${id},"method":"schedule","data":{"alarms":[],"taskIds":[]}}`'
        self.assertEqual(self.send(f"(id) => {envelope}.padEnd({MAXIMUM_ENVELOPE_LENGTH + 1}, ' ')", 300), "dropped")
        self.assertEqual(read_store(self, brindle), [fresh])
        self.assertEqual(self.send(f"(id) => {envelope}.padEnd({MAXIMUM_ENVELOPE_LENGTH}, ' ')", 300), {"value": True})
        self.assertEqual(read_store(self, brindle), [])

    def test_lone_surrogates_become_replacement_characters(self):
        brindle = self.brindle
        soon = now_ms() + 1500
        # Written by the page's JSON.stringify, which escapes a lone surrogate as \\udXXX.
        escaped = brindle.page.run(f"""return await window.hostile.outcome(window.BrindleDesktop.request(
            "schedule", {{ alarms: [
                {{ key: "t1/\\ud800", at: {soon}, title: "Call \\udc00 back", sound: "bell", mode: "reminder" }},
                {{ key: "t1/later\\udbff", at: {soon + HOUR}, title: "\\udfff", sound: "bell", mode: "alarm",
                   baseKey: "t1\\ud83d" }}],
                taskIds: ["t1"] }}));""")
        self.assertEqual(escaped, {"value": True})
        due = alarm("t1/\ufffd", soon, "Call \ufffd back", "reminder")
        self.assertEqual(read_store(self, brindle),
                         [due, {**alarm("t1/later\ufffd", soon + HOUR, "\ufffd"), "baseKey": "t1\ufffd"}])
        self.assert_fired(due)

        # The same characters raw in hand-made text, and a proper pair, which stays.
        raw = self.send(schedule_text(f"""`[{{"key":"t1/raw\\ud800","at":{soon + HOUR},"title":"\\udfff\\ud83d\\ude00",`
            + `"sound":"bell","mode":"alarm"}}]`"""))
        self.assertEqual(raw, {"value": True})
        self.assertEqual(read_store(self, brindle), [alarm("t1/raw\ufffd", soon + HOUR, "\ufffd\U0001F600")])

    def test_numbers_past_the_edges(self):
        def at(text, key="t1/n", id_text="${id}"):
            return schedule_text(f"""`[{{"key":"{key}","at":{text},"title":"t","sound":"bell","mode":"alarm"}}]`""",
                                 id_text)

        for text, stored in (("1e308", 1e308), ("-0", 0), ("-1.7976931348623157e308", -1.7976931348623157e308)):
            self.assertEqual(self.send(at(text)), {"value": True})
            self.assertEqual(read_store(self, self.brindle), [alarm("t1/n", stored, "t")])
        # Past a double, or no number at all: the message is dropped, the schedule stays.
        for text in ("1e400", "-1e400", "NaN", "Infinity", "0x10", "1e", "--1"):
            with self.subTest(at=text):
                self.assertEqual(self.send(at(text)), "dropped")
        self.assertEqual(read_store(self, self.brindle), [alarm("t1/n", -1.7976931348623157e308, "t")])

        # Ids no 64-bit integer holds are dropped; the extremes one holds are taken (their answers
        # reach no pending request, so the store tells). Digits are read as JSON.parse reads
        # them: one past the lowest id is the same double as the lowest, and is taken like it.
        for number, taken in (("9223372036854775808", False), ("18446744073709551616", False),
                              ("-9223372036854777856", False), ("1e19", False), ("1e400", False),
                              ("9223372036854775807", True), ("-9223372036854775808", True),
                              ("-9223372036854775809", True), ("-0", True), ("4.0e0", True)):
            with self.subTest(id=number):
                self.send(at(1, key=f"t1/id{number}", id_text=number))
                stored = [record["key"] for record in read_store(self, self.brindle)]
                self.assertEqual(stored == [f"t1/id{number}"], taken, stored)

    def test_a_key_of_a_megabyte_and_a_fifty_megabyte_schedule(self):
        brindle = self.brindle
        key = "t1/" + "k" * (1 << 20)
        later = alarm(key, now_ms() + HOUR)
        due = alarm(key + "/due", now_ms() + 1500, "A very long key", "reminder")
        self.schedule([later, due])
        self.assertEqual(read_store(self, brindle), [later, due])
        self.assert_fired(due)

        count, title_length, start = 100_000, 460, now_ms() + HOUR
        result = brindle.page.run(f"""
            const alarms = Array.from({{ length: {count} }}, (_, i) => ({{
                key: `t${{i}}/main`, at: {start} + i, title: "x".repeat({title_length}), sound: "bell",
                mode: "alarm" }}));
            const data = {{ alarms, taskIds: [] }};
            const bytes = JSON.stringify({{ id: 1, method: "schedule", data }}).length;
            const began = performance.now();
            const outcome = await window.hostile.outcome(window.BrindleDesktop.request("schedule", data));
            return {{ outcome, bytes, requestMs: performance.now() - began }};""", timeout=300)
        self.assertEqual(result["outcome"], {"value": True})
        self.assertGreater(result["bytes"], 50e6)
        stored = read_store(self, brindle)
        self.assertEqual(len(stored), count)
        self.assertEqual(stored[0], alarm("t0/main", start, "x" * title_length))
        self.assertEqual(stored[-1]["key"], f"t{count - 1}/main")
        with open(f"/proc/{brindle.process.pid}/status") as status:
            peak = next(line.split()[1] for line in status if line.startswith("VmHWM:"))

        # Brindle reads it all back at the next launch.
        documents = brindle.hub.document_count()
        brindle.stop()
        launched = time.monotonic()
        brindle.start()
        brindle.wait_planner(after=documents)
        relaunch_s = time.monotonic() - launched
        self.assertEqual(brindle.page.request("permission"), ANSWERED)
        print(f"\n50 MB schedule: {result['bytes'] / 1e6:.1f} MB envelope answered in {result['requestMs']:.0f} ms, "
              f"peak resident memory {int(peak) / 1024:.0f} MB; relaunch to the planner {relaunch_s:.1f} s",
              file=sys.stderr)


if __name__ == "__main__":
    harness.main()
