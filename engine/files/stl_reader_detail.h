// Steps of the STL reader that tests reach directly.
#pragma once

#include "engine/files/stl_reader.h"

#include <cstddef>
#include <filesystem>

namespace grainforge::mesh::detail {

// How much of a large file the reader holds at a time besides the mesh: binary facets are read
// this many bytes at a time straight into the mesh's arrays, ASCII text through a buffer of
// this size (longer only while one word is longer).
inline constexpr std::size_t kStlReadChunkBytes = std::size_t{4} << 20;

// ReadStlFile with chunks of `chunkBytes`, so that tests can split words and facets across
// chunk borders. A file of up to 4,176 bytes (what the detection looks at) is read whole.
[[nodiscard]] StlReadResult ReadStlFileInChunks(const std::filesystem::path& path, const StlReadOptions& options,
                                                std::size_t chunkBytes);

}  // namespace grainforge::mesh::detail
