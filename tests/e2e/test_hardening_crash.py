#!/usr/bin/python3
"""The page's web process dies (kill -9, as the kernel's out-of-memory killer or a crash would
end it): the window would stay blank for good, so Brindle loads the page again, no more often
than every ten seconds, and alarms ring all the while. A page that hangs instead holds up
nothing of Brindle's either, and its process is ended after half a minute without an answer.

Run through run-e2e, which provides the virtual X server and the session bus.
"""

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



def kill_web_processes(brindle):
    victims = wait_for(lambda: web_processes(brindle.process.pid), what="the web process")
    for pid in victims:
        os.kill(pid, signal.SIGKILL)
    return set(victims)


class BrokenWebProcess(unittest.TestCase):
    def test_the_page_comes_back_and_an_alarm_due_while_it_is_gone_rings(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            window = main_window(brindle)

            # The first loss: the page is back at once.
            first = kill_web_processes(brindle)
            document = brindle.wait_planner(after=1)
            self.assertEqual(document["href"], PLANNER_URL)
            self.assertTrue(first.isdisjoint(web_processes(brindle.process.pid)), "the dead process is gone")

            # The new page schedules an alarm a moment ahead, then loses its process again. The
            # second reload waits until ten seconds after the first, so the alarm falls due while
            # there is no page at all.
            alarm = {"key": "t1/main", "at": now_ms() + 2000, "title": "Ring through a crash", "sound": "bell",
                     "mode": "alarm"}
            self.assertEqual(brindle.page.request("schedule", {"alarms": [alarm], "taskIds": ["t1"]}),
                             {"value": True})
            kill_web_processes(brindle)

            def panel_with_documents():
                brindle.check_running()
                return alarm_panel_shown() and [brindle.hub.document_count()]
            documents_at_ring = wait_for(panel_with_documents, what="the alarm panel")[0]
            self.assertEqual(documents_at_ring, 2, "the alarm was meant to ring while the page was gone")

            document = brindle.wait_planner(after=2)
            self.assertEqual(document["href"], PLANNER_URL)
            # The bridge works in the new process: the page stops the ringing alarm.
            self.assertEqual(brindle.page.request("stop"), {"value": True})
            wait_for(lambda: not alarm_panel_shown(), what="the panel to close")
            self.assertEqual(visible_windows(brindle), [window])
            self.assertEqual(brindle.stored_alarms(), [alarm])
            brindle.check_running()

    def test_a_page_stuck_in_an_endless_loop_holds_up_no_alarm_and_is_ended(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            window = main_window(brindle)
            alarm = {"key": "t1/main", "at": now_ms() + 3000, "title": "Ring past a hung page", "sound": "bell",
                     "mode": "alarm"}
            self.assertEqual(brindle.page.request("schedule", {"alarms": [alarm], "taskIds": ["t1"]}),
                             {"value": True})
            hung = web_processes(brindle.process.pid)
            brindle.page.send("setTimeout(() => { for (;;) {} }, 0);")

            wait_for(lambda: brindle.check_running() or alarm_panel_shown(), what="the alarm panel")
            self.assertIn(window, visible_windows(brindle))

            # Half a minute without an answer and the stuck process is ended; the page comes back.
            document = brindle.wait_planner(after=1, timeout=120)
            self.assertEqual(document["href"], PLANNER_URL)
            self.assertTrue(set(hung).isdisjoint(web_processes(brindle.process.pid)))
            self.assertEqual(brindle.page.request("stop"), {"value": True})
            wait_for(lambda: not alarm_panel_shown(), what="the panel to close")

            # The session's SIGTERM still ends Brindle at once and cleanly.
            brindle.process.terminate()
            self.assertEqual(brindle.process.wait(timeout=harness.DEFAULT_TIMEOUT), 0)
    def test_a_dialog_the_page_shows_is_left_for_the_user_to_answer(self):
        # While WebKit shows the page's alert, the web process answers nothing else; that is
        # waiting for the user, not hanging.
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
