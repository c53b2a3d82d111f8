#include "bridge/task_id.h"
#include "bridge_fixture.h"

#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using Dispatch = BridgeTest;

TEST(TaskId, IsTheFirstNonEmptyPieceOfTheKey)
{
    for (auto [key, task] : { std::pair { "a/b/c", "a" }, { "/a/b", "a" }, { "//a//b", "a" }, { "a", "a" },
             { "a/", "a" }, { "", "" }, { "///", "" } })
        EXPECT_EQ(taskId(key), task) << key;
}

TEST_F(Dispatch, DropsWhatFailsTheIntakeWithoutAnyReply)
{
    launch();
    post(R"({"id":1,"method":"stop"})", false);
    post(R"({"id":2,"method":"stop"})", true, "https", "127.0.0.1");
    post(R"({"id":5.5,"method":"stop"})");
    EXPECT_TRUE(scripts().empty());
}

TEST_F(Dispatch, AnswersUnknownMethodsWithAnErrorAndStopsEvenWhenNothingRings)
{
    launchRinging("t1/a");
    for (auto method : { "Stop", "permission ", "PERMISSION" })
        post(R"({"id":9,"method":")" + std::string(method) + "\"}");
    platform.deliverCompletions();
    for (auto const& reply : replies()) {
        EXPECT_EQ(reply.id, 9);
        EXPECT_EQ(reply.value, ReplyValue(true));
        EXPECT_EQ(reply.error, "Unknown desktop request");
    }
    ASSERT_EQ(replies().size(), 3u);
    EXPECT_TRUE(controller.active()) << "a method spelt with another case stops nothing";

    post(R"({"id":1,"method":"stop"})");
    EXPECT_FALSE(controller.active());
    EXPECT_EQ(platform.playingSound(), nullptr);
    post(R"({"id":2,"method":"stop","data":null})");
    auto all = replies();
    ASSERT_EQ(all.size(), 5u);
    for (std::int64_t id : { 1, 2 }) {
        EXPECT_EQ(all[2 + id].id, id);
        EXPECT_EQ(all[2 + id].value, ReplyValue(true));
        EXPECT_EQ(all[2 + id].error, std::nullopt);
    }
}

TEST_F(Dispatch, PreviewPlaysTheNamedSoundOnceOrElseTheBell)
{
    launch();
    post(R"({"id":1,"method":"preview","data":{"sound":"chime"}})");
    post(R"({"id":2,"method":"preview"})");
    post(R"({"id":3,"method":"preview","data":{"sound":7}})");
    post(R"({"id":4,"method":"preview","data":{"sound":null}})");
    ASSERT_EQ(platform.sounds.size(), 4u);
    EXPECT_EQ(platform.sounds[0]->path, "/resources/chime.wav");
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(platform.sounds[i]->path, "/resources/bell.wav") << i;
    for (auto const& sound : platform.sounds)
        EXPECT_FALSE(sound->looping);
    for (auto const& reply : replies())
        EXPECT_TRUE(reply.value == ReplyValue(true) && !reply.error);
    EXPECT_EQ(replies().size(), 4u);
}

TEST_F(Dispatch, PermissionAndEnableReplyOnlyWhenThePlatformAnswers)
{
    launch();
    std::int64_t id = 0;
    for (auto [status, value] : { std::pair { NotificationStatus::authorized, "granted" },
             { NotificationStatus::denied, "denied" }, { NotificationStatus::notDetermined, "prompt" },
             { NotificationStatus::provisional, "prompt" } }) {
        platform.notificationStatus = status;
        ++id;
        post(R"({"id":)" + std::to_string(id) + R"(,"method":"permission"})");
        EXPECT_EQ(scripts().size(), static_cast<std::size_t>(id - 1))
            << "no reply before the platform answers";
        platform.deliverCompletions();
        auto all = replies();
        ASSERT_EQ(all.size(), static_cast<std::size_t>(id));
        EXPECT_EQ(all.back().id, id);
        EXPECT_EQ(all.back().value, ReplyValue(std::string(value)));
        EXPECT_EQ(all.back().error, std::nullopt);
    }

    // Two requests in flight get two replies with their own ids.
    post(R"({"id":11,"method":"permission"})");
    post(R"({"id":12,"method":"permission"})");
    platform.deliverCompletions();
    auto all = replies();
    ASSERT_EQ(all.size(), 6u);
    EXPECT_EQ(all[4].id, 11);
    EXPECT_EQ(all[5].id, 12);

    // "enable" asks for authorisation each time and answers granted or denied.
    int asked = platform.authorizationRequests;
    for (bool granted : { true, false }) {
        platform.authorizationGranted = granted;
        post(R"({"id":13,"method":"enable"})");
        platform.deliverCompletions();
    }
    EXPECT_EQ(platform.authorizationRequests, asked + 2);
    all = replies();
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(all[6].value, ReplyValue(std::string("granted")));
    EXPECT_EQ(all[7].value, ReplyValue(std::string("denied")));
    EXPECT_EQ(all[7].error, std::nullopt);
}

} // namespace
} // namespace brindle::testing
