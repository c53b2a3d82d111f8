#include "platform/linux/files.h"
#include "temporary_folder.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace brindle::native {
namespace {

using testing::TemporaryFolder;

class LinuxFileFaults : public ::testing::Test {
protected:
    TemporaryFolder folder;
    std::string const path = folder / "alarms.json";
};

std::vector<std::string> entries(std::string const& folder)
{
    std::vector<std::string> names;
    g_autoptr(GDir) directory = g_dir_open(folder.c_str(), 0, nullptr);
    if (!directory)
        return names;
    while (char const* name = g_dir_read_name(directory))
        names.emplace_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

// Makes every write beyond the first `bytes` of a file fail, as a full disk does, for as long
// as it lives. The kernel would stop the process with SIGXFSZ; that signal is ignored meanwhile.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_ {};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(LinuxFileFaults, WriteCutShortLeavesTheOldFileWholeAndNothingBeside)
{
    std::string const old = R"([{"key":"t1","at":1,"title":"Old","sound":"bell","mode":"alarm"}])";
    ASSERT_TRUE(writeFileAtomically(path, old));

    {
        FileSizeLimit limit(16);
        EXPECT_FALSE(writeFileAtomically(path, std::string(4096, 'x')));
    }
    EXPECT_EQ(readFile(path), old);
    EXPECT_EQ(entries(folder.path()), std::vector<std::string> { "alarms.json" });

    // The next write that fits goes through.
    ASSERT_TRUE(writeFileAtomically(path, "[]"));
    EXPECT_EQ(readFile(path), "[]");
    EXPECT_EQ(entries(folder.path()), std::vector<std::string> { "alarms.json" });
}

TEST_F(LinuxFileFaults, OnlyRegularFilesAreReplacedAlsoThroughALink)
{
    std::string const pipe = folder / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    ASSERT_TRUE(createDirectories(folder / "folder"));
    std::vector<std::string> targets { pipe, folder / "folder" };
    // A device node of its own, so that a fault replaces nothing outside the test's folder; only
    // root may make one.
    std::string const device = folder / "null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        targets.push_back(device);

    for (std::string const& target : targets) {
        std::string const link = folder / "alarms.json";
        ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
        EXPECT_FALSE(writeFileAtomically(link, "[]")) << target;
        EXPECT_FALSE(writeFileAtomically(target, "[]")) << target;
        struct stat status { };
        ASSERT_EQ(lstat(target.c_str(), &status), 0);
        EXPECT_FALSE(S_ISREG(status.st_mode)) << target;
        EXPECT_TRUE(g_file_test(link.c_str(), G_FILE_TEST_IS_SYMLINK)) << target;
        ASSERT_EQ(unlink(link.c_str()), 0);
    }
    EXPECT_EQ(entries(folder.path()).size(), targets.size());
}

TEST_F(LinuxFileFaults, WhatAnInterruptedWriteLeftIsClearedByTheNextWriteButNothingElseIs)
{
    ASSERT_TRUE(writeFileAtomically(path, "[1]"));
    // A kill between naming the new content and renaming it leaves this file.
    std::string const leftover = folder / ".alarms.json.brindle-tmp";
    ASSERT_TRUE(g_file_set_contents(leftover.c_str(), "[2]", -1, nullptr));

    {
        FileSizeLimit limit(1);
        EXPECT_FALSE(writeFileAtomically(path, "[3333]"));
    }
    EXPECT_EQ(entries(folder.path()), std::vector<std::string> { "alarms.json" });
    EXPECT_EQ(readFile(path), "[1]");

    ASSERT_TRUE(g_file_set_contents(leftover.c_str(), "[2]", -1, nullptr));
    ASSERT_TRUE(writeFileAtomically(path, "[4]"));
    EXPECT_EQ(entries(folder.path()), std::vector<std::string> { "alarms.json" });
    EXPECT_EQ(readFile(path), "[4]");

    // Names a careless clean-up could take for a temporary file of the store.
    std::vector<std::string> const others { "alarms.json.backup", "alarms.json.ABC123", ".alarms.json.swp",
        "alarms.json~" };
    for (auto const& name : others)
        ASSERT_TRUE(writeFileAtomically(folder / name, name));

    {
        FileSizeLimit limit(0);
        EXPECT_FALSE(writeFileAtomically(path, "[1]"));
    }
    for (auto const& name : others)
        EXPECT_EQ(readFile(folder / name), name);
    EXPECT_EQ(entries(folder.path()).size(), others.size() + 1);
}

TEST_F(LinuxFileFaults, ReplacedFileKeepsItsPermissionsAndNewOnesAreWritableByTheOwnerOnly)
{
    ASSERT_TRUE(writeFileAtomically(path, "[]"));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);

    ASSERT_TRUE(writeFileAtomically(path, "[1]"));
    struct stat status { };
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    // A new file is readable and writable by its owner and writable by nobody else.
    ASSERT_TRUE(writeFileAtomically(folder / "new.json", "[]"));
    ASSERT_EQ(stat((folder / "new.json").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0600, 0600u);
    EXPECT_EQ(status.st_mode & 0022, 0u);
}

TEST_F(LinuxFileFaults, OnlyRegularFilesAreReadAndNothingWaitsForAWriter)
{
    std::string const empty = folder / "empty";
    ASSERT_TRUE(writeFileAtomically(empty, ""));
    EXPECT_EQ(readFile(empty), "");

    // Opening a named pipe for reading would wait for a writer that never comes.
    std::string const pipe = folder / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    EXPECT_FALSE(readFile(pipe));

    // A device behind a link would give bytes without end.
    std::string const endless = folder / "endless";
    ASSERT_EQ(symlink("/dev/zero", endless.c_str()), 0);
    EXPECT_FALSE(readFile(endless));

    EXPECT_FALSE(readFile(folder.path()));

    // A file larger than one read comes back whole.
    std::string large(200000, 'a');
    large.back() = 'z';
    ASSERT_TRUE(writeFileAtomically(folder / "large", large));
    EXPECT_EQ(readFile(folder / "large"), large);
}

} // namespace
} // namespace brindle::native
