// Runs a test's commands (bodies of async functions returning JSON) in this document, with
// built-ins held from load so that a test may replace them in the page.
(() => {
    "use strict";
    const doc = `${Date.now().toString(36)}-${Math.random().toString(36).slice(2)}`;
    const AsyncFunction = (async () => {}).constructor;
    const stringify = JSON.stringify;
    const fetchFrom = window.fetch.bind(window);
    const later = window.setTimeout.bind(window);
    const PromiseType = Promise;
    const post = (path, body) => fetchFrom(path, { method: "POST", cache: "no-store", body: stringify(body) });
    const pause = (ms) => new PromiseType((resolve) => later(resolve, ms));

    // Pages can report anything to the test, also from inside frames that have no driver.
    window.report = (name, value) => post("/report", { name, value, href: location.href });

    const run = async (command) => {
        try {
            const value = await new AsyncFunction(command.code)();
            await post("/harness/result", { id: command.id, value: value === undefined ? null : value });
        } catch (error) {
            await post("/harness/result", { id: command.id, error: String(error && error.message || error) });
        }
    };

    const loop = async () => {
        await post("/harness/hello", { doc, href: location.href, top: window === window.top });
        for (;;) {
            let response;
            try {
                response = await fetchFrom(`/harness/next?doc=${doc}`, { cache: "no-store" });
            } catch (error) {
                await pause(200);
                continue;
            }
            if (response.status !== 200)
                continue;
            // Commands run side by side, so a request that waits for its time-out blocks nothing.
            run(await response.json());
        }
    };
    loop();
})();
