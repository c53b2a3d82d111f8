"""What the tests of Brindle against a hostile page share: pages built from the assets under
pages/hardening/, the real pointer and keyboard focus, Brindle's web processes, a stand-in for
another host that notes every connection, and the check that the store is sound.
"""

import json
import os
import socket
import threading

import harness
from desktop import xdotool  # noqa: E402
from harness import wait_for

ASSETS = harness.PAGES_DIR / "hardening"


def serve_planner(brindle, script="", body="", assets=()):
    """Serves /planner with the page driver, the named scripts of pages/hardening/, an inline
    script and some body HTML. Unlike harness.planner_page it leaves out bridge-tools.js, whose
    listener would parse every envelope again in the page."""
    tags = []
    for name in assets:
        brindle.hub.route(f"/hardening/{name}", (ASSETS / name).read_bytes(), "text/javascript; charset=utf-8")
        tags.append(f'<script src="/hardening/{name}"></script>')
    brindle.hub.route("/planner", f"""<!doctype html>
<html><head><meta charset="utf-8"><title>Planner under test</title>
<style>html, body {{ margin: 0; height: 100%; }}</style>
<script src="/harness.js"></script>
{"".join(tags)}
<script>{script}</script>
</head><body>{body}</body></html>
""")


def visible_windows(brindle, title="."):
    return xdotool("search", "--onlyvisible", "--pid", brindle.process.pid, "--name", title)


def main_window(brindle):
    return wait_for(lambda: visible_windows(brindle, "^Brindle$"), what="Brindle's main window")[0]


def alarm_panel_shown():
    return bool(xdotool("search", "--onlyvisible", "--name", "^Brindle alarm$"))


def focus(window):
    """Gives the window the keyboard focus, as a window manager would on a click."""
    xdotool("windowfocus", "--sync", window)


def click(window, x=530, y=400, button=1):
    """A real click of the pointer (XTEST), which the page sees as a user gesture. The default
    spot lies in the page, below the menubar."""
    xdotool("mousemove", "--window", window, x, y, "click", button)


def process_table():
    """pid -> (parent pid, executable path as the command line names it)."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
            with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                program = cmdline.read().split(b"\0")[0].decode(errors="replace")
        except (OSError, IndexError, ValueError):
            continue
        table[int(entry)] = (parent, program)
    return table


def web_processes(ancestor):
    """The WebKit web processes below the given process, each with the programs between them
    (nearest first)."""
    table = process_table()
    found = {}
    for pid, (_, program) in table.items():
        if not program.endswith("/WebKitWebProcess"):
            continue
        between = []
        parent = table[pid][0]
        while parent in table and parent != ancestor:
            between.append(table[parent][1])
            parent = table[parent][0]
        if parent == ancestor:
            found[pid] = between
    return found


class Tripwire:
    """A TCP listener on 127.0.0.1 that notes every connection and closes it at once. Its
    addresses are of another host than Brindle's (127.0.0.1 is not "localhost"), so the view
    may never load them; a connection shows that something tried to."""

    def __init__(self):
        self.socket = socket.socket()
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(16)
        self.port = self.socket.getsockname()[1]
        self.lock = threading.Lock()
        self.count = 0
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.socket.accept()
            except OSError:
                return
            with self.lock:
                self.count += 1
            connection.close()

    def url(self, path="/"):
        return f"https://127.0.0.1:{self.port}{path}"

    def connections(self):
        with self.lock:
            return self.count

    def close(self):
        self.socket.close()


def _refuse_constant(name):
    raise ValueError(f"{name} is not JSON")


def read_store(testcase, brindle):
    """The store file parsed, after checking that it is strict UTF-8 and strict JSON (no NaN or
    Infinity, which Python's reader would otherwise let through)."""
    data = brindle.store_bytes()
    testcase.assertIsNotNone(data, "there is no store file")
    try:
        text = data.decode("utf-8", errors="strict")
    except UnicodeDecodeError as error:
        testcase.fail(f"the store is not UTF-8: {error}")
    try:
        return json.loads(text, parse_constant=_refuse_constant)
    except ValueError as error:
        testcase.fail(f"the store is not JSON: {error}")
