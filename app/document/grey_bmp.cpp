#include "app/document/grey_bmp.h"

#include "app/document/durable_file.h"
#include "platform/file_system.h"

#include <cstdlib>

namespace grainforge::app {
namespace {

void PutU16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value)
{
    PutU16(bytes, at, value & 0xFFFF);
    PutU16(bytes, at + 2, value >> 16);
}

std::uint32_t GetU16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return bytes[at] | (std::uint32_t{bytes[at + 1]} << 8);
}

std::uint32_t GetU32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return GetU16(bytes, at) | (GetU16(bytes, at + 2) << 16);
}

// Where the pixels of a decodable file lie.
struct BmpLayout {
    std::uint64_t pixelOffset = 0;
    std::uint64_t stride = 0;
    std::int32_t width = 0;
    std::int32_t rows = 0;
    bool topDown = false;
};

std::optional<BmpLayout> ReadLayout(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kGreyBmpHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M')
        return std::nullopt;
    const auto width = static_cast<std::int32_t>(GetU32(bytes, 18));
    const auto height = static_cast<std::int32_t>(GetU32(bytes, 22));
    if (GetU16(bytes, 28) != 24 || GetU32(bytes, 30) != 0)
        return std::nullopt;
    // Compared before any negation: -2^31 has no positive partner.
    if (width < 1 || width > kMaxGreyBmpSide || height == 0 || height > kMaxGreyBmpSide || height < -kMaxGreyBmpSide)
        return std::nullopt;
    BmpLayout layout;
    layout.pixelOffset = GetU32(bytes, 10);
    layout.stride = GreyBmpRowStride(width);
    layout.width = width;
    layout.rows = std::abs(height);
    layout.topDown = height < 0;
    if (layout.pixelOffset + layout.stride * static_cast<std::uint64_t>(layout.rows) > bytes.size())
        return std::nullopt;
    return layout;
}

}  // namespace

std::uint64_t GreyBmpRowStride(std::int32_t width)
{
    return (3 * (static_cast<std::uint64_t>(width) + 1)) & ~std::uint64_t{3};
}

std::vector<std::uint8_t> EncodeGreyBmp(std::span<const std::uint8_t> pixels, std::int32_t side)
{
    if (side < 1 || side > kMaxGreyBmpSide || pixels.size() != static_cast<std::size_t>(side) * side)
        return {};
    const auto stride = static_cast<std::uint32_t>(GreyBmpRowStride(side));
    const std::uint32_t imageBytes = stride * static_cast<std::uint32_t>(side);
    std::vector<std::uint8_t> bytes(kGreyBmpHeaderBytes + imageBytes, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutU32(bytes, 2, kGreyBmpHeaderBytes + imageBytes);
    PutU32(bytes, 10, kGreyBmpHeaderBytes);
    PutU32(bytes, 14, 40);
    PutU32(bytes, 18, static_cast<std::uint32_t>(side));
    PutU32(bytes, 22, static_cast<std::uint32_t>(side));
    PutU16(bytes, 26, 1);
    PutU16(bytes, 28, 24);
    PutU32(bytes, 34, imageBytes);
    // Stored bottom-up: the picture's top row is the file's last.
    for (std::int32_t row = 0; row < side; ++row) {
        const std::size_t stored = kGreyBmpHeaderBytes + std::size_t{stride} * (side - 1 - row);
        for (std::int32_t column = 0; column < side; ++column) {
            const std::uint8_t grey = pixels[static_cast<std::size_t>(row) * side + column];
            for (int channel = 0; channel < 3; ++channel)
                bytes[stored + 3 * static_cast<std::size_t>(column) + channel] = grey;
        }
    }
    return bytes;
}

bool WriteGreyBmp(const std::filesystem::path& path, std::span<const std::uint8_t> pixels, std::int32_t side)
{
    const std::vector<std::uint8_t> bytes = EncodeGreyBmp(pixels, side);
    return !bytes.empty() && WriteFileDurably(path, bytes);
}

std::optional<GreyImage> DecodeGreyBmp(std::span<const std::uint8_t> bytes)
{
    const std::optional<BmpLayout> layout = ReadLayout(bytes);
    if (!layout)
        return std::nullopt;
    GreyImage image;
    image.width = layout->width;
    image.height = layout->rows;
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    for (std::int32_t row = 0; row < image.height; ++row) {
        const std::int32_t storedRow = layout->topDown ? row : image.height - 1 - row;
        const std::uint64_t start = layout->pixelOffset + layout->stride * static_cast<std::uint64_t>(storedRow);
        for (std::int32_t column = 0; column < image.width; ++column)
            image.pixels[static_cast<std::size_t>(row) * image.width + column] =
                bytes[start + 3 * static_cast<std::uint64_t>(column) + 1];
    }
    return image;
}

std::optional<GreyImage> ReadGreyBmp(const std::filesystem::path& path)
{
    const platform::ReadResult read = platform::ReadWholeFile(path, kMaxGreyBmpFileBytes);
    if (read.status != platform::ReadStatus::Ok)
        return std::nullopt;
    return DecodeGreyBmp(read.bytes);
}

}  // namespace grainforge::app
