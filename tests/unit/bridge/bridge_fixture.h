#pragma once

#include "app/app_delegate.h"
#include "platform/fake/fake_platform.h"

#include <gtest/gtest.h>
#include <optional>
#include <rapidjson/document.h>
#include <string>
#include <vector>

namespace brindle::testing {

inline constexpr char const* testHost = "planner.example";
inline constexpr char const* storePath = "/home/test/.local/share/Brindle/alarms.json";

// One reply as the page would receive it, read back out of the evaluated reply script.
struct PageReply {
    std::int64_t id = 0;
    ReplyValue value;
    std::optional<std::string> error;
};

// The JSON object inside a reply script; fails the test when the script does not have the
// reply script's exact frame or its JSON does not parse.
inline std::optional<PageReply> parseReplyScript(std::string const& script)
{
    std::string const start = "(() => {const r=";
    std::string const end = ";window.__brindleReply?.(r.id, r.value, r.error);})()";
    if (!script.starts_with(start) || !script.ends_with(end) || script.size() < start.size() + end.size()) {
        ADD_FAILURE() << "not a reply script: " << script;
        return std::nullopt;
    }
    std::string json = script.substr(start.size(), script.size() - start.size() - end.size());
    rapidjson::Document object;
    object.Parse<rapidjson::kParseValidateEncodingFlag>(json.data(), json.size());
    if (object.HasParseError() || !object.IsObject() || object.MemberCount() != 3 || !object.HasMember("id")
        || !object["id"].IsInt64() || !object.HasMember("value") || !object.HasMember("error")) {
        ADD_FAILURE() << "not a reply object: " << json;
        return std::nullopt;
    }
    PageReply reply;
    reply.id = object["id"].GetInt64();
    auto const& value = object["value"];
    if (value.IsBool())
        reply.value = value.GetBool();
    else if (value.IsString())
        reply.value = std::string(value.GetString(), value.GetStringLength());
    else
        ADD_FAILURE() << "unexpected reply value: " << json;
    auto const& error = object["error"];
    if (error.IsString())
        reply.error = std::string(error.GetString(), error.GetStringLength());
    else if (!error.IsNull())
        ADD_FAILURE() << "unexpected reply error: " << json;
    return reply;
}

// A launched controller on the fake platform, with helpers to post envelopes as the planner's
// main frame and to read the replies.
class BridgeTest : public ::testing::Test {
protected:
    fake::FakePlatform platform;
    AppDelegate controller { platform, testHost };

    // Launches with the given store file, if any, and settles the launch's own authorisation
    // request so that later completions belong to the test.
    void launch(std::optional<std::string> store = std::nullopt)
    {
        if (store) {
            platform.directories.insert("/home/test/.local/share/Brindle");
            platform.files[storePath] = *store;
        }
        controller.applicationDidFinishLaunching();
        platform.deliverCompletions();
    }

    // Launches with one "alarm" alarm of the given key due now and lets the first tick ring it.
    void launchRinging(std::string const& key)
    {
        launch(R"([{"key":")" + key + R"(","at":)" + number(platform.nowMs())
            + R"(,"title":"Wake","sound":"chime","mode":"alarm"}])");
        platform.advance(1000);
        ASSERT_TRUE(controller.active().has_value());
    }

    void post(std::string const& body, bool isMainFrame = true, std::string const& protocol = "https",
        std::string const& host = testHost)
    {
        controller.didReceiveScriptMessage({ isMainFrame, protocol, host, body });
    }

    std::vector<std::string> const& scripts() const { return platform.webViews.at(0)->evaluatedScripts; }

    std::vector<PageReply> replies() const
    {
        std::vector<PageReply> all;
        for (auto const& script : scripts()) {
            if (auto reply = parseReplyScript(script))
                all.push_back(*reply);
        }
        return all;
    }

    // The one reply expected since the test began.
    PageReply onlyReply() const
    {
        auto all = replies();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? PageReply {} : all.back();
    }

    std::optional<std::string> storedFile() const
    {
        auto it = platform.files.find(storePath);
        return it == platform.files.end() ? std::nullopt : std::optional(it->second);
    }

    static std::string number(double value)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g", value);
        return text;
    }
};

} // namespace brindle::testing
