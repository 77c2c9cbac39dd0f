#include "app/shell/log_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace grainforge::app {
namespace {

struct ClassifyCase {
  const wchar_t* line;
  int level;
};

TEST(ClassifyLogLine, KeyPhrasesDecideTheLevelInRuleOrder) {
  const ClassifyCase cases[] = {
      {L"", kLinePlain},
      {L"     ", kLinePlain},
      {L"Error: file not found", kLineError},
      {L"  Refused: no mesh", kLineError},
      {L"Errors found", kLineError},
      {L"ERROR in upper case", kLineError},
      {L"The remesh refused to run", kLineError},
      {L"Loading failed", kLineError},
      {L"The file could not be opened", kLineError},
      {L"It cannot be read", kLineError},
      {L"The STL was not written", kLineError},
      {L"Triangles over the limit", kLineError},
      {L"The clearance guarantee did not hold", kLineError},
      // "refused" counts only at the start; elsewhere it is an ordinary word.
      {L"The request was refused", kLinePlain},
      {L"Checking: no problems found", kLineSuccess},
      {L"2 problems found", kLineWarning},
      {L"1 problem found", kLineWarning},
      {L"walls stay 0.1 mm short of the warning", kLinePlain},
      {L"Warning: thin walls", kLineWarning},
      {L"Stopped. The part is as it was", kLineWarning},
      {L"  stopped by the user", kLineWarning},
      {L"The search stopped at 5,000 pairs", kLineWarning},
      {L"Simplify stopped early", kLineWarning},
      {L"12 islands in the air", kLineWarning},
      {L"Detail is being lost", kLineWarning},
      {L"Printability not checked", kLineWarning},
      {L"Displacement needs a texture", kLineWarning},
      {L"3 faces not converted", kLineWarning},
      {L"2 vertices kept no clearance", kLineWarning},
      {L"Overhangs with nothing beneath them", kLineWarning},
      {L"Support recommended", kLineWarning},
      {L"One area worth a look", kLineWarning},
      {L"Relief thinned a wall", kLineWarning},
      {L"Support needed under 3 areas", kLineWarning},
      {L"Open edges: 0", kLinePlain},
      {L"open edges:   0,000", kLinePlain},
      {L"open edges: 0,010", kLineWarning},
      {L"Non-manifold edges: 1,024", kLineWarning},
      {L"Self-intersecting triangles: 3", kLineWarning},
      {L"Boundary edges: 12", kLineWarning},
      {L"Degenerate triangles: 7", kLineWarning},
      {L"Degenerate triangles: none", kLinePlain},
      {L"Saved C:\\parts\\a.stl", kLineSuccess},
      {L"Exported 3 files", kLineSuccess},
      {L"The part prints without support", kLineSuccess},
      {L"All checks passed", kLineSuccess},
      {L"Remesh: 1,234 triangles", kLinePlain},
      // Errors win over warnings, warnings over successes.
      {L"Saved, but writing failed", kLineError},
      {L"Saved with a warning", kLineWarning},
  };
  for (const ClassifyCase& c : cases) {
    EXPECT_EQ(ClassifyLogLine(c.line), c.level) << std::wstring(c.line);
  }
}

struct CountCase {
  const wchar_t* line;
  const wchar_t* phrase;
  bool nonZero;
};

TEST(HasNonZeroCountAfter, ReadsOnlyTheFirstCountAfterThePhrase) {
  const CountCase cases[] = {
      {L"open edges: 0", L"open edges:", false},
      {L"open edges: 0,000", L"open edges:", false},
      {L"open edges: 0,010", L"open edges:", true},
      {L"open edges: 1,024", L"open edges:", true},
      {L"open edges:    7", L"open edges:", true},
      {L"open edges:", L"open edges:", false},
      {L"open edges:   ", L"open edges:", false},
      {L"open edges: none", L"open edges:", false},
      {L"open edges: 0.5", L"open edges:", false},
      {L"open edges: 00", L"open edges:", false},
      // Only the first occurrence is read.
      {L"open edges: 0, later open edges: 5", L"open edges:", false},
      {L"no such phrase 5", L"open edges:", false},
  };
  for (const CountCase& c : cases) {
    EXPECT_EQ(HasNonZeroCountAfter(c.line, c.phrase), c.nonZero) << std::wstring(c.line);
  }
}

// Spans written as text: "[L:Remesh]: [N:1,234] triangles" with L label, N number, P path.
std::wstring Render(std::wstring_view line) {
  std::wstring out;
  for (const LogSpan& span : TokenizeLogLine(line)) {
    const std::wstring piece(line.substr(static_cast<std::size_t>(span.start), static_cast<std::size_t>(span.length)));
    switch (span.kind) {
      case LogSpanKind::kText: out += piece; break;
      case LogSpanKind::kLabel: out += L"[L:" + piece + L"]"; break;
      case LogSpanKind::kNumber: out += L"[N:" + piece + L"]"; break;
      case LogSpanKind::kPath: out += L"[P:" + piece + L"]"; break;
    }
  }
  return out;
}

struct TokenCase {
  const wchar_t* line;
  const wchar_t* spans;
};

TEST(TokenizeLogLine, FindsLabelsNumbersUnitsAndPaths) {
  const TokenCase cases[] = {
      {L"", L""},
      {L"Remesh: 1,234,567 triangles in 2.5 s (340 ms)",
       L"[L:Remesh]: [N:1,234,567] triangles in [N:2.5 s] ([N:340 ms])"},
      {L"Saved C:\\parts\\a.stl", L"Saved [P:C:\\parts\\a.stl]"},
      {L"1,2345", L"[N:1],[N:2345]"},
      {L"3D", L"3D"},
      {L"a 3D part", L"a 3D part"},
      {L"size -5 mm", L"size [N:-5 mm]"},
      {L"a-5", L"a-[N:5]"},
      {L"(+3 mm)", L"([N:+3 mm])"},
      {L"x2 and v1.5", L"x2 and v1.5"},
      {L"50% done", L"[N:50%] done"},
      {L"tilt 45\u00B0", L"tilt [N:45\u00B0]"},
      {L"area 12 mm\u00B2", L"area [N:12 mm\u00B2]"},
      {L"step 5\u00B5m", L"step [N:5\u00B5m]"},
      {L"10 x 20 x 30", L"[N:10 x] [N:20 x] [N:30]"},
      // An "e" with no digit after it is a word glued to the number, as in "3D".
      {L"1.5e-3 mm and 2e", L"[N:1.5e-3 mm] and 2e"},
      {L"2 triangles", L"[N:2] triangles"},
      {L"5  mm", L"[N:5]  mm"},
      {L"1,000,00", L"[N:1,000],[N:00]"},
      {L"  Walls: 0.8 mm", L"  [L:Walls]: [N:0.8 mm]"},
      // A label holds no digit, "(", "/" or "\" and ends at a colon followed by a space or the end.
      {L"Stage 2: done", L"Stage [N:2]: done"},
      {L"Done:", L"[L:Done]:"},
      {L"Time:12", L"Time:[N:12]"},
      {L"a/b: 3", L"a/b: [N:3]"},
      // Paths of this system: rooted at "/" or "~/" after a space, "(" or a quote.
      {L"Path: /home/x.stl", L"[L:Path]: [P:/home/x.stl]"},
      {L"Saved /home/user/Tessary log.txt", L"Saved [P:/home/user/Tessary log.txt]"},
      {L"/tmp/a 2 mm", L"[P:/tmp/a 2 mm]"},
      {L"from ~/parts/cube.stl", L"from [P:~/parts/cube.stl]"},
      {L"Wrote (\"/x/y\")", L"Wrote (\"[P:/x/y\")]"},
      {L"speed 5 mm/s and 1/2 and 12 / 24", L"speed [N:5 mm]/s and [N:1]/[N:2] and [N:12] / [N:24]"},
      {L"a ~ b", L"a ~ b"},
      // A path needs a letter, ":" and a slash, not inside a word.
      {L"Path: D:/parts/a b.stl", L"[L:Path]: [P:D:/parts/a b.stl]"},
      {L"see abc:/x", L"see abc:/x"},
      {L"at_C:\\x", L"at_C:\\x"},
      // A unit that would run into the path stops at it: "x" is a unit, the path starts there.
      {L"5 x:/a", L"[N:5] [P:x:/a]"},
      {L"Refused: 40,000,000 triangles over 2 GB", L"[L:Refused]: [N:40,000,000] triangles over [N:2 GB]"},
  };
  for (const TokenCase& c : cases) {
    EXPECT_EQ(Render(c.line), std::wstring(c.spans)) << std::wstring(c.line);
  }
}

TEST(TokenizeLogLine, SpansCoverEveryLineExactly) {
  const wchar_t* lines[] = {L"", L" ", L"Remesh: 1,234 mm in 3 s", L"C:\\a", L"-5", L"  Label: x 9 y 8 C:/z",
                            L"::::", L"1e5e5 1..2 ,,3"};
  for (const wchar_t* line : lines) {
    const std::wstring text(line);
    int at = 0;
    for (const LogSpan& span : TokenizeLogLine(text)) {
      EXPECT_EQ(span.start, at) << text;
      EXPECT_GT(span.length, 0) << text;
      at = span.start + span.length;
    }
    EXPECT_EQ(at, static_cast<int>(text.size())) << text;
  }
}

struct StripCase {
  const wchar_t* line;
  const wchar_t* stripped;
};

TEST(StripTimings, RemovesParenthesisedTimingsAndBareTimingLines) {
  const StripCase cases[] = {
      {L"Remesh done (1234 ms)", L"Remesh done"},
      {L"  in 12.5 ms", L""},
      {L"\tin 3 ms", L""},
      {L"in  ms", L"in  ms"},
      {L"in 1x ms", L"in 1x ms"},
      {L"Note (see manual)", L"Note (see manual)"},
      {L"a (1 ms) b (2 ms)", L"a b"},
      // The timing runs from the last "(" before " ms)", whatever lies between.
      {L"Stage (fast) 5 ms)", L"Stage"},
      {L"no open 5 ms)", L"no open 5 ms)"},
      {L"Remesh: 1,234 triangles in 2.5 s (340 ms)", L"Remesh: 1,234 triangles in 2.5 s"},
  };
  for (const StripCase& c : cases) {
    EXPECT_EQ(StripTimings(c.line), std::wstring(c.stripped)) << std::wstring(c.line);
  }
}

}  // namespace
}  // namespace grainforge::app
