#include "schedule_fixture.h"

namespace brindle::testing {
namespace {

using StoreTest = ScheduleTest;

TEST_F(StoreTest, LoadsTheStoredListAsItStandsAndCreatesTheFolder)
{
    std::vector<Alarm> stored { alarm("t1", now() - 86400000.0), alarm("t1", now() + 1.5, "alarm"),
        alarm("t1", now() + 1.5, "alarm"), alarm("t2", now() + 60000, "Alarm") };
    load(stored);
    EXPECT_EQ(controller->alarms(), stored);
    EXPECT_TRUE(platform.directories.contains(storeFolder));
    EXPECT_EQ(controller->storeURL(), std::optional<std::string>(storePath));
}

TEST_F(StoreTest, AnythingButAWholeListOfAlarmsGivesAnEmptySchedule)
{
    std::string const good = R"({"key":"a","at":1,"title":"t","sound":"s","mode":"m"})";
    std::vector<std::optional<std::string>> const contents {
        std::nullopt, // missing
        "",
        "{}",
        R"({"alarms":[)" + good + "]}",
        "[" + good + R"(,{"key":"b","at":1,"title":"t","sound":"s"}])",
        "[" + good + ",\"at\"]",
        "[" + good + "] trailing",
    };
    for (auto const& content : contents) {
        SCOPED_TRACE(content.value_or("<missing>"));
        platform.files.erase(storePath);
        if (content)
            platform.files[storePath] = *content;
        controller.emplace(platform, "localhost");
        controller->loadAlarms();
        EXPECT_TRUE(controller->alarms().empty());
        // The bad file stays until the next save replaces it.
        EXPECT_EQ(platform.files.contains(storePath), content.has_value());
    }

    platform.files[storePath] = "[" + good + "]";
    platform.failingReads.insert(storePath);
    controller.emplace(platform, "localhost");
    controller->loadAlarms();
    EXPECT_TRUE(controller->alarms().empty());
}

TEST_F(StoreTest, SaveWritesTheListWithoutWhatWasReadButNotKept)
{
    platform.files[storePath]
        = R"([{"key":"t1","at":1765000000000.5,"title":"x","sound":"bell","mode":"alarm","baseKey":null,"note":[1]}])";
    controller->loadAlarms();
    controller->save();
    EXPECT_EQ(platform.files[storePath],
        R"([{"key":"t1","at":1765000000000.5,"title":"x","sound":"bell","mode":"alarm"}])");

    // An empty list is an empty array, in a folder made for it.
    platform.files.clear();
    platform.directories.clear();
    controller.emplace(platform, "localhost");
    controller->save();
    EXPECT_EQ(platform.files[storePath], "[]");
    EXPECT_TRUE(platform.directories.contains(storeFolder));
}

TEST_F(StoreTest, AFailedWriteLeavesThePreviousFileWholeAndTheNextSaveTriesAgain)
{
    std::vector<Alarm> const before { alarm("t1", now() + 60000) };
    load(before);
    controller->save();
    auto const previous = platform.files[storePath];

    // A later delivery saves the pruned list; the write fails.
    platform.setNow(now() + 60000);
    platform.failingWrites.insert(storePath);
    controller->tick();
    ASSERT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.files[storePath], previous);
    EXPECT_EQ(controller->alarms(), before);

    platform.failingWrites.clear();
    controller->save();
    EXPECT_EQ(storedAlarms(), std::optional(before));
    EXPECT_FALSE(controller->hasActivity());

    // Every save brings the activity up to date, even when the write fails.
    platform.failAllWrites = true;
    int const writes = platform.writeCount;
    controller.emplace(platform, "localhost");
    load({ alarm("t2", now() + 60000) });
    EXPECT_FALSE(controller->hasActivity());
    controller->save();
    EXPECT_TRUE(controller->hasActivity());
    EXPECT_EQ(platform.writeCount, writes);
}

TEST_F(StoreTest, AFolderThatCannotBeMadeOrIsUnknownOnlyLosesTheWrite)
{
    // A plain file where the folder should be.
    platform.files[storeFolder] = "not a folder";
    controller->save();
    controller->loadAlarms();
    EXPECT_FALSE(platform.files.contains(storePath));
    EXPECT_TRUE(controller->alarms().empty());

    // Without a data folder nothing is read or written.
    platform.files.clear();
    platform.directories.clear();
    platform.writeCount = 0;
    platform.dataDirectory.reset();
    EXPECT_FALSE(controller->storeURL());
    controller->loadAlarms();
    controller->save();
    EXPECT_EQ(platform.writeCount, 0);
    EXPECT_TRUE(platform.files.empty());
    EXPECT_TRUE(platform.directories.empty());
}

} // namespace
} // namespace brindle::testing
