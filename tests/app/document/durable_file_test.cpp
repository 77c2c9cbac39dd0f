#include "app/document/durable_file.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;

TEST(WriteFileDurably, ReplacesTheTargetAndLeavesNoTemporaryFile)
{
    test::TempFolder folder;
    const std::vector<std::uint8_t> first = {1, 2, 3};
    const std::vector<std::uint8_t> second = {4, 5};
    ASSERT_TRUE(WriteFileDurably(folder / "a.bin", first));
    fs::permissions(folder / "a.bin", fs::perms(0600));
    ASSERT_TRUE(WriteFileDurably(folder / "a.bin", second));
    EXPECT_EQ(test::ReadAllBytes(folder / "a.bin"), second);
    EXPECT_EQ(fs::status(folder / "a.bin").permissions() & fs::perms::all, fs::perms(0600));
    fs::create_symlink("a.bin", folder / "link.bin");
    ASSERT_TRUE(WriteFileDurably(folder / "link.bin", first));
    EXPECT_TRUE(fs::is_symlink(folder / "link.bin"));
    EXPECT_EQ(test::ReadAllBytes(folder / "a.bin"), first);
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"a.bin", "link.bin"}));
}

TEST(WriteFileDurably, AFailedWriteKeepsTheOldContent)
{
    test::TempFolder folder;
    fs::create_directories(folder / "taken");
    EXPECT_FALSE(WriteFileDurably(folder / "taken", std::vector<std::uint8_t>{1}));
    EXPECT_TRUE(fs::is_directory(folder / "taken"));
    EXPECT_FALSE(WriteFileDurably(folder / "missing/a.bin", std::vector<std::uint8_t>{1}));
    EXPECT_EQ(folder.List(), std::vector<std::string>{"taken"});
}

TEST(CopyFileDurably, CopiesContentAndPermissionsButNoFolders)
{
    test::TempFolder folder;
    std::vector<std::uint8_t> bytes(3u << 20);  // more than one piece
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 + (i >> 12));
    test::WriteAllBytes(folder / "from.bin", bytes);
    fs::permissions(folder / "from.bin", fs::perms(0640));
    ASSERT_TRUE(CopyFileDurably(folder / "from.bin", folder / "to.bin"));
    EXPECT_EQ(test::ReadAllBytes(folder / "to.bin"), bytes);
    EXPECT_EQ(fs::status(folder / "to.bin").permissions() & fs::perms::all, fs::perms(0640));
    fs::create_directories(folder / "dir");
    EXPECT_FALSE(CopyFileDurably(folder / "dir", folder / "dir copy"));
    EXPECT_FALSE(CopyFileDurably(folder / "missing", folder / "copy"));
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"dir", "from.bin", "to.bin"}));
}

}  // namespace
}  // namespace grainforge::app
