#include "app/workflow/help/markdown/markdown_view.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace grainforge::app {
namespace {

// Key scrolling uses a fixed 16 px step until a line height has been measured.
constexpr int kUnmeasuredKeyStep = 16;

bool IsSpaceCharacter(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

int LengthOf(const FormattedLine& line) { return static_cast<int>(line.plainText.size()); }

}  // namespace

int CharAtX(const ITextMetrics& metrics, std::wstring_view text, int x) {
  if (text.empty() || x < 1) return 0;
  const std::vector<int> extents = metrics.PartialExtents(text);
  if (extents.size() != text.size()) return 0;
  if (x >= extents.back()) return static_cast<int>(text.size());
  const auto beyond = std::upper_bound(extents.begin(), extents.end(), x);
  const int i = static_cast<int>(beyond - extents.begin());
  const int before = i > 0 ? extents[static_cast<std::size_t>(i - 1)] : 0;
  const int width = extents[static_cast<std::size_t>(i)] - before;
  return 2 * (x - before) < width ? i : i + 1;
}

int AvoidSplitSurrogate(std::wstring_view text, int character) {
  const int length = static_cast<int>(text.size());
  character = std::clamp(character, 0, length);
  if (character > 0 && character < length) {
    const auto unit = static_cast<std::uint32_t>(text[static_cast<std::size_t>(character)]);
    if (unit >= 0xDC00 && unit <= 0xDFFF) --character;
  }
  return character;
}

void MarkdownView::SetText(std::wstring text) {
  text_ = std::move(text);
  scrollPos_ = 0;
  layoutDirty_ = true;
  ClearSelection();
}

void MarkdownView::SetGeometry(const MarkdownGeometry& geometry) {
  if (geometry == geometry_) return;
  geometry_ = geometry;
  layoutDirty_ = true;
  ClearSelection();
}

bool MarkdownView::EnsureLayout(const IMarkdownFonts& fonts) {
  if (!layoutDirty_) return false;
  layout_ = ParseMarkdown(text_, geometry_, fonts);
  layoutDirty_ = false;
  // A selection refers to the lines it was made on.
  anchor_ = end_ = TextPosition{};
  scrollPos_ = ContentFits() ? 0 : std::clamp(scrollPos_, 0, MaxScroll());
  return true;
}

int MarkdownView::MaxScroll() const { return std::max(0, layout_.contentHeight - geometry_.clientHeight); }

bool MarkdownView::ScrollTo(int y) {
  y = std::clamp(y, 0, MaxScroll());
  if (y == scrollPos_) return false;
  scrollPos_ = y;
  return true;
}

bool MarkdownView::Wheel(int delta) {
  if (ContentFits()) return false;
  if ((delta > 0 && wheelRemainder_ < 0) || (delta < 0 && wheelRemainder_ > 0)) wheelRemainder_ = 0;
  wheelRemainder_ += delta;
  const int notches = wheelRemainder_ / kWheelDelta;
  if (notches == 0) return false;
  wheelRemainder_ -= notches * kWheelDelta;
  const std::int64_t step = std::int64_t{notches} * kWheelLinesPerNotch * geometry_.LineOrFallback();
  return ScrollTo(static_cast<int>(std::clamp<std::int64_t>(scrollPos_ - step, INT32_MIN, INT32_MAX)));
}

bool MarkdownView::ScrollByKey(MarkdownScrollKey key) {
  if (ContentFits()) return false;
  const int h = geometry_.lineHeight >= 1 ? geometry_.lineHeight : kUnmeasuredKeyStep;
  const int page = std::max(h, geometry_.clientHeight - h);
  switch (key) {
    case MarkdownScrollKey::PageUp: return ScrollTo(scrollPos_ - page);
    case MarkdownScrollKey::PageDown: return ScrollTo(scrollPos_ + page);
    case MarkdownScrollKey::Home: return ScrollTo(0);
    case MarkdownScrollKey::End: return ScrollTo(layout_.contentHeight);
    case MarkdownScrollKey::Up: return ScrollTo(scrollPos_ - h);
    case MarkdownScrollKey::Down: return ScrollTo(scrollPos_ + h);
  }
  return false;
}

PixelRect MarkdownView::TextRect() const {
  PixelRect r{geometry_.marginLeft, geometry_.marginTop, geometry_.AvailableRight(),
              geometry_.clientHeight - geometry_.marginBottom};
  r.right = std::max(r.right, r.left);
  r.bottom = std::max(r.bottom, r.top);
  return r;
}

int MarkdownView::FirstVisibleLine() const {
  const std::vector<int>& tops = layout_.lineTops;
  const int y = scrollPos_ - geometry_.marginTop;
  const auto after = std::upper_bound(tops.begin(), tops.end(), y);
  return std::max(0, static_cast<int>(after - tops.begin()) - 1);
}

int MarkdownView::LineStartX(const FormattedLine& line) const {
  return geometry_.marginLeft + geometry_.spacing.indent * line.indent;
}

std::vector<int> MarkdownView::SegmentPositions(const IMarkdownFonts& fonts, const FormattedLine& line) const {
  std::vector<int> positions;
  positions.reserve(line.segments.size() + 1);
  int x = LineStartX(line);
  positions.push_back(x);
  for (const TextSegment& segment : line.segments) {
    x += fonts.Metrics(SegmentFont(segment)).Width(segment.text);
    positions.push_back(x);
  }
  return positions;
}

TextPosition MarkdownView::HitTest(const IMarkdownFonts& fonts, PixelPoint point) const {
  const std::vector<FormattedLine>& lines = layout_.lines;
  if (lines.empty()) return {};
  const int y = scrollPos_ + point.y - geometry_.marginTop;
  if (y < 0) return {0, 0};
  const int last = static_cast<int>(lines.size()) - 1;
  if (y >= layout_.lineTops.back() + lines.back().height) return {last, LengthOf(lines.back())};
  const auto after = std::upper_bound(layout_.lineTops.begin(), layout_.lineTops.end(), y);
  const int index = std::clamp(static_cast<int>(after - layout_.lineTops.begin()) - 1, 0, last);
  const FormattedLine& line = lines[static_cast<std::size_t>(index)];
  if (line.isTableRow) {
    std::int64_t width = 0;
    for (int w : line.columnWidths) width += w;
    const bool leftHalf = point.x < LineStartX(line) + width / 2;
    return {index, leftHalf ? 0 : LengthOf(line)};
  }
  if (line.segments.empty() || line.plainText.empty()) return {index, 0};
  const std::vector<int> p = SegmentPositions(fonts, line);
  if (point.x <= p.front()) return {index, 0};
  if (point.x >= p.back()) return {index, LengthOf(line)};
  std::size_t k = 0;
  while (k + 1 < line.segments.size() && p[k + 1] <= point.x) ++k;
  const TextSegment& segment = line.segments[k];
  const int within = CharAtX(fonts.Metrics(SegmentFont(segment)), segment.text, point.x - p[k]);
  return {index, AvoidSplitSurrogate(line.plainText, line.segmentStarts[k] + within)};
}

bool MarkdownView::HasSelection() const { return anchor_.line >= 0 && end_.line >= 0 && anchor_ != end_; }

bool MarkdownView::ClearSelection() {
  const bool had = HasSelection();
  anchor_ = end_ = TextPosition{};
  return had;
}

bool MarkdownView::SelectAll() {
  if (layout_.lines.empty()) return false;
  anchor_ = {0, 0};
  end_ = {static_cast<int>(layout_.lines.size()) - 1, LengthOf(layout_.lines.back())};
  return true;
}

bool MarkdownView::SelectWordAt(TextPosition at) {
  if (at.line < 0 || at.line >= static_cast<int>(layout_.lines.size())) return false;
  const FormattedLine& line = layout_.lines[static_cast<std::size_t>(at.line)];
  const int length = LengthOf(line);
  if (line.isTableRow) {
    anchor_ = {at.line, 0};
    end_ = {at.line, length};
    return true;
  }
  if (length == 0) return false;
  const std::wstring& t = line.plainText;
  const int i = std::clamp(at.character, 0, length - 1);
  const bool space = IsSpaceCharacter(t[static_cast<std::size_t>(i)]);
  int start = i;
  while (start > 0 && IsSpaceCharacter(t[static_cast<std::size_t>(start - 1)]) == space) --start;
  int end = i + 1;
  while (end < length && IsSpaceCharacter(t[static_cast<std::size_t>(end)]) == space) ++end;
  anchor_ = {at.line, start};
  end_ = {at.line, end};
  return true;
}

void MarkdownView::BeginSelection(TextPosition at) { anchor_ = end_ = at; }

bool MarkdownView::ExtendSelection(TextPosition at) {
  if (at == end_) return false;
  end_ = at;
  return true;
}

std::optional<MarkdownView::OrderedEnds> MarkdownView::Ordered() const {
  if (!HasSelection() || layout_.lines.empty()) return std::nullopt;
  const int last = static_cast<int>(layout_.lines.size()) - 1;
  OrderedEnds ends{std::min(anchor_, end_), std::max(anchor_, end_)};
  for (TextPosition* p : {&ends.first, &ends.last}) {
    p->line = std::clamp(p->line, 0, last);
    p->character = std::clamp(p->character, 0, LengthOf(layout_.lines[static_cast<std::size_t>(p->line)]));
  }
  if (layout_.lines[static_cast<std::size_t>(ends.first.line)].isTableRow) ends.first.character = 0;
  const FormattedLine& lastLine = layout_.lines[static_cast<std::size_t>(ends.last.line)];
  if (lastLine.isTableRow) ends.last.character = LengthOf(lastLine);
  return ends;
}

std::wstring MarkdownView::SelectedText() const {
  const std::optional<OrderedEnds> ends = Ordered();
  if (!ends) return {};
  std::wstring out;
  for (int l = ends->first.line; l <= ends->last.line; ++l) {
    const FormattedLine& line = layout_.lines[static_cast<std::size_t>(l)];
    if (l != ends->first.line && !line.isContinuation) out += L"\n";
    const int from = l == ends->first.line ? ends->first.character : 0;
    const int to = l == ends->last.line ? ends->last.character : LengthOf(line);
    if (to > from) out.append(line.plainText, static_cast<std::size_t>(from), static_cast<std::size_t>(to - from));
  }
  while (!out.empty() && IsSpaceCharacter(out.back())) out.pop_back();
  return out;
}

int MarkdownView::XAtCharacter(const IMarkdownFonts& fonts, const FormattedLine& line,
                               const std::vector<int>& positions, int character) const {
  if (character <= 0) return positions.front();
  if (character >= LengthOf(line)) return positions.back();
  std::size_t k = 0;
  while (k + 1 < line.segments.size() && line.segmentStarts[k + 1] <= character) ++k;
  const TextSegment& segment = line.segments[k];
  const std::wstring_view before = std::wstring_view(segment.text).substr(
      0, static_cast<std::size_t>(character - line.segmentStarts[k]));
  return positions[k] + fonts.Metrics(SegmentFont(segment)).Width(before);
}

std::optional<HighlightSpan> MarkdownView::Highlight(const IMarkdownFonts& fonts, int lineIndex) const {
  const std::optional<OrderedEnds> ends = Ordered();
  if (!ends || lineIndex < ends->first.line || lineIndex > ends->last.line) return std::nullopt;
  const FormattedLine& line = layout_.lines[static_cast<std::size_t>(lineIndex)];
  if (line.isTableRow) {
    std::int64_t width = 0;
    for (int w : line.columnWidths) width += w;
    const int x0 = LineStartX(line);
    return HighlightSpan{x0, static_cast<int>(std::min<std::int64_t>(x0 + width, INT32_MAX))};
  }
  if (line.isRule) return HighlightSpan{geometry_.marginLeft, geometry_.AvailableRight()};
  const int start = lineIndex == ends->first.line ? ends->first.character : 0;
  const int end = lineIndex == ends->last.line ? ends->last.character : LengthOf(line);
  // A line without segments (an empty line between paragraphs) shows no highlight.
  if (line.segments.empty()) return std::nullopt;
  const std::vector<int> p = SegmentPositions(fonts, line);
  const int x1 = XAtCharacter(fonts, line, p, start);
  const int x2 = lineIndex < ends->last.line ? TextRect().right : XAtCharacter(fonts, line, p, end);
  if (x2 <= x1) return std::nullopt;
  return HighlightSpan{x1, x2};
}

int MarkdownView::AutoScrollStep(int mouseY) const {
  if (ContentFits()) return 0;
  const PixelRect r = TextRect();
  int distance = 0;
  if (mouseY < r.top) distance = mouseY - r.top;
  else if (mouseY > r.bottom) distance = mouseY - r.bottom;
  if (distance == 0) return 0;
  const int line = geometry_.LineOrFallback();
  const int step = std::clamp(std::abs(distance), std::max(1, line / 2), std::max(1, 3 * line));
  return distance < 0 ? -step : step;
}

}  // namespace grainforge::app
