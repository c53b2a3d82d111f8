#!/usr/bin/python3
"""The page's web process dies (kill -9) or hangs: Brindle loads the page again, no more often
than every ten seconds, ends a process silent for half a minute, and alarms ring all the while.
Run through run-e2e, which provides the virtual X server and the session bus."""

import os
import signal
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from harness import PLANNER_URL, Brindle, now_ms, wait_for  # noqa: E402
from hardening_support import (alarm_panel_shown, focus, main_window, visible_windows,  # noqa: E402
                               web_processes, xdotool)

# How long Brindle lets the web process go without answering, with room to spare.
UNRESPONSIVE_LIMIT_S = 30


class BrokenWebProcess(unittest.TestCase):
    def schedule_soon(self, brindle, lead_ms):
        alarm = {"key": "t1/main", "at": now_ms() + lead_ms, "title": "Ring past the page", "sound": "bell",
                 "mode": "alarm"}
        self.assertEqual(brindle.page.request("schedule", {"alarms": [alarm], "taskIds": ["t1"]}), {"value": True})
        return alarm

    def assert_back(self, brindle, documents, gone):
        """The planner is loaded for the given time and the processes gone are gone."""
        self.assertEqual(brindle.wait_planner(after=documents, timeout=120)["href"], PLANNER_URL)
        self.assertTrue(set(gone).isdisjoint(web_processes(brindle.process.pid)))

    def stop_ringing(self, brindle):
        # The bridge works in the new process: the page stops the ringing alarm.
        self.assertEqual(brindle.page.request("stop"), {"value": True})
        wait_for(lambda: not alarm_panel_shown(), what="the panel to close")

    def kill_web_processes(self, brindle):
        victims = wait_for(lambda: web_processes(brindle.process.pid), what="the web process")
        for pid in victims:
            os.kill(pid, signal.SIGKILL)
        return victims

    def test_the_page_comes_back_and_an_alarm_due_while_it_is_gone_rings(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            window = main_window(brindle)
            self.assert_back(brindle, 1, self.kill_web_processes(brindle))

            # Killed again at once, the page waits until ten seconds after the first reload, so
            # the alarm falls due while there is no page at all.
            alarm = self.schedule_soon(brindle, 2000)
            self.kill_web_processes(brindle)
            documents_at_ring = wait_for(lambda: brindle.check_running() or alarm_panel_shown()
                                         and [brindle.hub.document_count()], what="the alarm panel")[0]
            self.assertEqual(documents_at_ring, 2, "the alarm was meant to ring while the page was gone")
            self.assert_back(brindle, 2, ())
            self.stop_ringing(brindle)
            self.assertEqual(visible_windows(brindle), [window])
            self.assertEqual(brindle.stored_alarms(), [alarm])

    def test_a_page_stuck_in_an_endless_loop_holds_up_no_alarm_and_is_ended(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            window = main_window(brindle)
            self.schedule_soon(brindle, 3000)
            hung = web_processes(brindle.process.pid)
            brindle.page.send("setTimeout(() => { for (;;) {} }, 0);")
            wait_for(lambda: brindle.check_running() or alarm_panel_shown(), what="the alarm panel")
            self.assertIn(window, visible_windows(brindle))
            self.assert_back(brindle, 1, hung)
            self.stop_ringing(brindle)
            # The session's SIGTERM still ends Brindle at once and cleanly.
            brindle.process.terminate()
            self.assertEqual(brindle.process.wait(timeout=harness.DEFAULT_TIMEOUT), 0)

    def test_a_dialog_the_page_shows_is_left_for_the_user_to_answer(self):
        # While the page's alert is up the web process answers nothing else: that is no hang.
        with Brindle() as brindle:
            brindle.wait_planner()
            window = main_window(brindle)
            brindle.page.send("alert('Take your time');")
            time.sleep(UNRESPONSIVE_LIMIT_S + 15)
            self.assertEqual(brindle.hub.document_count(), 1, "the page was loaded again under its dialog")
            focus(window)
            xdotool("key", "--window", window, "Return")
            self.assertEqual(brindle.page.run("return 'answered';"), "answered")
            brindle.check_running()


if __name__ == "__main__":
    harness.main()
