// Images of every family decoded right up to the height-map pixel limit (see
// image_loader_fuzz.h): the seeds state sizes at and just over the limit with tiny or
// run-length bodies, so the largest accepted decode and the refusal beside it are both
// searched. Each input can cost a few hundred megabytes and seconds; the other image targets
// cover small images quickly.
#include "fuzz/image_loader_fuzz.h"

using namespace std::string_view_literals;

// Freed pixel buffers of this size would otherwise sit in the sanitizer's quarantine and push
// the run past its memory limit.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return grainforge::fuzz::FuzzImageFamily(
        data, size, {"\x89PNG\r\n\x1a\n"sv, "\xFF\xD8\xFF"sv, "II*\0"sv, "MM\0*"sv, "GIF89a"sv, "GIF87a"sv, "BM"sv},
        grainforge::mesh::kMaxHeightMapPixels);
}
