#!/usr/bin/python3
"""Brindle started with the session (as its autostart entry starts it) on a real PulseAudio
server: an alarm rings without the window ever showing, with one critical notification whose
snooze action snoozes it, and its sound comes back when the sound server restarts mid-ring."""

import array
import math
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402

RATE = 8000


class SoundServer:
    """PulseAudio on a socket of its own, playing into a null sink that parec records."""

    def __init__(self, root):
        self.socket, self.recording, self.server, self.recorder = root / "native", root / "recording.raw", None, None
        os.environ.update(PULSE_SERVER=f"unix:{self.socket}", XDG_RUNTIME_DIR=str(root))

    def start(self):
        self.server = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
             f"--load=module-native-protocol-unix socket={self.socket} auth-anonymous=1",
             "--load=module-null-sink sink_name=brindle_test"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        harness.wait_for(lambda: subprocess.run(["pactl", "info"], capture_output=True).returncode == 0,
                         what="PulseAudio")
        subprocess.run(["pactl", "set-default-sink", "brindle_test"], check=True)
        self.recording.write_bytes(b"")
        self.recorder = subprocess.Popen(
            ["parec", "-d", "brindle_test.monitor", "--raw", "--format=s16le", "--channels=1", f"--rate={RATE}"],
            stdout=open(self.recording, "ab"))

    def stop(self):
        for process in filter(None, (self.recorder, self.server)):
            process.kill()
            process.wait()

    def loudness(self, seconds=0.5):
        """The RMS of the last half second recorded, as a share of full scale."""
        samples = array.array("h", self.recording.read_bytes()[-int(RATE * seconds) * 2:])
        return math.sqrt(sum(s * s for s in samples) / max(len(samples), 1)) / 32768

    def wait_loud(self, loud=True):
        time.sleep(0.6)
        harness.wait_for(lambda: (self.loudness() > 0.02) == loud, timeout=20, what=f"loud={loud}")


class DesktopSessionTest(unittest.TestCase):
    def test_an_autostarted_brindle_rings_heard_and_answered_from_its_notification(self):
        with harness.Brindle(start=False, arguments=["--gapplication-service"]) as brindle:
            sound = SoundServer(brindle.root)
            self.addCleanup(sound.stop)
            sound.start()
            brindle.write_store([{"key": "t1/tea", "at": harness.now_ms() + 3000.0, "title": "Tea", "sound": "chime", "mode": "alarm"}])
            brindle.start()

            notification = harness.wait_for(lambda: brindle.check_running() or next(
                (n for n in brindle.notifications() if (n["summary"], n["body"]) == ("Brindle alarm", "Tea")), None),
                what="the ring's notification")
            self.assertEqual(notification["actions"], ["default", "Show Brindle", "stop-alarm", "Stop alarm",
                                                       "snooze-alarm", "Snooze 5 minutes"])
            self.assertEqual((int(notification["hints"]["urgency"]), bool(notification["hints"]["resident"])),
                             (2, True))
            harness.wait_for(harness.panel_shown, what="the panel")
            sound.wait_loud()

            # The sound server goes away mid-ring and comes back.
            sound.stop()
            time.sleep(2)
            sound.start()
            sound.wait_loud()

            tea_id = len(brindle.notifications())
            brindle.mock.EmitSignal("org.freedesktop.Notifications", "ActionInvoked", "us", [tea_id, "snooze-alarm"])
            harness.wait_for(lambda: any(a["key"] == "t1/tea/snooze" for a in brindle.stored_alarms()),
                             what="the snooze")
            sound.wait_loud(False)
            harness.wait_for(lambda: not harness.panel_shown(), what="the panel to close")
            self.assertEqual([int(args[0]) for _, args in brindle.mock.GetMethodCalls("CloseNotification")], [tea_id])
            self.assertEqual(harness.visible_windows(brindle.process.pid), [], "the window never showed")

            subprocess.run([brindle.binary], env=brindle.environment(), timeout=60, check=True)
            harness.wait_for(lambda: harness.visible_windows(brindle.process.pid), what="the window, once the user opens Brindle")


if __name__ == "__main__":
    harness.main()
