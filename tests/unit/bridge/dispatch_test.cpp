#include "bridge/task_id.h"
#include "bridge_fixture.h"
#include "schedule/alarm_json.h"

#include <gtest/gtest.h>

namespace brindle::testing {
namespace {

using Dispatch = BridgeTest;

TEST(TaskId, IsTheFirstNonEmptyPieceOfTheKey)
{
    EXPECT_EQ(taskId("a/b/c"), "a");
    EXPECT_EQ(taskId("/a/b"), "a");
    EXPECT_EQ(taskId("//a//b"), "a");
    EXPECT_EQ(taskId("a"), "a");
    EXPECT_EQ(taskId("a/"), "a");
    EXPECT_EQ(taskId(""), "");
    EXPECT_EQ(taskId("///"), "");
}

TEST_F(Dispatch, DropsWhatFailsTheIntakeWithoutAnyReply)
{
    launch();
    post(R"({"id":1,"method":"stop"})", false);
    post(R"({"id":2,"method":"stop"})", true, "http");
    post(R"({"id":3,"method":"stop"})", true, "https", "127.0.0.1");
    post(R"({"id":"4","method":"stop"})");
    post(R"({"id":5.5,"method":"stop"})");
    post(R"({"id":6})");
    post("[]");
    EXPECT_TRUE(scripts().empty());
}

TEST_F(Dispatch, AnswersUnknownMethodsWithAnErrorAndValueTrue)
{
    launchRinging("t1/a");
    post(R"({"id":9,"method":"Stop"})");
    auto reply = onlyReply();
    EXPECT_EQ(reply.id, 9);
    EXPECT_EQ(reply.value, ReplyValue(true));
    EXPECT_EQ(reply.error, "Unknown desktop request");
    EXPECT_TRUE(controller.active()) << "a method spelt with another case stops nothing";
}

TEST_F(Dispatch, StopEndsTheRingingAndRepliesEvenWhenNothingRings)
{
    launchRinging("t1/a");
    post(R"({"id":1,"method":"stop"})");
    EXPECT_FALSE(controller.active());
    EXPECT_EQ(platform.playingSound(), nullptr);
    post(R"({"id":2,"method":"stop","data":null})");
    auto all = replies();
    ASSERT_EQ(all.size(), 2u);
    for (std::int64_t id : { 1, 2 }) {
        EXPECT_EQ(all[id - 1].id, id);
        EXPECT_EQ(all[id - 1].value, ReplyValue(true));
        EXPECT_EQ(all[id - 1].error, std::nullopt);
    }
}

TEST_F(Dispatch, ComparesMethodNamesExactly)
{
    launch();
    post(R"({"id":1,"method":"permission "})");
    post(R"({"id":2,"method":"PERMISSION"})");
    platform.deliverCompletions();
    auto all = replies();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].error, "Unknown desktop request");
    EXPECT_EQ(all[1].error, "Unknown desktop request");
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
    auto all = replies();
    ASSERT_EQ(all.size(), 4u);
    for (auto const& reply : all) {
        EXPECT_EQ(reply.value, ReplyValue(true));
        EXPECT_EQ(reply.error, std::nullopt);
    }
}

TEST_F(Dispatch, PreviewWhileAnAlarmRingsPlaysNothing)
{
    launchRinging("t1/a");
    auto ringing = platform.playingSound();
    auto soundsBefore = platform.sounds.size();
    post(R"({"id":5,"method":"preview","data":{"sound":"digital"}})");
    EXPECT_EQ(platform.sounds.size(), soundsBefore);
    EXPECT_EQ(platform.playingSound(), ringing);
    EXPECT_TRUE(ringing->looping);
    auto reply = onlyReply();
    EXPECT_EQ(reply.id, 5);
    EXPECT_EQ(reply.value, ReplyValue(true));
    EXPECT_EQ(reply.error, std::nullopt);
}

TEST_F(Dispatch, PermissionMapsTheStatusAndRepliesOnlyWhenThePlatformAnswers)
{
    struct Case {
        NotificationStatus status;
        char const* value;
    };
    launch();
    std::int64_t id = 0;
    for (auto const& c :
        { Case { NotificationStatus::authorized, "granted" }, Case { NotificationStatus::denied, "denied" },
            Case { NotificationStatus::notDetermined, "prompt" },
            Case { NotificationStatus::provisional, "prompt" } }) {
        platform.notificationStatus = c.status;
        ++id;
        post(R"({"id":)" + std::to_string(id) + R"(,"method":"permission"})");
        EXPECT_EQ(scripts().size(), static_cast<std::size_t>(id - 1))
            << "no reply before the platform answers";
        platform.deliverCompletions();
        auto all = replies();
        ASSERT_EQ(all.size(), static_cast<std::size_t>(id));
        EXPECT_EQ(all.back().id, id);
        EXPECT_EQ(all.back().value, ReplyValue(std::string(c.value)));
        EXPECT_EQ(all.back().error, std::nullopt);
    }
}

TEST_F(Dispatch, TwoPermissionRequestsGetTwoRepliesWithTheirOwnIds)
{
    launch();
    post(R"({"id":11,"method":"permission"})");
    post(R"({"id":12,"method":"permission"})");
    platform.deliverCompletions();
    auto all = replies();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].id, 11);
    EXPECT_EQ(all[1].id, 12);
}

TEST_F(Dispatch, EnableAsksForAuthorisationAndAnswersGrantedOrDenied)
{
    launch();
    int asked = platform.authorizationRequests;
    platform.authorizationGranted = true;
    post(R"({"id":1,"method":"enable"})");
    platform.deliverCompletions();
    platform.authorizationGranted = false;
    post(R"({"id":2,"method":"enable"})");
    platform.deliverCompletions();
    EXPECT_EQ(platform.authorizationRequests, asked + 2);
    auto all = replies();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].value, ReplyValue(std::string("granted")));
    EXPECT_EQ(all[1].value, ReplyValue(std::string("denied")));
    EXPECT_EQ(all[1].error, std::nullopt);
}

} // namespace
} // namespace brindle::testing
