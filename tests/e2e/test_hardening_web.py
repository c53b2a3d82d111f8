#!/usr/bin/python3
"""Brindle holds against a hostile page: the page's web process is sandboxed, every permission
the page asks for is refused, and nothing the page does opens a second view or loads another
host in the one view.

Clicks are made with the real pointer, so that what needs a user gesture gets one. Run through
run-e2e, which provides the virtual X server and the session bus.
"""

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
from accessibility import descendants  # noqa: E402
import pyatspi  # noqa: E402
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


class Sandbox(unittest.TestCase):
    def test_the_web_process_runs_in_bubblewrap_and_sees_none_of_brindles_files(self):
        with Brindle(start=False) as brindle:
            brindle.write_store([])
            brindle.start()
            brindle.wait_planner()
            processes = wait_for(lambda: web_processes(brindle.process.pid), what="the web process")

            def namespace(pid, kind):
                return os.readlink(f"/proc/{pid}/ns/{kind}")

            def status(pid):
                with open(f"/proc/{pid}/status") as lines:
                    return dict(line.split(":\t", 1) for line in lines.read().splitlines() if ":\t" in line)

            brindle_pid = brindle.process.pid
            self.assertTrue(brindle.store_path.is_file())
            for pid, between in processes.items():
                with self.subTest(web_process=pid):
                    self.assertTrue(any(program.endswith("/bwrap") for program in between),
                                    f"no bubblewrap between Brindle and its web process: {between}")
                    for kind in ("mnt", "pid", "net"):
                        self.assertNotEqual(namespace(pid, kind), namespace(brindle_pid, kind), kind)
                    fields = status(pid)
                    self.assertEqual(fields["NoNewPrivs"].strip(), "1")
                    self.assertEqual(fields["Seccomp"].strip(), "2", "a seccomp filter is in force")

                    # What the page's process sees of the file system: not the store, not the
                    # user's home, not Brindle's own log next to them.
                    root = f"/proc/{pid}/root"
                    for path in (brindle.store_path, brindle.home, brindle.log_path):
                        self.assertTrue(os.path.exists(path))
                        self.assertFalse(os.path.exists(root + str(path)), f"{path} is visible in the sandbox")


class PagePermissions(unittest.TestCase):
    def test_every_permission_the_page_asks_for_is_refused(self):
        with Brindle(start=False) as brindle:
            serve_planner(brindle, assets=["permissions.js"], body="<p>Asking for everything</p>")
            brindle.start()
            brindle.wait_planner()
            names = brindle.page.run("return window.permissionProbes.names;")

            owner = subprocess.Popen(["/usr/bin/python3", "-c", CLIPBOARD_OWNER, "another program's secret"],
                                     stdout=subprocess.PIPE, text=True)
            self.addCleanup(owner.stdout.close)
            self.addCleanup(owner.wait)
            self.addCleanup(owner.terminate)
            self.assertEqual(owner.stdout.readline().strip(), "ready")

            # Without a gesture WebKit stops some requests itself; with one, the requests go on to
            # Brindle. The window has the focus, as it would when the user clicks it, since
            # pointer lock is otherwise refused for want of focus before Brindle is asked. (The
            # test machines have no camera, microphone or screencast portal, so those requests
            # end in WebKit for want of a device whatever Brindle would answer.)
            without_gesture = brindle.page.run("return await window.permissionProbes.all();", timeout=120)
            window = main_window(brindle)
            focus(window)
            self.assertTrue(brindle.page.run("return document.hasFocus();"))
            with_gesture = {}
            for name in names:
                brindle.page.run(f"window.permissionProbes.onNextClick({json.dumps(name)}); return null;")
                click(window)
                with_gesture[name] = brindle.hub.wait_report(name)

            # The top document is first party: it holds its own storage and asks nobody for it.
            # Only a frame of another site could ask for storage access, and Brindle never loads
            # one (NavigationsLeavingTheView shows frames of other hosts going to the browser).
            for outcomes in (without_gesture, with_gesture):
                self.assertEqual(outcomes.pop("storageAccess"), "granted")
            print(f"\noutcomes without a gesture: {without_gesture}\noutcomes with a gesture: {with_gesture}",
                  file=sys.stderr)
            for name, outcome in [*without_gesture.items(), *with_gesture.items()]:
                with self.subTest(permission=name):
                    self.assertTrue(str(outcome).startswith("refused"), f"{name}: {outcome}")
            # WebKit grants pointer lock unless told otherwise; with the window focused and a
            # gesture, only Brindle's refusal stands in the way.
            self.assertEqual(with_gesture["pointerLock"], "refused: WrongDocumentError")
            self.assertEqual(with_gesture["notifications"], "refused: denied, now denied")
            self.assertEqual(with_gesture["geolocation"], "refused: PERMISSION_DENIED")
            brindle.check_running()


def context_menu_items():
    """The items of Brindle's open context menu by name, or None while none is open. The
    application menus of the menubar are not part of it."""
    for application in pyatspi.Registry.getDesktop(0):
        try:
            if application is None or application.name != "brindle":
                continue
            for window in application:
                if window is None or window.getRoleName() != "window":
                    continue
                items = {}
                for node in descendants(window):
                    if node.getRoleName() == "menu item":
                        items[node.name] = node
                if items:
                    return items
        except Exception:
            continue
    return None


class NavigationsLeavingTheView(unittest.TestCase):
    """No second view is ever made, and no other host is loaded in the one view."""

    def launch(self, brindle, body=""):
        serve_planner(brindle, body=body)
        brindle.start()
        brindle.wait_planner()
        self.window = main_window(brindle)

    def assert_one_view_on(self, brindle, documents, href=PLANNER_URL):
        """The view shows the given number of documents so far, the last at href, in one window."""
        self.assertEqual(brindle.hub.document_count(), documents)
        self.assertEqual(brindle.page.run("return location.href;"), href)
        self.assertEqual(visible_windows(brindle), [self.window], "no second window")

    def settle(self, brindle, count):
        """Waits until the browser has been handed count addresses, then hands it one more after
        everything: anything wrongly opened before it has arrived by the time it does. Gives the
        addresses without those markers."""
        def handed():
            return [url for url in brindle.opened_urls() if "/marker-" not in url]
        wait_for(lambda: len(handed()) >= count, what=f"{count} addresses in the browser")
        self.markers = getattr(self, "markers", 0) + 1
        marker = f"https://example.org/marker-{self.markers}"
        brindle.page.run(f"location.href = {json.dumps(marker)}; return null;")
        wait_for(lambda: marker in brindle.opened_urls(), what="the marker address")
        return handed()

    def test_popups_without_a_gesture_open_nothing_anywhere(self):
        tripwire = Tripwire()
        self.addCleanup(tripwire.close)
        with Brindle(start=False) as brindle:
            self.launch(brindle, f"""
                <a id="blank" target="_blank" href="{tripwire.url('/blank-link')}">elsewhere</a>
                <a id="blank-here" target="_blank" href="/planner?from=blank-link">here</a>
                <form id="form" target="_blank" method="get" action="{tripwire.url('/form')}"></form>""")
            returned = brindle.page.run(f"""
                const opened = [window.open({json.dumps(tripwire.url('/popup'))}), window.open("/planner?from=popup"),
                                window.open(), window.open("about:blank", "_blank", "popup")];
                document.getElementById("blank").click();
                document.getElementById("blank-here").click();
                document.getElementById("form").submit();
                return opened.map((view) => view === null);""")
            self.assertEqual(returned, [True] * 4, "window.open gave the page a window")

            self.assertEqual(self.settle(brindle, 0), [])
            self.assert_one_view_on(brindle, 1)

    def test_popups_with_a_gesture_go_to_the_browser_or_stay_in_the_one_view(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle)

            # Runs code in the next click, in place of what the click would do otherwise.
            def on_next_click(code):
                brindle.page.run(f"""document.addEventListener("click", (event) => {{
                    event.preventDefault(); {code} }},
                    {{ once: true, capture: true }}); return null;""")
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
            document = brindle.wait_planner(after=1)
            self.assertEqual(document["href"], f"{PLANNER_URL}?from=popup-with-gesture")
            page_wide_link("/planner?from=link-with-gesture")
            document = brindle.wait_planner(after=2)
            self.assertEqual(document["href"], f"{PLANNER_URL}?from=link-with-gesture")
            self.assert_one_view_on(brindle, 3, f"{PLANNER_URL}?from=link-with-gesture")
            self.assertEqual(self.settle(brindle, 3), expected)

    def test_the_context_menu_offers_no_new_window_and_its_open_link_follows_the_policy(self):
        with Brindle(start=False) as brindle:
            self.launch(brindle, """<a href="https://example.org/from-menu"
                style="display: block; height: 100%">a link over the whole page</a>""")
            focus(self.window)
            click(self.window, button=3)
            items = wait_for(context_menu_items, what="the context menu")
            self.assertIn("Open Link", items)
            self.assertIn("Copy Link Location", items)
            for leaving in ("Open Link in New Window", "Download Linked File"):
                self.assertNotIn(leaving, items)

            action = items["Open Link"].queryAction()
            action.doAction(0)
            self.assertEqual(self.settle(brindle, 1), ["https://example.org/from-menu"])
            self.assert_one_view_on(brindle, 1)

    def test_a_redirect_to_another_host_goes_to_the_browser_and_never_loads(self):
        # WebKit asks for a policy again at a server redirect (the navigation action is marked
        # as a redirect). The policy reads only the address, so the other host is handed to the
        # browser and the view does not even connect to it.
        tripwire = Tripwire()
        self.addCleanup(tripwire.close)
        with Brindle(start=False) as brindle:
            brindle.hub.route("/away", "", status=302, headers={"Location": tripwire.url("/landing")})
            brindle.hub.route("/frame-away", "", status=302, headers={"Location": tripwire.url("/frame-landing")})
            brindle.hub.route("/plain", "", status=302,
                              headers={"Location": f"http://localhost:{harness.APP_PORT}/planner"})
            self.launch(brindle)

            # A navigation on the planner's host stops the document's own requests while it is
            # under way, so the page is not waited for here.
            brindle.page.send("location.href = '/away';")
            self.assertEqual(self.settle(brindle, 1), [tripwire.url("/landing")])
            brindle.page.run("""const frame = document.createElement("iframe");
                frame.src = "/frame-away"; document.body.append(frame); return null;""")
            self.assertEqual(self.settle(brindle, 2), [tripwire.url("/landing"), tripwire.url("/frame-landing")])
            # A redirect to plain HTTP, even on the planner's host, goes nowhere.
            brindle.page.send("location.href = '/plain';")
            wait_for(lambda: "/plain" in brindle.hub.requests, what="the plain-HTTP redirect")
            time.sleep(1)
            self.assertEqual(self.settle(brindle, 2), [tripwire.url("/landing"), tripwire.url("/frame-landing")])

            self.assertEqual(tripwire.connections(), 0, "the view connected to the other host")
            self.assertEqual([path for path in brindle.hub.requests if path in ("/away", "/frame-away", "/plain")],
                             ["/away", "/frame-away", "/plain"])
            self.assert_one_view_on(brindle, 1)

    def test_frames_of_other_hosts_never_load(self):
        tripwire = Tripwire()
        self.addCleanup(tripwire.close)
        with Brindle(start=False) as brindle:
            self.launch(brindle)
            brindle.page.run(f"""const frame = document.createElement("iframe");
                frame.src = {json.dumps(tripwire.url('/frame'))}; document.body.append(frame); return null;""")
            self.assertEqual(self.settle(brindle, 1), [tripwire.url("/frame")])
            self.assertEqual(tripwire.connections(), 0)
            self.assert_one_view_on(brindle, 1)


if __name__ == "__main__":
    harness.main()
