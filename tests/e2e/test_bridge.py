"""The page bridge in the real binary: the page's request() and the answers Brindle gives."""

import unittest

from harness import Brindle, main


class PlannerPage(unittest.TestCase):
    def test_the_planner_gets_request_and_cannot_replace_or_delete_it(self):
        with Brindle() as brindle:
            brindle.wait_planner()
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
                return {
                    type: typeof before,
                    members: Object.getOwnPropertyNames(before),
                    requestType: typeof before.request,
                    hookType: typeof hook,
                    kept: window.BrindleDesktop === before && window.__brindleReply === hook,
                    deleted,
                    redefined,
                    stillRequest: before.request !== undefined && before.request.toString().includes("Promise"),
                };""")
            self.assertEqual(shape, {
                "type": "object",
                "members": ["request"],
                "requestType": "function",
                "hookType": "function",
                "kept": True,
                "deleted": [False, False],
                "redefined": "TypeError",
                "stillRequest": True,
            })

    def test_built_ins_replaced_by_the_page_do_not_reach_the_bridge(self):
        with Brindle() as brindle:
            brindle.wait_planner()
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

    def test_ids_count_from_one_in_each_document_and_data_defaults_to_an_empty_object(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            sent = brindle.page.run("""
                const tools = window.bridgeTools;
                await Promise.all([tools.call("stop"), tools.call("stop", null), tools.call("stop", undefined),
                                   tools.call("preview", { sound: "chime" })]);
                return tools.sent;""")
            self.assertEqual(sent, [
                {"id": 1, "method": "stop", "data": {}},
                {"id": 2, "method": "stop", "data": None},
                {"id": 3, "method": "stop", "data": {}},
                {"id": 4, "method": "preview", "data": {"sound": "chime"}},
            ])

            documents = brindle.hub.document_count()
            brindle.page.send("location.reload();")
            brindle.wait_planner(after=documents)
            sent = brindle.page.run("""
                await window.bridgeTools.call("permission");
                return window.bridgeTools.sent;""")
            self.assertEqual(sent, [{"id": 1, "method": "permission", "data": {}}])

    def test_every_method_gets_its_answer(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            answers = brindle.page.run("""
                const call = window.bridgeTools.call;
                return {
                    permission: await call("permission"),
                    enable: await call("enable"),
                    stop: await call("stop"),
                    preview: await call("preview"),
                    previewChime: await call("preview", { sound: "chime" }),
                    schedule: await call("schedule", { alarms: [], taskIds: [] }),
                    badSchedule: await call("schedule", { alarms: [{ key: "t1" }] }),
                    scheduleWithoutData: await call("schedule", null),
                    wrongCase: await call("Stop"),
                    unknown: await call("snooze", { minutes: 5 }),
                };""")
            self.assertEqual(answers, {
                "permission": {"value": "granted"},
                "enable": {"value": "granted"},
                "stop": {"value": True},
                "preview": {"value": True},
                "previewChime": {"value": True},
                "schedule": {"value": True},
                "badSchedule": {"error": "Invalid alarm schedule"},
                "scheduleWithoutData": {"error": "Invalid alarm schedule"},
                "wrongCase": {"error": "Unknown desktop request"},
                "unknown": {"error": "Unknown desktop request"},
            })

    def test_permission_is_denied_without_a_notification_server(self):
        with Brindle(notifications=False) as brindle:
            brindle.wait_planner()
            answers = brindle.page.run("""
                const call = window.bridgeTools.call;
                return [await call("permission"), await call("enable"), await call("permission")];""")
            self.assertEqual(answers, [{"value": "denied"}] * 3)


class DroppedRequests(unittest.TestCase):
    def test_a_request_without_an_answer_rejects_after_ten_seconds(self):
        with Brindle() as brindle:
            brindle.wait_planner()
            outcome = brindle.page.run("""
                const started = performance.now();
                const pending = window.bridgeTools.pending();
                const outcome = await pending.outcome;
                return { outcome, waited: performance.now() - started };""")
            self.assertEqual(outcome["outcome"], {"error": "Desktop request timed out"})
            # Only a lower bound: a timer never fires early, however loaded the machine.
            self.assertGreaterEqual(outcome["waited"], 9990)

    def test_envelopes_that_fail_the_checks_get_no_answer(self):
        # Each bad envelope carries the id of a request that is pending in the page: had Brindle
        # answered it, that request would end with the answer instead of its time-out.
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
                await Promise.all(Object.entries(cases).map(async ([name, envelope]) => {
                    const pending = tools.pending();
                    tools.post(envelope(pending.id));
                    results[name] = await pending.outcome;
                }));
                return results;""")
            timedOut = {"error": "Desktop request timed out"}
            answered = {"error": "Unknown desktop request"}
            self.assertEqual(outcomes, {
                "stringId": timedOut,
                "fractionalId": timedOut,
                "noMethod": timedOut,
                "methodNotText": timedOut,
                "notAnObject": timedOut,
                "notJson": timedOut,
                "understood": answered,
                "wholeNumberAsFloat": answered,
            })


if __name__ == "__main__":
    main()
