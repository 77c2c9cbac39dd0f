#include "app/document/program_files.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;

// The settings file keeps each mark as a line: any name the file system gives comes back whole,
// and a line that is not a mark (a hand edit, a damaged file) is dropped, never taken for one.
TEST(WrittenLog, MarksComeBackFromTheirLinesAndOtherLinesAreDropped)
{
    const platform::FileStamp stamp{2049, 1234567, 88, -5};
    const struct {
        fs::path path;
        std::string line;
    } marks[] = {
        {"/home/u/.cache/Tessary/log.txt", "2049 1234567 88 -5 /home/u/.cache/Tessary/log.txt"},
        {"/a b/100%.txt", "2049 1234567 88 -5 /a%20b/100%25.txt"},
        {"/x/\x01\xff\xc3\xa9\n.log", "2049 1234567 88 -5 /x/%01%FF%C3%A9%0A.log"},
    };
    for (const auto& [path, line] : marks) {
        EXPECT_EQ(FormatWrittenLog({path, stamp}), line);
        EXPECT_EQ(ParseWrittenLog(line), (WrittenLog{path, stamp})) << line;
    }
    for (const char* line : {"", "2049 1234567 88", "2049 1234567 88 -5 ", "2049 1234567 88 x /a",
                             "-1 1234567 88 -5 /a", "2049  1234567 88 -5 /a", "2049 1234567 88 -5 log.txt",
                             "2049 1234567 88 -5 /a b", "2049 1234567 88 -5 /a%2", "2049 1234567 88 -5 /a%zz"})
        EXPECT_EQ(ParseWrittenLog(line), std::nullopt) << line;
}

// A mark lasts while its file is as the program left it; a new log at the same name, a removed
// or edited log, and the oldest marks past the limit make way.
TEST(WrittenLog, RememberedLogsKeepOnlyLiveMarksNewestLast)
{
    const test::TempFolder folder;
    std::vector<WrittenLog> logs;
    const auto write = [&](const std::string& name, const char* text) {
        test::WriteAllText(folder / name, text);
        RememberWrittenLog(logs, StampWrittenLog(folder / name).value());
    };
    write("a.txt", "first");
    write("b.txt", "first");
    write("c.txt", "first");
    write("a.txt", "second, longer");  // a new log where one was
    fs::remove(folder / "b.txt");
    test::WriteAllText(folder / "c.txt", "edited");
    write("d.txt", "first");
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_EQ(std::pair(logs[0].path, logs[1].path), std::pair(folder / "a.txt", folder / "d.txt"));
    EXPECT_TRUE(IsWrittenLog(folder / "a.txt", logs));
    EXPECT_FALSE(IsWrittenLog(folder / "c.txt", logs));
    for (std::size_t i = 0; i < kRememberedLogs + 3; ++i)
        write(std::to_string(i) + ".log", "log");
    ASSERT_EQ(logs.size(), kRememberedLogs);
    EXPECT_EQ(logs.back().path, folder / (std::to_string(kRememberedLogs + 2) + ".log"));
    EXPECT_FALSE(IsWrittenLog(folder / "a.txt", logs));
}

}  // namespace
}  // namespace grainforge::app
