"""What the tests of Brindle against a hostile page share: pages built from pages/hardening/,
the real pointer and focus, Brindle's web processes, a stand-in for another host, and the check
that the store is sound."""

import json
import os
import socket
import threading

import harness
from desktop import titled_windows, xdotool
from harness import wait_for


def serve_planner(brindle, script="", body="", assets=()):
    """Serves /planner with the page driver and the named scripts of pages/hardening/, but not
    bridge-tools.js, whose listener would parse every envelope again in the page."""
    for name in assets:
        brindle.hub.route(f"/hardening/{name}", (harness.PAGES_DIR / "hardening" / name).read_bytes(),
                          "text/javascript; charset=utf-8")
    tags = "".join(f'<script src="/hardening/{name}"></script>' for name in assets)
    brindle.hub.route("/planner", f"""<!doctype html>
<html><head><meta charset="utf-8"><title>Planner under test</title>
<style>html, body {{ margin: 0; height: 100%; }}</style>
<script src="/harness.js"></script>{tags}<script>{script}</script>
</head><body>{body}</body></html>
""")


def visible_windows(brindle, title="."):
    return xdotool("search", "--onlyvisible", "--pid", brindle.process.pid, "--name", title)


def main_window(brindle):
    return wait_for(lambda: visible_windows(brindle, "^Brindle$"), what="Brindle's main window")[0]


def alarm_panel_shown():
    return bool(titled_windows("Brindle alarm"))


def focus(window):
    """Gives the window the keyboard focus, as a window manager would on a click."""
    xdotool("windowfocus", "--sync", window)


def click(window, x=530, y=400, button=1):
    """A real click (XTEST), which the page sees as a user gesture; by default in the page."""
    xdotool("mousemove", "--window", window, x, y, "click", button)


def web_processes(ancestor):
    """The WebKit web processes below ancestor, each with the programs between them, nearest first."""
    table = {}
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat") as stat, open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                parent = int(stat.read().rsplit(")", 1)[1].split()[1])
                table[int(entry)] = (parent, cmdline.read().split(b"\0")[0].decode(errors="replace"))
        except (OSError, IndexError, ValueError):
            continue
    found = {}
    for pid, (parent, program) in table.items():
        between = []
        while program.endswith("/WebKitWebProcess") and parent in table and parent != ancestor:
            between.append(table[parent][1])
            parent = table[parent][0]
        if program.endswith("/WebKitWebProcess") and parent == ancestor:
            found[pid] = between
    return found


class Tripwire:
    """A listener that counts connections and closes them. 127.0.0.1 is another host than
    Brindle's "localhost", so the view may never load it; a connection shows it tried to."""

    def __init__(self):
        self.socket = socket.create_server(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]
        self.count = 0
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                self.socket.accept()[0].close()
            except OSError:
                return
            self.count += 1

    def url(self, path="/"):
        return f"https://127.0.0.1:{self.port}{path}"

    def close(self):
        self.socket.close()


def read_store(testcase, brindle):
    """The store file parsed, after checking that it is strict UTF-8 and strict JSON (no NaN or
    Infinity, which Python's reader would let through)."""
    data = brindle.store_bytes()
    testcase.assertIsNotNone(data, "there is no store file")
    try:
        return json.loads(data.decode("utf-8"), parse_constant=lambda name: testcase.fail(f"{name} in the store"))
    except ValueError as error:  # UnicodeDecodeError is one too.
        testcase.fail(f"the store is not UTF-8 JSON: {error}")
