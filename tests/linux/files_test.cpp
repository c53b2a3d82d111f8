#include "platform/linux/files.h"
#include "temporary_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle::native {
namespace {

using testing::TemporaryFolder;

class LinuxFiles : public ::testing::Test {
protected:
    TemporaryFolder folder;
    std::string const path = folder / "alarms.json";
};

std::string linkTarget(std::string const& path)
{
    g_autofree gchar* target = g_file_read_link(path.c_str(), nullptr);
    return target ? target : "";
}

TEST_F(LinuxFiles, WriteReplacesWholeFileAndReadGivesItBack)
{
    EXPECT_FALSE(readFile(path));

    ASSERT_TRUE(writeFileAtomically(path, "[1,2,3]"));
    EXPECT_EQ(readFile(path), "[1,2,3]");
    ASSERT_TRUE(writeFileAtomically(path, "[]"));
    EXPECT_EQ(readFile(path), "[]");

    // Bytes are kept as they are, NUL included.
    std::string const binary("a\0b", 3);
    ASSERT_TRUE(writeFileAtomically(path, binary));
    EXPECT_EQ(readFile(path), binary);
}

TEST_F(LinuxFiles, FailedWriteOrFolderReportsFailureAndLeavesNothingBehind)
{
    ASSERT_TRUE(writeFileAtomically(folder / "plain", "x"));
    // A file where a folder should be: no permission trick, so it fails for root too.
    EXPECT_FALSE(writeFileAtomically(folder / "plain/alarms.json", "[]"));
    EXPECT_FALSE(writeFileAtomically(folder / "missing/alarms.json", "[]"));
    EXPECT_FALSE(g_file_test((folder / "missing").c_str(), G_FILE_TEST_EXISTS));
    EXPECT_EQ(readFile(folder / "plain"), "x");

    std::string const nested = folder / "one/two/Brindle";
    EXPECT_TRUE(createDirectories(nested));
    EXPECT_TRUE(g_file_test(nested.c_str(), G_FILE_TEST_IS_DIR));
    EXPECT_TRUE(createDirectories(nested)); // already there
    EXPECT_FALSE(createDirectories(folder / "plain"));
    EXPECT_FALSE(createDirectories(folder / "plain/below"));
    EXPECT_FALSE(createDirectories(""));
}

TEST_F(LinuxFiles, WriteThroughSymbolicLinksKeepsTheLinks)
{
    ASSERT_EQ(g_mkdir((folder / "synced").c_str(), 0755), 0);
    std::string const target = folder / "synced/alarms.json";
    ASSERT_TRUE(writeFileAtomically(target, "old"));
    std::string const link = folder / "alarms.json";
    ASSERT_EQ(symlink("synced/alarms.json", link.c_str()), 0);

    ASSERT_TRUE(writeFileAtomically(link, "new"));
    EXPECT_TRUE(g_file_test(link.c_str(), G_FILE_TEST_IS_SYMLINK));
    EXPECT_EQ(linkTarget(link), "synced/alarms.json");
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(readFile(link), "new");

    // second -> first -> absolute path of a file that does not exist yet.
    std::string const store = folder / "store.json";
    ASSERT_EQ(symlink(store.c_str(), (folder / "first").c_str()), 0);
    ASSERT_EQ(symlink("first", (folder / "second").c_str()), 0);
    ASSERT_TRUE(writeFileAtomically(folder / "second", "[]"));
    EXPECT_TRUE(g_file_test((folder / "second").c_str(), G_FILE_TEST_IS_SYMLINK));
    EXPECT_TRUE(g_file_test((folder / "first").c_str(), G_FILE_TEST_IS_SYMLINK));
    EXPECT_EQ(readFile(store), "[]");

    // A loop of links is written as the path itself.
    ASSERT_EQ(symlink("b", (folder / "a").c_str()), 0);
    ASSERT_EQ(symlink("a", (folder / "b").c_str()), 0);
    EXPECT_EQ(resolveSymbolicLinks(folder / "a"), folder / "a");
    ASSERT_TRUE(writeFileAtomically(folder / "a", "[]"));
    EXPECT_EQ(readFile(folder / "a"), "[]");
}

TEST(LinuxResources, SoundsAreFoundOnlyInsideTheSoundsFolderBesideTheExecutablesFolder)
{
    TemporaryFolder tree;
    ASSERT_TRUE(createDirectories(tree / "bin"));
    ASSERT_TRUE(createDirectories(tree / "share/brindle/sounds/chime.wav"));
    ASSERT_TRUE(writeFileAtomically(tree / "share/brindle/sounds/bell.wav", "RIFF"));
    std::string const executable = tree / "bin/brindle";

    EXPECT_EQ(findResource(executable, "bell", "wav"), tree / "share/brindle/sounds/bell.wav");
    ASSERT_EQ(chmod((tree / "share/brindle/sounds/bell.wav").c_str(), 0), 0);
    EXPECT_TRUE(findResource(executable, "bell", "wav")) << "a sound that cannot be read is not missing";
    EXPECT_FALSE(findResource(executable, "digital", "wav")); // missing
    EXPECT_FALSE(findResource(executable, "chime", "wav")); // a folder, not a file
    EXPECT_FALSE(findResource(executable, "bell", "mp3"));
    EXPECT_FALSE(findResource(executable, "Bell", "wav"));

    // Names cannot leave the sounds folder.
    ASSERT_TRUE(writeFileAtomically(tree / "share/brindle/secret.wav", "RIFF"));
    ASSERT_TRUE(writeFileAtomically(tree / "share/brindle/sounds/..wav", "RIFF"));
    EXPECT_FALSE(findResource(executable, "../secret", "wav"));
    EXPECT_FALSE(findResource(executable, "..", "wav"));
    EXPECT_FALSE(findResource(executable, "", "wav"));
    EXPECT_FALSE(findResource(executable, ".", "wav")); // would be "..wav"
    EXPECT_FALSE(findResource(executable, "bell", ""));
    EXPECT_FALSE(findResource(executable, "bell", "wav/../../secret"));

    auto path = executablePath();
    ASSERT_TRUE(path);
    EXPECT_TRUE(g_path_is_absolute(path->c_str()));
    EXPECT_TRUE(g_file_test(path->c_str(), G_FILE_TEST_IS_EXECUTABLE));
}

} // namespace
} // namespace brindle::native
