"""Brindle's wake-up through real systemd user managers, where Brindle lacks CAP_WAKE_ALARM. Debian
13's systemd 257, in a Debian 13 root (scripts/debian-root), takes a transient timer with
WakeSystem=yes at the wake-up's time, replaced on every change, removed when none is set and at
quit. Debian 12's systemd 252 (this machine's) cannot wake the machine for a user: Brindle starts
no timer there and says once that alarms cannot wake the machine. A probe drives the wake-up alone.
Where a manager cannot start this is a skip (77), and a failure under CI=true."""

import math
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import dbus

from harness import wait_for

BUILD, SOURCE = Path(os.environ["BRINDLE_BUILD_DIR"]), Path(os.environ["BRINDLE_SOURCE_DIR"])
PROBE = [shutil.which("setpriv"), "--bounding-set", "-wake_alarm", "--inh-caps", "-wake_alarm",
         str(BUILD / "bin" / "brindle_wake_up_probe")]
# In a mount namespace of its own the manager finds the marker of a machine booted with systemd,
# and cgroup2.
BOOTED = ('mkdir -p /run/systemd && mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system && '
          'mount -t cgroup2 none /sys/fs/cgroup && exec /usr/lib/systemd/systemd --user')
CANNOT_WAKE = ("Brindle: alarms cannot wake this machine from sleep (no CAP_WAKE_ALARM, and no systemd user "
               "manager of version 254 or later)\n")


def unavailable(reason):
    if os.environ.get("CI") == "true":
        raise AssertionError(reason)
    print(f"SKIP: {reason}", file=sys.stderr)
    sys.exit(77)


# The manager offers its interface once its own bus runs (the Debian 13 root lacks dbus-user-session).
BUS_UNITS = {
    "dbus.socket": "[Socket]\nListenStream=%t/bus\n",
    "dbus.service": "[Unit]\nRequires=dbus.socket\n[Service]\nExecStart=/usr/bin/dbus-daemon --session --address=systemd: "
                    "--nofork --nopidfile --systemd-activation --syslog-only\n",
}


class Manager:
    """A systemd user manager with a bus of its own, in the checkout (which the Debian root shows too)."""

    def __init__(self, enter):
        self.dir = Path(tempfile.mkdtemp(dir=BUILD))
        self.address = f"unix:path={self.dir}/bus"
        units = self.dir / ".config" / "systemd" / "user"
        (units / "sockets.target.wants").mkdir(parents=True)
        for name, text in BUS_UNITS.items():
            (units / name).write_text(text)
        (units / "sockets.target.wants" / "dbus.socket").symlink_to(units / "dbus.socket")
        self.log = open(self.dir / "manager.log", "w")
        self.process = subprocess.Popen([*enter, "env", f"XDG_RUNTIME_DIR={self.dir}", f"HOME={self.dir}",
                                         f"DBUS_SESSION_BUS_ADDRESS={self.address}", "sh", "-c", BOOTED],
                                        stdout=self.log, stderr=subprocess.STDOUT)
        try:
            wait_for(lambda: self.registered() or self.process.poll() is not None, timeout=120, what="the user manager")
        except AssertionError:
            pass
        if not self.registered():
            log = (self.dir / "manager.log").read_text()[-400:]
            self.close()
            unavailable(f"no systemd user manager started: {log}")
        self.systemd = self.bus.get_object("org.freedesktop.systemd1", "/org/freedesktop/systemd1")
        self.version = str(self.systemd.Get("org.freedesktop.systemd1.Manager", "Version",
                                            dbus_interface=dbus.PROPERTIES_IFACE))

    def registered(self):
        try:
            self.bus = dbus.bus.BusConnection(self.address)
            return self.bus.name_has_owner("org.freedesktop.systemd1")
        except dbus.exceptions.DBusException:
            return False

    def timers(self):
        units = self.systemd.ListUnitsByPatterns([], ["*-wake-up@*"], dbus_interface="org.freedesktop.systemd1.Manager")
        return sorted(str(u[0]) for u in units if str(u[0]).endswith(".timer"))

    def timer(self, name):
        path = self.systemd.GetUnit(name, dbus_interface="org.freedesktop.systemd1.Manager")
        return self.bus.get_object("org.freedesktop.systemd1", path).GetAll(
            "org.freedesktop.systemd1.Timer", dbus_interface=dbus.PROPERTIES_IFACE)

    def probe(self):
        return subprocess.Popen(PROBE, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                bufsize=1, env={**os.environ, "DBUS_SESSION_BUS_ADDRESS": self.address})

    def close(self):
        self.process.terminate()
        self.process.wait(30)
        self.log.close()
        shutil.rmtree(self.dir, ignore_errors=True)


def one_timer(manager, other=None):
    return wait_for(lambda: len(manager.timers()) == 1 and manager.timers()[0] != other and manager.timers()[0],
                    what=f"one timer in place of {other}")


def check_elapse(manager, name, at_ms):
    timer = manager.timer(name)
    calendar = [(str(base), int(elapse)) for base, _, elapse in timer["TimersCalendar"]]
    assert (bool(timer["WakeSystem"]), bool(timer["RemainAfterElapse"])) == (True, False), timer
    assert calendar == [("OnCalendar", math.floor(at_ms / 1000) * 1_000_000)], (calendar, at_ms)


def main():
    ahead = math.floor(time.time()) * 1000 + 3_600_000.5

    # systemd 257: one timer, moved by replacing it, removed when none is set and at quit.
    trixie = Manager([str(SOURCE / "scripts" / "debian-root"), "trixie"])
    try:
        assert int(trixie.version.split(".")[0]) >= 257, trixie.version
        probe = trixie.probe()
        probe.stdin.write(f"set {ahead}\n")
        first = one_timer(trixie)
        check_elapse(trixie, first, ahead)
        probe.stdin.write(f"set {ahead + 600_000}\n")
        check_elapse(trixie, one_timer(trixie, first), ahead + 600_000)
        probe.stdin.write("clear\n")
        wait_for(lambda: trixie.timers() == [], what="no timer once none is set")
        probe.stdin.write(f"set {ahead}\n")
        one_timer(trixie)
        probe.stdin.write("quit\n")
        assert probe.wait(30) == 0
        assert (trixie.timers(), probe.stderr.read()) == ([], ""), "removed at quit, nothing said"
        print(f"systemd {trixie.version}: transient timers with WakeSystem=yes, replaced and removed")
    finally:
        trixie.close()

    # systemd 252: no timer, and one line at start.
    bookworm = Manager(["unshare", "-m", "--propagation", "private"])
    try:
        assert bookworm.version.startswith("252"), bookworm.version
        probe = bookworm.probe()
        probe.stdin.write(f"set {ahead}\n")
        assert select.select([probe.stderr], [], [], 30)[0], "nothing said"
        assert probe.stderr.readline() == CANNOT_WAKE
        probe.stdin.write("quit\n")
        assert probe.wait(30) == 0
        assert (bookworm.timers(), probe.stderr.read()) == ([], ""), "one line only, no timer"
        print(f"systemd {bookworm.version}: no timer, and one line at start")
    finally:
        bookworm.close()


if __name__ == "__main__":
    main()
