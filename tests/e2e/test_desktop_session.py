#!/usr/bin/python3
"""Brindle started with the session (as its autostart entry starts it) on a real PulseAudio
server: alarms ring without the window ever showing, each with one critical notification whose
actions snooze and stop it, and the sound comes back when the sound server restarts mid-ring."""

import array
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402
from desktop import titled_windows, visible_windows  # noqa: E402

RATE = 8000


class SoundServer:
    """PulseAudio on a socket of its own, playing into a null sink that parec records."""

    def __init__(self, root):
        self.root = root
        self.socket = root / "native"
        os.environ["PULSE_SERVER"] = f"unix:{self.socket}"
        os.environ["XDG_RUNTIME_DIR"] = str(root)
        self.server = self.recorder = None
        self.recording = root / "recording.raw"

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
        for process in (self.recorder, self.server):
            if process and process.poll() is None:
                process.kill()
                process.wait()

    def loudness(self, seconds=0.5):
        """The RMS of the last half second recorded, as a share of full scale."""
        size = self.recording.stat().st_size
        count = int(RATE * seconds) * 2
        if size < count:
            return 0.0
        with open(self.recording, "rb") as file:
            file.seek(size - count)
            samples = array.array("h", file.read(count))
        return math.sqrt(sum(s * s for s in samples) / len(samples)) / 32768

    def wait_loud(self, loud=True):
        time.sleep(0.6)
        return harness.wait_for(lambda: (self.loudness() > 0.02) == loud, timeout=20,
                                what="the alarm to be heard" if loud else "silence")


class DesktopSessionTest(unittest.TestCase):
    def test_an_autostarted_brindle_rings_heard_and_answered_from_its_notification(self):
        root = Path(tempfile.mkdtemp(prefix="brindle-desktop-"))
        sound = SoundServer(root)
        self.addCleanup(shutil.rmtree, root, True)
        self.addCleanup(sound.stop)
        sound.start()
        with harness.Brindle(start=False, notifications=False) as brindle:
            now = harness.now_ms()
            first = {"key": "t1/tea", "at": now + 3000.0, "title": "Tea", "sound": "chime", "mode": "alarm"}
            second = {"key": "t2/bus", "at": now + 25000.0, "title": "Bus", "sound": "bell", "mode": "alarm"}
            brindle.write_store([first, second])
            brindle.start_servers()
            server = brindle.notification_server = harness.NotificationServer(brindle.root / "notifications.log")
            brindle.log = open(brindle.log_path, "ab")
            brindle.process = subprocess.Popen([brindle.binary, "--gapplication-service"],
                                               env=brindle.environment(), stdout=brindle.log,
                                               stderr=subprocess.STDOUT, cwd=brindle.root)

            def ring_notification(title):
                calls = [n for n in server.notifications() if n["summary"] == "Brindle alarm" and n["body"] == title]
                return calls[0] if calls else None

            notification = harness.wait_for(lambda: brindle.check_running() or ring_notification("Tea"),
                                            what="the ring's notification")
            self.assertEqual(notification["actions"], ["default", "Show Brindle", "stop-alarm", "Stop alarm",
                                                       "snooze-alarm", "Snooze 5 minutes"])
            self.assertEqual((int(notification["hints"]["urgency"]), bool(notification["hints"]["resident"])),
                             (2, True))
            harness.wait_for(lambda: titled_windows("Brindle alarm"), what="the panel")
            sound.wait_loud()

            # The sound server goes away mid-ring and comes back.
            sound.stop()
            time.sleep(2)
            sound.start()
            sound.wait_loud()

            tea_id = len(server.notifications())
            server.mock.EmitSignal(harness.NOTIFICATIONS_NAME, "ActionInvoked", "us", [tea_id, "snooze-alarm"])
            harness.wait_for(lambda: any(a["key"] == "t1/tea/snooze" for a in brindle.stored_alarms()),
                             what="the snooze")
            sound.wait_loud(False)
            harness.wait_for(lambda: not titled_windows("Brindle alarm"), what="the panel to close")
            closed = [int(args[0]) for _, args in server.mock.GetMethodCalls("CloseNotification")]
            self.assertEqual(closed, [tea_id])

            harness.wait_for(lambda: ring_notification("Bus"), what="the second ring")
            sound.wait_loud()
            bus_id = len(server.notifications())
            server.mock.EmitSignal(harness.NOTIFICATIONS_NAME, "ActionInvoked", "us", [bus_id, "stop-alarm"])
            sound.wait_loud(False)
            harness.wait_for(lambda: not titled_windows("Brindle alarm"), what="the panel to close")
            self.assertNotIn("t2/bus/snooze", [a["key"] for a in brindle.stored_alarms()])
            self.assertEqual(visible_windows(brindle.process.pid), [], "the window never showed")

            # The user opens Brindle: the running one shows its window.
            subprocess.run([brindle.binary], env=brindle.environment(), timeout=60, check=True)
            harness.wait_for(lambda: visible_windows(brindle.process.pid), what="the window")


if __name__ == "__main__":
    harness.main()
