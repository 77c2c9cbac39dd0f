#include "app/shell/wx_profile_store.h"

#include <cerrno>
#include <climits>

#include <wx/config.h>
#include <wx/log.h>
#include <wx/mstream.h>

#include "app/document/log_text.h"
#include "app/shell/profile_merge.h"
#include "engine/mesh/report_text.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

namespace grainforge::app {
namespace {

std::wstring Named(const std::filesystem::path& path) { return L"\"" + PathToDisplay(path) + L"\""; }

// A stream over bytes held elsewhere, alive for the full expression that makes it.
wxInputStream& StreamOver(wxMemoryInputStream&& stream) { return stream; }

wxString EntryPath(const std::wstring& section, const std::wstring& key) {
  return wxString(L"/") + wxString(section) + L"/" + wxString(key);
}

}  // namespace

int WxProfileStore::ReadInt(const std::wstring& section, const std::wstring& key,
                            int fallback) const {
  long value = 0;
  if (!config_.Read(EntryPath(section, key), &value)) return fallback;
  // A hand-edited file may hold any number; one that int cannot hold counts as missing.
  if (value < INT_MIN || value > INT_MAX) return fallback;
  return static_cast<int>(value);
}

void WxProfileStore::WriteInt(const std::wstring& section, const std::wstring& key, int value) {
  config_.Write(EntryPath(section, key), static_cast<long>(value));
  config_.Flush();
}

std::unique_ptr<WxProfileFile> WxProfileFile::Open(const std::filesystem::path& path) {
  Loaded loaded = Load(path);
  // wx reports the lines it cannot read as settings in message boxes; they stay in the file as
  // they are, and a box before the window is up would hold the start (and SIGTERM) on it.
  wxLogNull quiet;
  return std::unique_ptr<WxProfileFile>(new WxProfileFile(path, std::move(loaded)));
}

WxProfileFile::WxProfileFile(const std::filesystem::path& path, Loaded loaded)
    : wxFileConfig(StreamOver(wxMemoryInputStream(loaded.bytes.data(), loaded.bytes.size()))),
      path_(path),
      keep_(loaded.problem.empty()),
      written_(loaded.bytes),
      base_(std::move(loaded.bytes)) {
  if (!keep_)
    Report(L"The settings cannot be kept: " + loaded.problem +
           L". Tessary starts with its default settings and saves none until it is started again.");
}

WxProfileFile::Loaded WxProfileFile::Load(const std::filesystem::path& path) {
  Loaded loaded;
  if (path.empty()) {
    loaded.problem = L"there is no home folder to keep them in";
    return loaded;
  }
  // A link is followed, as its save follows it.
  const std::filesystem::path target = platform::ResolveWriteTarget(path);
  const std::filesystem::path folder = target.parent_path();
  std::error_code error;
  // A fresh account has no ~/.config/Brookvane yet.
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error)) {
    loaded.problem = Named(folder) + L" is not a folder (it is " + Utf8ToWide(platform::FileKindText(folder)) + L")";
    return loaded;
  }
  const platform::ReadResult read = platform::ReadWholeFile(target, kMaxProfileBytes);
  switch (read.status) {
    case platform::ReadStatus::Ok:
      loaded.bytes.assign(read.bytes.begin(), read.bytes.end());
      break;
    case platform::ReadStatus::OpenFailed:
      // A missing file is a first start: it is made at the first save.
      if (read.error != ENOENT)
        loaded.problem = Named(path) + L" could not be read: " + Utf8ToWide(platform::SystemErrorText(read.error));
      break;
    case platform::ReadStatus::NotRegularFile:
      loaded.problem = Named(path) + L" is not a regular file (it is " +
                       Utf8ToWide(platform::FileKindText(target)) + L")";
      break;
    case platform::ReadStatus::TooLarge:
      loaded.problem = Named(path) + L" is too large to be a settings file (" +
                       Utf8ToWide(mesh::FormatCountGrouped(read.size)) + L" bytes)";
      break;
    case platform::ReadStatus::ShortRead:
      loaded.problem = Named(path) + L" could not be read: " + Utf8ToWide(platform::SystemErrorText(read.error));
      break;
  }
  return loaded;
}

bool WxProfileFile::Flush(bool) {
  if (!keep_) return false;
  wxMemoryOutputStream stream;
  if (!Save(stream)) return false;
  std::string mine(stream.GetLength(), '\0');
  stream.CopyTo(mine.data(), mine.size());
  // Another window may have written the file since: its settings stay, this one's changes go in.
  std::string bytes = mine;
  const platform::ReadResult read = platform::ReadWholeFile(platform::ResolveWriteTarget(path_), kMaxProfileBytes);
  if (read.status == platform::ReadStatus::Ok) {
    const std::string disk(read.bytes.begin(), read.bytes.end());
    // The file is not this program's settings as it last had them (a window wrote it, or its
    // lines are laid out otherwise): only what this program changed since goes in.
    if (disk != base_) {
      bytes = MergeProfileText(base_, mine, disk);
      if (bytes == disk) {
        written_ = disk;
        base_ = std::move(mine);
        return true;
      }
    }
  }
  if (bytes == written_) return true;
  platform::ReplacementOptions options;
  options.links = platform::LinkHandling::WriteThrough;
  const int failure = platform::ReplaceFileContents(path_, bytes.data(), bytes.size(), options);
  if (failure != 0) {
    Report(L"The settings could not be saved to " + Named(path_) + L": " +
           Utf8ToWide(platform::SystemErrorText(failure)) + L".");
    return false;
  }
  written_ = std::move(bytes);
  base_ = std::move(mine);
  return true;
}

void WxProfileFile::SetProblemReporter(std::function<void(const std::wstring&)> reporter) {
  reporter_ = std::move(reporter);
  if (reporter_ && !problem_.empty() && !problemReported_) {
    problemReported_ = true;
    reporter_(problem_);
  }
}

void WxProfileFile::Report(std::wstring problem) {
  if (!problem_.empty()) return;
  problem_ = std::move(problem);
  if (reporter_) {
    problemReported_ = true;
    reporter_(problem_);
  }
}

}  // namespace grainforge::app
