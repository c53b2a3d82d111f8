#!/usr/bin/python3
"""Brindle started with the session, as its autostart entry starts it, under a real GNOME Shell on
Wayland (headless, with its Xwayland, two monitors, its notification service and a private logind
stand-in) and a real PulseAudio server: alarms ring without the window ever showing; the ringing
panel comes up centred on the monitor the user works on and stays above another application's
window after the user clicks that window; the ring's notification is in the message tray with its
two actions, each doing what the panel's button does; the sound is heard until then, also after
the sound server restarts mid-ring; clicking a reminder in the tray brings the window to the front."""

import array
import json
import math
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402

EXTENSION = "unsafe@brindle.test"
OTHER_APP = ("import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk; "
             "w = Gtk.Window(title='Other app'); w.set_default_size(1500, 950); w.show_all(); Gtk.main()")

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


class GnomeShell:
    """gnome-shell --headless --wayland, or the window manager of the X server the test runs on,
    whose Eval answers once its extension unlocks it."""

    def __init__(self, root, x11):
        home, self.wayland = root / "home", f"brindle-gnome-{os.getpid()}"
        for path, text in (
                (f".local/share/gnome-shell/extensions/{EXTENSION}/metadata.json", json.dumps(
                    {"uuid": EXTENSION, "name": "Eval", "description": "Eval", "shell-version": ["43"]})),
                (f".local/share/gnome-shell/extensions/{EXTENSION}/extension.js",
                 "function init() { return { enable() { global.context.unsafe_mode = true; }, disable() {} }; }"),
                (".config/glib-2.0/settings/keyfile", f"[org/gnome/shell]\nenabled-extensions=['{EXTENSION}']\nwelcome-dialog-last-shown-version='99'\n")):
            (home / path).parent.mkdir(parents=True, exist_ok=True)
            (home / path).write_text(text)
        env = dict(os.environ, HOME=str(home), GSETTINGS_BACKEND="keyfile")
        self.system_bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address"],
                                           stdout=subprocess.PIPE, text=True)
        env["DBUS_SYSTEM_BUS_ADDRESS"] = self.system_bus.stdout.readline().strip()
        self.logind = subprocess.Popen(["/usr/bin/python3", "-m", "dbusmock", "--template", "logind"],
                                       env=dict(env, DBUS_SESSION_BUS_ADDRESS=env["DBUS_SYSTEM_BUS_ADDRESS"]),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(1)
        mode = ["--x11", "--replace"] if x11 else ["--headless", "--wayland", *["--virtual-monitor", "1600x1000"] * 2,
                                                   "--wayland-display", self.wayland]
        self.shell = subprocess.Popen(["gnome-shell", *mode], env=env,
                                      stdout=subprocess.DEVNULL, stderr=open(root / "shell.log", "w"))
        harness.wait_for(lambda: self.shell.poll() is None and self.eval("1") == 1, what="GNOME Shell")
        # GNOME starts in its overview, which takes no activation requests from windows.
        harness.wait_for(lambda: self.eval("const M = imports.ui.main; if (!M.layoutManager._startingUp) M.overview.hide();"
                                           "return !M.layoutManager._startingUp && !M.overview.visible;"), what="the desktop")

    def eval(self, script):
        """The value of the script in the shell (which answers it as JSON), or None while it cannot answer."""
        result = subprocess.run(["gdbus", "call", "--session", "-d", "org.gnome.Shell", "-o", "/org/gnome/Shell",
                                 "-m", "org.gnome.Shell.Eval", f"(() => {{ {script} }})()"
                                 if "return" in script else script], capture_output=True, text=True)
        text = eval(result.stdout.strip()[7:-1]) if result.stdout.startswith("(true, ") else ""  # quoted as Python does
        return json.loads(text) if text else None

    def stacking(self):
        """Window titles, bottom to top."""
        return self.eval("return global.display.sort_windows_by_stacking(global.display.list_all_windows())"
                         ".map(w => w.get_title());")

    def tray(self):
        return self.eval("return imports.ui.main.messageTray.getSources().flatMap(s => s.notifications.map("
                         "n => [n.title, n.bannerBodyText, n.urgency, n.actions.map(a => a.label)]));")

    def press(self, label):
        self.eval("imports.ui.main.messageTray.getSources().flatMap(s => s.notifications)"
                  f".flatMap(n => n.actions).find(a => a.label == {json.dumps(label)}).callback(); return 1;")

    def focused(self):
        return self.eval("return global.display.focus_window?.get_title();")

    def click(self, title, across):
        """A click from a virtual pointer, the share `across` of the way across the window."""
        self.eval("const C = imports.gi.Clutter; global.brindlePointer ??= C.get_default_backend().get_default_seat()"
                  ".create_virtual_device(C.InputDeviceType.POINTER_DEVICE); const p = global.brindlePointer;"
                  f"const r = global.display.list_all_windows().find(w => w.get_title() == '{title}').get_frame_rect();"
                  f"p.notify_absolute_motion(C.CURRENT_TIME, r.x + r.width * {across}, r.y + r.height / 2);"
                  "[C.ButtonState.PRESSED, C.ButtonState.RELEASED].forEach(s => p.notify_button(C.CURRENT_TIME, 1, s));"
                  "return 1;")
        harness.wait_for(lambda: self.focused() == title, what=f"{title} to take the focus")

    def stop(self):
        for process in (self.shell, self.logind, self.system_bus):
            process.kill(), process.wait()


class GnomeTest(unittest.TestCase):
    def test_on_wayland(self):
        self.ring_under_gnome(x11=False)

    def test_as_an_x11_window_manager(self):
        self.ring_under_gnome(x11=True)

    def ring_under_gnome(self, x11):
        saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(saved)))
        with harness.Brindle(start=False, notifications=False, arguments=["--gapplication-service"]) as brindle:
            sound = SoundServer(brindle.root)
            self.addCleanup(sound.stop)
            sound.start()
            try:
                shell = GnomeShell(brindle.root, x11)
            except AssertionError as error:
                raise unittest.SkipTest(f"GNOME Shell does not start here: {error}")
            self.addCleanup(shell.stop)
            os.environ.update(XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_TYPE="x11" if x11 else "wayland")
            if not x11:
                xwayland = shell.eval("return [imports.gi.GLib.getenv('DISPLAY'), imports.gi.GLib.getenv('XAUTHORITY')];")
                os.environ.update(WAYLAND_DISPLAY=shell.wayland, DISPLAY=xwayland[0], XAUTHORITY=xwayland[1] or "")
            other = subprocess.Popen(["/usr/bin/python3", "-c", OTHER_APP],
                                     env=dict(os.environ, GDK_BACKEND="x11" if x11 else "wayland"))
            self.addCleanup(other.kill)
            # On the right of the last monitor, clear of Brindle's centred window and panel; the user
            # works there (on Wayland the second of two).
            harness.wait_for(lambda: "Other app" in shell.stacking(), what="the other window")
            time.sleep(1)
            left = 1000 if x11 else 2600
            harness.wait_for(lambda: shell.eval("const w = global.display.list_all_windows().find(w => w.get_title() == "
                                                f"'Other app'); w.unmaximize(3); w.move_resize_frame(true, {left}, 100, 580, 800);"
                                                f"return w.get_frame_rect().x == {left};"), what="the other window in place")
            shell.click("Other app", 0.9)

            now = harness.now_ms()
            brindle.write_store([
                {"key": "t1/tea", "at": now + 12000.0, "title": "Tea", "sound": "chime", "mode": "alarm"},
                {"key": "t2/bus", "at": now + 30000.0, "title": "Bus", "sound": "bell", "mode": "alarm"}])
            brindle.start()
            harness.wait_for(lambda: brindle.check_running() or "Brindle alarm" in (shell.stacking() or []),
                             what="the panel")
            # Centred on the monitor the user works on: its number, and how far off its middle.
            panel = shell.eval("const w = global.display.list_all_windows().find(w => w.get_title() == 'Brindle alarm');"
                               "const r = w.get_frame_rect(), a = w.get_work_area_current_monitor(); return [w.get_monitor(),"
                               "Math.abs(r.x + r.width / 2 - a.x - a.width / 2) + Math.abs(r.y + r.height / 2 - a.y - a.height / 2)];")
            self.assertEqual(panel[0], 0 if x11 else 1, panel)
            self.assertLess(panel[1], 40, panel)
            for title, answer in (("Tea", "Snooze 5 minutes"), ("Bus", "Stop alarm")):
                harness.wait_for(lambda: [n for n in shell.tray() or [] if n[1] == title], what=f"{title} in the tray")
                sound.wait_loud()
                if title == "Bus":  # The sound server goes away mid-ring and comes back.
                    sound.stop()
                    time.sleep(2)
                    sound.start()
                    sound.wait_loud()
                shell.click("Other app", 0.9)
                time.sleep(0.5)
                order = shell.stacking()
                self.assertGreater(order.index("Brindle alarm"), order.index("Other app"), order)
                self.assertEqual([n for n in shell.tray() if n[0] == "Brindle alarm"],
                                 [["Brindle alarm", title, 3, ["Stop alarm", "Snooze 5 minutes"]]])
                shell.press(answer)
                sound.wait_loud(False)
                harness.wait_for(lambda: "Brindle alarm" not in shell.stacking() + [n[0] for n in shell.tray()],
                                 what="the panel and the notification to go")
            keys = [a["key"] for a in brindle.stored_alarms()]
            self.assertIn("t1/tea/snooze", keys)
            self.assertNotIn("t2/bus/snooze", keys)
            self.assertNotIn("Brindle", shell.stacking(), "the window never showed")
            subprocess.run([brindle.binary], env=brindle.environment(), timeout=60, check=True)
            harness.wait_for(lambda: "Brindle" in shell.stacking(), what="the window, once the user opens Brindle")

            # Clicking a reminder in the tray brings the window to the front, over the focused one.
            brindle.wait_planner()
            shell.click("Brindle", 0.1)
            shell.click("Other app", 0.9)
            brindle.schedule(harness.alarm("t3/pay", harness.now_ms() + 1000, "Pay", mode="reminder"))
            harness.wait_for(lambda: "Brindle reminder" in [n[0] for n in shell.tray()], what="the reminder")
            shell.eval("imports.ui.main.messageTray.getSources().flatMap(s => s.notifications)"
                       ".find(n => n.title == 'Brindle reminder').activate(); return 1;")
            harness.wait_for(lambda: shell.focused() == "Brindle", what="Brindle to take the focus")


if __name__ == "__main__":
    harness.main()
