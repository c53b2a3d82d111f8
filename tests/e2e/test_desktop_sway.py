#!/usr/bin/python3
"""Brindle under sway, headless (a wlroots compositor with wlr-layer-shell): the ringing panel is
a surface of the overlay layer, above every window whatever has the focus, not a window that
tiles beside the others, and the ring's notification stops it and its sound."""

import glob
import os
import pwd
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from test_desktop_gnome import OTHER_APP, SoundServer  # noqa: E402

USER = "brindle-sway"


class SwayTest(unittest.TestCase):
    def test_the_panel_is_on_the_overlay_layer_and_the_notification_stops_it(self):
        if os.geteuid() != 0 or not shutil.which("sway"):
            raise unittest.SkipTest("sway runs here only as a user made for the test, which needs root")
        if subprocess.run(["id", USER], capture_output=True).returncode != 0:
            subprocess.run(["useradd", "--system", "--no-create-home", USER], check=True)
        with harness.Brindle(start=False) as brindle:
            sound = SoundServer(brindle.root)
            self.addCleanup(sound.stop)
            sound.start()
            runtime = Path(tempfile.mkdtemp(prefix="brindle-desktop-sway-"))
            self.addCleanup(shutil.rmtree, runtime, True)
            os.chown(runtime, pwd.getpwnam(USER).pw_uid, -1)
            (runtime / "config").write_text("output HEADLESS-1 resolution 1600x1000\nxwayland disable\n")
            log = runtime / "sway.log"
            sway = subprocess.Popen(
                ["runuser", "-u", USER, "--", "env", f"XDG_RUNTIME_DIR={runtime}", "WLR_BACKENDS=headless",
                 "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "sway", "-d", "-c", str(runtime / "config")],
                stdout=subprocess.DEVNULL, stderr=open(log, "w"), env={"PATH": os.environ["PATH"]})
            self.addCleanup(lambda: (sway.terminate(), sway.wait()))
            harness.wait_for(lambda: sway.poll() is None and glob.glob(f"{runtime}/sway-ipc.*.sock"), what="sway")
            (socket,), (ipc,) = glob.glob(f"{runtime}/wayland-*[0-9]"), glob.glob(f"{runtime}/sway-ipc.*.sock")
            # WebKit's sandbox lets its web process reach the display only inside XDG_RUNTIME_DIR.
            os.environ.update(XDG_RUNTIME_DIR=str(runtime), WAYLAND_DISPLAY=Path(socket).name, SWAYSOCK=ipc)
            os.environ.pop("DISPLAY", None)

            def tree():
                return subprocess.run(["swaymsg", "-t", "get_tree"], capture_output=True, text=True).stdout
            other = subprocess.Popen(["/usr/bin/python3", "-c", OTHER_APP], env=dict(os.environ, GDK_BACKEND="wayland"))
            self.addCleanup(other.kill)
            harness.wait_for(lambda: '"Other app"' in tree(), what="the other window")

            brindle.write_store([{"key": "t1", "at": harness.now_ms() + 10000.0, "title": "Tea", "sound": "chime", "mode": "alarm"}])
            brindle.start()
            harness.wait_for(lambda: brindle.check_running() or brindle.notifications(), what="the ring")
            harness.wait_for(lambda: "namespace brindle-alarm layer 3" in log.read_text(), what="the overlay layer")
            sound.wait_loud()
            subprocess.run(["swaymsg", '[title="Other app"]', "focus"], check=True, capture_output=True)
            time.sleep(0.5)
            self.assertIn('"Other app"', tree())
            self.assertNotIn('"Brindle alarm"', tree(), "the panel is no window among the others")
            brindle.mock.EmitSignal("org.freedesktop.Notifications", "ActionInvoked", "us",
                                   [len(brindle.notifications()), "stop-alarm"])
            sound.wait_loud(False)


if __name__ == "__main__":
    harness.main()
