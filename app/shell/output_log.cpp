#include "app/shell/output_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/document/log_text.h"
#include "app/document/program_files.h"
#include "app/shell/log_line.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace grainforge::app {

int ScaleForDpi(int value, int dpi) {
  const long long product = static_cast<long long>(value) * dpi;
  const long long half = product >= 0 ? 48 : -48;
  return static_cast<int>((product + half) / 96);
}

int OutputListGeometry::AvailableWidth() const {
  return std::max(clientWidth - 2 * Margin() - BarWidth(), MinimumRowWidth());
}

int HangingIndent(const ITextMetrics& metrics, const OutputListGeometry& geometry, std::wstring_view text) {
  return geometry.IndentStep() + LeadingSpaceWidth(metrics, text);
}

std::vector<TextRow> WrapLogLine(const ITextMetrics& metrics, const OutputListGeometry& geometry,
                                 std::wstring_view text) {
  const int available = geometry.AvailableWidth();
  int continuation = available - HangingIndent(metrics, geometry, text);
  if (continuation < available / 3) continuation = available / 3;
  return WrapText(metrics, text, available, continuation);
}

int MeasureLogLineHeight(const ITextMetrics& metrics, const OutputListGeometry& geometry, std::wstring_view text) {
  const auto rows = static_cast<long long>(WrapLogLine(metrics, geometry, text).size());
  return static_cast<int>(std::min<long long>(rows * geometry.lineHeight + 2, kMaxLogEntryHeight));
}

OutputLogModel::InsertResult OutputLogModel::Insert(std::wstring_view text, int level) {
  std::size_t added = 0;
  while (true) {
    const std::size_t cut = text.find(L'\n');
    std::wstring_view piece = text.substr(0, cut);
    if (!piece.empty() && piece.back() == L'\r') piece.remove_suffix(1);
    const int pieceLevel = level == kLineClassify ? ClassifyLogLine(piece) : level;
    entries_.push_back({std::wstring(piece), pieceLevel, 0});
    KeepInSession(piece);
    ++added;
    if (cut == std::wstring_view::npos) break;
    text.remove_prefix(cut + 1);
  }
  std::size_t removed = 0;
  while (entries_.size() > kMaxLines) {
    entries_.pop_front();
    ++removed;
  }
  discarded_ += removed;
  return {entries_.size() - std::min(added, entries_.size()), removed};
}

std::wstring OutputLogModel::Caption() const {
  if (discarded_ == 0) return L"Output";
  return L"Output (" + std::to_wstring(discarded_) + L" older lines discarded)";
}

void OutputLogModel::KeepInSession(std::wstring_view line) {
  session_ += ToUtf8(line);
  session_ += '\n';
  if (session_.size() <= kMaxSessionBytes) return;
  // Half the bound goes at once, so a long session does not move its bytes at every line.
  std::size_t cut = session_.size() - kMaxSessionBytes / 2;
  cut = session_.find('\n', cut > 0 ? cut - 1 : 0);
  const std::size_t end = cut == std::string::npos ? session_.size() : cut + 1;
  const auto dropped = session_.begin() + static_cast<std::ptrdiff_t>(end);
  sessionDropped_ += static_cast<std::uint64_t>(std::count(session_.begin(), dropped, '\n'));
  session_.erase(0, end);
}

std::string OutputLogModel::FileBytes() const {
  if (sessionDropped_ == 0) return session_;
  std::string bytes = "(";
  bytes.append(std::to_string(sessionDropped_)).append(kLogLinesLeftOutEnd).append("\n").append(session_);
  return bytes;
}

std::wstring OutputLogModel::JoinLines(const std::vector<std::size_t>& indices) const {
  std::wstring joined;
  bool first = true;
  for (std::size_t index : indices) {
    if (index >= entries_.size()) continue;
    if (!first) joined += L'\n';
    joined += entries_[index].text;
    first = false;
  }
  return joined;
}

std::size_t TopIndexForEnd(const OutputLogModel& model, int clientHeight) {
  if (model.Size() == 0) return 0;
  std::size_t top = model.Size() - 1;
  long long sum = model.Entry(top).height;
  while (top > 0 && sum + model.Entry(top - 1).height <= clientHeight) {
    sum += model.Entry(top - 1).height;
    --top;
  }
  return top;
}

std::size_t KeptTopIndex(std::size_t oldTop, std::size_t removed, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t top = oldTop > removed ? oldTop - removed : 0;
  return std::min(top, size - 1);
}

std::string ToUtf8(std::wstring_view text) { return WideToUtf8(text); }

bool WriteLogFile(const std::filesystem::path& path, const std::string& bytes, std::wstring& error) {
  // The user's file: a link is written through, as every save of a named file does. Written
  // beside and renamed over the old log only once complete, so a full disk leaves it whole; a
  // folder, pipe or device is refused before anything is opened, so nothing waits on a pipe.
  platform::ReplacementOptions options;
  options.links = platform::LinkHandling::WriteThrough;
  const int failure = platform::ReplaceFileContents(path, bytes.data(), bytes.size(), options);
  if (failure == EISDIR || failure == platform::kNotRegularFileError) {
    error = kLogTargetNotRegularFile;
    return false;
  }
  if (failure != 0) {
    // Named as the file system stands: a missing folder by its name, not "No such file".
    error = Utf8ToWide(platform::FileErrorCauseText(path, failure, platform::FileUse::write));
    return false;
  }
  return true;
}

}  // namespace grainforge::app
