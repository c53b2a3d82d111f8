"""Frames inside the planner cannot reach Brindle: only the planner's main frame is answered."""

import json
import unittest

from harness import Brindle, main, now_ms, planner_page


class Frames(unittest.TestCase):
    def test_a_cross_origin_and_a_same_origin_frame_get_no_answer_and_change_nothing(self):
        with Brindle() as brindle:
            # The other origin (another port) is let into a frame: only the main-frame check stands.
            frames = [f"{brindle.other_origin}/frame.html", "/frame.html"]
            brindle.hub.route("/planner", planner_page(
                script="""window.readyFrames = [];
                    window.addEventListener("message", (event) => {
                        if (event.data === "ready") window.readyFrames.push(event.source);
                    });""",
                body="".join(f'<iframe src="{src}"></iframe>' for src in frames)))
            brindle.wait_planner()
            alarms = [{"key": "t9/a", "at": now_ms() + 3_600_000, "title": "From a frame", "sound": "bell",
                       "mode": "alarm"}]
            outcomes = brindle.page.run(f"""
                const tools = window.bridgeTools;
                while (window.readyFrames.length < 2)
                    await tools.sleep(50);
                const waiting = window.readyFrames.map((frame) => {{
                    const stop = tools.pending();
                    const schedule = tools.pending();
                    frame.postMessage(
                        {{ id: stop.id, scheduleId: schedule.id, alarms: {json.dumps(alarms)} }}, "*");
                    return Promise.all([stop.outcome, schedule.outcome]);
                }});
                return await Promise.all(waiting);""")

            reports = {report["origin"]: report for report in
                       (brindle.hub.wait_report("frame", count=2), brindle.hub.wait_report("frame", count=1))}
            timed_out = {"error": "Desktop request timed out"}
            self.assertEqual(outcomes, [[timed_out, timed_out], [timed_out, timed_out]])
            self.assertEqual(set(reports), {brindle.other_origin, f"https://localhost:{brindle.servers[0].port}"})
            for origin, report in reports.items():
                self.assertEqual([report[k] for k in ("bridge", "hook", "handler", "posted")],
                                 ["undefined"] * 3 + ["TypeError"], origin)
            self.assertEqual(reports[brindle.other_origin]["parentDispatch"], "SecurityError")
            self.assertIsNone(brindle.store_bytes())

            # The same schedule from the planner itself is taken, so the frames' was well formed.
            self.assertEqual(brindle.page.request("schedule", {"alarms": alarms}), {"value": True})
            self.assertEqual(brindle.stored_alarms(), alarms)


if __name__ == "__main__":
    main()
