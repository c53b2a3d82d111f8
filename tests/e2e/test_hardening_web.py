#!/usr/bin/python3
"""Brindle holds against a hostile page: its web process is sandboxed, every permission it asks
for is refused, and nothing it does opens a second view or loads another host in the one view.
Clicks use the real pointer, so they are user gestures. Run through run-e2e, which provides the
virtual X server and the session bus."""

import json
import os
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

# The context menu is read through the accessibility tree; GTK reaches it only with its bridge on.
os.environ["NO_AT_BRIDGE"] = "0"

import harness  # noqa: E402
from accessibility import application_of, descendants  # noqa: E402
from harness import PLANNER_URL, Brindle, wait_for  # noqa: E402
from hardening_support import (Tripwire, click, focus, main_window, serve_planner,  # noqa: E402
                               visible_windows, web_processes)

# Another program owns the clipboard, so that reading it would cross from that program to the page.
CLIPBOARD_OWNER = """
import sys, gi
gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk
Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD).set_text(sys.argv[1], -1)
print("ready", flush=True)
Gtk.main()
"""


class SandboxAndPermissions(unittest.TestCase):
    def test_the_web_process_runs_in_bubblewrap_and_sees_none_of_brindles_files(self):
        with Brindle(start=False) as brindle:
            brindle.write_store([])
            brindle.start()
            brindle.wait_planner()
            processes = wait_for(lambda: web_processes(brindle.process.pid), what="the web process")
            for pid, between in processes.items():
                with self.subTest(web_process=pid):
                    self.assertTrue(any(program.endswith("/bwrap") for program in between), between)
                    for kind in ("mnt", "pid", "net"):
                        self.assertNotEqual(os.readlink(f"/proc/{pid}/ns/{kind}"),
                                            os.readlink(f"/proc/{brindle.process.pid}/ns/{kind}"), kind)
                    status = Path(f"/proc/{pid}/status").read_text()
                    self.assertIn("\nNoNewPrivs:\t1\n", status)
                    self.assertIn("\nSeccomp:\t2\n", status, "a seccomp filter is in force")
                    # Neither the store, nor the user's home, nor Brindle's log is visible inside.
                    for path in (brindle.store_path, brindle.home, brindle.log_path):
                        self.assertTrue(os.path.exists(path))
                        self.assertFalse(os.path.exists(f"/proc/{pid}/root{path}"), f"{path} is visible")

    def test_every_permission_the_page_asks_for_is_refused(self):
        with Brindle(start=False) as brindle:
            serve_planner(brindle, assets=["permissions.js"], body="<p>Asking for everything</p>")
            brindle.start()
            brindle.wait_planner()
            owner = subprocess.Popen(["/usr/bin/python3", "-c", CLIPBOARD_OWNER, "another program's secret"],
                                     stdout=subprocess.PIPE, text=True)
            self.addCleanup(owner.stdout.close)
            self.addCleanup(owner.wait)
            self.addCleanup(owner.terminate)
            self.assertEqual(owner.stdout.readline().strip(), "ready")

            # Without a gesture WebKit stops some requests itself; with one (and the focus, without
            # which pointer lock is refused before Brindle is asked) they go on to Brindle. These
            # machines have no camera, microphone or screencast portal, so those end in WebKit.
            without_gesture = brindle.page.run("return await window.permissionProbes.all();", timeout=120)
            window = main_window(brindle)
            focus(window)
            self.assertTrue(brindle.page.run("return document.hasFocus();"))
            with_gesture = {}
            for name in brindle.page.run("return window.permissionProbes.names;"):
                brindle.page.run(f"window.permissionProbes.onNextClick({json.dumps(name)}); return null;")
                click(window)
                with_gesture[name] = brindle.hub.wait_report(name)

            # The top document is first party and holds its own storage; only a frame of another
            # site could ask for storage access, and Brindle never loads one.
            for outcomes in (without_gesture, with_gesture):
                self.assertEqual(outcomes.pop("storageAccess"), "granted")
            print(f"\nwithout a gesture: {without_gesture}\nwith a gesture: {with_gesture}", file=sys.stderr)
            for name, outcome in [*without_gesture.items(), *with_gesture.items()]:
                with self.subTest(permission=name):
                    self.assertTrue(str(outcome).startswith("refused"), f"{name}: {outcome}")
            # WebKit grants pointer lock unless told otherwise; here only Brindle's refusal stops it.
            self.assertEqual(with_gesture["pointerLock"], "refused: WrongDocumentError")
            self.assertEqual(with_gesture["notifications"], "refused: denied, now denied")
            self.assertEqual(with_gesture["geolocation"], "refused: PERMISSION_DENIED")
            brindle.check_running()


def context_menu_items(brindle):
    """The items of Brindle's open context menu by name (not the menubar's), or None."""
    application = application_of(brindle.process.pid)
    try:
        for window in application or ():
            if window is not None and window.getRoleName() == "window":
                items = {node.name: node for node in descendants(window) if node.getRoleName() == "menu item"}
                if items:
                    return items
    except Exception:  # The menu went away while it was read.
        pass
    return None


class NavigationsLeavingTheView(unittest.TestCase):
    """No second view is ever made, and no other host is loaded in the one view."""

    def launch(self, brindle, body=""):
        serve_planner(brindle, body=body)
        brindle.start()
        brindle.wait_planner()
        self.window = main_window(brindle)

    def assert_one_view_on(self, brindle, documents, href=PLANNER_URL):
        self.assertEqual(brindle.hub.document_count(), documents)
        self.assertEqual(brindle.page.run("return location.href;"), href)
        self.assertEqual(visible_windows(brindle), [self.window], "no second window")

    def settle(self, brindle, count):
        """Waits for count addresses in the browser, then hands it a marker address: anything
        wrongly opened before has arrived by the time it does. Gives the addresses but markers."""
        def handed():
            return [url for url in brindle.opened_urls() if "/marker-" not in url]
        wait_for(lambda: len(handed()) >= count, what=f"{count} addresses in the browser")
        self.markers = getattr(self, "markers", 0) + 1
        marker = f"https://example.org/marker-{self.markers}"
        brindle.page.run(f"location.href = {json.dumps(marker)}; return null;")
        wait_for(lambda: marker in brindle.opened_urls(), what="the marker address")
        return handed()

    def test_without_a_gesture_popups_frames_and_redirects_never_load_another_host(self):
        # Popups are held to opening nothing anywhere; frames and redirects also to never connecting.
        tripwire, popup_host = Tripwire(), Tripwire()
        self.addCleanup(tripwire.close)
        self.addCleanup(popup_host.close)
        with Brindle(start=False) as brindle:
            brindle.hub.route("/away", "", status=302, headers={"Location": tripwire.url("/landing")})
            brindle.hub.route("/frame-away", "", status=302, headers={"Location": tripwire.url("/frame-landing")})
            brindle.hub.route("/plain", "", status=302,
                              headers={"Location": f"http://localhost:{harness.APP_PORT}/planner"})
            self.launch(brindle, f"""
                <a id="blank" target="_blank" href="{popup_host.url('/blank-link')}">elsewhere</a>
                <a id="blank-here" target="_blank" href="/planner?from=blank-link">here</a>
                <form id="form" target="_blank" method="get" action="{popup_host.url('/form')}"></form>""")
            returned = brindle.page.run(f"""
                const opened = [window.open({json.dumps(popup_host.url('/popup'))}), window.open("/planner?from=popup"),
                                window.open(), window.open("about:blank", "_blank", "popup")];
                document.getElementById("blank").click();
                document.getElementById("blank-here").click();
                document.getElementById("form").submit();
                return opened.map((view) => view === null);""")
            self.assertEqual(returned, [True] * 4, "window.open gave the page a window")
            self.assertEqual(self.settle(brindle, 0), [])

            # A frame of another host goes to the browser, and so does one redirected there.
            landings = [tripwire.url("/frame")]
            for source in (tripwire.url("/frame"), "/frame-away"):
                brindle.page.run(f"""const frame = document.createElement("iframe");
                    frame.src = {json.dumps(source)}; document.body.append(frame); return null;""")
            landings.append(tripwire.url("/frame-landing"))
            self.assertEqual(sorted(self.settle(brindle, 2)), sorted(landings))

            # WebKit asks for a policy again at a server redirect, which reads only the address:
            # the other host goes to the browser unconnected. A navigation on the planner's host
            # stops the document's own requests while under way, so the page is not waited for.
            brindle.page.send("location.href = '/away';")
            landings.append(tripwire.url("/landing"))
            self.assertEqual(sorted(self.settle(brindle, 3)), sorted(landings))
            # A redirect to plain HTTP, even on the planner's host, goes nowhere.
            brindle.page.send("location.href = '/plain';")
            wait_for(lambda: "/plain" in brindle.hub.requests, what="the plain-HTTP redirect")
            time.sleep(1)
            self.assertEqual(sorted(self.settle(brindle, 3)), sorted(landings))
            self.assertEqual(tripwire.count, 0, "the view connected to the other host")
            self.assertLessEqual({"/away", "/frame-away", "/plain"}, set(brindle.hub.requests))
            self.assert_one_view_on(brindle, 1)

    def test_popups_with_a_gesture_go_to_the_browser_or_stay_in_the_one_view(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)

            def on_next_click(code):
                brindle.page.run(f"""document.addEventListener("click", (event) => {{
                    event.preventDefault(); {code} }}, {{ once: true, capture: true }}); return null;""")
                click(self.window)

            def page_wide_link(href):
                brindle.page.run(f"""const link = document.createElement("a");
                    link.href = {json.dumps(href)}; link.target = "_blank"; link.textContent = "a new window";
                    link.style = "position: fixed; inset: 0"; document.body.append(link); return null;""")
                click(self.window)

            # To another host: the browser gets the address, and the page no window.
            for count, target in enumerate(("https://example.com/one", "https://example.com/two"), 1):
                on_next_click(f"window.report('opened', window.open({json.dumps(target)}) === null);")
                self.assertTrue(brindle.hub.wait_report("opened", count=count))
            page_wide_link("https://example.net/new-tab")
            expected = ["https://example.com/one", "https://example.com/two", "https://example.net/new-tab"]
            self.assertEqual(self.settle(brindle, 3), expected)
            self.assert_one_view_on(brindle, 1)

            # On the planner's own host the address loads in place of the page.
            on_next_click("window.open('/planner?from=popup-with-gesture');")
            self.assertEqual(brindle.wait_planner(after=1)["href"], f"{PLANNER_URL}?from=popup-with-gesture")
            page_wide_link("/planner?from=link-with-gesture")
            self.assertEqual(brindle.wait_planner(after=2)["href"], f"{PLANNER_URL}?from=link-with-gesture")
            self.assert_one_view_on(brindle, 3, f"{PLANNER_URL}?from=link-with-gesture")
            self.assertEqual(self.settle(brindle, 3), expected)

    def test_the_context_menu_offers_no_new_window_and_its_open_link_follows_the_policy(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle, """<a href="https://example.org/from-menu"
                style="display: block; height: 100%">a link over the whole page</a>""")
            focus(self.window)
            click(self.window, button=3)
            items = wait_for(lambda: context_menu_items(brindle), what="the context menu")
            self.assertLessEqual({"Open Link", "Copy Link Location"}, items.keys())
            self.assertFalse({"Open Link in New Window", "Download Linked File"} & items.keys())
            items["Open Link"].queryAction().doAction(0)
            self.assertEqual(self.settle(brindle, 1), ["https://example.org/from-menu"])
            self.assert_one_view_on(brindle, 1)


if __name__ == "__main__":
    harness.main()
