#include "platform/random_source.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <random>

namespace grainforge::platform {

std::uint32_t RandomU32()
{
    std::uint32_t value = 0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t got = getrandom(&value, sizeof value, 0);
        if (got == static_cast<ssize_t>(sizeof value))
            return value;
        if (got < 0 && errno != EINTR)
            break;
    }
    // getrandom only fails on very old kernels; a clock-seeded draw still gives distinct names.
    std::random_device device;
    return device() ^ static_cast<std::uint32_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace grainforge::platform
