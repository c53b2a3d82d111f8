"""The page bridge against frames, a tampering page, hostile messages and a flood; the page script's guard."""

import json
import os
import subprocess
import unittest
from pathlib import Path

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import Gio, GLib, Gtk, WebKit2  # noqa: E402

from harness import CERTIFICATE, Brindle, Hub, TestServer, alarm, main, need, now_ms, planner_page, wait_for  # noqa: E402

GRANTED = {"value": "granted"}

FLOOD = """
const total = 1000, kinds = [
    ["stop", () => ({}), { value: true }], ["preview", () => ({ sound: "chime" }), { value: true }],
    ["schedule", (i) => ({ alarms: [{ key: `t${i % 7}/a`, at: 4102444800000 + i, title: `F${i}`, sound: "bell",
                                      mode: "alarm" }], taskIds: [] }), { value: true }],
    ["schedule", (i) => ({ alarms: [{ key: `t${i}` }] }), { error: "Invalid alarm schedule" }],
    ["flood", (i) => ({ i }), { error: "Unknown desktop request" }]];
const wrong = [];
let next = 0, settled = 0, last = -1;
await Promise.all(Array.from({ length: 40 }, async () => {
    for (let i; (i = next++) < total;) {
        const [method, data, expected] = kinds[i % kinds.length];
        last = method === "schedule" && expected.value ? i : last;
        const outcome = await t.call(method, data(i));
        settled += 1;
        if (JSON.stringify(outcome) !== JSON.stringify(expected))
            wrong.push({ i, outcome });
    }
}));
return { settled, wrong: wrong.slice(0, 5), last };"""


class Bridge(unittest.TestCase):
    def send(self, make, timeout=60):
        """Brindle's answer to the hand-made envelope make(id) gives, or "dropped"; Brindle lives on."""
        result = self.brindle.page.run(f"return await t.send({make});", timeout)
        self.assertEqual(result["after"], GRANTED, "the ordinary request after it went unanswered")
        return result["outcome"]

    def test_frames_a_page_that_tampers_hostile_messages_and_a_flood(self):
        self.brindle = brindle = self.enterContext(Brindle())
        other_origin = f"https://localhost:{brindle.servers[1].port}"
        brindle.hub.route("/planner", planner_page(
            'window.frames_ready = []; addEventListener("message", (e) => frames_ready.push(e.source));',
            f'<iframe src="{other_origin}/frame.html"></iframe><iframe src="/frame.html"></iframe>'))
        brindle.wait_planner()
        page = brindle.page
        # Ids count from one in each document, and data is an empty object unless given.
        self.assertEqual(page.run('await t.call("permission"); await t.call("stop", null); return t.sent();'),
                         [{"id": 1, "method": "permission", "data": {}}, {"id": 2, "method": "stop", "data": None}])

        # A cross-origin and a same-origin frame see no bridge, and Brindle answers neither: their
        # envelopes carry the ids of requests pending in the planner, which time out.
        alarms = [alarm("t1/a", now_ms() + 3600e3, 'He said "stop" \\ \n\u2028 </script> café 😀 ${x} `y`')]
        frames = page.run(f"""
            while (frames_ready.length < 2) await new Promise((resolve) => setTimeout(resolve, 50));
            const started = performance.now();
            const outcomes = await Promise.all(frames_ready.map((frame) => {{
                const reserve = () => {{ const outcome = t.call(0); return [t.sent().at(-1).id, outcome]; }};
                const ids = [reserve(), reserve()];
                frame.postMessage({{ envelopes: [{{ id: ids[0][0], method: "Stop" }}, {{ id: ids[1][0],
                    method: "schedule", data: {{ alarms: {json.dumps(alarms)}, taskIds: [] }} }}] }}, "*");
                return Promise.all(ids.map(([, outcome]) => outcome));
            }}));
            return {{ outcomes, waited: performance.now() - started }};""")
        self.assertEqual(frames["outcomes"], [[{"error": "Desktop request timed out"}] * 2] * 2)
        self.assertGreaterEqual(frames["waited"], 9990)  # A timer never fires early, however loaded the machine.
        seen = dict(brindle.hub.wait_report("frame", count=n) for n in (1, 2))
        self.assertEqual(seen, {other_origin: ["undefined"] * 3 + ["TypeError", "SecurityError"],
                                f"https://localhost:{brindle.servers[0].port}": ["undefined"] * 3 + ["TypeError", "function"]})
        self.assertIsNone(brindle.store_bytes())
        brindle.schedule(*alarms)  # The planner's own is taken, so the frames' schedule was well formed.
        self.assertEqual(brindle.stored_alarms(), alarms)

        # The page can neither replace the bridge nor reach into it through the built-ins it uses.
        tampered = page.run("""
            const [bridge, hook] = [window.BrindleDesktop, window.__brindleReply];
            window.BrindleDesktop = window.__brindleReply = null;
            const kept = [delete window.BrindleDesktop, delete window.__brindleReply, Object.isFrozen(bridge),
                          window.BrindleDesktop === bridge && window.__brindleReply === hook];
            JSON.stringify = () => "{}";
            Map.prototype.get = Map.prototype.set = () => undefined;
            window.Promise = window.CustomEvent = function () { throw new Error("the page's"); };
            EventTarget.prototype.dispatchEvent = () => false;
            window.setTimeout = () => 0;
            Object.prototype.toJSON = function () { return "tampered"; };
            try { return [...kept, await t.outcome(bridge.request("permission"))]; }
            finally { delete Object.prototype.toJSON; }""")
        self.assertEqual(tampered, [False, False, True, True, GRANTED])
        page.send("location.reload();")
        brindle.wait_planner(after=1)

        # Hostile messages: Brindle answers or drops each, and answers the next one.
        nested = "'['.repeat(100000) + '0' + ']'.repeat(100000)"
        self.assertEqual(self.send(f"(id) => {nested}"), "dropped")
        self.assertEqual(self.send(f"(id) => `{{\"id\":${{id}},\"method\":\"stop\",\"data\":` + {nested} + '}}'"),
                         {"value": True})
        self.assertEqual(self.send(f"""(id) => `{{"id":${{id}},"method":"schedule","data":{{"alarms":[{{"key":"t1/\\ud800",`
            + `"at":1e13,"title":"\\udfff\\ud83d\\ude00","sound":"bell","mode":"alarm"}}],"taskIds":["t1"]}}}}`"""),
                         {"value": True})
        self.assertEqual(brindle.stored_alarms(), [alarm("t1/\ufffd", 1e13, "\ufffd\U0001F600")])
        envelope = '`{"id":${id},"method":"schedule","data":{"alarms":[],"taskIds":[]}}`'
        self.assertEqual(self.send(f"(id) => {envelope}.padEnd({(64 << 20) + 1})", 300), "dropped")  # UTF-16 units
        long_key = alarm("t1/" + "k" * (1 << 20), 1e13)
        brindle.schedule(long_key)
        self.assertEqual(brindle.stored_alarms(), [long_key])

        # A flood, 40 requests in flight: every one gets exactly its own outcome, the last schedule is stored.
        flood = page.run(FLOOD, timeout=600)
        self.assertEqual((flood["settled"], flood["wrong"]), (1000, []))
        self.assertEqual(brindle.stored_alarms(), [alarm(f"t{flood['last'] % 7}/a", 4102444800000 + flood["last"],
                                                         f"F{flood['last']}")])
        self.assertEqual(brindle.end(), 0)


class PageScriptGuard(unittest.TestCase):
    def test_only_the_planners_https_pages_get_the_bridge(self):
        tool = Path(os.environ.get("BRINDLE_BUILD_DIR", "/nonexistent"), "bin", "brindle_page_script")
        need(tool.is_file(), "brindle_page_script, built with the tests")
        secure, plain = TestServer(Hub(), 0), TestServer(Hub(), 0, secure=False)
        self.addCleanup(secure.stop)
        self.addCleanup(plain.stop)
        context = WebKit2.WebContext.new()
        for host in ("localhost", "127.0.0.1"):
            context.allow_tls_certificate_for_host(Gio.TlsCertificate.new_from_file(str(CERTIFICATE)), host)
        manager = WebKit2.UserContentManager()
        manager.add_script(WebKit2.UserScript.new(subprocess.check_output([tool], text=True),
                                                  WebKit2.UserContentInjectedFrames.TOP_FRAME,
                                                  WebKit2.UserScriptInjectionTime.START, None, None))
        view = WebKit2.WebView(web_context=context, user_content_manager=manager)
        window = Gtk.OffscreenWindow()
        window.add(view)
        window.show_all()
        self.addCleanup(window.destroy)

        def evaluate(script):
            state = {}
            view.evaluate_javascript(script, -1, None, None, None, lambda v, result: state.update(
                value=v.evaluate_javascript_finish(result).to_string()))
            wait_for(lambda: (GLib.MainContext.default().iteration(True), state)[1], what=script, interval=0)
            return state["value"]

        def load(url):
            view.load_uri(url)
            wait_for(lambda: evaluate("location.href + document.readyState") == url + "complete", what=url)

        # A reply script as Brindle writes it must run without error where the hook is missing.
        reply = '(() => {window.__brindleReply?.(1, true, "Unknown desktop request");})()'
        for url, expected in ((f"https://localhost:{secure.port}/planner", '["object","function"]'),
                              (f"http://localhost:{plain.port}/planner", '["undefined","undefined"]'),
                              (f"https://127.0.0.1:{secure.port}/planner", '["undefined","undefined"]')):
            with self.subTest(url=url):
                load(url)
                self.assertEqual(evaluate("JSON.stringify([typeof BrindleDesktop, typeof __brindleReply])"), expected)
                self.assertEqual(evaluate(reply), "undefined")

        # What JSON cannot hold is left out of the envelope, so Brindle still answers; each promise settles once.
        load(f"https://localhost:{secure.port}/planner")
        evaluate("""(() => { window.seen = []; window.settled = []; const cycle = {}; cycle.self = cycle;
            addEventListener("brindle-envelope", (event) => seen.push(event.detail));
            for (const [method, data] of [["schedule", cycle], ["schedule", { at: 1n }], [1n, {}]])
                BrindleDesktop.request(method, data).then(settled.push.bind(settled), (e) => settled.push(e.message));
            for (const [id, error] of [[1, "Invalid alarm schedule"], [1, null], [2, "Invalid alarm schedule"]])
                __brindleReply(id, true, error); })()""")
        self.assertEqual(json.loads(evaluate("JSON.stringify([seen, settled])")), [
            ['{"id":1,"method":"schedule"}', '{"id":2,"method":"schedule"}', '{"id":3}'],
            ["Invalid alarm schedule", "Invalid alarm schedule"]])


if __name__ == "__main__":
    main()
