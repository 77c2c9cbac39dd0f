// Feeds arbitrary bytes to the preset reader as a file (JSON, or the older text form when it
// is not JSON) and to the text-form parser on its own, for one of three patterns chosen by the
// last byte. A refused preset must leave the pattern as it was; an accepted one must leave
// every value within its entry's limits.
#include "app/document/preset_files.h"
#include "engine/textures/procedural_registry.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

using grainforge::mesh::procedural::ProceduralTexture;

// One file per fuzzing process, in memory, so that nothing is left behind however the run
// ends; the readers reach it through its /proc name.
int InputFile()
{
    static const int fd = memfd_create("read_preset_fuzz", 0);
    if (fd < 0)
        __builtin_trap();
    return fd;
}

void PutInput(const std::uint8_t* data, std::size_t size)
{
    if (ftruncate(InputFile(), 0) != 0 || (size > 0 && pwrite(InputFile(), data, size, 0) != static_cast<ssize_t>(size)))
        __builtin_trap();
}

void CheckOutcome(const grainforge::app::PresetResult& result, const ProceduralTexture& pattern,
                  const std::vector<float>& before)
{
    if (result.ok != result.error.empty())
        __builtin_trap();
    if (!result.ok && pattern.values != before)
        __builtin_trap();
    const auto& specs = pattern.GetParameters();
    if (result.ok && pattern.values.size() != specs.size())
        __builtin_trap();
    for (std::size_t i = 0; result.ok && i < specs.size(); ++i) {
        const float value = pattern.values[i];
        if (!(value >= std::min(specs[i].minimum, specs[i].maximum) && value <= std::max(specs[i].minimum, specs[i].maximum)))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::array<const char*, 3> kPatterns = {"Noise", "Wood", "Bricks"};
    const std::unique_ptr<ProceduralTexture> pattern =
        grainforge::mesh::procedural::CreateProceduralTexture(kPatterns[size > 0 ? data[size - 1] % kPatterns.size() : 0]);
    if (!pattern)
        __builtin_trap();
    pattern->SetValue("invert", 1.0f);  // off its default, so an unwanted reset shows
    const std::vector<float> before = pattern->values;

    PutInput(data, size);
    const std::filesystem::path file = "/proc/self/fd/" + std::to_string(InputFile());
    CheckOutcome(grainforge::app::ReadPreset(file, *pattern), *pattern, before);

    pattern->values = before;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckOutcome(grainforge::app::ReadLegacyPresetText(text, *pattern), *pattern, before);
    return 0;
}
