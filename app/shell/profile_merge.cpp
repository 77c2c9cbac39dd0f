#include "app/shell/profile_merge.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace grainforge::app {
namespace {

using Entry = std::pair<std::string, std::string>;  // group ("" before any header), key
using Settings = std::map<Entry, std::string>;

// Longest recent list read from a file; the program writes kRecentFilesKept.
constexpr std::size_t kLongestRecentList = 64;

std::string_view Trim(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The lines without their line feeds; a last line feed ends the last line, it starts none.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return lines;
}

bool ReadHeader(std::string_view trimmed, std::string& group) {
  if (trimmed.size() < 2 || trimmed.front() != '[' || trimmed.back() != ']') return false;
  group = std::string(trimmed.substr(1, trimmed.size() - 2));
  return true;
}

bool ReadSetting(std::string_view trimmed, std::string& key, std::string& value) {
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return false;
  const std::size_t equals = trimmed.find('=');
  if (equals == std::string_view::npos) return false;
  key = std::string(Trim(trimmed.substr(0, equals)));
  value = std::string(Trim(trimmed.substr(equals + 1)));
  return !key.empty();
}

Settings Parse(std::string_view text) {
  Settings settings;
  std::string group, key, value;
  for (const std::string_view line : Lines(text)) {
    const std::string_view trimmed = Trim(line);
    if (ReadHeader(trimmed, group)) continue;
    if (ReadSetting(trimmed, key, value)) settings[{group, key}] = value;
  }
  return settings;
}

std::string RecentKey(std::size_t number) {
  return std::string(kRecentFileKeyPrefix) + std::to_string(number);
}

bool IsRecentEntry(const Entry& entry) {
  if (entry.first != kRecentFilesSection || !entry.second.starts_with(kRecentFileKeyPrefix)) return false;
  const std::string_view digits = std::string_view(entry.second).substr(kRecentFileKeyPrefix.size());
  return !digits.empty() && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> RecentList(const Settings& settings) {
  std::vector<std::string> list;
  for (std::size_t number = 1; number <= kLongestRecentList; ++number) {
    const auto found = settings.find({std::string(kRecentFilesSection), RecentKey(number)});
    if (found == settings.end()) break;
    list.push_back(found->second);
  }
  return list;
}

bool Holds(const std::vector<std::string>& list, const std::string& entry) {
  return std::find(list.begin(), list.end(), entry) != list.end();
}

// Both windows' recent files: first the ones this window opened since (new to the list, or moved
// up in it), then the other's list in its order, then the rest of this window's; an entry either
// window took out stays out.
std::vector<std::string> MergeRecentLists(const std::vector<std::string>& base, const std::vector<std::string>& mine,
                                          const std::vector<std::string>& disk) {
  if (mine == base) return disk;
  if (disk == base) return mine;
  const auto takenOut = [&](const std::string& entry) {
    return Holds(base, entry) && (!Holds(mine, entry) || !Holds(disk, entry));
  };
  std::vector<std::string> merged;
  const auto add = [&](const std::string& entry) {
    if (!Holds(merged, entry) && !takenOut(entry)) merged.push_back(entry);
  };
  for (std::size_t i = 0; i < mine.size(); ++i) {
    const auto atBase = std::find(base.begin(), base.end(), mine[i]);
    if (atBase == base.end() || static_cast<std::size_t>(atBase - base.begin()) > i) add(mine[i]);
  }
  for (const std::string& entry : disk) add(entry);
  for (const std::string& entry : mine) add(entry);
  if (merged.size() > kRecentFilesKept) merged.resize(kRecentFilesKept);
  return merged;
}

}  // namespace

std::string MergeProfileText(std::string_view base, std::string_view mine, std::string_view disk) {
  const Settings baseSettings = Parse(base), mineSettings = Parse(mine), diskSettings = Parse(disk);
  // What this window changed: a value to set, or none where it took the setting out.
  std::map<std::string, std::vector<std::pair<std::string, std::optional<std::string>>>> pending;
  std::set<Entry> changed;
  for (const Settings* side : {&baseSettings, &mineSettings})
    for (const auto& [entry, value] : *side) {
      if (IsRecentEntry(entry) || changed.count(entry) != 0) continue;
      const auto before = baseSettings.find(entry);
      const auto now = mineSettings.find(entry);
      const std::optional<std::string> was =
          before == baseSettings.end() ? std::nullopt : std::optional<std::string>(before->second);
      const std::optional<std::string> is =
          now == mineSettings.end() ? std::nullopt : std::optional<std::string>(now->second);
      if (was == is) continue;
      changed.insert(entry);
      pending[entry.first].emplace_back(entry.second, is);
    }
  // The recent list is written whole: its entries in order, the other file keys taken out.
  const std::vector<std::string> recent =
      MergeRecentLists(RecentList(baseSettings), RecentList(mineSettings), RecentList(diskSettings));
  if (recent != RecentList(diskSettings)) {
    auto& list = pending[std::string(kRecentFilesSection)];
    for (std::size_t i = 0; i < recent.size(); ++i) {
      list.emplace_back(RecentKey(i + 1), recent[i]);
      changed.insert({std::string(kRecentFilesSection), RecentKey(i + 1)});
    }
    for (const auto& [entry, value] : diskSettings)
      if (IsRecentEntry(entry) && changed.insert(entry).second) list.emplace_back(entry.second, std::nullopt);
  }

  std::string out;
  std::set<Entry> done;
  std::set<std::string> groupsSeen = {""};
  const auto addRest = [&](const std::string& group) {
    const auto found = pending.find(group);
    if (found == pending.end()) return;
    for (const auto& [key, value] : found->second)
      if (value && done.insert({group, key}).second) out.append(key).append("=").append(*value).append("\n");
  };
  std::string group, next, key, value;
  for (const std::string_view line : Lines(disk)) {
    const std::string_view trimmed = Trim(line);
    if (ReadHeader(trimmed, next)) {
      addRest(group);
      group = next;
      groupsSeen.insert(group);
    } else if (ReadSetting(trimmed, key, value) && changed.count({group, key}) != 0) {
      const auto& list = pending[group];
      const auto own = std::find_if(list.begin(), list.end(), [&](const auto& item) { return item.first == key; });
      // A setting given twice in the file is written once.
      if (own != list.end() && own->second && done.insert({group, key}).second)
        out.append(key).append("=").append(*own->second).append("\n");
      continue;
    }
    out.append(line).append("\n");
  }
  addRest(group);
  for (const auto& [name, list] : pending) {
    if (groupsSeen.count(name) != 0) continue;
    if (std::none_of(list.begin(), list.end(), [](const auto& item) { return item.second.has_value(); })) continue;
    out.append("[").append(name).append("]\n");
    addRest(name);
  }
  return out;
}

}  // namespace grainforge::app
