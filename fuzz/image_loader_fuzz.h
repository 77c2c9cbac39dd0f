// The body shared by the image fuzz targets. Each target holds one container family (CI gives
// every target its own minute): input that does not start with one of the family's
// signatures gets the first one put in front, so every run reaches that family's decoder
// and then the whole height-image loader (values, normal-map test, warnings, log text).
#pragma once

#include "engine/textures/image_loading.h"
#include "engine/textures/image_loading_detail.h"
#include "engine/textures/normal_map.h"
#include "platform/image_decoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace grainforge::fuzz {

// Images whose header states more pixels than this, but no more than a height map may have,
// are decoded only up to the header by the per-family targets: a tiny file may legitimately
// describe an image at the limit (run-length or sparse data), and filling hundreds of
// megabytes on every such input would stall the search. Those targets still run every image
// over the height-map limit through the loader, which refuses it from its header at no cost;
// image_limit_fuzz decodes images right up to the limit.
inline constexpr std::uint64_t kFuzzPixelLimit = std::uint64_t{1} << 18;

inline int FuzzImageFamily(const std::uint8_t* data, std::size_t size,
                           std::initializer_list<std::string_view> signatures,
                           std::uint64_t pixelLimit = kFuzzPixelLimit)
{
    std::vector<std::uint8_t> bytes;
    bool signed_ = false;
    for (std::string_view signature : signatures)
        signed_ = signed_ || (size >= signature.size() && std::memcmp(data, signature.data(), signature.size()) == 0);
    if (!signed_) {
        const std::string_view first = *signatures.begin();
        bytes.assign(first.begin(), first.end());
    }
    bytes.insert(bytes.end(), data, data + size);

    {
        platform::ImageDecoder decoder;
        if (decoder.OpenMemory(bytes) == platform::ImageDecodeStatus::Ok) {
            const std::uint64_t pixels = std::uint64_t{decoder.Header().width} * decoder.Header().height;
            if (pixels > pixelLimit && pixels <= mesh::kMaxHeightMapPixels)
                return 0;
        }
    }
    const std::int32_t srgbMode = size > 0 ? data[size - 1] % 3 : 0;
    const mesh::ImageLoadResult result = mesh::detail::ReadHeightImageFromMemory(bytes, {.srgbMode = srgbMode});
    (void)mesh::LogHeightMapLoad(result);
    if (result.ok && result.heights.size() != static_cast<std::size_t>(result.width) * result.height)
        __builtin_trap();
    if (!result.ok && (!result.heights.empty() || result.error.empty()))
        __builtin_trap();
    for (float h : result.heights)
        if (!(h >= 0.0f && h <= 1.0f))
            __builtin_trap();
    if (result.looksLikeNormalMap && result.width <= 64 && result.height <= 64) {
        const mesh::NormalMapResult heights =
            mesh::HeightFromNormalMap(result.normalRgb, result.width, result.height, true);
        if (!heights.ok)
            __builtin_trap();
    }
    return 0;
}

}  // namespace grainforge::fuzz
