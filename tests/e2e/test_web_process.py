"""The page's web process in one launch: sandboxed (or says it is not), restarted when killed (ten seconds
apart, an alarm due meanwhile rings), ended when stuck; print() refused; no CAP_WAKE_ALARM."""

import contextlib
import os
import shutil
import signal
import subprocess
import time
import unittest
from pathlib import Path

from harness import PLANNER_URL, Brindle, alarm, main, need, now_ms, panel_shown, wait_for


def web_processes(ancestor):
    """The WebKit web processes below ancestor, each with the programs between them."""
    table = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        with contextlib.suppress(OSError, IndexError):
            parent = int(Path(f"/proc/{entry}/stat").read_text().rsplit(")", 1)[1].split()[1])
            table[int(entry)] = (parent, Path(f"/proc/{entry}/cmdline").read_bytes().split(b"\0")[0].decode())
    found = {}
    for pid in (pid for pid, (_, program) in table.items() if program.endswith("/WebKitWebProcess")):
        between, parent = [], table[pid][0]
        while parent in table and parent != ancestor:
            between, parent = between + [table[parent][1]], table[parent][0]
        if parent == ancestor:
            found[pid] = between
    return found



class WebProcess(unittest.TestCase):
    def back(self, brindle, documents, gone):
        """The planner loads again in a new web process, where the bridge works: its stop ends the ringing."""
        self.assertEqual(brindle.wait_planner(after=documents, timeout=120)["href"], PLANNER_URL)
        self.assertTrue(set(gone).isdisjoint(web_processes(brindle.process.pid)))
        self.assertEqual(brindle.page.request("stop"), {"value": True})
        wait_for(lambda: not panel_shown(), what="the panel to close")

    def kill(self, brindle):
        for pid in (victims := wait_for(lambda: web_processes(brindle.process.pid), what="the web process")):
            os.kill(pid, signal.SIGKILL)
        return victims

    def test_sandbox_kills_an_endless_loop_and_print(self):
        # Whether bubblewrap can make its namespaces here, tried as Brindle tries it before the first page.
        sandboxed = subprocess.run([need(shutil.which("bwrap", path="/usr/bin"), "bubblewrap"), "--unshare-all", "--ro-bind",
                                    "/", "/", "--proc", "/proc", "--dev", "/dev", "true"], capture_output=True).returncode == 0

        with Brindle(start=False) as brindle:
            # Without CAP_WAKE_ALARM (and no systemd user manager) Brindle says once that alarms
            # cannot wake the machine, and rings them all the same.
            brindle.binary, brindle.arguments = shutil.which("setpriv"), [
                "--bounding-set", "-wake_alarm", "--inh-caps", "-wake_alarm", brindle.binary]
            brindle.write_store([])
            brindle.start()
            brindle.wait_planner()
            self.assertEqual("without its sandbox" in brindle.log_path.read_text(), not sandboxed)
            for pid, between in wait_for(lambda: web_processes(brindle.process.pid), what="the web process").items():
                self.assertEqual(any(program.endswith("/bwrap") for program in between), sandboxed, between)
                for kind in ("mnt", "pid", "net") if sandboxed else ():
                    self.assertNotEqual(os.readlink(f"/proc/{pid}/ns/{kind}"),
                                        os.readlink(f"/proc/{brindle.process.pid}/ns/{kind}"), kind)
                for path in (brindle.store_path, brindle.home, brindle.log_path) if sandboxed else ():
                    self.assertEqual((os.path.exists(path), os.path.exists(f"/proc/{pid}/root{path}")), (True, False), path)

            killed = time.monotonic()
            self.back(brindle, 1, self.kill(brindle))
            # Killed again, the page comes back ten seconds after the first kill at the soonest; an alarm due meanwhile rings.
            due = alarm("t1/main", now_ms() + 2000, "Ring past the page")
            brindle.schedule(due)
            self.kill(brindle)
            wait_for(lambda: brindle.check_running() or brindle.hub.documents[2:], timeout=120, what="the page again")
            self.assertGreaterEqual(time.monotonic() - killed, 10)
            brindle.wait_panel()
            self.back(brindle, 2, ())
            self.assertEqual(brindle.stored_alarms(), [due])

            brindle.schedule(alarm("t1/main", now_ms() + 3000, "Ring past a stuck page"))
            stuck = web_processes(brindle.process.pid)
            brindle.page.send("setTimeout(() => { for (;;) {} }, 0);")
            brindle.wait_panel()
            self.back(brindle, 3, stuck)
            self.assertEqual(brindle.log_path.read_text().count("alarms cannot wake this machine"), 1)

            brindle.page.send("window.kept = 'state'; print();")
            printed = time.monotonic()
            wait_for(lambda: time.monotonic() - printed > 40 or brindle.hub.documents[4:], 60, "40 s after print()")
            self.assertEqual(len(brindle.hub.documents), 4, "the page was loaded again")
            self.assertEqual(brindle.page.run("return window.kept;"), "state")
            brindle.process.terminate()
            self.assertEqual(brindle.process.wait(10), 0)


if __name__ == "__main__":
    main()
