// Small grey pictures as uncompressed 24-bit Windows bitmaps: the thumbnails beside preset
// files and the texture library's thumbnail cache. A picture is written as a square of side N
// with a 54-byte header (file header and 40-byte info header, no palette), rows bottom-up,
// each padded to a multiple of 4 bytes, every pixel its grey byte three times (blue, green,
// red). The reader takes any 24-bit uncompressed bitmap up to 4096 pixels a side, bottom-up
// or top-down, and keeps each pixel's green byte.
//
// Any bytes may be given to the reader: what it cannot read gives no picture, never an
// exception, a read beyond the data or memory beyond the picture's size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace grainforge::app {

inline constexpr std::uint32_t kGreyBmpHeaderBytes = 54;
// Larger sides are neither written nor read.
inline constexpr std::int32_t kMaxGreyBmpSide = 4096;
// Files above this size are refused before they are read: the largest picture with its
// header is about 48 MiB.
inline constexpr std::uint64_t kMaxGreyBmpFileBytes = std::uint64_t{64} << 20;

struct GreyImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // width x height bytes, row by row from the top
};

// Bytes of one stored row of a picture `width` pixels wide: 3 x width rounded up to 4.
std::uint64_t GreyBmpRowStride(std::int32_t width);

// The whole file for an N x N picture (54 + N x stride bytes). Empty when N is not 1 to
// kMaxGreyBmpSide or `pixels` does not hold N x N bytes.
std::vector<std::uint8_t> EncodeGreyBmp(std::span<const std::uint8_t> pixels, std::int32_t side);

// EncodeGreyBmp written to `path` durably (durable_file.h); false when there is nothing to
// write or the write fails.
[[nodiscard]] bool WriteGreyBmp(const std::filesystem::path& path, std::span<const std::uint8_t> pixels,
                                std::int32_t side);

// The picture in a whole file's bytes. Nothing for data shorter than the header, without the
// "BM" mark, with another bit depth than 24, any compression, a width outside 1 to 4096, a
// height of 0 or beyond 4096 either way, or fewer bytes than the pixel offset plus the rows
// need (offsets and sizes are worked out in 64 bits). A negative height means top-down rows.
std::optional<GreyImage> DecodeGreyBmp(std::span<const std::uint8_t> bytes);

// DecodeGreyBmp of the file; nothing when it is missing, not a regular file, larger than
// kMaxGreyBmpFileBytes or cannot be read whole.
std::optional<GreyImage> ReadGreyBmp(const std::filesystem::path& path);

}  // namespace grainforge::app
