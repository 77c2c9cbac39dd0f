// An image decoded whole to 16-bit RGBA through ImageDecoder, for the decoder's tests and any
// test that checks pixels a format reader gives.
#pragma once

#include "platform/image_decoder.h"

#include <array>
#include <cstdint>
#include <vector>

namespace grainforge::test {

struct DecodedImage {
    platform::ImageDecodeStatus status = platform::ImageDecodeStatus::NotReadable;
    platform::ImageHeader header;
    std::vector<std::uint16_t> pixels;

    // Red, green, blue, alpha of pixel (x, y), y from the top.
    std::array<std::uint16_t, 4> At(std::size_t x, std::size_t y) const
    {
        const std::size_t i = (y * header.width + x) * 4;
        return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    }
};

// Opens the bytes and reads every pixel; the status says where it stopped.
inline DecodedImage DecodeImage(const std::vector<std::uint8_t>& bytes)
{
    DecodedImage result;
    platform::ImageDecoder decoder;
    if ((result.status = decoder.OpenMemory(bytes)) != platform::ImageDecodeStatus::Ok)
        return result;
    result.header = decoder.Header();
    result.pixels.resize(std::size_t{result.header.width} * result.header.height * 4);
    result.status = result.header.convertible ? decoder.ReadRgba16(result.pixels) : platform::ImageDecodeStatus::Unconvertible;
    return result;
}

}  // namespace grainforge::test
