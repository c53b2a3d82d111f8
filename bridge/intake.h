#pragma once

#include "platform/platform.h"
#include "text/json.h"

#include <cstdint>
#include <optional>
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

    JsonDocument body_;
    RequestData const* data_ = nullptr;
    RequestData emptyData_ { rapidjson::kObjectType };
};

// What a reply carries as its value: true for done, a text for the permission answers.
using ReplyValue = std::variant<bool, std::string>;

// Runs the intake checks in order; none when the message is to be dropped without a reply.
std::optional<BridgeRequest> readRequest(ScriptMessage const& message, std::string_view appHost);

} // namespace brindle
