#include "app/shell/log_line.h"

#include <algorithm>
#include <array>

namespace grainforge::app {
namespace {

// Only ASCII is folded: every key phrase is ASCII, and folding must not depend on the locale.
std::wstring LowerAscii(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Letters of the scripts the program's texts and file names use; a fixed rule rather than the
// C library's, whose answer for non-ASCII letters depends on the locale.
bool IsLetter(wchar_t c) {
  if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z')) return true;
  if (c == 0xAA || c == 0xB5 || c == 0xBA) return true;
  if (c >= 0xC0 && c <= 0x24F) return c != 0xD7 && c != 0xF7;
  return c >= 0x370 && c <= 0x52F;
}

bool StartsWith(std::wstring_view s, std::wstring_view prefix) { return s.substr(0, prefix.size()) == prefix; }
bool Contains(std::wstring_view s, std::wstring_view phrase) { return s.find(phrase) != std::wstring_view::npos; }

template <std::size_t N>
bool ContainsAny(std::wstring_view s, const std::array<std::wstring_view, N>& phrases) {
  return std::any_of(phrases.begin(), phrases.end(), [&](std::wstring_view p) { return Contains(s, p); });
}

bool IsError(std::wstring_view s) {
  static constexpr std::array<std::wstring_view, 7> kPhrases = {
      L"remesh refused", L"failed",         L"could not",
      L"cannot be",      L"was not written", L"over the limit",
      L"guarantee did not hold"};
  return StartsWith(s, L"error") || StartsWith(s, L"refused") || ContainsAny(s, kPhrases);
}

bool IsWarning(std::wstring_view s) {
  if ((Contains(s, L"problem found") || Contains(s, L"problems found")) && !Contains(s, L"no problems found")) {
    return true;
  }
  if (Contains(s, L"warning") && !Contains(s, L"short of the warning")) return true;
  static constexpr std::array<std::wstring_view, 13> kPhrases = {
      L"search stopped",   L"stopped early",        L"in the air",         L"is being lost",
      L"not checked",      L"needs a texture",      L"not converted",      L"kept no clearance",
      L"nothing beneath them", L"support recommended", L"worth a look",   L"thinned a wall",
      L"support needed"};
  if (StartsWith(s, L"stopped") || ContainsAny(s, kPhrases)) return true;
  static constexpr std::array<std::wstring_view, 5> kCounts = {
      L"self-intersecting triangles:", L"non-manifold edges:", L"open edges:", L"boundary edges:",
      L"degenerate triangles:"};
  return std::any_of(kCounts.begin(), kCounts.end(),
                     [&](std::wstring_view p) { return HasNonZeroCountAfter(s, p); });
}

bool IsSuccess(std::wstring_view s) {
  return Contains(s, L"no problems found") || Contains(s, L"prints without support") || StartsWith(s, L"saved") ||
         StartsWith(s, L"exported") || Contains(s, L"checks passed");
}

// ---- tokenising -------------------------------------------------------------------------------

constexpr std::array<std::wstring_view, 18> kUnits = {
    L"mm", L"mm2", L"mm\u00B2", L"mm3", L"mm\u00B3", L"cm", L"\u00B5m", L"um", L"ms",
    L"s",  L"px",  L"deg",      L"MB",  L"KB",       L"kB", L"GB",      L"fps", L"x"};

bool IsUnitWordStart(wchar_t c) { return IsLetter(c) || c == L'_' || c == 0xB2 || c == 0xB3 || c == 0xB5; }
bool IsUnitWordChar(wchar_t c) { return IsUnitWordStart(c) || IsDigit(c); }

// Reads the line only below `end`: the number scan stops where a trailing path begins.
class Scanner {
public:
  Scanner(std::wstring_view line, std::size_t end) : line_(line), end_(end) {}
  wchar_t At(std::size_t i) const { return i < end_ ? line_[i] : L'\0'; }
  bool DigitAt(std::size_t i) const { return i < end_ && IsDigit(line_[i]); }
  std::size_t End() const { return end_; }

  bool IsCountedSign(std::size_t p) const {
    const wchar_t c = At(p);
    if ((c != L'-' && c != L'+') || !DigitAt(p + 1)) return false;
    return p == 0 || line_[p - 1] == L' ' || line_[p - 1] == L'(';
  }

  bool FollowsWordOrNumber(std::size_t p) const {
    if (p == 0) return false;
    const wchar_t c = line_[p - 1];
    return IsLetter(c) || c == L'_' || IsDigit(c) || c == L'.';
  }

  // End of the number that starts at p (sign, digits, "," groups, fraction, exponent).
  std::size_t ReadNumber(std::size_t p) const {
    if (At(p) == L'-' || At(p) == L'+') ++p;
    while (DigitAt(p)) ++p;
    while (At(p) == L',' && DigitAt(p + 1) && DigitAt(p + 2) && DigitAt(p + 3) && !DigitAt(p + 4)) p += 4;
    if (At(p) == L'.' && DigitAt(p + 1)) {
      ++p;
      while (DigitAt(p)) ++p;
    }
    if (At(p) == L'e' || At(p) == L'E') {
      std::size_t q = p + 1;
      if (At(q) == L'-' || At(q) == L'+') ++q;
      if (DigitAt(q)) {
        p = q;
        while (DigitAt(p)) ++p;
      }
    }
    return p;
  }

  std::size_t ReadWord(std::size_t p) const {
    if (!IsUnitWordStart(At(p))) return p;
    while (IsUnitWordChar(At(p))) ++p;
    return p;
  }

  std::wstring_view Slice(std::size_t from, std::size_t to) const { return line_.substr(from, to - from); }

private:
  std::wstring_view line_;
  std::size_t end_;
};

struct NumberScan {
  bool isNumber = false;
  std::size_t spanEnd = 0;  // end of the span when isNumber, else where scanning goes on
};

NumberScan ScanNumberWithUnit(const Scanner& scan, std::size_t p) {
  const std::size_t numberEnd = scan.ReadNumber(p);
  if (scan.At(numberEnd) == L'%' || scan.At(numberEnd) == 0xB0) return {true, numberEnd + 1};
  const bool spaced = scan.At(numberEnd) == L' ';
  const std::size_t wordStart = spaced ? numberEnd + 1 : numberEnd;
  const std::size_t wordEnd = scan.ReadWord(wordStart);
  if (wordEnd == wordStart) return {true, numberEnd};
  const std::wstring_view word = scan.Slice(wordStart, wordEnd);
  if (std::find(kUnits.begin(), kUnits.end(), word) != kUnits.end()) return {true, wordEnd};
  if (!spaced) return {false, wordEnd};  // digits glued to a word, as in "3D"
  return {true, numberEnd};
}

bool IsDriveLetterPath(std::wstring_view line, std::size_t i) {
  if (i + 2 >= line.size() || !IsLetter(line[i]) || line[i + 1] != L':') return false;
  if (line[i + 2] != L'\\' && line[i + 2] != L'/') return false;
  return i == 0 || !(IsLetter(line[i - 1]) || line[i - 1] == L'_');
}

// Paths on this system start at "/" or "~/" at the start of a line or after a space, a
// parenthesis or a quote, with a name right after the slash ("/home", not "/ 2").
bool IsRootedPath(std::wstring_view line, std::size_t i) {
  if (i > 0 && line[i - 1] != L' ' && line[i - 1] != L'(' && line[i - 1] != L'"' && line[i - 1] != L'\'') {
    return false;
  }
  if (line[i] == L'~') ++i;
  if (i + 1 >= line.size() || line[i] != L'/') return false;
  const wchar_t next = line[i + 1];
  return IsLetter(next) || IsDigit(next) || next == L'_' || next == L'.' || next == L'~';
}

std::size_t FindPathStart(std::wstring_view line) {
  if (line.size() <= 2) return std::wstring_view::npos;
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    if (IsDriveLetterPath(line, i) || IsRootedPath(line, i)) return i;
  }
  return std::wstring_view::npos;
}

// The label span (indent up to the colon) when the line opens with one; its end is where the
// number scan starts.
bool FindLabel(std::wstring_view line, std::size_t& labelStart, std::size_t& colon) {
  labelStart = line.find_first_not_of(L' ');
  if (labelStart == std::wstring_view::npos) return false;
  colon = line.find(L':', labelStart);
  if (colon == std::wstring_view::npos || !IsLetter(line[labelStart])) return false;
  constexpr std::size_t kLongestLabel = 48;
  if (colon - labelStart > kLongestLabel) return false;
  if (colon + 1 < line.size() && line[colon + 1] != L' ') return false;
  const std::wstring_view label = line.substr(labelStart, colon - labelStart);
  return std::none_of(label.begin(), label.end(),
                      [](wchar_t c) { return IsDigit(c) || c == L'(' || c == L'/' || c == L'\\'; });
}

void AddSpan(std::vector<LogSpan>& spans, std::size_t start, std::size_t end, LogSpanKind kind) {
  spans.push_back({static_cast<int>(start), static_cast<int>(end - start), kind});
}

std::vector<LogSpan> FillGaps(std::vector<LogSpan> spans, std::size_t length) {
  std::sort(spans.begin(), spans.end(), [](const LogSpan& a, const LogSpan& b) { return a.start < b.start; });
  std::vector<LogSpan> covered;
  covered.reserve(spans.size() * 2 + 1);
  std::size_t at = 0;
  for (const LogSpan& span : spans) {
    const auto start = static_cast<std::size_t>(span.start);
    if (start > at) AddSpan(covered, at, start, LogSpanKind::kText);
    covered.push_back(span);
    at = start + static_cast<std::size_t>(span.length);
  }
  if (at < length) AddSpan(covered, at, length, LogSpanKind::kText);
  return covered;
}

}  // namespace

bool HasNonZeroCountAfter(std::wstring_view lowerLine, std::wstring_view phrase) {
  const std::size_t found = lowerLine.find(phrase);
  if (found == std::wstring_view::npos) return false;
  std::size_t i = found + phrase.size();
  while (i < lowerLine.size() && lowerLine[i] == L' ') ++i;
  if (i >= lowerLine.size() || !IsDigit(lowerLine[i])) return false;
  for (; i < lowerLine.size(); ++i) {
    const wchar_t c = lowerLine[i];
    if (!IsDigit(c) && c != L',') return false;
    if (IsDigit(c) && c != L'0') return true;
  }
  return false;
}

int ClassifyLogLine(std::wstring_view line) {
  const std::wstring lower = LowerAscii(line);
  std::wstring_view s = lower;
  s.remove_prefix(std::min(s.size(), s.find_first_not_of(L' ')));
  if (s.empty()) return kLinePlain;
  if (IsError(s)) return kLineError;
  if (IsWarning(s)) return kLineWarning;
  if (IsSuccess(s)) return kLineSuccess;
  return kLinePlain;
}

std::vector<LogSpan> TokenizeLogLine(std::wstring_view line) {
  std::vector<LogSpan> spans;
  std::size_t labelStart = 0;
  std::size_t colon = 0;
  std::size_t p = 0;
  if (FindLabel(line, labelStart, colon)) {
    AddSpan(spans, labelStart, colon, LogSpanKind::kLabel);
    p = colon;
  }
  const std::size_t pathStart = FindPathStart(line);
  const Scanner scan(line, pathStart == std::wstring_view::npos ? line.size() : pathStart);
  if (pathStart != std::wstring_view::npos) AddSpan(spans, pathStart, line.size(), LogSpanKind::kPath);

  while (p < scan.End()) {
    if (!scan.DigitAt(p) && !scan.IsCountedSign(p)) {
      ++p;
      continue;
    }
    if (scan.FollowsWordOrNumber(p)) {
      ++p;
      continue;
    }
    const NumberScan number = ScanNumberWithUnit(scan, p);
    if (number.isNumber) AddSpan(spans, p, number.spanEnd, LogSpanKind::kNumber);
    p = number.spanEnd;
  }
  return FillGaps(std::move(spans), line.size());
}

std::wstring StripTimings(std::wstring_view line) {
  std::wstring text(line);
  constexpr std::wstring_view kTiming = L" ms)";
  for (std::size_t at = text.find(kTiming); at != std::wstring::npos; at = text.find(kTiming)) {
    std::size_t open = text.rfind(L'(', at);
    if (open == std::wstring::npos) break;
    const std::size_t close = at + kTiming.size();
    while (open > 0 && text[open - 1] == L' ') --open;
    text.erase(open, close - open);
  }
  std::wstring_view rest = text;
  rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(L" \t")));
  if (StartsWith(rest, L"in ") && rest.size() > 6 && rest.substr(rest.size() - 3) == L" ms") {
    const std::wstring_view digits = rest.substr(3, rest.size() - 6);
    if (digits.find_first_not_of(L"0123456789.") == std::wstring_view::npos) return {};
  }
  return text;
}

Rgb LogLevelColour(int level) {
  switch (level) {
    case kLineSuccess: return {115, 201, 145};
    case kLineWarning: return {240, 208, 80};
    case kLineError: return {255, 107, 107};
    default: return {212, 212, 212};
  }
}

Rgb LogSpanColour(LogSpanKind kind, int level) {
  const bool alert = level == kLineWarning || level == kLineError;
  const bool success = level == kLineSuccess;
  switch (kind) {
    case LogSpanKind::kLabel:
      if (alert) return LogLevelColour(level);
      return success ? Rgb{115, 201, 145} : Rgb{156, 220, 254};
    case LogSpanKind::kNumber:
      return alert ? Rgb{255, 255, 255} : Rgb{78, 201, 176};
    case LogSpanKind::kPath:
      return alert ? LogLevelColour(level) : Rgb{206, 145, 120};
    case LogSpanKind::kText:
      break;
  }
  return LogLevelColour(level);
}

}  // namespace grainforge::app
