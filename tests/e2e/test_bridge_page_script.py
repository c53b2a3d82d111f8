"""The page script's own guard, in a plain WebKit view: Brindle's navigation policy keeps other
schemes and hosts out of its view, so the guard cannot be reached through the binary."""

import json
import os
import subprocess
import unittest
from pathlib import Path

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import Gio, GLib, Gtk, WebKit2  # noqa: E402

from harness import CERTIFICATE, DEFAULT_TIMEOUT, Hub, TestServer, main, planner_page  # noqa: E402

PROBE = "JSON.stringify([typeof window.BrindleDesktop, typeof window.__brindleReply])"
# A reply script as Brindle writes it; where the hook is missing it must run without error.
REPLY = ('(() => {const r={"id":1,"value":true,"error":"Unknown desktop request"};'
         "window.__brindleReply?.(r.id, r.value, r.error);})()")


class PageScriptGuard(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        build = os.environ.get("BRINDLE_BUILD_DIR")
        tool = Path(build or "", "bin", "brindle_page_script")
        if not build or not tool.is_file():
            raise unittest.SkipTest("brindle_page_script is not built")
        cls.script = subprocess.check_output([str(tool)], text=True)
        cls.hub = Hub()
        cls.hub.route("/planner", planner_page())
        cls.secure = TestServer(cls.hub, 0)
        cls.plain = TestServer(cls.hub, 0, secure=False)

        context = WebKit2.WebContext.new()
        certificate = Gio.TlsCertificate.new_from_file(str(CERTIFICATE))
        for host in ("localhost", "127.0.0.1"):
            context.allow_tls_certificate_for_host(certificate, host)
        manager = WebKit2.UserContentManager()
        manager.add_script(WebKit2.UserScript.new(
            cls.script, WebKit2.UserContentInjectedFrames.TOP_FRAME,
            WebKit2.UserScriptInjectionTime.START, None, None))
        cls.view = WebKit2.WebView(web_context=context, user_content_manager=manager)
        cls.window = Gtk.OffscreenWindow()
        cls.window.add(cls.view)
        cls.window.show_all()

    @classmethod
    def tearDownClass(cls):
        cls.window.destroy()
        cls.secure.stop()
        cls.plain.stop()

    def spin(self, done, what):
        context = GLib.MainContext.default()
        deadline = GLib.get_monotonic_time() + int(DEFAULT_TIMEOUT * 1e6)
        while not done():
            if GLib.get_monotonic_time() > deadline:
                self.fail(f"timed out waiting for {what}")
            context.iteration(True)

    def load(self, url):
        state = {}
        handlers = [self.view.connect("load-changed", lambda v, e: e == WebKit2.LoadEvent.FINISHED
                                      and state.update(done=True)),
                    self.view.connect("load-failed", lambda v, e, u, error: state.update(error=error.message))]
        self.view.load_uri(url)
        self.spin(lambda: "done" in state, url)
        for handler in handlers:
            self.view.disconnect(handler)
        self.assertNotIn("error", state, url)
        self.assertEqual(self.evaluate("location.href"), url)

    def evaluate(self, script):
        state = {}
        self.view.evaluate_javascript(script, -1, None, None, None, lambda view, result: state.update(
            value=view.evaluate_javascript_finish(result).to_string()))
        self.spin(lambda: "value" in state, script)
        return state["value"]

    def test_only_the_planners_https_pages_get_the_bridge(self):
        cases = [
            (f"https://localhost:{self.secure.port}/planner", '["object","function"]'),
            (f"http://localhost:{self.plain.port}/planner", '["undefined","undefined"]'),
            (f"https://127.0.0.1:{self.secure.port}/planner", '["undefined","undefined"]'),
            (f"https://localhost:{self.secure.port}/planner", '["object","function"]'),
        ]
        for url, expected in cases:
            with self.subTest(url=url):
                self.load(url)
                self.assertEqual(self.evaluate(PROBE), expected)
                self.assertEqual(self.evaluate(REPLY), "undefined")

    def test_data_json_cannot_hold_is_left_out_and_the_promise_settles_once(self):
        self.load(f"https://localhost:{self.secure.port}/planner")
        self.evaluate("""(() => { window.seen = []; window.settled = []; const cycle = {}; cycle.self = cycle;
            addEventListener("brindle-envelope", (event) => seen.push(event.detail));
            for (const [method, data] of [["schedule", cycle], ["schedule", { at: 1n }], [1n, {}]])
                BrindleDesktop.request(method, data).then(settled.push.bind(settled), (e) => settled.push(e.message));
            for (const [id, error] of [[1, "Invalid alarm schedule"], [1, null], [2, "Invalid alarm schedule"]])
                __brindleReply(id, true, error); })()""")
        self.assertEqual(self.evaluate("JSON.stringify([seen, settled])"), json.dumps([
            ['{"id":1,"method":"schedule"}', '{"id":2,"method":"schedule"}', '{"id":3}'],
            ["Invalid alarm schedule", "Invalid alarm schedule"]], separators=(",", ":")))


if __name__ == "__main__":
    main()
