// Internal to image loading, for tests and the fuzz targets: the same reading as
// ReadHeightImage over bytes already in memory.
#pragma once

#include "engine/textures/image_loading.h"

#include <cstdint>
#include <span>

namespace grainforge::mesh::detail {

[[nodiscard]] ImageLoadResult ReadHeightImageFromMemory(std::span<const std::uint8_t> bytes,
                                                        const ImageLoadOptions& options);

}  // namespace grainforge::mesh::detail
