#include "platform/linux/files.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brindle::native {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
struct TemporaryFolder {
    std::string path
        = mkdtemp((std::filesystem::temp_directory_path() / "brindle-test-XXXXXX").string().data());
    ~TemporaryFolder() { std::filesystem::remove_all(path); }
    std::string operator/(std::string const& name) const { return path + "/" + name; }
};

class LinuxFiles : public ::testing::Test {
protected:
    TemporaryFolder folder;
    std::string const path = folder / "alarms.json";
};

// A write replaces the whole file or, cut short, leaves the old one whole with nothing beside
// it; what an interrupted write left is cleared by the next one, and only that.
TEST_F(LinuxFiles, AWriteReplacesTheWholeFileOrLeavesItAsItWas)
{
    EXPECT_FALSE(readFile(path));
    ASSERT_TRUE(writeFileAtomically(path, std::string("[1]\0", 4)));
    EXPECT_EQ(readFile(path), std::string("[1]\0", 4));
    ASSERT_TRUE(g_file_set_contents((folder / ".alarms.json.brindle-tmp").c_str(), "[2]", -1, nullptr));
    ASSERT_TRUE(g_file_set_contents((folder / "alarms.json~").c_str(), "[3]", -1, nullptr));
    // Writes beyond the first bytes of a file fail, as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit { 2, saved.rlim_max };
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(writeFileAtomically(path, std::string(4096, 'x')));
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(readFile(path), std::string("[1]\0", 4));
    std::vector<std::string> names;
    for (auto const& entry : std::filesystem::directory_iterator(folder.path))
        names.push_back(entry.path().filename());
    std::ranges::sort(names);
    EXPECT_EQ(names, (std::vector<std::string> { "alarms.json", "alarms.json~" }));

    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    std::string const large(200000, 'z');
    ASSERT_TRUE(writeFileAtomically(path, large));
    EXPECT_EQ(readFile(path), large);
    struct stat status { };
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u) << "the user's permissions are kept";
}

// A write through links replaces the file at the end of the chain and keeps every link; a
// chain that loops is written as the path itself; anything but a regular file is left alone.
TEST_F(LinuxFiles, AWriteGoesThroughLinksAndReplacesOnlyRegularFiles)
{
    std::string const store = folder / "synced/store.json";
    ASSERT_TRUE(createDirectories(folder / "synced"));
    ASSERT_EQ(symlink(store.c_str(), (folder / "link0").c_str()), 0);
    for (int i = 1; i <= 6; ++i)
        ASSERT_EQ(
            symlink(("link" + std::to_string(i - 1)).c_str(), (folder / "link" + std::to_string(i)).c_str()),
            0);
    ASSERT_TRUE(writeFileAtomically(folder / "link6", "[]"));
    EXPECT_EQ(readFile(store), "[]");
    EXPECT_TRUE(g_file_test((folder / "link6").c_str(), G_FILE_TEST_IS_SYMLINK));
    ASSERT_EQ(symlink("b", (folder / "a").c_str()), 0);
    ASSERT_EQ(symlink("a", (folder / "b").c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(folder / "a", "[1]"));
    EXPECT_EQ(readFile(folder / "a"), "[1]");

    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(symlink("pipe", path.c_str()), 0);
    EXPECT_FALSE(writeFileAtomically(path, "[]"));
    EXPECT_FALSE(writeFileAtomically(folder / "synced", "[]"));
    struct stat status { };
    ASSERT_EQ(lstat((folder / "pipe").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    // Reading takes regular files only, and never waits for a writer.
    EXPECT_FALSE(readFile(path));
    EXPECT_FALSE(readFile(folder / "synced"));
}

TEST(LinuxResources, SoundsAreFoundOnlyInsideTheSoundsFolderBesideTheExecutablesFolder)
{
    TemporaryFolder tree;
    ASSERT_TRUE(createDirectories(tree / "share/brindle/sounds/chime.wav"));
    ASSERT_TRUE(writeFileAtomically(tree / "share/brindle/sounds/bell.wav", "RIFF"));
    ASSERT_TRUE(writeFileAtomically(tree / "share/brindle/secret.wav", "RIFF"));
    std::string const executable = tree / "bin/brindle";
    EXPECT_EQ(findResource(executable, "bell", "wav"), tree / "share/brindle/sounds/bell.wav");
    ASSERT_EQ(chmod((tree / "share/brindle/sounds/bell.wav").c_str(), 0), 0);
    EXPECT_TRUE(findResource(executable, "bell", "wav")) << "a sound that cannot be read is not missing";
    for (auto [name, extension] : { std::pair { "chime", "wav" }, { "digital", "wav" }, { "bell", "mp3" },
             { "../secret", "wav" }, { "..", "wav" }, { "", "wav" }, { "bell", "wav/../../secret" } })
        EXPECT_FALSE(findResource(executable, name, extension)) << name << "." << extension;
}

} // namespace brindle::native
