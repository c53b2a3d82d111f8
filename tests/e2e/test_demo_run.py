#!/usr/bin/python3
"""The newcomer's first command, scripts/run-demo, run as CI runs it (no display), reaches a running
Brindle on the planner, takes a screenshot and ends everything it started."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
from pathlib import Path

SOURCE_DIR = Path(os.environ.get("BRINDLE_SOURCE_DIR", Path(__file__).resolve().parents[2]))
RUN_DEMO = SOURCE_DIR / "scripts" / "run-demo"
DEMO_PORT = 8443
# The planner's accent colour (the brand mark and the "Add task" button); the page's own
# stylesheet draws it, so finding it in the picture means the planner itself was on screen.
ACCENT = "3557D1"


def port_is_free(port):
    # Connections left in TIME_WAIT do not stop the server from binding again, so they do not
    # count here either; a listening socket does.
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("127.0.0.1", port))
        except OSError:
            return False
    return True


def image(png, *arguments):
    return subprocess.run(["convert", str(png), *arguments], check=True, capture_output=True, text=True).stdout


class RunDemoTest(unittest.TestCase):
    def setUp(self):
        if not port_is_free(DEMO_PORT):
            self.skipTest(f"port {DEMO_PORT} is taken (a demo is running here)")
        self.scratch = Path(tempfile.mkdtemp(prefix="brindle-run-demo-"))
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.environment = dict(os.environ)
        # The CI path: no display of any kind, and Brindle's files kept out of the real home.
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
            self.environment.pop(name, None)
        for name in ("data", "config", "cache"):
            self.environment[f"XDG_{name.upper()}_HOME"] = str(self.scratch / name)

    def run_demo(self, *arguments, timeout=540):
        process = subprocess.Popen([str(RUN_DEMO), *arguments], env=self.environment,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                   start_new_session=True)
        try:
            output, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGTERM)
            output, _ = process.communicate()
            self.fail(f"run-demo did not finish within {timeout} s:\n{output}")
        return process.returncode, output

    def test_screenshot_shows_brindle_on_the_planner_and_cleans_up(self):
        shot = self.scratch / "shots" / "planner.png"
        status, output = self.run_demo("--screenshot", str(shot))
        self.assertEqual(status, 0, output)
        self.assertTrue(shot.is_file(), output)

        # The picture is Brindle's 1060 x 780 window (give or take decorations), not the bare
        # virtual screen, and the planner's own colours are in it.
        width, height = map(int, image(shot, "-format", "%w %h", "info:").split())
        self.assertTrue(1000 <= width < 1280 and height >= 700, (width, height, output))
        self.assertIn(ACCENT, image(shot, "-format", "%c", "histogram:info:-").upper(),
                      "the planner page is not in the screenshot")

        # Brindle loaded the page, which handed its (empty) schedule over, so the store exists.
        self.assertTrue((self.scratch / "data" / "Brindle-Devel" / "alarms.json").is_file(), output)

        # Everything run-demo started has ended: the server's port is free again.
        deadline = time.monotonic() + 60
        while not port_is_free(DEMO_PORT):
            self.assertLess(time.monotonic(), deadline, "the planner server outlived run-demo")
            time.sleep(0.2)

    def test_rejects_unknown_options_without_building(self):
        status, output = self.run_demo("--no-such-option", timeout=30)
        self.assertEqual(status, 2, output)
        self.assertIn("--screenshot FILE", output)
        self.assertNotIn("Building", output)


if __name__ == "__main__":
    unittest.main(verbosity=2)
