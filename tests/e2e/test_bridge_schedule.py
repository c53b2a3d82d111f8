"""The "schedule" request in the real binary: the store file it writes and the reminders it delivers."""

import json
import unittest

from harness import Brindle, main, now_ms, wait_for


def alarm(key, at, title="Stand up", sound="bell", mode="alarm", **extra):
    return {"key": key, "at": at, "title": title, "sound": sound, "mode": mode, **extra}


class Schedule(unittest.TestCase):
    def test_a_schedule_is_stored_and_an_invalid_one_leaves_the_store_untouched(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            later = now_ms() + 3_600_000
            alarms = [alarm("t1/a", later), alarm("t2/b", later + 0.5, mode="reminder", sound="chime"),
                      alarm("t3/c", later, baseKey="t3")]
            self.assertEqual(brindle.page.request("schedule", {"alarms": alarms, "taskIds": ["t1", "t2", "t3"]}),
                             {"value": True})
            self.assertEqual(brindle.stored_alarms(), alarms)
            stored = brindle.store_bytes()

            for invalid in ({"alarms": [alarm("t1/a", later), {"key": "t1/b", "at": later}]},
                            {"alarms": [alarm("t1/a", str(later))]},
                            {"alarms": {"0": alarm("t1/a", later)}},
                            {"alarms": [alarm("t1/a", later), 5]},
                            {}):
                self.assertEqual(brindle.page.request("schedule", invalid), {"error": "Invalid alarm schedule"},
                                 invalid)
                self.assertEqual(brindle.store_bytes(), stored, invalid)

    def test_titles_that_could_break_a_script_or_a_file_round_trip_unchanged(self):
        title = ('He said "stop" \\ and \\" then\nnext line\r\ttab \u2028 \u2029 </script><script>x()</script> '
                 "café 日本 😀 ${x} `y` '); //")
        with Brindle() as brindle:
            brindle.wait_planner()
            at = now_ms() + 3_600_000
            # JSON.stringify sends a lone surrogate as an escape; Brindle keeps U+FFFD for it.
            stored = brindle.page.run(f"""
                const title = {json.dumps(title)};
                const lone = "before \\ud800 after \\udc00";
                const outcome = await window.bridgeTools.call("schedule", {{ alarms: [
                    {{ key: "t1/" + title, at: {at!r}, title, sound: "bell", mode: "reminder" }},
                    {{ key: "t2", at: {at!r}, title: lone, sound: "bell", mode: "reminder" }},
                ] }});
                return outcome;""")
            self.assertEqual(stored, {"value": True})
            alarms = brindle.stored_alarms()
            self.assertEqual([a["title"] for a in alarms], [title, "before \ufffd after \ufffd"])
            self.assertEqual(alarms[0]["key"], "t1/" + title)
            self.assertEqual(alarms[0]["at"], at)

    def test_a_reminder_reaches_the_notification_server_and_its_key_identifies_it(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            soon = now_ms() + 2000
            reminders = [alarm("t1/r", soon, title="Water the plants", mode="reminder"),
                         alarm("t2/r", soon, title="Call back", mode="reminder")]
            self.assertEqual(brindle.page.request("schedule", {"alarms": reminders}), {"value": True})
            first = wait_for(lambda: len(brindle.notifications()) >= 2 and brindle.notifications(),
                             what="two notifications")
            self.assertEqual(sorted((n["summary"], n["body"], n["replaces_id"]) for n in first),
                             [("Brindle reminder", "Call back", 0), ("Brindle reminder", "Water the plants", 0)])

            # The same key at a new time is delivered again and replaces the notification of
            # that key, not the other one.
            ids = {n["body"]: i + 1 for i, n in enumerate(first)}
            moved = alarm("t1/r", now_ms() + 2000, title="Water the plants again", mode="reminder")
            self.assertEqual(brindle.page.request("schedule", {"alarms": [moved]}), {"value": True})
            latest = wait_for(lambda: len(brindle.notifications()) >= 3 and brindle.notifications()[2],
                              what="the moved reminder")
            self.assertEqual((latest["summary"], latest["body"], latest["replaces_id"]),
                             ("Brindle reminder", "Water the plants again", ids["Water the plants"]))


if __name__ == "__main__":
    main()
