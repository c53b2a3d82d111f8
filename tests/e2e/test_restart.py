"""Brindle from its installed user unit, under a real systemd user manager (Debian 12's 252, and 257 in the Debian 13 root): started with the
graphical session, a confirmed quit stays quit, and after SIGKILL or SIGABRT it comes back and rings an alarm
that fell due after the kill."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import dbus

from harness import alarm, now_ms, panel_shown, wait_for
from test_wake_up import BUILD, user_manager

UNIT = "app.brindle.Brindle.service"
# graphical-session.target refuses a manual start: a desktop's own session target pulls it in.
SESSION = "[Unit]\nBindsTo=graphical-session.target\nBefore=graphical-session.target\n"


def main():
    home = Path(tempfile.mkdtemp(dir=BUILD))
    prefix, data, config = home / "prefix", home / "data", home / "config"
    subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True, capture_output=True)
    # The unit and the link that enables it, as the package lays them out.
    shutil.copytree(prefix / "lib/systemd/user", home / ".config/systemd/user", symlinks=True)
    (home / ".config/systemd/user/test-session.target").write_text(SESSION)
    store = data / "Brindle/alarms.json"
    store.parent.mkdir(parents=True)
    environment = {"DISPLAY": os.environ["DISPLAY"], "HOME": str(home), "XDG_DATA_HOME": str(data),
                   "XDG_CONFIG_HOME": str(config), "XDG_CACHE_HOME": str(home / "cache"),
                   "GSETTINGS_BACKEND": "memory", "NO_AT_BRIDGE": "1"}

    with user_manager("unshare", "-m", "--propagation", "private", home=home) as (bus, address):
        systemd = bus.get_object("org.freedesktop.systemd1", "/org/freedesktop/systemd1")
        manager = dbus.Interface(systemd, "org.freedesktop.systemd1.Manager")
        manager.SetEnvironment([f"{name}={value}" for name, value in environment.items()])

        def unit(name):
            properties = bus.get_object("org.freedesktop.systemd1", manager.LoadUnit(UNIT)).GetAll(
                "org.freedesktop.systemd1.Service", dbus_interface=dbus.PROPERTIES_IFACE)
            state = bus.get_object("org.freedesktop.systemd1", manager.LoadUnit(UNIT)).Get(
                "org.freedesktop.systemd1.Unit", "ActiveState", dbus_interface=dbus.PROPERTIES_IFACE)
            return {"state": str(state), "pid": int(properties["MainPID"]), "restarts": int(properties["NRestarts"]),
                    "result": str(properties["Result"])}[name]

        def running():
            return unit("state") == "active" and bus.name_has_owner("app.brindle.Brindle") and unit("pid")

        manager.StartUnit("test-session.target", "replace")
        wait_for(running, what="Brindle started with the session")

        # Quit with no alarm ahead: no question, exit 0, and the unit stays down.
        bus.get_object("app.brindle.Brindle", "/app/brindle/Brindle").Activate(
            "quit", [], {}, dbus_interface="org.gtk.Actions")
        wait_for(lambda: unit("state") in ("inactive", "failed"), what="Brindle to quit")
        time.sleep(3)  # Three times the restart delay: a restart would be under way.
        assert (unit("state"), unit("result"), unit("restarts")) == ("inactive", "success", 0), "quit stays quit"

        manager.StartUnit(UNIT, "replace")
        for number, sent in enumerate((signal.SIGKILL, signal.SIGABRT), 1):
            pid = wait_for(running, what="Brindle running")
            key = f"t{number}/main"
            store.write_text(json.dumps([alarm(key, now_ms() + 8000, f"After signal {sent.name}")]))
            killed = time.monotonic()
            subprocess.run(["kill", f"-{sent.name[3:]}", str(pid)], check=True)
            wait_for(lambda: running() not in (False, 0, pid), timeout=10, what=f"Brindle back after {sent.name}")
            print(f"back {time.monotonic() - killed:.1f} s after {sent.name}", file=sys.stderr)
            defaults = config / "Brindle/defaults.json"
            # Delivered (its key among the fired ones) and ringing.
            wait_for(lambda: defaults.exists() and key in defaults.read_text() and panel_shown(),
                     what=f"the alarm after {sent.name} to ring")
        assert unit("restarts") == 2


if __name__ == "__main__":
    main()
