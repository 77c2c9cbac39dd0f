#include "platform/memory_info.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/mman.h>

namespace grainforge::platform {

namespace {

// A limit this large is the kernel's way of saying "none" (v1 writes 2^63 rounded to pages).
constexpr std::uint64_t kNoLimit = std::uint64_t{1} << 60;
// Every file read here is a few lines; a longer one is not the file we expect.
constexpr std::size_t kMaxFileBytes = 1 << 16;

std::optional<std::string> ReadSmallFile(const std::filesystem::path& path)
{
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr)
        return std::nullopt;
    std::string text(kMaxFileBytes, '\0');
    const std::size_t got = std::fread(text.data(), 1, text.size(), file);
    std::fclose(file);
    text.resize(got);
    return text;
}

std::string_view Trimmed(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

// A whole decimal number and nothing else.
std::optional<std::uint64_t> ParseCount(std::string_view text)
{
    text = Trimmed(text);
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> SystemAvailableBytes(const std::filesystem::path& root)
{
    const std::optional<std::string> text = ReadSmallFile(root / "proc/meminfo");
    if (!text)
        return std::nullopt;
    constexpr std::string_view kKey = "MemAvailable:";
    const std::size_t at = text->find(kKey);
    if (at == std::string::npos || (at != 0 && (*text)[at - 1] != '\n'))
        return std::nullopt;
    const std::size_t lineEnd = text->find('\n', at);
    std::string_view value = std::string_view(*text).substr(at + kKey.size(), lineEnd - at - kKey.size());
    value = Trimmed(value);
    if (value.size() >= 3 && value.substr(value.size() - 3) == " kB")
        value.remove_suffix(3);
    const std::optional<std::uint64_t> kibibytes = ParseCount(value);
    if (!kibibytes || *kibibytes > (~std::uint64_t{0} >> 10))
        return std::nullopt;
    return *kibibytes * 1024u;
}

// Where the process's cgroup sits in one hierarchy of /proc/self/cgroup, as path components
// ("." and ".." dropped, so a damaged line cannot lead outside the mount).
struct CgroupPlace {
    bool found = false;
    std::vector<std::string> components;
};

// The hierarchy whose controller list satisfies `wanted`: v2's line is "0::/path", v1's
// "N:memory,...:/path".
template <class Wanted>
CgroupPlace FindCgroup(const std::string& table, Wanted wanted)
{
    CgroupPlace place;
    std::size_t start = 0;
    while (start < table.size() && !place.found) {
        std::size_t end = table.find('\n', start);
        if (end == std::string::npos)
            end = table.size();
        const std::string_view line = std::string_view(table).substr(start, end - start);
        start = end + 1;
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos)
            continue;
        if (!wanted(line.substr(0, first), line.substr(first + 1, second - first - 1)))
            continue;
        place.found = true;
        std::string_view path = line.substr(second + 1);
        while (!path.empty()) {
            const std::size_t slash = path.find('/');
            const std::string_view part = path.substr(0, slash);
            if (!part.empty() && part != "." && part != "..")
                place.components.emplace_back(part);
            path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        }
    }
    return place;
}

bool ListsController(std::string_view controllers, std::string_view name)
{
    while (!controllers.empty()) {
        const std::size_t comma = controllers.find(',');
        if (controllers.substr(0, comma) == name)
            return true;
        controllers = comma == std::string_view::npos ? std::string_view() : controllers.substr(comma + 1);
    }
    return false;
}

// One cgroup version's files, and the memory.stat key of its inactive file cache: the cache
// the kernel reclaims before it kills anything (v1's "total_" form covers the subtree, as v1's
// usage does; v2's stat is for the subtree already).
struct CgroupFiles {
    const char* limit;
    const char* usage;
    std::string_view inactiveFileKey;
};

constexpr CgroupFiles kV2Files{"memory.max", "memory.current", "inactive_file"};
constexpr CgroupFiles kV1Files{"memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file"};

std::optional<std::uint64_t> ReadCount(const std::filesystem::path& file)
{
    const std::optional<std::string> text = ReadSmallFile(file);
    return text ? ParseCount(*text) : std::nullopt;
}

// The value on the "key value" line of a memory.stat table; nothing when absent or damaged.
std::optional<std::uint64_t> StatValue(std::string_view table, std::string_view key)
{
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
        if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == ' ')
            return ParseCount(line.substr(key.size() + 1));
    }
    return std::nullopt;
}

// Cache the level's usage counts that reclaim would free; 0 without a readable stat file.
std::uint64_t ReclaimableBytes(const std::filesystem::path& folder, std::string_view key)
{
    const std::optional<std::string> table = ReadSmallFile(folder / "memory.stat");
    return table ? StatValue(*table, key).value_or(0) : 0;
}

// What one level still allows: its limit less the usage that reclaim would not free, so never
// more than the limit; nothing when the level states no limit or no usage.
std::optional<std::uint64_t> LevelHeadroom(const std::filesystem::path& folder, const CgroupFiles& files)
{
    const std::optional<std::uint64_t> limit = ReadCount(folder / files.limit);
    if (!limit || *limit >= kNoLimit)  // "max", unreadable or damaged: no limit here
        return std::nullopt;
    const std::optional<std::uint64_t> usage = ReadCount(folder / files.usage);
    if (!usage)
        return std::nullopt;
    const std::uint64_t used = *usage - std::min(*usage, ReclaimableBytes(folder, files.inactiveFileKey));
    return *limit - std::min(*limit, used);
}

// What the cgroup at `place` (under `mount`) and each of its ancestors still allow, the
// smallest of them; nothing when no level states a limit.
std::optional<std::uint64_t> CgroupHeadroom(const std::filesystem::path& mount, const CgroupPlace& place,
                                            const CgroupFiles& files)
{
    std::optional<std::uint64_t> smallest;
    for (std::size_t depth = place.components.size() + 1; depth-- > 0;) {
        std::filesystem::path folder = mount;
        for (std::size_t i = 0; i < depth; ++i)
            folder /= place.components[i];
        if (const std::optional<std::uint64_t> left = LevelHeadroom(folder, files))
            smallest = std::min(smallest.value_or(*left), *left);
    }
    return smallest;
}

std::optional<std::uint64_t> CgroupAvailableBytes(const std::filesystem::path& root)
{
    const std::optional<std::string> table = ReadSmallFile(root / "proc/self/cgroup");
    if (!table)
        return std::nullopt;
    const std::filesystem::path mounts = root / "sys/fs/cgroup";
    std::optional<std::uint64_t> result;
    const CgroupPlace unified =
        FindCgroup(*table, [](std::string_view id, std::string_view controllers) { return id == "0" && controllers.empty(); });
    if (unified.found)
        result = CgroupHeadroom(mounts, unified, kV2Files);
    const CgroupPlace v1 = FindCgroup(*table, [](std::string_view id, std::string_view controllers) {
        return id != "0" && ListsController(controllers, "memory");
    });
    if (v1.found) {
        const std::optional<std::uint64_t> left = CgroupHeadroom(mounts / "memory", v1, kV1Files);
        if (left)
            result = std::min(result.value_or(*left), *left);
    }
    return result;
}

// The value after `key` on its own line of a "Key:   value kB" table such as proc/self/status,
// in bytes; nothing when absent or damaged.
std::optional<std::uint64_t> KibibyteField(std::string_view table, std::string_view key)
{
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
        if (!line.starts_with(key))
            continue;
        std::string_view value = Trimmed(line.substr(key.size()));
        if (value.size() >= 3 && value.substr(value.size() - 3) == " kB")
            value.remove_suffix(3);
        const std::optional<std::uint64_t> kibibytes = ParseCount(value);
        if (!kibibytes || *kibibytes > (~std::uint64_t{0} >> 10))
            return std::nullopt;
        return *kibibytes * 1024u;
    }
    return std::nullopt;
}

// The soft limit on the proc/self/limits line that starts with `name`; nothing for
// "unlimited", a missing line or a damaged one.
std::optional<std::uint64_t> SoftLimit(std::string_view table, std::string_view name)
{
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        std::string_view line = table.substr(0, end);
        table = end == std::string_view::npos ? std::string_view() : table.substr(end + 1);
        if (!line.starts_with(name) || line.size() == name.size() || line[name.size()] != ' ')
            continue;
        line = Trimmed(line.substr(name.size()));
        const std::optional<std::uint64_t> limit = ParseCount(line.substr(0, line.find(' ')));
        if (!limit || *limit >= kNoLimit)
            return std::nullopt;
        return limit;
    }
    return std::nullopt;
}

// What the process's own limits still allow (`ulimit -v` and `ulimit -d`): the address-space
// limit less the address space already mapped, the data limit less the data already mapped.
// Reserved but untouched address space counts against the first, so a process under such a
// limit runs out long before the machine does. Nothing when no limit is set or readable.
std::optional<std::uint64_t> ProcessLimitHeadroom(const std::filesystem::path& root)
{
    const std::optional<std::string> limits = ReadSmallFile(root / "proc/self/limits");
    if (!limits)
        return std::nullopt;
    const std::optional<std::string> status = ReadSmallFile(root / "proc/self/status");
    std::optional<std::uint64_t> smallest;
    const auto take = [&](std::string_view limitName, std::string_view statusKey) {
        const std::optional<std::uint64_t> limit = SoftLimit(*limits, limitName);
        if (!limit)
            return;
        // Without the figure of what is mapped the limit itself is the most that is left.
        const std::uint64_t used = status ? KibibyteField(*status, statusKey).value_or(0) : 0;
        const std::uint64_t left = *limit - std::min(*limit, used);
        smallest = std::min(smallest.value_or(left), left);
    };
    take("Max address space", "VmSize:");
    take("Max data size", "VmData:");
    return smallest;
}

}  // namespace

std::uint64_t AvailableMemoryBytesUnder(const std::filesystem::path& root)
{
    std::optional<std::uint64_t> available = SystemAvailableBytes(root);
    for (const std::optional<std::uint64_t> bound : {CgroupAvailableBytes(root), ProcessLimitHeadroom(root)}) {
        if (!bound)
            continue;
        // A limit with nothing left must still read as a figure, not as "unknown".
        const std::uint64_t allowed = std::max<std::uint64_t>(*bound, 1);
        available = std::min(available.value_or(allowed), allowed);
    }
    return available.value_or(0);
}

std::uint64_t AvailableMemoryBytes()
{
    return AvailableMemoryBytesUnder("/");
}

void AdviseLargePages(void* data, std::size_t bytes)
{
    // The kernel takes only page-aligned ranges; a large page forms where a whole aligned
    // 2 MiB span lies inside the advised range.
    constexpr std::uintptr_t kLargePage = std::uintptr_t{1} << 21;
    constexpr std::uintptr_t kPage = 4096;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    if (data == nullptr || bytes < kLargePage || begin > UINTPTR_MAX - bytes)
        return;
    const std::uintptr_t first = (begin + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kPage - 1);
    if (last - first < kLargePage)
        return;
    // A refusal (no transparent huge pages in this kernel) leaves ordinary pages: nothing to do.
    (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace grainforge::platform
