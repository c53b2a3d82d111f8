#!/usr/bin/python3
"""Hostile messages from the page: nesting far deeper than any parser's stack, a 50 MB
schedule, lone UTF-16 surrogates, numbers at and past the edges of a double and of a 64-bit id,
a key of a megabyte. Brindle never falls over: each message is answered as a well-formed one
would be, or dropped; the store on disk stays UTF-8 JSON; and an ordinary request made right
after still gets its answer.

Run through run-e2e, which provides the virtual X server and the session bus.
"""

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


class HostileMessages(unittest.TestCase):
    def launch(self, brindle):
        serve_planner(brindle, assets=["hostile.js"])
        brindle.start()
        brindle.wait_planner()

    def send(self, brindle, make, timeout=harness.DEFAULT_TIMEOUT):
        """Posts the envelope text that the page expression make(id) gives and returns what
        became of it; checks that the ordinary request after it was answered and that Brindle
        still runs."""
        result = brindle.page.run(f"return await window.hostile.send({make});", timeout)
        self.assertEqual(result["after"], ANSWERED, "the ordinary request after it went unanswered")
        brindle.check_running()
        return result["outcome"]

    def schedule(self, brindle, alarms, task_ids=("t1",)):
        reply = brindle.page.request("schedule", {"alarms": alarms, "taskIds": list(task_ids)})
        self.assertEqual(reply, {"value": True})

    def test_nesting_a_hundred_thousand_levels_deep(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)
            kept = alarm("t1/kept", now_ms() + HOUR)
            self.schedule(brindle, [kept])

            # The page cannot even write such a body as JSON: its own stringify gives up, the
            # request fails in the page, and Brindle hears nothing of it.
            in_page = brindle.page.run(f"""
                let data = {{}};
                for (let level = 0; level < {DEPTH}; ++level)
                    data = {{ alarms: [data] }};
                return await window.hostile.outcome(window.BrindleDesktop.request("schedule", data));""")
            self.assertIn("error", in_page)
            self.assertNotEqual(in_page["error"], "Desktop request timed out")

            nested = f"window.hostile.nested({DEPTH}, "
            outcomes = {
                "body": self.send(brindle, f"(id) => {nested}'[', '0', ']')"),
                "id": self.send(brindle, f"(id) => '{{\"id\":' + {nested}'[', '1', ']') + ',\"method\":\"stop\"}}'"),
                "unclosed": self.send(brindle, f"(id) => `{{\"id\":${{id}},\"method\":\"stop\",\"data\":` + '['.repeat({DEPTH})"),
                "data": self.send(brindle, f"(id) => `{{\"id\":${{id}},\"method\":\"stop\",\"data\":` + {nested}'{{\"a\":', '1', '}}') + '}}'"),
                "alarms": self.send(brindle, f"(id) => `{{\"id\":${{id}},\"method\":\"schedule\",\"data\":{{\"alarms\":` + {nested}'[', '', ']') + '}}}}'"),
            }
            self.assertEqual(outcomes, {
                "body": "dropped",
                "id": "dropped",
                "unclosed": "dropped",
                "data": {"value": True},
                "alarms": {"error": "Invalid alarm schedule"},
            })
            self.assertEqual(read_store(self, brindle), [kept])

            # Depth where nothing is read is no reason to refuse the rest: the alarm is taken,
            # without the member Brindle does not know.
            fresh = alarm("t1/fresh", now_ms() + HOUR)
            member = json.dumps(fresh)[:-1] + ',"extra":'
            outcome = self.send(brindle, f"""(id) => `{{"id":${{id}},"method":"schedule","data":{{"alarms":[`
                + {json.dumps(member)} + {nested}'[', '', ']') + '}}],"taskIds":["t1"]}}}}'""")
            self.assertEqual(outcome, {"value": True})
            self.assertEqual(read_store(self, brindle), [fresh])

    def test_lone_surrogates_become_replacement_characters(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)
            soon = now_ms() + 1500

            # Written by the page's own JSON.stringify, which escapes a lone surrogate as \\udXXX.
            escaped = brindle.page.run(f"""return await window.hostile.outcome(window.BrindleDesktop.request(
                "schedule", {{ alarms: [
                    {{ key: "t1/\\ud800", at: {soon}, title: "Call \\udc00 back", sound: "bell", mode: "reminder" }},
                    {{ key: "t1/later\\udbff", at: {soon + HOUR}, title: "\\udfff", sound: "bell", mode: "alarm",
                       baseKey: "t1\\ud83d" }}],
                    taskIds: ["t1"] }}));""")
            self.assertEqual(escaped, {"value": True})
            self.assertEqual(read_store(self, brindle), [
                alarm("t1/\ufffd", soon, "Call \ufffd back", "reminder"),
                {**alarm("t1/later\ufffd", soon + HOUR, "\ufffd"), "baseKey": "t1\ufffd"},
            ])

            # The reminder falls due: it goes out, and its fired key, which holds the replacement
            # character, is stored as UTF-8 too.
            notification = wait_for(lambda: brindle.notifications(), what="the reminder")[0]
            self.assertEqual(notification["body"], "Call \ufffd back")
            defaults = wait_for(lambda: brindle.defaults_path.exists() and brindle.defaults_path.read_bytes(),
                                what="the fired list")
            self.assertEqual(json.loads(defaults.decode("utf-8"))["fired"], [f"t1/\ufffd{json.dumps(soon)}"])

            # The same characters raw in hand-made text, and a proper pair, which stays.
            raw = self.send(brindle, f"""(id) => `{{"id":${{id}},"method":"schedule","data":{{"alarms":[`
                + `{{"key":"t1/raw\\ud800","at":{soon + HOUR},"title":"\\udfff\\ud83d\\ude00","sound":"bell",`
                + `"mode":"alarm"}}],"taskIds":["t1"]}}}}`""")
            self.assertEqual(raw, {"value": True})
            self.assertEqual(read_store(self, brindle), [alarm("t1/raw\ufffd", soon + HOUR, "\ufffd\U0001F600")])

    def test_numbers_past_the_edges(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)

            def schedule_text(at_text, key="t1/n", id_text="${id}"):
                return (f"(id) => `{{\"id\":{id_text},\"method\":\"schedule\",\"data\":{{\"alarms\":[{{\"key\":\"{key}\","
                        f"\"at\":{at_text},\"title\":\"t\",\"sound\":\"bell\",\"mode\":\"alarm\"}}],\"taskIds\":[\"t1\"]}}}}`")

            self.assertEqual(self.send(brindle, schedule_text("1e308")), {"value": True})
            self.assertEqual(read_store(self, brindle), [alarm("t1/n", 1e308, "t")])
            self.assertEqual(self.send(brindle, schedule_text("-0")), {"value": True})
            self.assertEqual(read_store(self, brindle), [alarm("t1/n", 0, "t")])
            self.assertEqual(self.send(brindle, schedule_text("-1.7976931348623157e308")), {"value": True})
            self.assertEqual(read_store(self, brindle), [alarm("t1/n", -1.7976931348623157e308, "t")])

            # Past a double, or no number at all: the message is dropped, the schedule stays.
            for text in ("1e400", "-1e400", "NaN", "Infinity", "0x10", "1e", "--1"):
                with self.subTest(at=text):
                    self.assertEqual(self.send(brindle, schedule_text(text)), "dropped")
            self.assertEqual(read_store(self, brindle), [alarm("t1/n", -1.7976931348623157e308, "t")])

            # Ids that no 64-bit integer holds are dropped; the extremes that one holds are taken
            # (their answers reach no pending request, so the store tells). Digits are read as
            # the page's JSON.parse reads them: one past the lowest id is the same double as the
            # lowest, and is taken like it.
            for number, taken in (("9223372036854775808", False), ("18446744073709551616", False),
                                  ("-9223372036854777856", False), ("1e19", False), ("1e400", False),
                                  ("9223372036854775807", True), ("-9223372036854775808", True),
                                  ("-9223372036854775809", True), ("-0", True), ("4.0e0", True)):
                with self.subTest(id=number):
                    key = f"t1/id{number}"
                    self.send(brindle, schedule_text(1, key=key, id_text=number))
                    stored = [record["key"] for record in read_store(self, brindle)]
                    self.assertEqual(stored == [key], taken, stored)

    def test_a_key_of_a_megabyte(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)
            key = "t1/" + "k" * (1 << 20)
            later = alarm(key, now_ms() + HOUR)
            due = alarm(key + "/due", now_ms() + 1500, "A very long key", "reminder")
            self.schedule(brindle, [later, due])
            self.assertEqual(read_store(self, brindle), [later, due])

            wait_for(lambda: brindle.notifications(), what="the reminder")
            defaults = wait_for(lambda: brindle.defaults_path.exists() and brindle.defaults_path.read_bytes(),
                                what="the fired list")
            self.assertEqual(json.loads(defaults.decode("utf-8"))["fired"], [due["key"] + json.dumps(due["at"])])
            self.assertEqual(brindle.page.request("permission"), ANSWERED)
            brindle.check_running()

    def test_a_fifty_megabyte_schedule(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)
            count, title_length = 100_000, 460
            start = now_ms() + HOUR
            timing = brindle.page.run(f"""
                const alarms = Array.from({{ length: {count} }}, (_, i) => ({{
                    key: `t${{i}}/main`, at: {start} + i, title: "x".repeat({title_length}), sound: "bell",
                    mode: "alarm" }}));
                const data = {{ alarms, taskIds: [] }};
                const began = performance.now();
                const bytes = JSON.stringify({{ id: 1, method: "schedule", data }}).length;
                const stringified = performance.now();
                const outcome = await window.hostile.outcome(window.BrindleDesktop.request("schedule", data));
                const answered = performance.now();
                return {{ outcome, bytes, stringifyMs: stringified - began, requestMs: answered - stringified }};""",
                timeout=300)
            self.assertEqual(timing["outcome"], {"value": True})
            self.assertGreater(timing["bytes"], 50e6)

            stored = read_store(self, brindle)
            self.assertEqual(len(stored), count)
            self.assertEqual(stored[0], alarm("t0/main", start, "x" * title_length))
            self.assertEqual(stored[-1]["key"], f"t{count - 1}/main")
            size = brindle.store_path.stat().st_size
            with open(f"/proc/{brindle.process.pid}/status") as status:
                peak = next(line.split()[1] for line in status if line.startswith("VmHWM:"))
            self.assertEqual(brindle.page.request("permission"), ANSWERED)

            # Brindle reads it all back at the next launch.
            documents = brindle.hub.document_count()
            brindle.stop()
            launched = time.monotonic()
            brindle.start()
            brindle.wait_planner(after=documents)
            relaunch_s = time.monotonic() - launched
            self.assertEqual(brindle.page.request("permission"), ANSWERED)
            brindle.check_running()
            print(f"\n50 MB schedule: {timing['bytes'] / 1e6:.1f} MB envelope, page's own stringify "
                  f"{timing['stringifyMs']:.0f} ms, request to answer {timing['requestMs']:.0f} ms "
                  f"(stringify, relay, parse, store {size / 1e6:.1f} MB, reply), Brindle's peak resident "
                  f"memory {int(peak) / 1024:.0f} MB; relaunch on it to the planner {relaunch_s:.1f} s", file=sys.stderr)

    def test_an_envelope_past_the_bound_is_dropped(self):
        # Brindle holds a message several times over while it reads and stores it; an envelope
        # of any length could exhaust its memory, so the longest is bounded, above 50 MB.
        with Brindle(start=False) as brindle:
            self.launch(brindle)
            kept = alarm("t1/kept", now_ms() + HOUR)
            self.schedule(brindle, [kept])
            envelope = '`{"id":${id},"method":"schedule","data":{"alarms":[],"taskIds":[]}}`'
            outcomes = [self.send(brindle, f"(id) => {envelope}.padEnd({length}, ' ')", timeout=300)
                        for length in (MAXIMUM_ENVELOPE_LENGTH + 1, MAXIMUM_ENVELOPE_LENGTH)]
            self.assertEqual(outcomes, ["dropped", {"value": True}])
            self.assertEqual(read_store(self, brindle), [])


if __name__ == "__main__":
    harness.main()
