// Hands Brindle envelopes of any form and size, as a hostile page could, and tells what became
// of each.
(() => {
    "use strict";
    const eventName = "brindle-envelope";
    const outcome = (promise) => promise.then((value) => ({ value }), (error) => ({ error: error.message }));

    // Starts a request that Brindle drops unanswered (its method is no text) and gives its id. A
    // hand-made envelope that carries this id settles the request if Brindle answers it.
    const reserveId = () => {
        let id = null;
        const listen = (event) => { id = JSON.parse(event.detail).id; };
        window.addEventListener(eventName, listen, { once: true });
        const promise = window.BrindleDesktop.request(0);
        window.removeEventListener(eventName, listen);
        return { id, outcome: outcome(promise) };
    };

    const post = (text) => window.dispatchEvent(new CustomEvent(eventName, { detail: text }));

    window.hostile = {
        outcome,
        // Posts the text make(id) gives, then an ordinary request. Brindle handles the page's
        // messages one after another, so once the ordinary request is answered the hand-made one
        // has been handled too: its outcome is then Brindle's answer, or "dropped".
        send: async (make) => {
            const reserved = reserveId();
            post(make(reserved.id));
            const after = await outcome(window.BrindleDesktop.request("permission"));
            const answer = await Promise.race([reserved.outcome, Promise.resolve("dropped")]);
            return { outcome: answer, after };
        },
        // depth copies of open, then inner, then depth copies of close.
        nested: (depth, open, inner, close) => open.repeat(depth) + inner + close.repeat(depth),
    };
})();
