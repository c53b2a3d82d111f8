"""The page bridge in the real binary: the page's request() and the answers Brindle gives."""

import unittest

from harness import Brindle, main

TIMED_OUT = {"error": "Desktop request timed out"}
UNKNOWN = {"error": "Unknown desktop request"}


class Bridge(unittest.TestCase):
    def test_ids_answers_and_a_bridge_the_page_cannot_replace(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            # Ids count from one in each document, and data defaults to an empty object.
            sent = brindle.page.run("""
                const tools = window.bridgeTools;
                await Promise.all([tools.call("stop"), tools.call("stop", null), tools.call("stop", undefined),
                                   tools.call("preview", { sound: "chime" })]);
                return tools.sent;""")
            self.assertEqual(sent, [{"id": 1, "method": "stop", "data": {}}, {"id": 2, "method": "stop", "data": None},
                                    {"id": 3, "method": "stop", "data": {}},
                                    {"id": 4, "method": "preview", "data": {"sound": "chime"}}])
            brindle.page.send("location.reload();")
            brindle.wait_planner(after=1)
            sent = brindle.page.run('await window.bridgeTools.call("permission"); return window.bridgeTools.sent;')
            self.assertEqual(sent, [{"id": 1, "method": "permission", "data": {}}])

            answers = brindle.page.run("""
                const call = window.bridgeTools.call;
                return [await call("permission"), await call("enable"), await call("stop"), await call("preview"),
                        await call("preview", { sound: "chime" }), await call("schedule", { alarms: [], taskIds: [] }),
                        await call("schedule", { alarms: [{ key: "t1" }] }), await call("schedule", null),
                        await call("Stop"), await call("snooze", { minutes: 5 })];""")
            invalid = {"error": "Invalid alarm schedule"}
            self.assertEqual(answers, [{"value": "granted"}] * 2 + [{"value": True}] * 4 + [invalid] * 2 + [UNKNOWN] * 2)

            shape = brindle.page.run("""
                const before = window.BrindleDesktop;
                const hook = window.__brindleReply;
                window.BrindleDesktop = null;
                window.__brindleReply = null;
                const deleted = [delete window.BrindleDesktop, delete window.__brindleReply];
                let redefined = "no";
                try { Object.defineProperty(window, "BrindleDesktop", { value: {} }); redefined = "yes"; }
                catch (error) { redefined = error.constructor.name; }
                before.request = () => "replaced";
                return [typeof before, Object.getOwnPropertyNames(before), typeof before.request, typeof hook,
                        window.BrindleDesktop === before && window.__brindleReply === hook, deleted, redefined,
                        before.request.toString().includes("Promise")];""")
            self.assertEqual(shape, ["object", ["request"], "function", "function", True, [False, False],
                                     "TypeError", True])

            # Built-ins the page replaces do not reach the bridge.
            outcome = brindle.page.run("""
                JSON.stringify = () => "{}";
                Map.prototype.get = () => undefined;
                Map.prototype.set = () => undefined;
                window.Promise = function () { throw new Error("page's Promise"); };
                window.CustomEvent = function () { throw new Error("page's CustomEvent"); };
                EventTarget.prototype.dispatchEvent = () => false;
                window.setTimeout = () => 0;
                Object.prototype.toJSON = function () { return "tampered"; };
                try {
                    return await window.bridgeTools.outcome(window.BrindleDesktop.request("permission"));
                } finally {
                    delete Object.prototype.toJSON;
                }""")
            self.assertEqual(outcome, {"value": "granted"})

    def test_permission_is_denied_without_a_notification_server(self):
        with Brindle(notifications=False) as brindle:
            brindle.wait_planner()
            answers = brindle.page.run("""
                const call = window.bridgeTools.call;
                return [await call("permission"), await call("enable"), await call("permission")];""")
            self.assertEqual(answers, [{"value": "denied"}] * 3)

    def test_envelopes_that_fail_the_checks_get_no_answer_and_their_requests_time_out(self):
        # Each envelope carries the id of a request pending in the page: an answer would replace its time-out.
        with Brindle() as brindle:
            brindle.wait_planner()
            outcomes = brindle.page.run("""
                const tools = window.bridgeTools;
                const cases = {
                    stringId: (id) => ({ id: String(id), method: "Stop" }),
                    fractionalId: (id) => ({ id: id + 0.5, method: "Stop" }),
                    noMethod: (id) => ({ id }),
                    methodNotText: (id) => ({ id, method: ["Stop"] }),
                    notAnObject: (id) => [id, "Stop"],
                    notJson: (id) => `{"id":${id},"method":"Stop"`,
                    understood: (id) => ({ id, method: "Stop" }),
                    wholeNumberAsFloat: (id) => `{"id":${id}.0,"method":"Stop"}`,
                };
                const results = {};
                const started = performance.now();
                await Promise.all(Object.entries(cases).map(async ([name, envelope]) => {
                    const pending = tools.pending();
                    tools.post(envelope(pending.id));
                    results[name] = await pending.outcome;
                }));
                return { results, waited: performance.now() - started };""")
            # Only a lower bound: a timer never fires early, however loaded the machine.
            self.assertGreaterEqual(outcomes["waited"], 9990)
            self.assertEqual(outcomes["results"], {
                "stringId": TIMED_OUT, "fractionalId": TIMED_OUT, "noMethod": TIMED_OUT, "methodNotText": TIMED_OUT,
                "notAnObject": TIMED_OUT, "notJson": TIMED_OUT, "understood": UNKNOWN, "wholeNumberAsFloat": UNKNOWN})


if __name__ == "__main__":
    main()
