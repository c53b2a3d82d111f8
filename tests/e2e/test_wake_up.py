"""Brindle's wake-up without CAP_WAKE_ALARM at real systemd user managers: 257 (scripts/debian-root) holds one
WakeSystem timer, replaced on change, removed when none is set and at quit; 252 gets one line saying so."""

import contextlib
import math
import os
import re
import select
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import dbus

from harness import SKIPPED, STRICT, wait_for

BUILD, SOURCE = Path(os.environ["BRINDLE_BUILD_DIR"]), Path(os.environ["BRINDLE_SOURCE_DIR"])
PROBE = ["setpriv", "--bounding-set", "-wake_alarm", "--inh-caps", "-wake_alarm", str(BUILD / "bin/brindle_wake_up_probe")]
# In a mount namespace of its own the manager finds the marker of a machine booted with systemd, and
# cgroup2; it runs its own bus (the Debian 13 root lacks dbus-user-session), where it offers itself.
BOOTED = ("mkdir -p /run/systemd && mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system && "
          "mount -t cgroup2 none /sys/fs/cgroup && exec /usr/lib/systemd/systemd --user")
BUS_UNITS = {"dbus.socket": "[Socket]\nListenStream=%t/bus\n", "dbus.service": "[Service]\nExecStart=/usr/bin/dbus-daemon "
             "--session --address=systemd: --nofork --nopidfile --systemd-activation --syslog-only\n"}

JOINING_UNITS = {"dbus.socket": "[Socket]\nListenStream=%t/unused\n", "dbus.service": "[Service]\nExecStart=sleep infinity\n"}


@contextlib.contextmanager
def user_manager(*enter, home=None, bus=None):
    """A user manager whose folders lie in the build tree, which the Debian root shows at the same path; given
    a home, it joins the bus already running there, or the bus at the address given."""
    units = (home := home or Path(tempfile.mkdtemp(dir=BUILD))) / ".config/systemd/user"
    (units / "sockets.target.wants").mkdir(parents=True, exist_ok=True)
    # The manager takes up the bus only once its own bus units run: on a bus already there, stand-ins.
    joins = bus is not None or (home / "bus").exists()
    for name, text in (JOINING_UNITS if joins else BUS_UNITS).items():
        (units / name).write_text(text)
    for wants, name in (("sockets.target.wants", "dbus.socket"), ("default.target.wants", "dbus.service"))[:1 + joins]:
        (units / wants).mkdir(exist_ok=True)
        (units / wants / name).symlink_to(units / name)
    address = bus or f"unix:path={home}/bus"
    process = subprocess.Popen([*enter, "env", f"XDG_RUNTIME_DIR={home}", f"HOME={home}",
                                f"DBUS_SESSION_BUS_ADDRESS={address}", "sh", "-c", BOOTED])

    def systemd():
        with contextlib.suppress(dbus.exceptions.DBusException):
            bus = dbus.bus.BusConnection(address)
            return bus.name_has_owner("org.freedesktop.systemd1") and bus
    try:
        with contextlib.suppress(AssertionError):
            wait_for(lambda: systemd() or process.poll() is not None, timeout=120, what="the user manager")
        if not systemd():
            print(f"{'FAIL' if STRICT else 'SKIP'}: no systemd user manager started in {enter}", file=sys.stderr)
            sys.exit(1 if STRICT else SKIPPED)
        yield systemd(), address
    finally:
        process.terminate()
        process.wait(30)


def timers(bus):
    # The wake-up timers loaded: the name, WakeSystem, RemainAfterElapse and calendar elapses of each.
    found = []
    for unit in bus.get_object("org.freedesktop.systemd1", "/org/freedesktop/systemd1").ListUnitsByPatterns(
            [], ["*-wake-up@*.timer"], dbus_interface="org.freedesktop.systemd1.Manager"):

        with contextlib.suppress(dbus.exceptions.DBusException):  # Gone meanwhile.
            t = bus.get_object("org.freedesktop.systemd1", unit[6]).GetAll("org.freedesktop.systemd1.Timer",
                                                                          dbus_interface=dbus.PROPERTIES_IFACE)
            found.append((str(unit[0]), bool(t["WakeSystem"]), bool(t["RemainAfterElapse"]),
                          [int(c[2]) for c in t["TimersCalendar"]]))
    return sorted(found)


def armed(bus):
    # The timers once each is armed: one loaded but not yet started shows an elapse of 0, or none
    # and systemd's defaults while its properties are still being set.
    found = timers(bus)
    return found if all(t[3] and all(t[3]) for t in found) else []


def probe(address, line):
    process = subprocess.Popen(PROBE, stdin=subprocess.PIPE, stderr=subprocess.PIPE, text=True, bufsize=1,
                               env={**os.environ, "DBUS_SESSION_BUS_ADDRESS": address})
    process.stdin.write(line)
    return process


def said(process):
    assert select.select([process.stderr], [], [], 30)[0], "nothing said"
    return process.stderr.readline()


def main():
    ahead = math.floor(time.time()) * 1000 + 3_600_000.5
    elapse = [math.floor(ahead / 1000) * 1_000_000, math.floor(ahead / 1000 + 600) * 1_000_000]
    trixie = (str(SOURCE / "scripts/debian-root"), "trixie")

    # A user manager that comes after Brindle is taken up by it, for the wake-up already set.
    home = Path(tempfile.mkdtemp(dir=BUILD))
    bus_daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", f"--address=unix:path={home}/bus"])
    try:
        wait_for(lambda: (home / "bus").exists(), what="the session bus")
        wakes = probe(f"unix:path={home}/bus", f"set {ahead}\n")
        assert "alarms cannot wake this machine" in said(wakes)
        with user_manager(*trixie, home=home) as (bus, address):
            wait_for(lambda: timers(bus), what="the timer once the user manager is there")
            wakes.stdin.write("quit\n")
            assert (wakes.wait(30), timers(bus)) == (0, []), "removed at quit"
    finally:
        bus_daemon.terminate()
        bus_daemon.wait()

    with user_manager(*trixie) as (bus, address):
        # A time beyond what the timers hold is refused and said, and removes the wake-up set before it.
        wakes = probe(address, f"set {ahead}\n")
        wait_for(lambda: timers(bus), what="the timer")
        wakes.stdin.write("set 1e300\n")
        assert "beyond what this machine's timers can hold" in said(wakes)
        wait_for(lambda: timers(bus) == [], what="no timer for a time beyond reach")
        # Timers of a Brindle that was killed are removed when the next starts; those of one still running stay.
        running = probe(address, f"set {ahead}\n")
        wait_for(lambda: len(timers(bus)) == 1, what="the running one's timer")
        wakes.stdin.write(f"set {ahead}\n")
        wait_for(lambda: len(timers(bus)) == 2, what="the killed one's timer")
        kept = [t for t in timers(bus) if f"@{running.pid}-" in t[0]]
        wakes.kill()
        wakes.wait()
        wakes = probe(address, "clear\n")
        wait_for(lambda: timers(bus) == kept, what="the leftover to be removed")
        running.stdin.write("quit\n")
        running.wait(30)
        wakes.stdin.write(f"set {ahead}\n")
        first = wait_for(lambda: armed(bus), what="the timer")
        assert [t[1:] for t in first] == [(True, False, elapse[:1])], first
        wakes.stdin.write(f"set {ahead + 600_000}\n")
        second = wait_for(lambda: (found := armed(bus)) != first and found, what="the timer replaced")
        assert [t[1:] for t in second] == [(True, False, elapse[1:])], second
        wakes.stdin.write("clear\n")
        wait_for(lambda: timers(bus) == [], what="no timer once none is set")
        wakes.stdin.write(f"set {ahead}\n")
        wait_for(lambda: timers(bus), what="a timer again")
        wakes.stdin.write("quit\n")
        assert (wakes.wait(30), timers(bus), wakes.stderr.read()) == (0, [], ""), "removed at quit, nothing said"

    # This machine's own manager: Debian 12's 252 takes no wake-up timer from a user, which Brindle says
    # once; 254 and later (a Debian 13 machine) hold it, as the root's does above.
    with user_manager("unshare", "-m", "--propagation", "private") as (bus, address):
        version = bus.get_object("org.freedesktop.systemd1", "/org/freedesktop/systemd1").Get(
            "org.freedesktop.systemd1.Manager", "Version", dbus_interface=dbus.PROPERTIES_IFACE)
        wakes = probe(address, f"set {ahead}\n")
        if int(re.match(r"\d+", str(version)).group()) < 254:
            assert "alarms cannot wake this machine" in said(wakes)
        else:
            wait_for(lambda: timers(bus), what="the timer")
        wakes.stdin.write("quit\n")
        assert (wakes.wait(30), timers(bus), wakes.stderr.read()) == (0, [], ""), "one line only, no timer left"


if __name__ == "__main__":
    main()
