#!/usr/bin/python3
"""Brindle wakes with the machine: logind's PrepareForSleep(false) on the system bus runs a pass.
Sleep is played with a stand-in logind on a private system bus and libfaketime: Brindle is stopped,
its wall clock moved on, the wake announced, and Brindle let go."""

import json
import os
import signal
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402
from desktop import visible_windows  # noqa: E402
from harness import now_ms, wait_for  # noqa: E402

import dbus  # noqa: E402
import dbusmock  # noqa: E402

LIBFAKETIME = Path("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1")
LOGIND_MANAGER = "org.freedesktop.login1.Manager"
MINUTE_MS = 60 * 1000.0


def alarm(key, at, title, mode):
    return {"key": key, "at": at, "title": title, "sound": "bell", "mode": mode}


class SleepingBrindle(harness.Brindle):
    """Brindle with a wall clock the test moves (libfaketime rereads the offset file at every
    read). WebKit's processes and the monotonic clock keep the real time."""

    def __init__(self, **options):
        super().__init__(**options)
        self.offset_file = self.root / "faketime-offset"
        self.set_clock_offset("+0")

    def set_clock_offset(self, offset):
        # Written aside and renamed, so that a clock read never sees a half-written offset.
        aside = self.offset_file.with_suffix(".new")
        aside.write_text(offset + "\n")
        os.replace(aside, self.offset_file)

    def environment(self):
        environment = super().environment()
        environment.update({
            "LD_PRELOAD": str(LIBFAKETIME),
            "FAKETIME_TIMESTAMP_FILE": str(self.offset_file),
            "FAKETIME_NO_CACHE": "1",
            "FAKETIME_DONT_FAKE_MONOTONIC": "1",
            "FAKETIME_ONLY_CMDS": "brindle",
        })
        return environment


class WakeTest(dbusmock.DBusTestCase):
    @classmethod
    def setUpClass(cls):
        if not LIBFAKETIME.is_file():
            raise unittest.SkipTest(f"{LIBFAKETIME} is missing (Debian package libfaketime)")
        # A private system bus: DBUS_SYSTEM_BUS_ADDRESS points at it from here on, for Brindle too.
        cls.start_system_bus()
        cls.system_bus = dbus.bus.BusConnection(os.environ["DBUS_SYSTEM_BUS_ADDRESS"])

    def wake_match_rules(self):
        """The system-bus match rules of Brindle's own connections for PrepareForSleep."""
        bus_object = self.system_bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus")
        daemon = dbus.Interface(bus_object, "org.freedesktop.DBus")
        stats = dbus.Interface(bus_object, "org.freedesktop.DBus.Debug.Stats")
        rules = []
        for name, connection_rules in stats.GetAllMatchRules().items():
            try:
                pid = daemon.GetConnectionUnixProcessID(name)
            except dbus.DBusException:  # A connection that closed meanwhile.
                continue
            if pid == self.brindle.process.pid:
                rules += [str(rule) for rule in connection_rules if "PrepareForSleep" in rule]
        return rules

    def test_wake_delivers_what_is_less_than_fifteen_minutes_late_and_drops_the_rest(self):
        logind, logind_object = self.spawn_server_template("logind", {}, stdout=subprocess.DEVNULL)
        self.addCleanup(lambda: (logind.terminate(), logind.wait()))
        brindle = self.brindle = SleepingBrindle()
        self.addCleanup(brindle.__exit__, None, None, None)
        brindle.start().wait_planner()
        # Brindle listens for logind's signal on the system bus.
        rules = wait_for(self.wake_match_rules, what="Brindle to subscribe to PrepareForSleep")
        self.assertIn("interface='org.freedesktop.login1.Manager'", rules[0])

        # The page hands over the schedule; nothing in it is due yet by Brindle's clock.
        start = now_ms()
        schedule = [
            alarm("ten/main", start + 20 * MINUTE_MS, "Ten minutes late", "notify"),
            alarm("twenty/main", start + 10 * MINUTE_MS, "Twenty minutes late", "notify"),
            alarm("ring/main", start + 22 * MINUTE_MS, "Eight minutes late", "alarm"),
            alarm("old-ring/main", start + 9 * MINUTE_MS, "Twenty-one minutes late", "alarm"),
            alarm("ahead/main", start + 60 * MINUTE_MS, "Half an hour ahead", "alarm"),
        ]
        task_ids = ["ten", "twenty", "ring", "old-ring", "ahead"]
        self.assertEqual(brindle.page.request("schedule", {"alarms": schedule, "taskIds": task_ids}),
                         {"value": True})
        self.assertEqual(brindle.stored_alarms(), schedule)

        # Brindle sleeps through thirty minutes of its own clock and wakes to logind's word.
        os.kill(brindle.process.pid, signal.SIGSTOP)
        try:
            brindle.set_clock_offset("+30m")
            logind_object.EmitSignal(LOGIND_MANAGER, "PrepareForSleep", "b", [False], dbus_interface=dbusmock.MOCK_IFACE)
        finally:
            os.kill(brindle.process.pid, signal.SIGCONT)

        reminders = wait_for(lambda: [n for n in brindle.notifications() if n["summary"] == "Brindle reminder"],
                             what="the reminder due ten minutes before the wake")
        self.assertEqual([n["body"] for n in reminders], ["Ten minutes late"])
        wait_for(lambda: visible_windows(brindle.process.pid, "Brindle alarm"),
                 what="the alarm due eight minutes before the wake to ring")

        # The pass that delivered also pruned what was too late, and saved.
        kept = wait_for(lambda: len(brindle.stored_alarms()) == 3 and brindle.stored_alarms(),
                        what="the store without the dropped alarms")
        self.assertEqual(kept, [schedule[0], schedule[2], schedule[4]])
        fired = json.loads(brindle.defaults_path.read_text())["fired"]
        self.assertEqual(sorted(key.split("/")[0] for key in fired), ["ring", "ten"])


if __name__ == "__main__":
    harness.main()
