#include "platform/memory_info.h"

#include <cstdio>
#include <cstring>

namespace grainforge::platform {

std::uint64_t AvailableMemoryBytes()
{
    std::FILE* file = std::fopen("/proc/meminfo", "re");
    if (file == nullptr)
        return 0;
    std::uint64_t bytes = 0;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        unsigned long long kibibytes = 0;
        if (std::strncmp(line, "MemAvailable:", 13) == 0
            && std::sscanf(line + 13, "%llu", &kibibytes) == 1) {
            bytes = static_cast<std::uint64_t>(kibibytes) * 1024u;
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

}  // namespace grainforge::platform
