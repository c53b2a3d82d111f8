// Helpers for bridge tests, run in the planner page next to the page driver.
(() => {
    "use strict";
    const envelopeEvent = "brindle-envelope";

    // The envelopes the page script sends, as parsed objects, in order.
    const sent = [];
    window.addEventListener(envelopeEvent, (event) => {
        try {
            sent.push(JSON.parse(event.detail));
        } catch (error) {
            sent.push({ unreadable: String(event.detail) });
        }
    });

    const outcome = (promise) => promise.then((value) => ({ value }), (error) => ({ error: error.message }));

    window.bridgeTools = {
        sent,
        outcome,
        // Calls request() and gives its outcome, {value} or {error}, when it settles.
        call: (...args) => outcome(window.BrindleDesktop.request(...args)),
        // A request Brindle drops (its method is no text): any reply with its id becomes its outcome.
        pending: () => {
            const promise = window.BrindleDesktop.request(42);
            return { id: sent[sent.length - 1].id, outcome: outcome(promise) };
        },
        // Hands Brindle an envelope exactly as the page script would, but of any form.
        post: (envelope) => window.dispatchEvent(new CustomEvent(envelopeEvent,
            { detail: typeof envelope === "string" ? envelope : JSON.stringify(envelope) })),
        sleep: (ms) => new Promise((resolve) => setTimeout(resolve, ms)),
    };
})();
