// Runs the test's commands in this document with built-ins held from load (tests replace them).
(() => {
    "use strict";
    const doc = `${Date.now().toString(36)}-${Math.random().toString(36).slice(2)}`;
    const [AsyncFunction, stringify, fetchFrom] = [(async () => {}).constructor, JSON.stringify, fetch.bind(window)];
    const post = (path, body) => fetchFrom(path, { method: "POST", cache: "no-store", body: stringify(body) });
    const sent = []; // The envelopes handed to Brindle, in order.
    window.addEventListener("brindle-envelope", (event) => sent.push(event.detail));
    const outcome = (promise) => promise.then((value) => ({ value }), (error) => ({ error: error.message }));
    window.t = {
        sent: () => sent.map((text) => JSON.parse(text)),
        outcome,
        call: (...args) => outcome(window.BrindleDesktop.request(...args)),
        // Posts make(id) for the id of a request Brindle drops (its method is no text), then an ordinary
        // request: once that is answered, the first was handled. Gives Brindle's answer or "dropped".
        send: async (make) => {
            const pending = outcome(window.BrindleDesktop.request(0));
            window.dispatchEvent(new CustomEvent("brindle-envelope", { detail: make(JSON.parse(sent.at(-1)).id) }));
            const after = await outcome(window.BrindleDesktop.request("permission"));
            return { outcome: await Promise.race([pending, Promise.resolve("dropped")]), after };
        },
    };
    const run = async ({ id, code }) => {
        try {
            post("/harness/result", { id, value: (await new AsyncFunction(code)()) ?? null });
        } catch (error) {
            post("/harness/result", { id, error: String(error?.message ?? error) });
        }
    };
    (async () => {
        await post("/harness/hello", { doc, href: location.href, top: window === window.top });
        for (;;) {
            // Commands run side by side: one waiting for its request to time out blocks nothing.
            const response = await fetchFrom(`/harness/next?doc=${doc}`, { cache: "no-store" }).catch(() => null);
            if (response?.status === 200)
                run(await response.json());
            else if (!response)
                await new Promise((resolve) => setTimeout(resolve, 200));
        }
    })();
})();
