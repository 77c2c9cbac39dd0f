#include "app/shell/output_log.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "app/shell/fixed_text_metrics.h"
#include "app/shell/log_line.h"
#include "tests/support/child_process.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_folder.h"

namespace grainforge::app {
namespace {

std::vector<std::wstring> Texts(const OutputLogModel& model) {
  std::vector<std::wstring> texts;
  for (std::size_t i = 0; i < model.Size(); ++i) texts.push_back(model.Entry(i).text);
  return texts;
}

TEST(OutputLogModel, SplitsTextIntoOneEntryPerLine) {
  struct Case {
    const wchar_t* text;
    std::vector<std::wstring> lines;
  };
  const Case cases[] = {
      {L"a\r\nb", {L"a", L"b"}},
      {L"a\n", {L"a", L""}},
      {L"", {L""}},
      {L"a\r\r\nb", {L"a\r", L"b"}},  // only one "\r" belongs to the line break
      {L"\n\n", {L"", L"", L""}},
      {L"one line", {L"one line"}},
  };
  for (const Case& c : cases) {
    OutputLogModel model;
    const auto inserted = model.Insert(c.text, kLinePlain);
    EXPECT_EQ(Texts(model), c.lines) << std::wstring(c.text);
    EXPECT_EQ(inserted.firstNew, 0u);
    EXPECT_EQ(inserted.removed, 0u);
  }
}

TEST(OutputLogModel, ClassifiesEachLineOnlyWhenAskedTo) {
  OutputLogModel model;
  model.Insert(L"Error: file not found\nSaved C:\\a.stl\nplain", kLineClassify);
  model.Insert(L"Error: but given plain", kLinePlain);
  model.Insert(L"out of range kept", 7);
  ASSERT_EQ(model.Size(), 5u);
  EXPECT_EQ(model.Entry(0).level, kLineError);
  EXPECT_EQ(model.Entry(1).level, kLineSuccess);
  EXPECT_EQ(model.Entry(2).level, kLinePlain);
  EXPECT_EQ(model.Entry(3).level, kLinePlain);
  EXPECT_EQ(model.Entry(4).level, 7);
  EXPECT_EQ(model.Insert(L"x", kLinePlain).firstNew, 5u);
}

TEST(OutputLogModel, KeepsTheLast20000LinesAndCountsTheDiscardedInTheCaption) {
  OutputLogModel model;
  EXPECT_EQ(model.Caption(), L"Output");
  std::wstring text;
  for (int i = 0; i < 20005; ++i) {
    if (i > 0) text += L'\n';
    text += L"line " + std::to_wstring(i);
  }
  const auto inserted = model.Insert(text, kLinePlain);
  ASSERT_EQ(model.Size(), 20000u);
  EXPECT_EQ(inserted.removed, 5u);
  EXPECT_EQ(inserted.firstNew, 0u);
  EXPECT_EQ(model.Entry(0).text, L"line 5");
  EXPECT_EQ(model.Entry(19999).text, L"line 20004");
  EXPECT_EQ(model.Caption(), L"Output (5 older lines discarded)");

  // One more line drops one more; the count only grows and survives Clear.
  const auto one = model.Insert(L"last", kLinePlain);
  EXPECT_EQ(one.removed, 1u);
  EXPECT_EQ(one.firstNew, 19999u);
  EXPECT_EQ(model.Caption(), L"Output (6 older lines discarded)");
  model.Clear();
  EXPECT_EQ(model.Size(), 0u);
  EXPECT_EQ(model.Caption(), L"Output (6 older lines discarded)");
}

TEST(OutputLogModel, SavedFileIsUtf8WithALineFeedAfterEveryLine) {
  OutputLogModel model;
  model.Insert(L"\u00E9", kLinePlain);
  EXPECT_EQ(model.FileBytes(), std::string("\xC3\xA9\x0A"));

  model.Insert(L"a\r\n\u20AC \U0001F600", kLinePlain);
  EXPECT_EQ(model.FileBytes(), std::string("\xC3\xA9\na\n\xE2\x82\xAC \xF0\x9F\x98\x80\n"));

  EXPECT_EQ(OutputLogModel().FileBytes(), std::string());
  // A lone surrogate is not a character: it is saved as U+FFFD rather than as broken UTF-8.
  EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), std::string("\xEF\xBF\xBD"));
}

// The pane starts afresh at each Process and keeps its newest lines, but the saved log a user
// sends with a report holds the whole session: the load warnings before the last run too.
TEST(OutputLogModel, TheSavedLogKeepsTheSessionThatTheListLetGo) {
  OutputLogModel model;
  model.Insert(L"Loaded part.stl\nWarning: 3 open edges", kLineClassify);
  model.Clear();  // Process starts
  model.Insert(L"Processed: 12 triangles", kLinePlain);
  EXPECT_EQ(Texts(model), std::vector<std::wstring>{L"Processed: 12 triangles"});
  EXPECT_EQ(model.FileBytes(), "Loaded part.stl\nWarning: 3 open edges\nProcessed: 12 triangles\n");

  for (std::size_t i = 0; i < OutputLogModel::kMaxLines; ++i) model.Insert(L"step", kLinePlain);
  EXPECT_EQ(model.Size(), OutputLogModel::kMaxLines);
  EXPECT_EQ(model.FileBytes().rfind("Loaded part.stl\n", 0), 0u) << "the list's cap is not the file's";
}

TEST(OutputLogModel, CopiedLinesAreJoinedByLineFeedsWithoutATrailingOne) {
  OutputLogModel model;
  model.Insert(L"one\r\ntwo\nthree\nfour", kLinePlain);
  EXPECT_EQ(model.JoinLines({0, 2, 3}), L"one\nthree\nfour");
  EXPECT_EQ(model.JoinLines({1}), L"two");
  EXPECT_EQ(model.JoinLines({}), L"");
  EXPECT_EQ(model.JoinLines({9, 1}), L"two");
}

TEST(WriteLogFile, WritesTheBytesOrSaysWhyNot) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "tessary_output_log_test";
  std::filesystem::create_directories(folder);
  const std::filesystem::path path = folder / "Tessary log.txt";
  std::wstring error;
  ASSERT_TRUE(WriteLogFile(path, "\xC3\xA9\n", error)) << std::string(error.begin(), error.end());
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "\xC3\xA9\n");

  EXPECT_FALSE(WriteLogFile(folder / "missing" / "x.txt", "x", error));
  EXPECT_FALSE(error.empty());
  std::filesystem::remove_all(folder);
}

// A write cut short (a full disk; here a file-size limit) leaves the old log whole, named
// directly or through a link, and no stray file beside it.
TEST(WriteLogFile, AFailedWriteLeavesTheOldLogAsItWas) {
  namespace fs = std::filesystem;
  for (const bool throughLink : {false, true}) {
    test::TempFolder folder;
    fs::create_directories(folder / "logs");
    test::WriteAllText(folder / "logs/log.txt", "old log\n");
    const fs::path target = throughLink ? folder / "link.txt" : folder / "logs/log.txt";
    if (throughLink) fs::create_symlink(folder / "logs/log.txt", target);
    const std::string result = test::RunInChild([&] {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{100, 100};
      std::wstring error;
      return setrlimit(RLIMIT_FSIZE, &limit) != 0 ? "setrlimit failed"
             : WriteLogFile(target, std::string(4096, 'n'), error) ? "written" : "failed";
    });
    EXPECT_EQ(result, "failed") << throughLink;
    const std::vector<std::uint8_t> kept = test::ReadAllBytes(folder / "logs/log.txt");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "old log\n") << throughLink;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "logs"), fs::directory_iterator()), 1) << throughLink;
  }
}

// A log the user made read-only is kept and the reason named; a socket is called one.
TEST(WriteLogFile, AWriteProtectedLogOrASocketIsRefusedWithItsReason) {
  test::TempFolder folder;
  test::WriteAllText(folder / "log.txt", "old log\n");
  std::filesystem::permissions(folder / "log.txt", std::filesystem::perms(0444));
  ASSERT_TRUE(test::MakeSocketFile(folder / "log.socket"));
  const std::pair<const char*, std::wstring> cases[] = {
      {"log.txt", L"it is write-protected (you may not write to it)"},
      {"log.socket", L"it is not a regular file (it is a socket)"},
      {"gone/deeper/log.txt", L"the folder " + (folder / "gone").wstring() + L" is not there"},
  };
  for (const auto& [name, reason] : cases) {
    std::wstring error;
    EXPECT_FALSE(WriteLogFile(folder / name, "new log\n", error)) << name;
    EXPECT_EQ(error, reason) << name;
  }
  const std::vector<std::uint8_t> kept = test::ReadAllBytes(folder / "log.txt");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "old log\n");
}

TEST(ScaleForDpi, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(ScaleForDpi(6, 96), 6);
  EXPECT_EQ(ScaleForDpi(3, 144), 5);  // 4.5
  EXPECT_EQ(ScaleForDpi(16, 120), 20);
  EXPECT_EQ(ScaleForDpi(1, 120), 1);   // 1.25
  EXPECT_EQ(ScaleForDpi(-3, 144), -5);
  EXPECT_EQ(ScaleForDpi(340, 144), 510);
}

// Ten pixels a character, rows of 15 px; margins 6, bar 3, indent step 16 at 96 dpi.
const FixedTextMetrics kTenPixels(10, 15);

OutputListGeometry GeometryOfWidth(int clientWidth) { return {96, clientWidth, 15}; }

TEST(WrapLogLine, ContinuationRowsHangUnderTheFirst) {
  // Client 115: available 115 - 12 - 3 = 100 (ten characters); continuation 100 - 16 = 84.
  const auto rows = WrapLogLine(kTenPixels, GeometryOfWidth(115), L"aaaa bbbb cccc dddd");
  EXPECT_EQ(rows, (std::vector<TextRow>{{0, 9}, {10, 14}, {15, 19}}));
  EXPECT_EQ(HangingIndent(kTenPixels, GeometryOfWidth(115), L"   x"), 16 + 30);
  EXPECT_EQ(HangingIndent(kTenPixels, GeometryOfWidth(115), L"x"), 16);
}

TEST(WrapLogLine, ANarrowPaneStillWrapsAtFortyPixels) {
  // Available width below 40 px is taken as 40: four characters on the first row, then
  // 40 - 16 = 24 px (two characters) on the continuation rows.
  const OutputListGeometry narrow = GeometryOfWidth(10);
  EXPECT_EQ(narrow.AvailableWidth(), 40);
  const auto rows = WrapLogLine(kTenPixels, narrow, L"abcdefgh");
  EXPECT_EQ(rows.front(), (TextRow{0, 4}));
  EXPECT_EQ(rows, (std::vector<TextRow>{{0, 4}, {4, 6}, {6, 8}}));
}

TEST(WrapLogLine, DeepIndentKeepsAThirdOfTheRow) {
  // 20 leading spaces make the indent 216 px, more than the row: continuation rows take A / 3.
  const std::wstring text = std::wstring(20, L' ') + L"aaa bbb ccc ddd eee fff";
  const auto rows = WrapLogLine(kTenPixels, GeometryOfWidth(315), text);
  for (std::size_t r = 1; r < rows.size(); ++r) EXPECT_LE((rows[r].end - rows[r].start) * 10, 300 / 3);
}

TEST(MeasureLogLineHeight, IsRowsTimesLineHeightPlusTwoUpTo255) {
  EXPECT_EQ(MeasureLogLineHeight(kTenPixels, GeometryOfWidth(115), L""), 17);
  EXPECT_EQ(MeasureLogLineHeight(kTenPixels, GeometryOfWidth(115), L"aaaa bbbb cccc dddd"), 47);
  EXPECT_EQ(MeasureLogLineHeight(kTenPixels, GeometryOfWidth(115), std::wstring(2000, L'x')), kMaxLogEntryHeight);
}

OutputLogModel ModelWithHeights(const std::vector<int>& heights) {
  OutputLogModel model;
  for (std::size_t i = 0; i < heights.size(); ++i) {
    model.Insert(L"x", kLinePlain);
    model.SetHeight(i, heights[i]);
  }
  return model;
}

TEST(TopIndexForEnd, ShowsAsManyWholeEntriesAsFitAboveTheLast) {
  EXPECT_EQ(TopIndexForEnd(ModelWithHeights({}), 100), 0u);
  EXPECT_EQ(TopIndexForEnd(ModelWithHeights({17, 17, 17, 17, 17, 17, 17, 17}), 100), 3u);  // 5 x 17 = 85
  EXPECT_EQ(TopIndexForEnd(ModelWithHeights({17, 17, 17}), 100), 0u);
  EXPECT_EQ(TopIndexForEnd(ModelWithHeights({17, 17, 255}), 100), 2u);  // the last one counts even when taller
  EXPECT_EQ(TopIndexForEnd(ModelWithHeights({50, 50, 50}), 100), 1u);  // exactly filling counts
}

TEST(KeptTopIndex, MovesUpByTheDiscardedLinesButNotBelowZero) {
  EXPECT_EQ(KeptTopIndex(100, 5, 20000), 95u);
  EXPECT_EQ(KeptTopIndex(3, 5, 20000), 0u);
  EXPECT_EQ(KeptTopIndex(50, 0, 20), 19u);
  EXPECT_EQ(KeptTopIndex(4, 1, 0), 0u);
}

}  // namespace
}  // namespace grainforge::app
