#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace grainforge::test {
namespace {

TEST(LogTextTest, NumbersAreGroupedAndFixed)
{
    const struct {
        std::uint64_t n;
        const char* text;
    } cases[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"},
        {18446744073709551615ull, "18,446,744,073,709,551,615"}};
    for (const auto& c : cases)
        EXPECT_EQ(app::FormatThousands(c.n), c.text);
    EXPECT_EQ(app::FormatVec3({1.0f, 2.5f, -3.0f}), "1.000, 2.500, -3.000");
}

// A value that rounds to zero at the precision shown is written without a minus sign, padded
// as its conversion asks; real negatives, other conversions and text arguments are untouched.
TEST(LogTextTest, NoSignedZeroInANumberForPeople)
{
    EXPECT_EQ(app::FormatText("%.3f|%6.2f|%-5.1f|%+.1f", -0.0001, -0.001, -0.01, -0.0), "0.000|  0.00|0.0  |+0.0");
    EXPECT_EQ(app::FormatText("%g %.0f %.2e %*.*f", -0.0, -0.4, -0.0, 6, 2, -0.004), "0 0 0.00e+00   0.00");
    EXPECT_EQ(app::FormatText("%.3f %.1f %g", -0.0006, -2.0, -1e-9), "-0.001 -2.0 -1e-09");
    EXPECT_EQ(app::FormatText("%s at %.1f", "-0.0.stl", -0.01), "-0.0.stl at 0.0");
    EXPECT_EQ(app::FormatText("%d%% %zu %llu %lld %x %c %3s|", -3, std::size_t{7}, 8ull, -9ll, 255u, 'q', "ab"),
        "-3% 7 8 -9 ff q  ab|");
    EXPECT_EQ(app::FormatVec3({-0.0f, -0.0004f, 0.0f}), "0.000, 0.000, 0.000");
}

TEST(LogTextTest, TimingsAreTakenOut)
{
    const struct {
        const char* line;
        const char* stripped;
    } cases[] = {
        {"Remeshed (812 ms)", "Remeshed"},
        {"(12 ms)", ""},
        {"  in 35.5 ms", ""},
        {"a (1 ms) b (2 ms)", "a b"},
        {"no timing (here)", "no timing (here)"},
        {"ends in 3 ms)", "ends in 3 ms)"},  // no "(" before it: kept
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(app::StripTimings(c.line), c.stripped) << c.line;
}

TEST(LogTextTest, WideTextRoundTripsThroughUtf8)
{
    const std::string utf8 = "Laid on 2 mm\xC2\xB2 \xE2\x80\x94 \xF0\x9F\x99\x82";
    EXPECT_EQ(app::WideToUtf8(app::Utf8ToWide(utf8)), utf8);
    EXPECT_EQ(app::Utf8ToWide("a\xFF" "b"), L"a\xFFFD" L"b");  // a stray byte is replaced
}

// File names go to wide text and back to the same bytes, whatever they are; texts for people
// show a byte outside UTF-8 as U+FFFD, are valid UTF-8 and stay on one line.
TEST(LogTextTest, FileNamesKeepTheirBytesThroughWideText)
{
    struct Case {
        std::string bytes;
        std::wstring wide;
        std::wstring display;
    };
    const Case cases[] = {
        {"/tmp/\xC3\x9C" "bung.stl", L"/tmp/\x00DC" L"bung.stl", L"/tmp/\x00DC" L"bung.stl"},
        {"\xE9\x83\xA8\xE5\x93\x81.png", L"\x90E8\x54C1.png", L"\x90E8\x54C1.png"},
        {"\xF0\x9F\xA7\xB1", L"\x1F9F1", L"\x1F9F1"},
        {"part\xFF.stl", L"part\xDCFF.stl", L"part\xFFFD.stl"},
        // A truncated sequence keeps each byte; the valid character after it is decoded.
        {"a\xE2\x82" "\xC3\xA9", L"a\xDCE2\xDC82\x00E9", L"a\xFFFD\xFFFD\x00E9"},
        // An overlong "/" and an encoded surrogate are bytes, not characters.
        {"\xC0\xAF" "\xED\xA0\x80", L"\xDCC0\xDCAF\xDCED\xDCA0\xDC80", L"\xFFFD\xFFFD\xFFFD\xFFFD\xFFFD"},
        {"\xEF\xBF\xBD", L"\xFFFD", L"\xFFFD"},  // a real U+FFFD stays one
        // A character that acts rather than shows is written as its bytes: an escape that would
        // recolour a terminal, a line feed or a carriage return that would split a log line, a
        // tab a menu takes for its shortcut, DEL, a C1 control, a line separator and a direction
        // override that would show the rest backwards. Scripts, joiners and marks show as they are.
        {"/tmp/evil\x1B[31mred.stl", L"/tmp/evil\x1B[31mred.stl", L"/tmp/evil\\x1B[31mred.stl"},
        {"two\nlines\r.stl\t\x7F", L"two\nlines\r.stl\t\x7F", L"two\\x0Alines\\x0D.stl\\x09\\x7F"},
        {"a\xC2\x85" "b\xE2\x80\xA8" "c\xE2\x80\xAE" "lmth.exe", L"a\x0085" L"b\x2028" L"c\x202E" L"lmth.exe",
         L"a\\xC2\\x85" L"b\\xE2\\x80\\xA8" L"c\\xE2\\x80\\xAE" L"lmth.exe"},
        {"\xD9\x85\xD9\x84\xD9\x81 \xE0\xA4\x95\xE0\xA5\x8D\xE2\x80\x8D\xE0\xA4\xB7 e\xCC\x81",
         L"\x0645\x0644\x0641 \x0915\x094D\x200D\x0937 e\x0301", L"\x0645\x0644\x0641 \x0915\x094D\x200D\x0937 e\x0301"},
    };
    for (const Case& c : cases) {
        const std::filesystem::path path(c.bytes);
        EXPECT_EQ(app::PathToWide(path), c.wide) << c.bytes;
        EXPECT_EQ(app::PathFromWide(c.wide).native(), c.bytes);
        EXPECT_EQ(app::PathToDisplay(path), c.display) << c.bytes;
        EXPECT_EQ(app::PathToUtf8(path), app::WideToUtf8(c.display)) << c.bytes;
        EXPECT_EQ(app::IsUtf8Path(path), app::WideToUtf8(c.wide) == c.bytes) << c.bytes;
    }
    // Wide text that no file name gives: a lone surrogate outside the kept bytes.
    EXPECT_EQ(app::PathFromWide(L"a\xD800" L"b").native(), "a\xEF\xBF\xBD" "b");
}

// A line that only held timings is dropped with the detailed log off and shown with it on; an
// empty line is always shown; no log attached logs nothing.
TEST(DocumentLogTest, TimingOnlyLinesFollowTheDetailedLog)
{
    const struct {
        bool detailed;
        const char* line;
        std::vector<std::string> logged;
    } cases[] = {
        {false, "(12 ms)", {}},
        {true, "(12 ms)", {"(12 ms)"}},
        {false, "Remeshed (8 ms)", {"Remeshed"}},
        {false, "", {""}},
        {true, "", {""}},
    };
    for (const auto& c : cases) {
        DocumentFixture f;
        f.host.detailedLog = c.detailed;
        f.host.lines.clear();
        f.doc->LogMessage(c.line, 3);
        EXPECT_EQ(f.host.Lines(3), c.logged) << c.line << " detailed " << c.detailed;
    }
    app::CGrainforgeDoc detached;
    detached.LogMessage("nowhere", 0);  // must not crash
}

TEST(DocumentLogTest, Utf8LinesSplitAtLineFeeds)
{
    DocumentFixture f;
    f.host.lines.clear();
    f.doc->LogUtf8Lines("one\r\n\ntwo\n");
    EXPECT_EQ(f.host.Lines(0), (std::vector<std::string>{"one", "", "two"}));
}

}  // namespace
}  // namespace grainforge::test
