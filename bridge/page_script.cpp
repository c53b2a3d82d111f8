#include "bridge/page_script.h"

#include "platform/platform.h"
#include "text/json.h"

namespace brindle {

namespace {

// The script runs at document start, before any of the page's own scripts, and takes hold of
// every built-in it uses right then. Whatever the page later does to JSON, Map, Promise,
// Reflect, the event classes or their prototypes cannot reach into the bridge, and the two
// globals can be neither replaced nor deleted. Descriptor, option, entry and envelope objects
// have no prototype, so that nothing the page adds to Object.prototype is read from them.
constexpr std::string_view scriptBeforeHost = R"JS((() => {
"use strict";
const appHost = )JS";

constexpr std::string_view scriptBeforeEvent = R"JS(;
if (location.protocol !== "https:" || location.hostname !== appHost)
    return;
const eventName = )JS";

constexpr std::string_view scriptRest = R"JS(;
const win = window;
const apply = Reflect.apply;
const defineProperty = Object.defineProperty;
const freeze = Object.freeze;
const stringify = JSON.stringify;
const PromiseType = Promise;
const ErrorType = Error;
const EventType = CustomEvent;
const dispatchEvent = EventTarget.prototype.dispatchEvent;
const setTimer = win.setTimeout;
const pending = new Map();
const mapGet = Map.prototype.get;
const mapSet = Map.prototype.set;
const mapDelete = Map.prototype.delete;
let seq = 0;

const take = (id) => {
    const entry = apply(mapGet, pending, [id]);
    if (entry !== undefined)
        apply(mapDelete, pending, [id]);
    return entry;
};

// Data that JSON cannot hold (a cycle, a BigInt) is left out of the envelope, and Brindle reads
// a request without data as one with empty data: a schedule is then refused with "Invalid alarm
// schedule" and every request still gets its one answer. A method that cannot be written is
// left out too, and Brindle drops such an envelope as it drops any without a method.
const envelope = (id, method, data) => {
    try {
        return stringify({ __proto__: null, id, method, data });
    } catch {
    }
    try {
        return stringify({ __proto__: null, id, method });
    } catch {
    }
    return stringify({ __proto__: null, id });
};

const reply = freeze(function (id, result, error) {
    const entry = take(id);
    if (entry === undefined)
        return;
    if (error)
        entry.reject(new ErrorType(error));
    else
        entry.resolve(result);
});

const bridge = freeze({
    request(method, data = {}) {
        return new PromiseType((resolve, reject) => {
            const id = ++seq;
            apply(mapSet, pending, [id, { __proto__: null, resolve, reject }]);
            try {
                const detail = envelope(id, method, data);
                apply(dispatchEvent, win, [new EventType(eventName, { __proto__: null, detail })]);
            } catch (error) {
                take(id);
                throw error;
            }
            apply(setTimer, win, [() => {
                if (take(id) !== undefined)
                    reject(new ErrorType("Desktop request timed out"));
            }, 10000]);
        });
    },
});
freeze(bridge.request);

defineProperty(win, "__brindleReply",
    { __proto__: null, value: reply, writable: false, enumerable: false, configurable: false });
defineProperty(win, "BrindleDesktop",
    { __proto__: null, value: bridge, writable: false, enumerable: false, configurable: false });
})();
)JS";

} // namespace

std::string pageScript(std::string_view appHost)
{
    // A host that cannot be written as a string literal becomes null, which no page's host
    // equals, so the script then defines nothing.
    std::string host = scriptStringLiteral(appHost).value_or("null");
    std::string event = scriptStringLiteral(pageEnvelopeEvent).value_or("null");
    std::string script;
    script.reserve(
        scriptBeforeHost.size() + host.size() + scriptBeforeEvent.size() + event.size() + scriptRest.size());
    script.append(scriptBeforeHost).append(host).append(scriptBeforeEvent).append(event).append(scriptRest);
    return script;
}

} // namespace brindle
