#!/usr/bin/python3
"""Brindle started as its autostart entry starts it, under real headless desktops with their own
notification servers and a sound server recorded from a null sink: one scenario, a driver per desktop."""

import array
import contextlib
import glob
import itertools
import json
import math
import os
import pwd
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

import dbus
import pyatspi

import harness
from test_wake_up import user_manager

RATE = 8000
# Another application, which says on standard output when it gains or loses the keyboard focus.
OTHER_APP = ("import gi; gi.require_version('Gtk', '3.0'); from gi.repository import Gtk; "
             "w = Gtk.Window(title='Other app'); w.set_default_size(1500, 950); "
             "w.connect('notify::has-toplevel-focus', lambda w, p: print(w.props.has_toplevel_focus, flush=True)); "
             "w.show_all(); Gtk.main()")
EXTENSION = "unsafe@brindle.test"
# GNOME Shell as a GNOME session runs it, in a user unit: a cgroup namespace of its own shows it the path
# a user manager gives that unit. Only there does Mutter start Xwayland on demand, and again after it
# went; elsewhere it takes Xwayland for its own and exits with it. AS_USER_UNIT_ENDED ends what is left
# in those cgroups and removes their folders.
CGROUP = "mount -t cgroup2 none /sys/fs/cgroup && session=/sys/fs/cgroup$(sed -n 's/^0:://p' /proc/self/cgroup)/$0 && "
AS_USER_UNIT = (CGROUP + "unit=$session/user.slice/user@0.service/session.slice/org.gnome.Shell@wayland.service && "
                "mkdir -p $unit && echo $$ > $session/cgroup.procs && exec unshare -C sh -c 'echo $$ > $0/cgroup.procs && "
                "exec \"$@\"' $unit \"$@\"")
AS_USER_UNIT_ENDED = (CGROUP + "[ ! -d $session ] || { echo 1 > $session/cgroup.kill; for i in $(seq 100); do "
                      "grep -q 'populated 0' $session/cgroup.events && break; sleep 0.1; done; find $session -depth -type d -exec rmdir {} +; }")


def spawn(test, arguments, log=None, **options):
    options.setdefault("stdout", subprocess.DEVNULL)
    with open(log or os.devnull, "w") as errors:
        process = subprocess.Popen(arguments, start_new_session=True, stderr=errors, **options)
    process.log = log
    test.addCleanup(end, process)
    return process


def end(process):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(process.pid, signal.SIGKILL)
    process.wait()


def started(process, what, condition, again=False):
    """Waits for what a process serves; without it (the process exits first, or the bound passes) the
    test cannot check anything: a failure under CI, a skip elsewhere (a failure when started again)."""
    if again:
        return harness.wait_for(lambda: process.poll() is None and condition(), what=f"{what} started again")
    try:
        return harness.wait_for(lambda: harness.need(process.poll() is None, f"{what}, which exited with {process.returncode}:\n"
                                                     + (Path(process.log).read_text(errors="replace")[-1500:] if process.log else ""))
                                and condition(), what=what)
    except AssertionError as error:
        harness.need(str(error).startswith("missing"), f"{what}: {error}")
        raise


def command(*arguments):
    result = subprocess.run(arguments, capture_output=True, text=True)
    return result.stdout if result.returncode == 0 else None


def swaymsg(*arguments):
    subprocess.run(["swaymsg", *arguments], check=True, capture_output=True)


class Wayland:
    """Enough of the Wayland wire protocol to bind globals and send requests (u: uint, f: fixed, s: string)."""

    def __init__(self, path):
        self.socket, self.ids, self.globals = socket.socket(socket.AF_UNIX), itertools.count(2), {}
        self.socket.connect(str(path))
        self.registry = next(self.ids)
        self.send(1, 1, "u", self.registry)  # wl_display.get_registry
        self.roundtrip()

    def send(self, target, opcode, kinds="", *values, fds=()):
        payload = b""
        for kind, value in zip(kinds, values):
            text = value.encode() + bytes(1) if kind == "s" else b""
            payload += (struct.pack("<I", len(text)) + text + bytes(-len(text) % 4) if kind == "s" else
                        struct.pack("<i", int(value * 256)) if kind == "f" else struct.pack("<I", value))
        message = struct.pack("<II", target, (8 + len(payload)) << 16 | opcode) + payload
        self.socket.sendmsg([message], [(socket.SOL_SOCKET, socket.SCM_RIGHTS, array.array("i", fds))] if fds else [])

    def roundtrip(self):
        """Reads events up to the answer of a sync, noting the registry's globals; fails on an error."""
        done, data = next(self.ids), b""
        self.send(1, 0, "u", done)
        while True:
            data += self.socket.recv(65536)
            while len(data) >= 8 and len(data) >= struct.unpack_from("<II", data)[1] >> 16:
                target, header = struct.unpack_from("<II", data)
                body, data = data[8:header >> 16], data[header >> 16:]
                if target == done:
                    return
                if header & 0xffff == 0 and target in (1, self.registry):
                    if target == 1:
                        raise AssertionError(f"the compositor refused a request: {body[12:]}")
                    self.globals[body[8:8 + struct.unpack_from("<I", body, 4)[0] - 1].decode()] = struct.unpack_from("<I", body)[0]

    def bind(self, interface, version):
        bound = next(self.ids)
        self.send(self.registry, 0, "usuu", self.globals[interface], interface, version, bound)
        return bound


class SoundServer:
    """PulseAudio, or PipeWire with WirePlumber and pipewire-pulse, playing into a null sink that parec records."""

    def __init__(self, test, root):
        self.test, self.root, self.recording, self.processes = test, root, root / "recording.raw", []
        # The null sink is there as soon as the server takes clients, Brindle coming back after a restart included.
        self.servers = ([["pipewire"], ["wireplumber"], ["pipewire-pulse"]]
                        if os.environ.get("BRINDLE_SOUND_SERVER") == "pipewire" else
                        [["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                          "--load=module-native-protocol-unix auth-anonymous=1", "--load=module-null-sink sink_name=brindle_test"]])
        (root / "sound/pipewire/pipewire-pulse.conf.d").mkdir(parents=True)
        (root / "sound/pipewire/pipewire-pulse.conf.d/sink.conf").write_text(
            'pulse.cmd = [ { cmd = "load-module" args = "module-null-sink sink_name=brindle_test" } ]\n')
        os.environ.update(PULSE_SERVER=f"unix:{root}/pulse/native", PULSE_SINK="brindle_test", XDG_RUNTIME_DIR=str(root))

    def start(self, again=False):
        self.processes = []
        for server in self.servers:  # WirePlumber and pipewire-pulse give up without PipeWire's socket
            self.processes.append(spawn(self.test, server, env=dict(os.environ, XDG_RUNTIME_DIR=str(self.root),
                                                                    XDG_CONFIG_HOME=str(self.root / "sound"))))
            started(self.processes[-1], server[0], lambda: server[0] != "pipewire" or (self.root / "pipewire-0").exists(), again=again)
        started(self.processes[-1], self.servers[-1][0], lambda: all(p.poll() is None for p in self.processes) and "brindle_test" in (
            command("pactl", "list", "short", "sinks") or ""), again=again)
        with self.recording.open("wb") as recording:
            self.processes.append(spawn(self.test, ["parec", "-d", "brindle_test.monitor", "--raw", "--format=s16le",
                                                    "--channels=1", f"--rate={RATE}", "--latency-msec=50"], stdout=recording))

    def stop(self):
        for process in self.processes:
            end(process)
        for stale in self.root.glob("pipewire-0*"):  # so that a restart waits for PipeWire's own
            stale.unlink()

    def streams(self):
        """Each playing stream's properties, as the sound server (PulseAudio or pipewire-pulse) lists them."""
        blocks = (command("pactl", "list", "sink-inputs") or "").split("Sink Input #")[1:]
        return [dict(re.findall(r'^\s+([\w.]+) = "(.*)"$', block, re.M)) for block in blocks]

    def wait_loud(self, loud=True):
        """Until the RMS of the last half second recorded is above 2% of full scale, or that of the last
        three seconds (longer than any sound's loop: the chime's quiet tail is no silence) below it."""
        def loudness():
            samples = array.array("h", self.recording.read_bytes()[-(RATE if loud else 6 * RATE):])
            return math.sqrt(sum(s * s for s in samples) / max(len(samples), 1)) / 32768
        time.sleep(0.6)
        harness.wait_for(lambda: (loudness() > 0.02) == loud, timeout=20, what=f"loud={loud}")


class Gnome:
    """GNOME Shell, headless on Wayland with its Xwayland and two monitors, or the window manager of
    the test's X server; its extension unlocks Eval and hands it the shell's modules."""

    def __init__(self, test, brindle, x11=False, unit=False):
        self.x11, root, home, self.wayland = x11, brindle.root, brindle.root / "home", f"brindle-gnome-{os.getpid()}"
        version = re.search(r"(\d+)", command("gnome-shell", "--version") or "0").group(1)
        enable = "global.context.unsafe_mode = true; global.brindle = { Main, Clutter, GLib };"
        script = (f"import * as Main from 'resource:///org/gnome/shell/ui/main.js'; import Clutter from 'gi://Clutter';"
                  f"import GLib from 'gi://GLib'; import {{ Extension }} from 'resource:///org/gnome/shell/extensions/extension.js';"
                  f"export default class extends Extension {{ enable() {{ {enable} }} disable() {{}} }}" if int(version) >= 45 else
                  f"const Main = imports.ui.main, {{ Clutter, GLib }} = imports.gi;"
                  f"function init() {{ return {{ enable() {{ {enable} }}, disable() {{}} }}; }}")
        folder = brindle.data_home / "gnome-shell" / "extensions" / EXTENSION
        folder.mkdir(parents=True)
        (folder / "metadata.json").write_text(json.dumps({"uuid": EXTENSION, "name": "Eval", "description": "Eval",
                                                          "shell-version": [version]}))
        (folder / "extension.js").write_text(script)
        (home / ".config/glib-2.0/settings").mkdir(parents=True)
        (home / ".config/glib-2.0/settings/keyfile").write_text(
            f"[org/gnome/shell]\nenabled-extensions=['{EXTENSION}']\nwelcome-dialog-last-shown-version='99'\n"
            "[org/gnome/desktop/notifications]\nshow-banners=false\n")  # Do Not Disturb
        self.env = env = dict(os.environ, HOME=str(home), GSETTINGS_BACKEND="keyfile", XDG_DATA_HOME=str(brindle.data_home))
        bus = spawn(test, ["dbus-daemon", "--session", "--nofork", "--print-address"], stdout=subprocess.PIPE, text=True)
        env["DBUS_SYSTEM_BUS_ADDRESS"] = bus.stdout.readline().strip()
        logind = spawn(test, ["/usr/bin/python3", "-m", "dbusmock", "--template", "logind"],
                       env=dict(env, DBUS_SESSION_BUS_ADDRESS=env["DBUS_SYSTEM_BUS_ADDRESS"]))
        system = dbus.bus.BusConnection(env["DBUS_SYSTEM_BUS_ADDRESS"])
        started(logind, "the stand-in logind", lambda: system.name_has_owner("org.freedesktop.login1"))
        mode = ["--x11", "--replace"] if x11 else ["--headless", "--wayland", *["--virtual-monitor", "1600x1000"] * 2,
                                                   "--wayland-display", self.wayland]
        if unit:  # Its user manager on the session bus, which starts the X11 services when Xwayland starts.
            units = root / "manager/.config/systemd/user"
            units.mkdir(parents=True)
            (units / "gnome-session-x11-services-ready.target").write_text("[Unit]\nDescription=X11 services\n")
            (units / "org.gnome.SettingsDaemon.XSettings.service").symlink_to("/dev/null")
            test.enterContext(user_manager("unshare", "-m", "--propagation", "private", home=root / "manager",
                                           bus=os.environ["DBUS_SESSION_BUS_ADDRESS"]))
            cgroup = root.name  # unique: the PID is the same in every test's namespace
            test.addCleanup(subprocess.run, ["unshare", "-m", "sh", "-c", AS_USER_UNIT_ENDED, cgroup], check=True)
        self.log = root / "shell.log"  # with Mutter's account of focus and activation
        shell = spawn(test, [*(["unshare", "-m", "sh", "-c", AS_USER_UNIT, cgroup] if unit else []), "gnome-shell", *mode],
                      self.log, env=dict(env, MUTTER_DEBUG="focus,startup"))
        # GNOME starts in its overview, which takes no activation requests from windows. A keyboard,
        # without which no window has the keyboard focus; a pointer for real clicks.
        started(shell, f"GNOME Shell {version}", lambda: self.eval(
            "const { Main, Clutter } = global.brindle, seat = Clutter.get_default_backend().get_default_seat();"
            "if (Main.layoutManager._startingUp) return false; Main.overview.hide(); if (Main.overview.visible) return false;"
            "global.brindleKeyboard ??= seat.create_virtual_device(Clutter.InputDeviceType.KEYBOARD_DEVICE);"
            "global.brindlePointer ??= seat.create_virtual_device(Clutter.InputDeviceType.POINTER_DEVICE); return true;"))
        os.environ.update(XDG_CURRENT_DESKTOP="GNOME", XDG_SESSION_TYPE="x11" if x11 else "wayland")
        if not x11:
            xwayland = self.eval("return ['DISPLAY', 'XAUTHORITY'].map(n => global.brindle.GLib.getenv(n));")
            os.environ.update(WAYLAND_DISPLAY=self.wayland, DISPLAY=xwayland[0], XAUTHORITY=xwayland[1] or "")
        self.backend = "x11" if x11 else "wayland"

    def eval(self, script):  # the JSON value, or None while the shell cannot answer
        out = command("gdbus", "call", "--session", "-d", "org.gnome.Shell", "-o", "/org/gnome/Shell", "-m",
                      "org.gnome.Shell.Eval", f"(() => {{ {script} }})()") or ""
        text = eval(out.strip()[7:-1]) if out.startswith("(true, ") else ""  # quoted as Python does
        return json.loads(text) if text else None

    def do_not_disturb(self, on):
        subprocess.run(["gsettings", "set", "org.gnome.desktop.notifications", "show-banners", json.dumps(not on)],
                       env=self.env, check=True)

    def banner(self, title):  # critical ones come through Do Not Disturb
        return self.eval(f"const n = global.brindle.Main.messageTray._notification;"
                         f"return (n?.bannerBodyText ?? n?.body) == {json.dumps(title)};")

    def power_save(self, mode=None):
        """Mutter's monitors: 0 on, 3 off (blanked); -1 where it cannot switch them."""
        call = ["gdbus", "call", "--session", "-d", "org.gnome.Mutter.DisplayConfig", "-o", "/org/gnome/Mutter/DisplayConfig",
                "-m", f"org.freedesktop.DBus.Properties.{'Get' if mode is None else 'Set'}", "org.gnome.Mutter.DisplayConfig",
                "PowerSaveMode", *([] if mode is None else [f"<{mode}>"])]
        return int(re.search(r"-?\d+", command(*call) or "").group()) if mode is None else command(*call)

    def window(self, title):
        return f"global.display.list_all_windows().find(w => w.get_title() == {json.dumps(title)})"

    def place(self):
        """On the right of the last monitor, clear of Brindle's centred window and panel: the user
        works there (on Wayland the second of two)."""
        left = 1000 if self.x11 else 2600
        harness.wait_for(lambda: self.eval(f"const w = {self.window('Other app')}; w.unmaximize(3);"
                                           f"w.move_resize_frame(true, {left}, 100, 580, 800); return w.get_frame_rect().x == {left};"),
                         what="the other window in place")

    def stacking(self):
        return self.eval("return global.display.sort_windows_by_stacking(global.display.list_all_windows())"
                         ".map(w => w.get_title());") or []

    def focused(self):
        return self.eval("return global.display.focus_window?.get_title() ?? '';")

    @staticmethod
    def clicking(where):  # the script of a click at `where`, a point in stage coordinates
        return (f"{{ const C = global.brindle.Clutter, p = global.brindlePointer, [x, y] = {where};"
                "p.notify_absolute_motion(C.CURRENT_TIME, x, y);"
                "[C.ButtonState.PRESSED, C.ButtonState.RELEASED].forEach(s => p.notify_button(C.CURRENT_TIME, 1, s)); }")

    def click_at(self, where):
        self.eval(f"{self.clicking(where)} return 1;")

    def click(self, title, across=0.9):
        self.click_at(f"(r => [r.x + r.width * {across}, r.y + r.height / 2])({self.window(title)}.get_frame_rect())")

    def fullscreen(self, title, on):
        self.eval(f"const w = {self.window(title)}; w.{'make' if on else 'unmake'}_fullscreen(); return 1;")
        harness.wait_for(lambda: self.eval(f"return {self.window(title)}.is_fullscreen();") == on, what=f"fullscreen={on}")

    NOTIFICATIONS = "global.brindle.Main.messageTray.getSources().flatMap(s => s.notifications)"

    def notifications(self):
        return self.eval(f"return {self.NOTIFICATIONS}.map(n => [n.title, n.bannerBodyText ?? n.body,"
                         "n.actions.map(a => a.label), n.urgency]);") or []

    def answer(self, body, label):
        if label is not None:
            # GNOME 48's actions run by activate(), older ones by their callback; one that did not run fails.
            done = self.eval(f"const a = {self.NOTIFICATIONS}.find(n => (n.bannerBodyText ?? n.body) == {json.dumps(body)})"
                             f".actions.find(a => a.label == {json.dumps(label)}); a.activate ? a.activate() : a.callback(); return 1;")
            assert done == 1, f"the notification's {label!r} did not run"
            return
        # A real click on its banner, once shown: GNOME hands a token for real clicks alone. It goes in the call
        # that sees the banner shown, so the banner cannot move on or hide in between.
        # GNOME 48 keeps the shell's own banner ("Screen Lock disabled") up and the queue waiting: both move on.
        banner = "t._banner"
        harness.wait_for(lambda: self.eval("const t = global.brindle.Main.messageTray, n = t._notification;"
                                           "if (n?.title != 'Brindle reminder') { n?.destroy(); t._updateState(); return false; }"
                                           f"if (t._notificationState != 2 || {banner}?.notification != n) return false;"
                                           + self.clicking(f"(([x, y], [w, h]) => [x + w / 2, y + h / 2])("
                                                           f"{banner}.get_transformed_position(), {banner}.get_transformed_size())")
                                           + "return true;"), what="the banner")

    def panel_place(self):  # its monitor, and whether it is centred on it
        return self.eval(f"const w = {self.window('Brindle alarm')}, r = w.get_frame_rect(), a = w.get_work_area_current_monitor();"
                         "return [w.get_monitor(), Math.abs(r.x + r.width / 2 - a.x - a.width / 2)"
                         " + Math.abs(r.y + r.height / 2 - a.y - a.height / 2) < 40];")

    def client_type(self, title):
        return self.eval(f"return {self.window(title)}.get_client_type() == 0 ? 'wayland' : 'x11';")


class Sway:
    """sway, headless as a user made for the test (it refuses root), with mako. The panel is a surface
    of the overlay layer, drawn above every window: sway's log says so."""

    USER, CLICK = "brindle-sway", "seat - cursor press button1, seat - cursor release button1"

    def __init__(self, test, brindle):
        harness.need(os.geteuid() == 0, "root, for a user made for the test: sway refuses to run as root")
        if subprocess.run(["id", self.USER], capture_output=True).returncode != 0:
            subprocess.run(["useradd", "--system", "--no-create-home", self.USER], check=True)
        self.brindle, runtime = brindle, Path(tempfile.mkdtemp(prefix="brindle-desktop-sway-"))
        test.addCleanup(shutil.rmtree, runtime, True)
        os.chown(runtime, pwd.getpwnam(self.USER).pw_uid, -1)
        (runtime / "config").write_text("output HEADLESS-1 resolution 1600x1000\nxwayland disable\n"
                                        "focus_on_window_activation focus\n")
        self.log = runtime / "sway.log"
        sway = spawn(test, ["runuser", "-u", self.USER, "--", "env", f"XDG_RUNTIME_DIR={runtime}", "WLR_BACKENDS=headless",
                            "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "sway", "-d", "-c", str(runtime / "config")],
                     self.log, env={"PATH": os.environ["PATH"]})
        started(sway, "sway", lambda: glob.glob(f"{runtime}/sway-ipc.*.sock") and glob.glob(f"{runtime}/wayland-*[0-9]"))
        (display,), (ipc,) = glob.glob(f"{runtime}/wayland-*[0-9]"), glob.glob(f"{runtime}/sway-ipc.*.sock")
        # WebKit's sandbox lets its web process reach the display only inside XDG_RUNTIME_DIR.
        os.environ.update(XDG_RUNTIME_DIR=str(runtime), WAYLAND_DISPLAY=Path(display).name, SWAYSOCK=ipc,
                          XDG_CURRENT_DESKTOP="sway", XDG_SESSION_TYPE="wayland")
        os.environ.pop("DISPLAY", None)
        # A virtual keyboard (headless sway has none), without which no window has the keyboard focus.
        keymap = b'xkb_keymap { xkb_keycodes { include "evdev" }; xkb_types { include "complete" };' \
                 b'xkb_compat { include "complete" }; xkb_symbols { include "pc+us" }; };\0'
        self.wayland, fd = Wayland(display), os.memfd_create("keymap")
        os.write(fd, keymap)
        manager, seat = self.wayland.bind("zwp_virtual_keyboard_manager_v1", 1), self.wayland.bind("wl_seat", 1)
        keyboard = next(self.wayland.ids)  # new objects take the ids in order
        self.wayland.send(manager, 0, "uu", seat, keyboard)
        self.wayland.send(keyboard, 0, "uu", 1, len(keymap), fds=[fd])  # keymap, XKB v1
        self.wayland.roundtrip()
        os.close(fd)
        (runtime / "mako.conf").write_text("anchor=top-right\nwidth=300\nheight=100\nmargin=10\n[mode=do-not-disturb]\n"
                                           "invisible=1\n[mode=do-not-disturb app-name=Brindle urgency=critical]\ninvisible=0\n")
        mako, bus = spawn(test, ["mako", "-c", runtime / "mako.conf"], runtime / "mako.log"), dbus.SessionBus()
        self.mako = dbus.Interface(started(mako, "mako", lambda: bus.name_has_owner("org.freedesktop.Notifications")
                                           and bus.get_object("org.freedesktop.Notifications", "/fr/emersion/Mako")),
                                   "fr.emersion.Mako")
        self.backend = "wayland"
        self.do_not_disturb(True)

    def do_not_disturb(self, on):
        self.mako.SetModes(dbus.Array(["do-not-disturb" if on else "default"], signature="s"))

    def banner(self, title):  # mako's surface, drawn only while a notification is visible
        return "namespace notifications" in self.log.read_text()

    def nodes(self, node=None):
        node = node or json.loads(command("swaymsg", "-t", "get_tree", "-r"))
        yield node
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            yield from self.nodes(child)

    def place(self):
        pass

    def stacking(self):
        """The windows, then the panel while it shows, on the overlay layer above them all."""
        panel = harness.find(self.brindle.process and harness.application_of(self.brindle.process.pid), lambda n: n.getRole()
                             == pyatspi.ROLE_NOTIFICATION and n.getState().contains(pyatspi.STATE_SHOWING))
        overlay = "namespace brindle-alarm layer 3" in self.log.read_text()
        return [n["name"] for n in self.nodes() if n.get("pid")] + ["Brindle alarm"] * bool(panel and overlay)

    def focused(self):
        return next((n["name"] for n in self.nodes() if n.get("focused")), "")

    def drawn(self):
        """Whether sway has drawn the layout its tree shows: a new layout is a transaction, committed at
        once and applied once every window has drawn its new size, and a click hits what was applied."""
        committed = re.findall(r"Transaction (0x[0-9a-f]+) committing", text := self.log.read_text())
        return not committed or f"Applying transaction {committed[-1]}" in text

    def click(self, title, across=0.9):
        harness.wait_for(self.drawn, what="sway to draw its layout")
        r = next(n for n in self.nodes() if n.get("name") == title)["rect"]
        swaymsg(f"seat - cursor set {r['x'] + int(r['width'] * across)} {r['y'] + r['height'] // 2}, {self.CLICK}")

    def fullscreen(self, title, on):
        swaymsg(f'[title="{title}"]', "fullscreen", "enable" if on else "disable")
        harness.wait_for(lambda: bool(next(n for n in self.nodes() if n.get("name") == title)["fullscreen_mode"]) == on,
                         what=f"fullscreen={on}")

    def shown(self):
        return json.loads(json.dumps(self.mako.ListNotifications()))

    def notifications(self):
        return [[n["summary"], n["body"], [label for key, label in n["actions"].items() if key != "default"]]
                for n in self.shown()]

    def answer(self, body, label):
        if label is None:  # a real click on the only notification shown, top right
            return swaymsg(f"seat - cursor set 1440 60, {self.CLICK}")
        n = next(n for n in self.shown() if n["body"] == body)
        subprocess.run(["makoctl", "invoke", "-n", str(n["id"]), next(k for k, v in n["actions"].items() if v == label)],
                       check=True)


class Kwin:
    """KWin, headless on Wayland (a plain copy of kwin_wayland: its file capability is refused here), with
    Plasma's notifications. Stacking and focus from KWin's scripting, real clicks from its fake input."""

    def __init__(self, test, brindle):
        root, self.scripts, self.log, name = brindle.root, itertools.count(), brindle.root / "kwin.log", f"kwin-{os.getpid()}"
        harness.need(shutil.which("kwin_wayland") and shutil.which("plasmawindowed"), "kwin_wayland and plasmawindowed")
        shutil.copy(shutil.which("kwin_wayland"), root / "kwin_wayland")
        self.version = int(re.search(r"(\d+)\.", command(root / "kwin_wayland", "--version") or "0.").group(1))
        # KWin offers its fake input to the test, the program of this entry, which replaces Python's own.
        (brindle.data_home / "applications" / f"{Path(os.path.realpath('/usr/bin/python3')).name}.desktop").write_text(
            "[Desktop Entry]\nType=Application\nName=Input\nExec=/usr/bin/python3\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n")
        env = dict(os.environ, HOME=str(brindle.home), XDG_DATA_HOME=str(brindle.data_home),
                   QT_LOGGING_RULES="kwin_scripting.debug=true", **({"KWIN_COMPOSE": "Q"} if self.version < 6 else {}))
        if Path("/etc/xdg/menus/plasma-applications.menu").exists():  # Plasma 6 finds entries through its menu
            env["XDG_MENU_PREFIX"] = "plasma-"
        kwin = spawn(test, [root / "kwin_wayland", "--virtual", "--width", "1600", "--height", "1000", "--socket", name,
                            "--no-lockscreen", "--no-global-shortcuts"], self.log, env=env)
        self.bus = dbus.SessionBus()
        started(kwin, f"KWin {self.version}", lambda: (root / name).exists() and self.bus.name_has_owner("org.kde.KWin"))
        os.environ.update(WAYLAND_DISPLAY=name, QT_QPA_PLATFORM="wayland", XDG_CURRENT_DESKTOP="KDE", XDG_SESSION_TYPE="wayland")
        os.environ.pop("DISPLAY", None)
        self.notifier = spawn(test, ["plasmawindowed", "org.kde.plasma.notifications"], root / "plasma.log",
                              env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        started(self.notifier, "Plasma's notifications", lambda: self.bus.name_has_owner("org.freedesktop.Notifications"))
        # Out of the way before the user's window opens: the window plasmawindowed opens beside the popups
        # (which Plasma 6 activates) comes seconds later on a cold start, and would take the focus then.
        harness.wait_for(lambda: self.script(f"{self.find('Notifications')} ? ({self.find('Notifications')}.minimized = true) : false"),
                         what="plasmawindowed's window")
        self.server = dbus.Interface(self.bus.get_object("org.freedesktop.Notifications", "/org/freedesktop/Notifications"),
                                     "org.freedesktop.Notifications")
        self.do_not_disturb(True)
        self.wayland = Wayland(root / name)
        self.input = self.wayland.bind("org_kde_kwin_fake_input", 4)
        self.wayland.send(self.input, 0, "ss", "Brindle's tests", "real clicks")  # authenticate
        self.backend = "wayland"

    def script(self, expression):
        """The JSON value of an expression evaluated in KWin, which print()s it into its log."""
        number = next(self.scripts)
        path, marker = self.log.parent / f"kwin-{number}.js", f"js: brindle-{number} "
        windows = "workspace.stackingOrder" if self.version >= 6 else \
            "workspace.clientList().sort((a, b) => a.stackingOrder - b.stackingOrder)"
        # A script that throws prints nothing of its own: the error is printed in place of the value.
        path.write_text(f"const windows = {windows}; let answer; try {{ answer = {{ value: {expression} }}; }}"
                        f"catch (error) {{ answer = {{ error: String(error) }}; }} print('brindle-{number} ' + JSON.stringify(answer));")
        scripting = dbus.Interface(self.bus.get_object("org.kde.KWin", "/Scripting"), "org.kde.kwin.Scripting")
        script = scripting.get_dbus_method("loadScript")(str(path), f"brindle-{number}", signature="ss")
        self.bus.get_object("org.kde.KWin", f"/Scripting/Script{script}" if self.version >= 6 else f"/{script}") \
            .get_dbus_method("run", "org.kde.kwin.Script")()
        line = harness.wait_for(lambda: next((l for l in self.log.read_text().splitlines() if l.startswith(marker)), None),
                                what="KWin's script")
        scripting.unloadScript(f"brindle-{number}")
        answer = json.loads(line[len(marker):])
        if "error" in answer:
            raise AssertionError(f"KWin's script {expression!r}: {answer['error']}")
        return answer.get("value")

    def do_not_disturb(self, on):
        if on:
            self.inhibition = self.server.Inhibit("python3", "Do Not Disturb", dbus.Dictionary({}, signature="sv"))
        else:
            self.server.UnInhibit(self.inhibition)
        assert self.server.get_dbus_method("Get", "org.freedesktop.DBus.Properties")(
            "org.freedesktop.Notifications", "Inhibited") == on, "Plasma's Do Not Disturb"

    def banner(self, title):
        return any(popup[1] == title for popup in self.popups())

    def find(self, title):
        return f"windows.find(w => w.caption == {json.dumps(title)})"

    def place(self):
        pass

    def stacking(self):
        # Surfaces of the layer shell have no title: Brindle's is its panel.
        return self.script("windows.map(w => w.caption || (w.resourceName == 'brindle' ? 'Brindle alarm' : ''))")

    def focused(self):
        return self.script("windows.filter(w => w.active).map(w => w.caption).join()")

    def click(self, title, across=0.9):
        x, y, width, height = self.script(f"(g => [g.x, g.y, g.width, g.height])({self.find(title)}.frameGeometry)")
        self.wayland.send(self.input, 9, "ff", x + width * across, y + height / 2)  # pointer_motion_absolute
        for state in (1, 0):
            self.wayland.send(self.input, 2, "uu", 0x110, state)  # the left button
        self.wayland.roundtrip()

    def fullscreen(self, title, on):
        self.script(f"{self.find(title)}.fullScreen = {json.dumps(on)}")
        harness.wait_for(lambda: self.script(f"{self.find(title)}.fullScreen") == on, what=f"fullscreen={on}")

    def popups(self):
        shown = []
        for popup in filter(harness.safely(lambda f: f.getRole() == pyatspi.ROLE_FRAME and f.name == ""),
                            harness.application_of(self.notifier.pid) or []):
            notification = harness.find(popup, lambda n: n.getRole() == pyatspi.ROLE_NOTIFICATION)
            body = harness.find(notification, lambda n: n.getRole() == pyatspi.ROLE_TEXT)
            if notification and body:
                shown.append((notification.name, body.queryText().getText(0, -1).strip(), pyatspi.findAllDescendants(
                    popup, harness.safely(lambda b: b.getRole() == pyatspi.ROLE_PUSH_BUTTON and b.name not in ("Configure", "Minimize", "Close")))))
        return shown

    def notifications(self):
        return [[summary, body, [b.name for b in buttons]] for summary, body, buttons in self.popups()]

    def answer(self, body, label):
        if label is not None:
            return harness.press(next(b for p in self.popups() if p[1] == body for b in p[2] if b.name == label))
        # A real click on the popup (the only one shown): Plasma hands Brindle the token KWin gives it.
        self.click("plasmawindowed", 0.5)


class DesktopSessionTest(unittest.TestCase):
    def test_gnome_wayland(self):
        self.scenario(Gnome)

    def test_gnome_x11(self):
        self.scenario(lambda test, brindle: Gnome(test, brindle, x11=True))

    def test_sway(self):
        self.scenario(Sway)

    def test_kwin(self):
        self.scenario(Kwin)

    def test_gnome_xwayland_lost(self):
        """Xwayland goes while an alarm rings: GTK ends Brindle with a failure, its unit starts it again (as
        test_restart shows under systemd), and the ring goes on where it was, until it is answered."""
        saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(saved)))
        with harness.Brindle(start=False, notifications=False, arguments=["--gapplication-service"]) as brindle:
            sound = SoundServer(self, brindle.root)
            sound.start()
            session = Gnome(self, brindle, unit=True)
            brindle.write_store([harness.alarm("t1/wake", harness.now_ms() + 8000, "Wake")])
            brindle.start()
            harness.wait_for(lambda: brindle.check_running() or "Brindle alarm" in session.stacking(), what="the panel")
            sound.wait_loud()
            subprocess.run(["pkill", "-KILL", "-x", "Xwayland"], check=True)
            self.assertNotEqual(brindle.process.wait(10), 0, "Brindle must end with a failure, which its unit restarts")
            lost = time.monotonic()
            brindle.relaunch()
            harness.wait_for(lambda: brindle.check_running() or "Brindle alarm" in session.stacking(), what="the panel again")
            sound.wait_loud()
            print(f"ringing again {time.monotonic() - lost:.1f} s after Brindle ended", file=sys.stderr)
            session.answer("Wake", "Stop alarm")
            sound.wait_loud(False)
            harness.wait_for(lambda: "Brindle alarm" not in session.stacking(), what="the panel to go")
            self.assertIn("t1/wake", brindle.defaults_path.read_text(), "delivered, once")

    def scenario(self, desktop):
        saved = dict(os.environ)
        self.addCleanup(lambda: (os.environ.clear(), os.environ.update(saved)))
        with harness.Brindle(start=False, notifications=False, accessible=True, arguments=["--gapplication-service"]) as brindle:
            # Brindle's desktop entry where the session looks, as the package installs it.
            entry = Path(os.environ["BRINDLE_BUILD_DIR"]) / "share" / "applications" / "app.brindle.Brindle.desktop"
            (brindle.data_home / "applications" / entry.name).write_text(
                re.sub(r"(?m)^(Exec|TryExec)=brindle", rf"\1={brindle.binary}", entry.read_text()))
            sound = SoundServer(self, brindle.root)
            sound.start()
            session = desktop(self, brindle)
            focus_log = brindle.root / "other-focus.txt"
            with focus_log.open("w") as output:
                other = subprocess.Popen(["/usr/bin/python3", "-c", OTHER_APP], stdout=output,
                                         env=dict(os.environ, GDK_BACKEND=session.backend))
            self.addCleanup(lambda: (other.kill(), other.wait()))
            harness.wait_for(lambda: "Other app" in session.stacking(), what="the other window")
            session.place()
            session.click("Other app")
            harness.wait_for(lambda: session.focused() == "Other app" and focus_log.read_text().endswith("True\n"),
                             what="the other window to take the focus")

            if isinstance(session, Gnome) and session.power_save() != -1:  # idle blanked the screen
                session.power_save(3)
            now = harness.now_ms()
            brindle.write_store([harness.alarm("t1/tea", now + 12000, "Tea", sound="chime"), harness.alarm("t2/bus", now + 30000, "Bus")])
            brindle.start()
            for title, answer in (("Tea", "Snooze 5 minutes"), ("Bus", "Stop alarm")):
                harness.wait_for(lambda: brindle.check_running() or [n for n in session.notifications() if n[1] == title],
                                 what=f"{title}'s notification")
                harness.wait_for(lambda: "Brindle alarm" in session.stacking(), what="the panel")
                harness.wait_for(lambda: session.banner(title), what=f"{title}'s banner under Do Not Disturb")
                if isinstance(session, Gnome):
                    self.assertIn(session.power_save(), (0, -1), "the screen stayed dark")
                # Announced by a screen reader as it appears: a notification named by the alarm.
                panel = harness.find(harness.application_of(brindle.process.pid), lambda n: n.getRole() == pyatspi.ROLE_NOTIFICATION)
                self.assertEqual((panel.name, sorted(b.name for b in pyatspi.findAllDescendants(
                    panel, lambda b: b.getRole() == pyatspi.ROLE_PUSH_BUTTON))), (title, ["Snooze 5 minutes", "Stop alarm"]))
                self.assertEqual((session.focused(), focus_log.read_text().count("False")), ("Other app", 0),
                                 "the panel took the keyboard focus when it appeared")
                self.assertEqual([[*n[:2], sorted(n[2])] for n in session.notifications() if n[0] == "Brindle alarm"],
                                 [["Brindle alarm", title, ["Snooze 5 minutes", "Stop alarm"]]])
                if isinstance(session, Gnome):  # Centred on the monitor the user works on; kept above through X11.
                    self.assertEqual(session.panel_place(), [0 if session.x11 else 1, True])
                    self.assertIn(["Brindle alarm", title, ["Stop alarm", "Snooze 5 minutes"], 3], session.notifications())
                    self.assertEqual(session.client_type("Brindle alarm"), "x11")
                sound.wait_loud()
                if title == "Bus":  # The sound server goes away mid-ring and comes back, under a full-screen window.
                    sound.stop()
                    time.sleep(2)
                    sound.start(again=True)
                    sound.wait_loud()
                # The sound server knows the stream as Brindle's alarm, also after it came back.
                app_id = entry.name.removesuffix(".desktop")
                self.assertIn({"media.role": "alarm", "media.name": f"Alarm: {title}", "application.id": app_id,
                               "application.icon_name": app_id}, [{k: s.get(k) for k in ("media.role", "media.name", "application.id",
                                                                   "application.icon_name")} for s in sound.streams()
                                                                  if s.get("application.name") == "Brindle"])
                if title == "Bus":
                    session.fullscreen("Other app", True)
                session.click("Other app")
                harness.wait_for(lambda: session.focused() == "Other app", what="the other window to keep the focus")
                order = session.stacking()
                self.assertGreater(order.index("Brindle alarm"), order.index("Other app"), order)
                session.answer(title, answer)
                sound.wait_loud(False)
                harness.wait_for(lambda: "Brindle alarm" not in session.stacking() + [n[0] for n in session.notifications()],
                                 what="the panel and the notification to go")
            session.fullscreen("Other app", False)
            keys = [a["key"] for a in brindle.stored_alarms()]
            self.assertIn("t1/tea/snooze", keys)
            self.assertNotIn("t2/bus/snooze", keys)
            self.assertNotIn("Brindle", session.stacking(), "the window never showed")
            subprocess.run([brindle.binary], env=brindle.environment(), timeout=60, check=True)
            harness.wait_for(lambda: "Brindle" in session.stacking(), what="the window, once the user opens Brindle")
            if isinstance(session, Gnome) and not session.x11:  # The planner native on Wayland, sharp when scaled.
                self.assertEqual(session.client_type("Brindle"), "wayland")

            # A reminder clicked in the notification list brings the window to the front, over the focused one.
            brindle.wait_planner()
            session.click("Brindle", 0.1)
            harness.wait_for(lambda: session.focused() == "Brindle", what="Brindle to take the focus")
            session.click("Other app")
            harness.wait_for(lambda: session.focused() == "Other app", what="the other window to take the focus")
            session.do_not_disturb(False)  # a reminder follows it: never critical
            brindle.schedule(harness.alarm("t3/pay", harness.now_ms() + 1000, "Pay", mode="reminder"))
            harness.wait_for(lambda: "Pay" in [n[1] for n in session.notifications()], what="the reminder")
            if isinstance(session, Gnome):
                self.assertEqual([n[3] for n in session.notifications() if n[1] == "Pay"], [1], "a reminder's urgency")
            session.answer("Pay", None)
            try:  # seen to fail once in ten GNOME 48 runs: what the desktop saw goes with the failure
                harness.wait_for(lambda: session.focused() == "Brindle", what="Brindle to take the focus")
            except AssertionError as error:
                raise AssertionError(f"{error}; focused {session.focused()!r}, stacking {session.stacking()}, notifications "
                                     f"{session.notifications()}\n{session.log.read_text(errors='replace')[-4000:]}") from None


if __name__ == "__main__":
    harness.main()
