#include "app/workflow/help/markdown/markdown_layout.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "app/shell/text_layout.h"

namespace grainforge::app {
namespace {

constexpr std::wstring_view kFence = L"```";
constexpr std::wstring_view kMarkers = L"*_`";
// The column-shrinking loop of a table is bounded so that a table that can never fit costs a
// fixed amount of work.
constexpr int kMaxShrinkSteps = 100000;

bool IsSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring_view TrimLeft(std::wstring_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  return s.substr(i);
}

std::wstring_view TrimRight(std::wstring_view s) {
  std::size_t n = s.size();
  while (n > 0 && IsSpace(s[n - 1])) --n;
  return s.substr(0, n);
}

std::wstring_view Trim(std::wstring_view s) { return TrimRight(TrimLeft(s)); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Number of leading digits when they are followed by "." and a space, else 0.
std::size_t NumberedItemDigits(std::wstring_view s) {
  std::size_t k = 0;
  while (k < s.size() && IsDigit(s[k])) ++k;
  if (k == 0 || k + 1 >= s.size() || s[k] != L'.' || s[k + 1] != L' ') return 0;
  return k;
}

// Three or more of one of "*", "-", "_" and nothing else.
bool IsRuleText(std::wstring_view t) {
  if (t.size() < 3 || (t[0] != L'*' && t[0] != L'-' && t[0] != L'_')) return false;
  return std::all_of(t.begin(), t.end(), [&](wchar_t c) { return c == t[0]; });
}

// The pieces of a text split at line feeds; a final line feed starts no further piece when
// `dropAfterLastFeed` is set.
std::vector<std::wstring_view> SplitAtFeeds(std::wstring_view text, bool dropAfterLastFeed) {
  std::vector<std::wstring_view> lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t feed = text.find(L'\n', start);
    if (feed == std::wstring_view::npos) {
      if (!(dropAfterLastFeed && start == text.size())) lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, feed - start));
    start = feed + 1;
  }
  return lines;
}

int SaturatingAdd(int a, std::int64_t b) {
  return static_cast<int>(std::clamp<std::int64_t>(a + b, INT_MIN, INT_MAX));
}

// ---- Joining pre-pass ----------------------------------------------------------------------

enum class Pending { None, Paragraph, Quote, ListItem };

class Unwrapper {
public:
  void Line(std::wstring_view line, bool last) {
    if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
    const std::wstring_view lt = TrimLeft(line);
    const std::wstring_view ltt = TrimRight(lt);
    const wchar_t c = lt.empty() ? L'\0' : lt[0];
    const bool fence = lt.substr(0, kFence.size()) == kFence;
    if (code_ || fence || ltt.empty()) {
      PassThrough(line, last);
      if (fence) code_ = !code_;
    } else if (c == L'>') {
      Quote(lt);
    } else if (IsRuleText(ltt)) {
      PassThrough(line, last);
    } else if (StartsListItem(lt)) {
      EndPending();
      out_ += ltt;
      pending_ = Pending::ListItem;
    } else if (c == L'#' || c == L'=' || c == L'`' || c == L'|' || c == L'~') {
      PassThrough(line, last);
    } else {
      Paragraph(ltt);
    }
  }
  std::wstring Finish() {
    EndPending();
    return std::move(out_);
  }

private:
  static bool StartsListItem(std::wstring_view lt) {
    if (lt.size() >= 2 && (lt[0] == L'*' || lt[0] == L'+' || lt[0] == L'-') && lt[1] == L' ') return true;
    return NumberedItemDigits(lt) > 0;
  }
  void EndPending() {
    if (pending_ != Pending::None) out_ += L'\n';
    pending_ = Pending::None;
  }
  // Blank lines, code, rules, headings and table rows keep their own line as written.
  void PassThrough(std::wstring_view line, bool last) {
    EndPending();
    out_ += line;
    if (!last) out_ += L'\n';
  }
  void Quote(std::wstring_view lt) {
    std::wstring_view q = lt.substr(1);
    if (!q.empty() && q[0] == L' ') q.remove_prefix(1);
    q = TrimRight(q);
    if (pending_ == Pending::Quote) {
      out_ += L' ';
      out_ += q;
      return;
    }
    EndPending();
    out_ += L"> ";
    out_ += q;
    pending_ = Pending::Quote;
  }
  void Paragraph(std::wstring_view ltt) {
    if (pending_ == Pending::Paragraph || pending_ == Pending::ListItem) {
      out_ += L' ';
      out_ += ltt;
      return;
    }
    EndPending();
    out_ += ltt;
    pending_ = Pending::Paragraph;
  }

  std::wstring out_;
  Pending pending_ = Pending::None;
  bool code_ = false;
};

// ---- Layout --------------------------------------------------------------------------------

class PageLayouter {
public:
  PageLayouter(const MarkdownGeometry& geometry, const IMarkdownFonts& fonts) : g_(geometry), fonts_(fonts) {}

  MarkdownLayout Run(std::wstring_view text) {
    const std::wstring joined = UnwrapMarkdownLines(text);
    const std::vector<std::wstring_view> lines = SplitAtFeeds(joined, true);
    for (std::size_t i = 0; i < lines.size();) i = LayoutLogicalLine(lines, i);
    Close();
    return std::move(layout_);
  }

private:
  // Lays out line i (or the table starting there) and returns the index of the next line.
  std::size_t LayoutLogicalLine(const std::vector<std::wstring_view>& lines, std::size_t i) {
    const std::wstring_view raw = lines[i];
    const std::wstring_view t = Trim(raw);
    if (t == kFence) {
      inCode_ = !inCode_;
      return i + 1;
    }
    if (inCode_) {
      AddLogicalLine({TextSegment{.text = std::wstring(raw), .code = true}}, 0, false);
      return i + 1;
    }
    if (!t.empty() && t.find(L'|') != std::wstring_view::npos) {
      if (i + 1 < lines.size() && IsTableSeparatorRow(Trim(lines[i + 1]))) return LayoutTable(lines, i);
      AddLogicalLine({TextSegment{.text = std::wstring(TrimRight(raw))}}, 0, false);
      return i + 1;
    }
    LayoutTextLine(t, TrimRight(raw));
    return i + 1;
  }

  void LayoutTextLine(std::wstring_view t, std::wstring_view r) {
    if (IsRuleText(t)) {
      FormattedLine rule;
      rule.isRule = true;
      rule.height = g_.LineOrFallback() + g_.spacing.ruleExtra;
      BuildPlainText(rule);
      Append(std::move(rule));
      return;
    }
    int indent = 0;
    bool quote = false;
    if (!r.empty() && r[0] == L'>') {
      quote = true;
      indent = 1;
      r.remove_prefix(r.size() > 1 && r[1] == L' ' ? 2 : 1);
    }
    std::vector<TextSegment> segments;
    std::size_t hashes = 0;
    while (hashes < r.size() && r[hashes] == L'#') ++hashes;
    const std::size_t digits = NumberedItemDigits(r);
    if (hashes > 0 && hashes < r.size() && r[hashes] == L' ') {
      TextSegment heading{.text = std::wstring(r.substr(hashes + 1)),
                          .headingLevel = static_cast<int>(std::min<std::size_t>(hashes, 3))};
      if (!heading.text.empty()) segments.push_back(std::move(heading));
    } else if (r.size() >= 2 && (r[0] == L'-' || r[0] == L'*') && r[1] == L' ') {
      indent = 1;
      segments.push_back(TextSegment{.text = L"\u2022 "});
      AppendSpans(segments, r.substr(2));
    } else if (digits > 0) {
      indent = 1;
      segments.push_back(TextSegment{.text = std::wstring(r.substr(0, digits)) + L". "});
      AppendSpans(segments, r.substr(digits + 2));
    } else {
      AppendSpans(segments, r);
    }
    AddLogicalLine(std::move(segments), indent, quote);
  }

  static void AppendSpans(std::vector<TextSegment>& segments, std::wstring_view s) {
    std::vector<TextSegment> spans = ParseInlineSpans(s);
    for (TextSegment& span : spans) segments.push_back(std::move(span));
  }

  void AddLogicalLine(std::vector<TextSegment> segments, int indent, bool quote) {
    if (segments.empty()) {
      FormattedLine empty;
      empty.height = g_.LineOrFallback();
      BuildPlainText(empty);
      Append(std::move(empty));
      return;
    }
    Wrap(segments, indent, quote);
  }

  // Cuts each segment into words (a word keeps the one space after it; a run of spaces gives
  // one-space pieces) and fills display lines up to the right edge. Pieces of one segment that
  // land on the same display line are kept as one segment: the text is the same, and a long
  // page then holds a few segments per line instead of one per word.
  void Wrap(const std::vector<TextSegment>& segments, int indent, bool quote) {
    const std::int64_t startX = g_.marginLeft + static_cast<std::int64_t>(g_.spacing.indent) * indent;
    const std::int64_t right = g_.AvailableRight();
    FormattedLine current;
    current.indent = indent;
    current.isQuote = quote;
    std::int64_t x = startX;
    for (std::size_t s = 0; s < segments.size(); ++s) {
      const TextSegment& source = segments[s];
      const ITextMetrics& metrics = fonts_.Metrics(SegmentFont(source));
      bool lastFromSource = false;  // the current line's last segment came from this source
      std::size_t pos = 0;
      while (pos < source.text.size()) {
        const std::size_t space = source.text.find(L' ', pos);
        const std::size_t end = space == std::wstring::npos ? source.text.size() : space + 1;
        const std::wstring_view piece = std::wstring_view(source.text).substr(pos, end - pos);
        pos = end;
        const int width = metrics.Width(piece);
        if (x + width > right && !current.segments.empty()) {
          FinishLine(current);
          current = FormattedLine{};
          current.indent = indent;
          current.isQuote = quote;
          current.isContinuation = true;
          x = startX;
          lastFromSource = false;
        }
        if (lastFromSource) {
          current.segments.back().text += piece;
        } else {
          // Only the style is copied: a copy of the whole source text would keep its capacity
          // on every display line of a long paragraph.
          current.segments.push_back(TextSegment{.text = std::wstring(piece), .bold = source.bold,
                                                 .italic = source.italic, .code = source.code,
                                                 .headingLevel = source.headingLevel});
          lastFromSource = true;
        }
        x += width;
      }
    }
    if (!current.segments.empty()) FinishLine(current);
  }

  void FinishLine(FormattedLine& line) {
    int tallest = 0;
    for (const TextSegment& segment : line.segments)
      tallest = std::max(tallest, fonts_.Metrics(SegmentFont(segment)).LineHeight());
    line.height = tallest == 0 ? g_.LineOrFallback() : tallest + g_.spacing.lineGap;
    BuildPlainText(line);
    Append(std::move(line));
  }

  std::size_t LayoutTable(const std::vector<std::wstring_view>& lines, std::size_t first) {
    std::vector<std::wstring> header;
    SplitTableRow(Trim(lines[first]), header);
    if (header.size() > kMaxTableColumns) header.resize(kMaxTableColumns);
    const std::vector<int> alignments = ReadAlignments(Trim(lines[first + 1]), header.size());
    std::vector<std::vector<std::wstring>> body;
    std::size_t next = first + 2;
    for (; next < lines.size(); ++next) {
      const std::wstring_view t = Trim(lines[next]);
      if (t.empty() || t.find(L'|') == std::wstring_view::npos || IsTableSeparatorRow(t)) break;
      std::vector<std::wstring> cells;
      SplitTableRow(t, cells);
      cells.resize(header.size());
      body.push_back(std::move(cells));
    }
    const std::vector<int> widths = MeasureColumns(header, body);
    LayoutTableRow(header, widths, alignments, true);
    for (const std::vector<std::wstring>& cells : body) LayoutTableRow(cells, widths, alignments, false);
    return next;
  }

  static std::vector<int> ReadAlignments(std::wstring_view separator, std::size_t columns) {
    std::vector<std::wstring> cells;
    SplitTableRow(separator, cells);
    std::vector<int> alignments;
    for (const std::wstring& cell : cells) {
      const std::wstring_view c = Trim(cell);
      const bool left = !c.empty() && c.front() == L':';
      const bool right = c.size() > 1 && c.back() == L':';
      alignments.push_back(left && right ? 1 : right ? 2 : 0);
    }
    alignments.resize(columns, 0);
    return alignments;
  }

  std::vector<int> MeasureColumns(const std::vector<std::wstring>& header,
                                  const std::vector<std::vector<std::wstring>>& body) const {
    const ITextMetrics& bold = fonts_.Metrics(MarkdownFont::Bold);
    const ITextMetrics& normal = fonts_.Metrics(MarkdownFont::Normal);
    std::vector<int> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
      int widest = bold.Width(header[c]);
      for (const std::vector<std::wstring>& row : body) widest = std::max(widest, normal.Width(row[c]));
      widths[c] = SaturatingAdd(widest, g_.spacing.columnPadding);
    }
    const int room = g_.AvailableRight() - g_.spacing.tableSlack - g_.marginLeft;
    return ShrinkColumnWidths(std::move(widths), room, g_.spacing.minColumnWidth, kMaxShrinkSteps);
  }

  void LayoutTableRow(const std::vector<std::wstring>& cells, const std::vector<int>& widths,
                      const std::vector<int>& alignments, bool header) {
    FormattedLine row;
    row.isTableRow = true;
    row.isHeaderRow = header;
    row.isFirstRow = header;
    row.cells = cells;
    row.columnWidths = widths;
    row.columnAlignments = alignments;
    const ITextMetrics& font = fonts_.Metrics(header ? MarkdownFont::Bold : MarkdownFont::Normal);
    std::int64_t tallest = 0;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const int textWidth = std::max(g_.spacing.minCellTextWidth, widths[c] - 2 * g_.spacing.cellInset);
      const std::int64_t rows = CountWrappedRows(font, cells[c], textWidth);
      tallest = std::max(tallest, rows * font.LineHeight());
    }
    const std::int64_t padded = tallest + g_.spacing.cellTop + g_.spacing.cellBottom;
    const std::int64_t least = fonts_.Metrics(MarkdownFont::Normal).LineHeight() + g_.spacing.rowExtra;
    row.height = SaturatingAdd(0, std::max(padded, least));
    BuildPlainText(row);
    Append(std::move(row));
  }

  void Append(FormattedLine line) {
    layout_.contentHeight = SaturatingAdd(layout_.contentHeight, line.height);
    layout_.lines.push_back(std::move(line));
  }

  void Close() {
    if (layout_.contentHeight >= 1)
      layout_.contentHeight = SaturatingAdd(layout_.contentHeight, std::int64_t{g_.marginTop} + g_.marginBottom);
    layout_.lineTops.reserve(layout_.lines.size());
    int top = 0;
    for (const FormattedLine& line : layout_.lines) {
      layout_.lineTops.push_back(top);
      top = SaturatingAdd(top, line.height);
    }
  }

  const MarkdownGeometry& g_;
  const IMarkdownFonts& fonts_;
  MarkdownLayout layout_;
  bool inCode_ = false;
};

}  // namespace

std::wstring UnwrapMarkdownLines(std::wstring_view text) {
  Unwrapper unwrapper;
  const std::vector<std::wstring_view> lines = SplitAtFeeds(text, false);
  for (std::size_t i = 0; i < lines.size(); ++i) unwrapper.Line(lines[i], i + 1 == lines.size());
  return unwrapper.Finish();
}

void SplitTableRow(std::wstring_view line, std::vector<std::wstring>& cells) {
  std::wstring_view rest = Trim(line);
  if (!rest.empty() && rest.front() == L'|') rest.remove_prefix(1);
  if (!rest.empty() && rest.back() == L'|') rest.remove_suffix(1);
  std::size_t start = 0;
  while (true) {
    const std::size_t bar = rest.find(L'|', start);
    const std::size_t end = bar == std::wstring_view::npos ? rest.size() : bar;
    cells.emplace_back(Trim(rest.substr(start, end - start)));
    if (bar == std::wstring_view::npos) break;
    start = bar + 1;
  }
}

bool IsTableSeparatorRow(std::wstring_view line) {
  const std::wstring_view t = Trim(line);
  if (t.empty() || t.find(L'|') == std::wstring_view::npos) return false;
  std::vector<std::wstring> cells;
  SplitTableRow(t, cells);
  for (const std::wstring& cell : cells) {
    std::wstring_view c = Trim(cell);
    if (!c.empty() && c.front() == L':') c.remove_prefix(1);
    if (!c.empty() && c.back() == L':') c.remove_suffix(1);
    if (c.empty() || c.find_first_not_of(L'-') != std::wstring_view::npos) return false;
  }
  return !cells.empty();
}

std::vector<TextSegment> ParseInlineSpans(std::wstring_view s) {
  std::vector<TextSegment> spans;
  auto add = [&](std::wstring_view text, TextSegment style) {
    if (text.empty()) return;
    style.text.assign(text);
    spans.push_back(std::move(style));
  };
  std::size_t i = 0;
  while (i < s.size()) {
    const wchar_t c = s[i];
    if (i + 1 < s.size() && (c == L'*' || c == L'_') && s[i + 1] == c) {
      const std::size_t j = s.find(s.substr(i, 2), i + 2);
      if (j != std::wstring_view::npos) {
        add(s.substr(i + 2, j - i - 2), TextSegment{.text = {}, .bold = true});
        i = j + 2;
        continue;
      }
    }
    if (c == L'*' || c == L'_' || c == L'`') {
      const std::size_t j = s.find(c, i + 1);
      if (j != std::wstring_view::npos) {
        add(s.substr(i + 1, j - i - 1), c == L'`' ? TextSegment{.text = {}, .code = true} : TextSegment{.text = {}, .italic = true});
        i = j + 1;
        continue;
      }
    }
    std::size_t end = s.find_first_of(kMarkers, i);
    if (end == i) end = s.find_first_of(kMarkers, i + 1);
    if (end == std::wstring_view::npos) end = s.size();
    add(s.substr(i, end - i), TextSegment{});
    i = end;
  }
  return spans;
}

MarkdownFont SegmentFont(const TextSegment& segment) {
  switch (segment.headingLevel) {
    case 1: return MarkdownFont::Heading1;
    case 2: return MarkdownFont::Heading2;
    case 3: return MarkdownFont::Heading3;
    default: break;  // body text: the style decides
  }
  if (segment.code) return MarkdownFont::Code;
  if (segment.bold) return segment.italic ? MarkdownFont::BoldItalic : MarkdownFont::Bold;
  return segment.italic ? MarkdownFont::Italic : MarkdownFont::Normal;
}

void BuildPlainText(FormattedLine& line) {
  line.plainText.clear();
  line.segmentStarts.clear();
  if (line.isTableRow) {
    for (std::size_t c = 0; c < line.cells.size(); ++c) {
      if (c > 0) line.plainText += L'\t';
      line.plainText += line.cells[c];
    }
    return;
  }
  for (const TextSegment& segment : line.segments) {
    line.segmentStarts.push_back(static_cast<int>(line.plainText.size()));
    line.plainText += segment.text;
  }
  line.segmentStarts.push_back(static_cast<int>(line.plainText.size()));
}

std::vector<int> ShrinkColumnWidths(std::vector<int> widths, int room, int minWidth, int maxSteps) {
  std::int64_t sum = 0;
  std::int64_t reducible = 0;
  int widest = minWidth;
  for (int w : widths) {
    sum += w;
    reducible += std::max(0, w - minWidth);
    widest = std::max(widest, w);
  }
  const std::int64_t steps = std::min({sum - room, reducible, std::int64_t{maxSteps}});
  if (steps <= 0) return widths;
  // cost(level): the steps that bring every column down to at most `level`. The loop takes one
  // pixel from the first widest column each step, so after `steps` steps every column is at
  // most the lowest level it can pay for, and the remaining steps have each taken one pixel
  // from the first columns standing at that level.
  auto cost = [&](int level) {
    std::int64_t total = 0;
    for (int w : widths) total += std::max(0, w - level);
    return total;
  };
  int lo = minWidth;
  int hi = widest;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (cost(mid) <= steps) hi = mid; else lo = mid + 1;
  }
  const int level = lo;
  std::int64_t remaining = steps - cost(level);
  for (int& w : widths) w = std::min(w, level);
  for (int& w : widths) {
    if (remaining == 0) break;
    if (w == level) {
      --w;
      --remaining;
    }
  }
  return widths;
}

MarkdownLayout ParseMarkdown(std::wstring_view text, const MarkdownGeometry& geometry, const IMarkdownFonts& fonts) {
  if (text.empty() || geometry.clientWidth < 1 || geometry.AvailableRight() <= geometry.marginLeft) return {};
  return PageLayouter(geometry, fonts).Run(text);
}

}  // namespace grainforge::app
