#include "platform/memory_info.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::platform {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
std::string Bytes(std::uint64_t count) { return std::to_string(count); }

constexpr const char* kMeminfo8GiB = "MemTotal:       16777216 kB\nMemFree:         1048576 kB\n"
                                     "MemAvailable:    8388608 kB\nBuffers:           65536 kB\n";

// proc/self/limits as the kernel lays it out: the name padded to 26 columns, then the soft and
// hard limits and the unit.
const std::string kLimitsHeader = "Limit                     Soft Limit           Hard Limit           Units     \n";
std::string LimitLine(const std::string& name, const std::string& soft)
{
    std::string line = name;
    line.resize(26, ' ');
    std::string value = soft;
    value.resize(21, ' ');
    return line + value + "unlimited            bytes     \n";
}

// AvailableMemoryBytesUnder over a fake root: files given by their path under the root.
TEST(AvailableMemoryBytes, TakesTheSmallerOfTheSystemAndTheCgroup)
{
    // Paths under the root; "cg/" stands for the cgroup mount, sys/fs/cgroup/. Every row but the
    // last three has the 8 GiB meminfo as well.
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files;
        std::uint64_t expected;
        bool meminfo = true;
    };
    const Case cases[] = {
        {"v2 limited", {{"proc/self/cgroup", "0::/app/job\n"}, {"cg/app/job/memory.max", "2147483648\n"},
                        {"cg/app/job/memory.current", "536870912\n"}}, 1536 * kMiB},
        {"v2 max", {{"proc/self/cgroup", "0::/app\n"}, {"cg/app/memory.max", "max\n"}, {"cg/app/memory.current", "5\n"}},
         8192 * kMiB},
        {"v2 ancestor tighter", {{"proc/self/cgroup", "0::/app/job\n"}, {"cg/app/job/memory.max", "max\n"},
                                 {"cg/app/job/memory.current", "1\n"}, {"cg/app/memory.max", "1073741824\n"},
                                 {"cg/app/memory.current", "968884224\n"}}, 100 * kMiB},
        {"v2 container root", {{"proc/self/cgroup", "0::/\n"}, {"cg/memory.max", "4294967296"}, {"cg/memory.current", "0"}},
         4096 * kMiB},
        {"v1 limited", {{"proc/self/cgroup", "5:devices:/x\n4:cpuacct,memory:/grp\n0::/\n"},
                        {"cg/memory/grp/memory.limit_in_bytes", "1073741824\n"},
                        {"cg/memory/grp/memory.usage_in_bytes", "268435456\n"}}, 768 * kMiB},
        {"v1 unlimited", {{"proc/self/cgroup", "4:memory:/grp\n"}, {"cg/memory/grp/memory.limit_in_bytes", "9223372036854771712\n"},
                          {"cg/memory/grp/memory.usage_in_bytes", "268435456\n"}}, 8192 * kMiB},
        {"limit above the system figure", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", "68719476736"},
                                           {"cg/a/memory.current", "0"}}, 8192 * kMiB},
        {"usage past the limit", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", "1000"}, {"cg/a/memory.current", "4000"}}, 1},
        {"no cgroup files", {}, 8192 * kMiB},
        {"cgroup listed, no controller files", {{"proc/self/cgroup", "0::/a\n"}}, 8192 * kMiB},
        {"garbage limits", {{"proc/self/cgroup", "0::/a\n4:memory:/a\n"}, {"cg/a/memory.max", "12abc"}, {"cg/a/memory.current", "1"},
                            {"cg/memory/a/memory.limit_in_bytes", "-5\n"}, {"cg/memory/a/memory.usage_in_bytes", "1"}}, 8192 * kMiB},
        {"garbage usage", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", "1000"}, {"cg/a/memory.current", "lots"}}, 8192 * kMiB},
        {"garbage cgroup table", {{"proc/self/cgroup", "\n::\nnonsense\n0:/../..\n"}}, 8192 * kMiB},
        {"path climbing out of the mount", {{"proc/self/cgroup", "0::/../../a\n"}, {"cg/a/memory.max", "2048"},
                                            {"cg/a/memory.current", "1024"}}, 1024},
        // Inactive file cache is reclaimed before the kernel kills anything, so it counts as free.
        {"v2 with reclaimable cache", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", Bytes(4096 * kMiB)},
                                       {"cg/a/memory.current", Bytes(3994 * kMiB)},
                                       {"cg/a/memory.stat", "anon 409600\nfile 3758096384\nactive_file 0\ninactive_anon 5\n"
                                                            "inactive_file " + Bytes(3584 * kMiB) + "\nunevictable 0\n"}},
         3686 * kMiB},
        {"v2 cache at each level", {{"proc/self/cgroup", "0::/app/job\n"}, {"cg/app/job/memory.max", Bytes(2048 * kMiB)},
                                    {"cg/app/job/memory.current", Bytes(2048 * kMiB)},
                                    {"cg/app/job/memory.stat", "inactive_file " + Bytes(1024 * kMiB)},
                                    {"cg/app/memory.max", Bytes(1024 * kMiB)}, {"cg/app/memory.current", Bytes(1024 * kMiB)},
                                    {"cg/app/memory.stat", "inactive_file " + Bytes(256 * kMiB)}}, 256 * kMiB},
        {"v1 at the limit with cache", {{"proc/self/cgroup", "4:memory:/grp\n"},
                                        {"cg/memory/grp/memory.limit_in_bytes", Bytes(1024 * kMiB)},
                                        {"cg/memory/grp/memory.usage_in_bytes", Bytes(1024 * kMiB)},
                                        {"cg/memory/grp/memory.stat", "cache 1\ninactive_file 1\ntotal_cache 1\n"
                                                                      "total_inactive_file " + Bytes(600 * kMiB) + "\n"}},
         600 * kMiB},
        {"cache above the usage", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", "1000"}, {"cg/a/memory.current", "400"},
                                   {"cg/a/memory.stat", "inactive_file 900\n"}}, 1000},
        {"v2 stat damaged", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", "1000"}, {"cg/a/memory.current", "400"},
                             {"cg/a/memory.stat", "total_inactive_file 300\ninactive_file 12abc\n"}}, 600},
        {"v1 stat without the hierarchy's total", {{"proc/self/cgroup", "4:memory:/grp\n"},
                                                   {"cg/memory/grp/memory.limit_in_bytes", "1000"},
                                                   {"cg/memory/grp/memory.usage_in_bytes", "1000"},
                                                   {"cg/memory/grp/memory.stat", "inactive_file 900\ntotal_inactive_file\n"}}, 1},
        {"v1 at the limit, no stat", {{"proc/self/cgroup", "4:memory:/grp\n"}, {"cg/memory/grp/memory.limit_in_bytes", "1000"},
                                      {"cg/memory/grp/memory.usage_in_bytes", "1000"}}, 1},
        {"no meminfo, cgroup limited", {{"proc/self/cgroup", "0::/a\n"}, {"cg/a/memory.max", "2048"},
                                        {"cg/a/memory.current", "1024"}}, 1024, false},
        // `ulimit -v 4194304`: 4 GiB of address space, 1 GiB of it mapped already.
        {"address-space limit", {{"proc/self/limits", kLimitsHeader + LimitLine("Max data size", "unlimited")
                                                          + LimitLine("Max address space", Bytes(4096 * kMiB))},
                                 {"proc/self/status", "Name:\tx\nVmPeak:\t 9999999 kB\nVmSize:\t 1048576 kB\n"
                                                      "VmData:\t  524288 kB\n"}}, 3072 * kMiB},
        {"data limit tighter", {{"proc/self/limits", kLimitsHeader + LimitLine("Max data size", Bytes(2048 * kMiB))
                                                         + LimitLine("Max address space", Bytes(4096 * kMiB))},
                                {"proc/self/status", "VmSize:\t 1048576 kB\nVmData:\t  524288 kB\n"}}, 1536 * kMiB},
        {"limits with a cgroup tighter", {{"proc/self/limits", LimitLine("Max address space", Bytes(4096 * kMiB))},
                                          {"proc/self/status", "VmSize:\t 0 kB\n"}, {"proc/self/cgroup", "0::/a\n"},
                                          {"cg/a/memory.max", "2048"}, {"cg/a/memory.current", "1024"}}, 1024},
        {"no limits set", {{"proc/self/limits", kLimitsHeader + LimitLine("Max data size", "unlimited")
                                                    + LimitLine("Max address space", "unlimited")},
                           {"proc/self/status", "VmSize:\t 1048576 kB\n"}}, 8192 * kMiB},
        {"address space used up", {{"proc/self/limits", LimitLine("Max address space", Bytes(1024 * kMiB))},
                                   {"proc/self/status", "VmSize:\t 2097152 kB\n"}}, 1},
        {"limit without status", {{"proc/self/limits", LimitLine("Max address space", Bytes(512 * kMiB))}}, 512 * kMiB},
        {"damaged limit lines", {{"proc/self/limits", "Max address spaces 1024 1024 bytes\nMax address space lots\n"
                                                      "Max data size 12abc unlimited bytes\n"},
                                 {"proc/self/status", "VmSize:\t 1 kB\n"}}, 8192 * kMiB},
        {"only a limit readable", {{"proc/self/limits", LimitLine("Max address space", Bytes(64 * kMiB))},
                                   {"proc/self/status", "VmSize:\t 16384 kB\n"}}, 48 * kMiB, false},
        {"garbage meminfo", {{"proc/meminfo", "MemAvailable: many kB\n"}}, 0, false},
        {"nothing readable", {}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempFolder root;
        auto files = c.files;
        if (c.meminfo)
            files.emplace_back("proc/meminfo", kMeminfo8GiB);
        for (auto [path, text] : files) {
            if (path.starts_with("cg/"))
                path.replace(0, 3, "sys/fs/cgroup/");
            std::filesystem::create_directories((root.Path() / path).parent_path());
            test::WriteAllText(root.Path() / path, text);
        }
        EXPECT_EQ(AvailableMemoryBytesUnder(root.Path()), c.expected);
    }
}

// The advice is only a hint: blocks of any size and alignment keep their bytes and stay
// writable, and a null or tiny block is left alone.
TEST(AdviseLargePages, LeavesEveryBlockAsItWas)
{
    struct Case {
        const char* name;
        std::size_t bytes;
        std::size_t offset;  // start this far into the allocation, off any page boundary
    };
    const Case cases[] = {
        {"empty", 0, 0}, {"a few bytes", 100, 3}, {"just under a large page", (2u << 20) - 1, 0},
        {"several large pages, unaligned", (9u << 20) + 123, 17}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> block(c.bytes + c.offset);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<std::uint8_t>(i * 7 + 1);
        const std::vector<std::uint8_t> before = block;
        AdviseLargePages(block.data() + c.offset, c.bytes);
        EXPECT_EQ(block, before);
        for (std::uint8_t& b : block)
            b = static_cast<std::uint8_t>(b ^ 0x5A);
        for (std::size_t i = 0; i < block.size(); ++i)
            ASSERT_EQ(block[i], static_cast<std::uint8_t>(before[i] ^ 0x5A));
    }
    AdviseLargePages(nullptr, 8u << 20);
}

}  // namespace
}  // namespace grainforge::platform
