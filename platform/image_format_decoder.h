// Internal to the image decoder: the byte source the format readers pull from, and the
// interface each format's reader implements. Only image_decoder.cpp and the per-format
// sources include this.
#pragma once

#include "platform/image_decoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace grainforge::platform {

// Sequential reads with seeking, over a file or memory. Nothing here throws; a short read
// means the end of the data or a read error, which the readers treat alike.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes; returns how many arrived (0 at the end).
    virtual std::size_t Read(void* buffer, std::size_t size) noexcept = 0;
    // Moves to an absolute position; false when it lies beyond the end.
    virtual bool Seek(std::uint64_t position) noexcept = 0;
    virtual std::uint64_t Position() const noexcept = 0;
    virtual std::uint64_t Size() const noexcept = 0;

    // Reads exactly `size` bytes or reports false.
    bool ReadExactly(void* buffer, std::size_t size) noexcept { return Read(buffer, size) == size; }
};

// One format's reader. ReadHeader runs once; ReadRows at most once after a successful header
// whose pixel count the caller has checked against kMaxDecodedPixels.
class FormatDecoder {
public:
    virtual ~FormatDecoder() = default;
    // Ok, NotReadable or NoFrame; fills `header` on Ok (the container is set by the caller).
    virtual ImageDecodeStatus ReadHeader(ImageHeader& header) = 0;
    // Every row to the sink once (see ImageDecoder::ReadRows). Ok, Unconvertible or
    // PixelsUnreadable.
    virtual ImageDecodeStatus ReadRows(const ImageRowSink& sink) = 0;
};

// For layouts that place pixels out of row order: `fill` decodes the frame into a buffer of
// width x height x 4 samples held here, whose rows then go to the sink top first. The caller
// has checked the size against kMaxDecodedPixels; a buffer that cannot be had is
// PixelsUnreadable.
template <class Fill>
ImageDecodeStatus DecodeWholeFrame(std::uint32_t width, std::uint32_t height, const ImageRowSink& sink, Fill fill)
{
    const std::size_t rowSamples = std::size_t{width} * 4;
    // Left uninitialised: the reader writes every sample, and untouched pages cost nothing
    // when a damaged file stops early.
    std::unique_ptr<std::uint16_t[]> rgba(new (std::nothrow) std::uint16_t[rowSamples * height]);
    if (!rgba)
        return ImageDecodeStatus::PixelsUnreadable;
    const ImageDecodeStatus status = fill(rgba.get());
    if (status != ImageDecodeStatus::Ok)
        return status;
    for (std::uint32_t y = 0; y < height; ++y)
        sink(y, {rgba.get() + y * rowSamples, rowSamples});
    return ImageDecodeStatus::Ok;
}

std::unique_ptr<FormatDecoder> MakePngDecoder(ByteSource& source);
std::unique_ptr<FormatDecoder> MakeJpegDecoder(ByteSource& source);
std::unique_ptr<FormatDecoder> MakeTiffDecoder(ByteSource& source);
std::unique_ptr<FormatDecoder> MakeGifDecoder(ByteSource& source);
std::unique_ptr<FormatDecoder> MakeBmpDecoder(ByteSource& source);

// 8-bit sample to 16 bits, as 0..255 maps onto 0..65535 exactly.
inline std::uint16_t Widen8(std::uint8_t value) { return static_cast<std::uint16_t>(value * 257u); }

// Stores one opaque pixel.
inline void PutRgb16(std::uint16_t* pixel, std::uint16_t r, std::uint16_t g, std::uint16_t b)
{
    pixel[0] = r;
    pixel[1] = g;
    pixel[2] = b;
    pixel[3] = 0xFFFF;
}

}  // namespace grainforge::platform
