"""The "schedule" request in the real binary: the store file it writes."""

import json
import unittest

from harness import Brindle, main, now_ms


def alarm(key, at, title="Stand up", sound="bell", mode="alarm", **extra):
    return {"key": key, "at": at, "title": title, "sound": sound, "mode": mode, **extra}


class Schedule(unittest.TestCase):
    def test_a_schedule_is_stored_unchanged_and_an_invalid_one_leaves_the_store_untouched(self):
        title = ('He said "stop" \\ and \\" then\nnext line\r\ttab \u2028 \u2029 </script><script>x()</script> '
                 "café 日本 😀 ${x} `y` '); //")
        with Brindle() as brindle:
            brindle.wait_planner()
            later = now_ms() + 3_600_000
            alarms = [alarm("t1/a", later), alarm("t2/b", later + 0.5, mode="reminder", sound="chime"),
                      alarm("t3/c", later, baseKey="t3"), alarm("t4/" + title, later, title)]
            # Sent by the page's own JSON.stringify, so the title is escaped as a page escapes it.
            outcome = brindle.page.run(f"""return await window.bridgeTools.call("schedule",
                {{ alarms: {json.dumps(alarms)}, taskIds: ["t1", "t2", "t3", "t4"] }});""")
            self.assertEqual(outcome, {"value": True})
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


if __name__ == "__main__":
    main()
