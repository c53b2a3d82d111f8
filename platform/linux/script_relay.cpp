#include "platform/linux/script_relay.h"

#include "text/json.h"

namespace brindle::native {

// The relay runs in a world of its own: the page can replace JSON, location or postMessage in
// its world, but not in this one. Only a string detail, and none longer than the bound, is
// passed on; the page script sends the envelope as JSON text because objects do not cross
// between worlds, and the bound holds before the text is copied out of the page. Lone UTF-16
// surrogates become U+FFFD here, since they have no UTF-8 form to reach Brindle in.
std::string relayScript(std::string_view handlerName)
{
    // Both are Brindle's own ASCII names; a name that could not be written would give null.
    std::string const eventName = scriptStringLiteral(pageEnvelopeEvent).value_or("null");
    std::string const handler = scriptStringLiteral(handlerName).value_or("null");
    return "(() => {\n"
           "  const handler = window.webkit.messageHandlers["
        + handler
        + "];\n"
          "  const stringify = JSON.stringify;\n"
          "  window.addEventListener("
        + eventName
        + ", (event) => {\n"
          "    const detail = event.detail;\n"
          "    if (typeof detail !== 'string' || detail.length > "
        + std::to_string(maximumEnvelopeLength)
        + ")\n"
          "      return;\n"
          "    const body = detail.toWellFormed();\n"
          "    handler.postMessage(stringify({\n"
          "      isMainFrame: window === window.top,\n"
          "      protocol: location.protocol,\n"
          "      host: location.hostname,\n"
          "      body,\n"
          "    }));\n"
          "  }, true);\n"
          "})();\n";
}

std::optional<ScriptMessage> readRelayMessage(std::string_view json)
{
    JsonDocument parsed;
    if (!parsed.parse(json) || !parsed.root().IsObject())
        return std::nullopt;
    auto const& document = parsed.root();

    auto const* isMainFrame = findMember(document, "isMainFrame");
    auto const* protocol = findMember(document, "protocol");
    auto const* host = findMember(document, "host");
    auto const* body = findMember(document, "body");
    if (!isMainFrame || !isMainFrame->IsBool() || !protocol || !protocol->IsString() || !host
        || !host->IsString() || !body || !body->IsString())
        return std::nullopt;

    ScriptMessage message;
    message.isMainFrame = isMainFrame->GetBool();
    message.protocol.assign(protocol->GetString(), protocol->GetStringLength());
    // location.protocol ends with its colon ("https:"); Brindle compares the bare scheme.
    if (!message.protocol.empty() && message.protocol.back() == ':')
        message.protocol.pop_back();
    message.host.assign(host->GetString(), host->GetStringLength());
    message.body.assign(body->GetString(), body->GetStringLength());
    return message;
}

} // namespace brindle::native
