#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <rapidjson/document.h>
#include <string>
#include <string_view>
#include <variant>

namespace brindle {

// The parameters of one request: always a JSON object (an empty one when the page sent none).
using RequestData = rapidjson::Value;

// One request from the page that passed every intake check. It owns the parsed body, so `data`
// stays valid as long as the request does.
struct BridgeRequest {
    std::int64_t id = 0;
    std::string method;
    RequestData const& data() const { return data_ ? *data_ : emptyData_; }

    rapidjson::Document body_;
    RequestData const* data_ = nullptr;
    RequestData emptyData_ { rapidjson::kObjectType };
};

// What a reply carries as its value: true for done, a text for the permission answers.
using ReplyValue = std::variant<bool, std::string>;

// The member of a JSON object with the given name, or none. A name given twice counts with its
// last value, as the page's own JSON.parse reads it.
RequestData const* findMember(RequestData const& object, std::string_view name);

// Runs the intake checks in order; none when the message is to be dropped without a reply.
std::optional<BridgeRequest> readRequest(ScriptMessage const& message, std::string_view appHost);

// JSON.stringify writes a lone UTF-16 surrogate of a page string as an escape such as
// "\ud800", which has no UTF-8 form. This gives the JSON text with every such escape replaced
// by "\ufffd", and with proper surrogate pairs and everything else as it was.
std::string mendLoneSurrogates(std::string_view json);

} // namespace brindle
