// BMP, read by our own small reader: the core, info and v2 to v5 headers; 1, 4 and 8-bit
// palette images, uncompressed or run-length encoded (RLE8, RLE4); 16 and 32-bit pixels with
// the default or given bit masks; 24-bit pixels; rows bottom-up or top-down. Pixel data cut
// short is an error rather than black rows. Embedded JPEG or PNG data is not read.
#include "platform/image_format_decoder.h"

#include <array>
#include <bit>
#include <vector>

namespace grainforge::platform {

namespace {

enum BmpCompression : std::uint32_t {
    kBmpRgb = 0,
    kBmpRle8 = 1,
    kBmpRle4 = 2,
    kBmpBitFields = 3,
    kBmpAlphaBitFields = 6,
};

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

// One channel given by a bit mask, scaled to 16 bits.
struct BitChannel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t maximum = 0;

    explicit BitChannel(std::uint32_t m = 0) : mask(m)
    {
        if (mask == 0)
            return;
        shift = std::countr_zero(mask);
        maximum = (std::uint64_t{mask} >> shift);
    }
    std::uint16_t Extract(std::uint32_t pixel) const
    {
        if (maximum == 0)
            return 0;
        const std::uint64_t value = (pixel & mask) >> shift;
        return static_cast<std::uint16_t>(std::min<std::uint64_t>((value * 65535 + maximum / 2) / maximum, 65535));
    }
};

struct BmpInfo {
    std::uint32_t dataOffset = 0;
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // as stored: negative for top-down rows
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t compression = kBmpRgb;
    std::uint32_t coloursUsed = 0;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    std::vector<std::array<std::uint8_t, 3>> palette;  // red, green, blue
};

// Small buffered reader for the run-length data, which is read a byte or two at a time.
class ByteReader {
public:
    explicit ByteReader(ByteSource& source) : source_(source) {}
    bool Next(std::uint8_t& byte)
    {
        if (next_ == end_) {
            end_ = source_.Read(buffer_.data(), buffer_.size());
            next_ = 0;
            if (end_ == 0)
                return false;
        }
        byte = buffer_[next_++];
        return true;
    }

private:
    ByteSource& source_;
    std::array<std::uint8_t, 4096> buffer_{};
    std::size_t next_ = 0;
    std::size_t end_ = 0;
};

bool ReadBmpHeaders(ByteSource& source, BmpInfo& info)
{
    std::uint8_t file[18];
    if (!source.ReadExactly(file, sizeof file) || file[0] != 'B' || file[1] != 'M')
        return false;
    info.dataOffset = Le32(file + 10);
    info.headerSize = Le32(file + 14);
    const std::uint32_t size = info.headerSize;
    if (size != 12 && size != 40 && size != 52 && size != 56 && size != 108 && size != 124)
        return false;
    std::uint8_t header[124];
    if (!source.ReadExactly(header, size - 4))
        return false;
    if (size == 12) {
        info.width = Le16(header);
        info.height = Le16(header + 2);
        info.bitsPerPixel = Le16(header + 6);
        return true;
    }
    info.width = static_cast<std::int32_t>(Le32(header));
    info.height = static_cast<std::int32_t>(Le32(header + 4));
    info.bitsPerPixel = Le16(header + 10);
    info.compression = Le32(header + 12);
    info.coloursUsed = Le32(header + 28);
    std::size_t maskCount = size >= 56 ? 4 : size >= 52 ? 3 : 0;
    for (std::size_t i = 0; i < maskCount; ++i)
        info.masks[i] = Le32(header + 36 + 4 * i);
    if (size == 40 && (info.compression == kBmpBitFields || info.compression == kBmpAlphaBitFields)) {
        // The masks follow the short header.
        maskCount = info.compression == kBmpBitFields ? 3 : 4;
        std::uint8_t masks[16];
        if (!source.ReadExactly(masks, 4 * maskCount))
            return false;
        for (std::size_t i = 0; i < maskCount; ++i)
            info.masks[i] = Le32(masks + 4 * i);
    }
    return true;
}

bool ReadBmpPalette(ByteSource& source, BmpInfo& info)
{
    if (info.bitsPerPixel > 8)
        return true;
    const std::uint32_t limit = 1u << info.bitsPerPixel;
    const std::uint32_t count = info.coloursUsed == 0 ? limit : std::min(info.coloursUsed, limit);
    const std::size_t entryBytes = info.headerSize == 12 ? 3 : 4;
    std::vector<std::uint8_t> bytes(count * entryBytes);
    if (!source.ReadExactly(bytes.data(), bytes.size()))
        return false;
    info.palette.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = bytes.data() + i * entryBytes;
        info.palette[i] = {entry[2], entry[1], entry[0]};
    }
    return true;
}

bool IsConvertible(const BmpInfo& info)
{
    const bool topDown = info.height < 0;
    switch (info.compression) {
    case kBmpRgb:
        return info.bitsPerPixel == 1 || info.bitsPerPixel == 4 || info.bitsPerPixel == 8 ||
               info.bitsPerPixel == 16 || info.bitsPerPixel == 24 || info.bitsPerPixel == 32;
    case kBmpRle8: return info.bitsPerPixel == 8 && !topDown;
    case kBmpRle4: return info.bitsPerPixel == 4 && !topDown;
    case kBmpBitFields:
    case kBmpAlphaBitFields: return info.bitsPerPixel == 16 || info.bitsPerPixel == 32;
    default: return false;
    }
}

ImagePixelFormat BmpPixelFormat(const BmpInfo& info)
{
    ImagePixelFormat format;
    if (info.bitsPerPixel <= 8) {
        format = PalettePixelFormat(info.bitsPerPixel, info.palette.size(), [&info](std::size_t i) {
            return std::array<int, 3>{info.palette[i][0], info.palette[i][1], info.palette[i][2]};
        });
    } else {
        format.bitsPerSample = info.bitsPerPixel == 16 ? 5 : 8;
        format.channels = info.bitsPerPixel == 32 && info.masks[3] != 0 ? ImageChannels::Rgba : ImageChannels::Rgb;
    }
    return format;
}

class BmpDecoder final : public FormatDecoder {
public:
    explicit BmpDecoder(ByteSource& source) : source_(source) {}

    ImageDecodeStatus ReadHeader(ImageHeader& header) override
    {
        if (!ReadBmpHeaders(source_, info_) || !ReadBmpPalette(source_, info_))
            return ImageDecodeStatus::NotReadable;
        header.width = info_.width > 0 ? static_cast<std::uint32_t>(info_.width) : 0;
        header.height = static_cast<std::uint32_t>(info_.height < 0 ? -info_.height : info_.height);
        header.pixelFormat = BmpPixelFormat(info_);
        header.convertible = IsConvertible(info_);
        width_ = header.width;
        height_ = header.height;
        return ImageDecodeStatus::Ok;
    }

    ImageDecodeStatus ReadRows(const ImageRowSink& sink) override
    {
        if (!source_.Seek(info_.dataOffset))
            return ImageDecodeStatus::PixelsUnreadable;
        // Runs may jump anywhere in the image, so run-length data is decoded whole.
        if (info_.compression == kBmpRle8 || info_.compression == kBmpRle4)
            return DecodeWholeFrame(width_, height_, sink,
                                    [&](std::uint16_t* rgba) { return ReadRunLengthPixels(rgba); });
        return ReadPlainRows(sink);
    }

private:
    std::uint16_t* PixelAt(std::uint16_t* rgba, std::size_t x, std::size_t rowFromBottom) const
    {
        return rgba + ((height_ - 1 - rowFromBottom) * std::size_t{width_} + x) * 4;
    }

    void PutIndex(std::uint16_t* pixel, std::uint32_t index) const
    {
        if (index < info_.palette.size()) {
            const auto& colour = info_.palette[index];
            PutRgb16(pixel, Widen8(colour[0]), Widen8(colour[1]), Widen8(colour[2]));
        } else {
            PutRgb16(pixel, 0, 0, 0);
        }
    }

    // Rows as stored (bottom first unless the height is negative), each to the sink as read.
    ImageDecodeStatus ReadPlainRows(const ImageRowSink& sink)
    {
        const std::size_t stride = (std::size_t{width_} * info_.bitsPerPixel + 31) / 32 * 4;
        std::vector<std::uint8_t> row(stride);
        std::array<BitChannel, 3> channels;
        const bool defaultMasks = info_.compression == kBmpRgb;
        if (info_.bitsPerPixel == 16 || info_.bitsPerPixel == 32) {
            const std::array<std::uint32_t, 3> masks =
                defaultMasks ? (info_.bitsPerPixel == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                                                         : std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF})
                             : std::array<std::uint32_t, 3>{info_.masks[0], info_.masks[1], info_.masks[2]};
            for (int c = 0; c < 3; ++c)
                channels[c] = BitChannel(masks[c]);
        }
        const bool topDown = info_.height < 0;
        std::vector<std::uint16_t> rgba(std::size_t{width_} * 4);
        for (std::uint32_t i = 0; i < height_; ++i) {
            if (!source_.ReadExactly(row.data(), stride))
                return ImageDecodeStatus::PixelsUnreadable;
            std::uint16_t* out = rgba.data();
            for (std::size_t x = 0; x < width_; ++x, out += 4)
                StorePixel(row.data(), x, channels, out);
            sink(topDown ? i : height_ - 1 - i, rgba);
        }
        return ImageDecodeStatus::Ok;
    }

    void StorePixel(const std::uint8_t* row, std::size_t x, const std::array<BitChannel, 3>& channels,
                    std::uint16_t* out) const
    {
        switch (info_.bitsPerPixel) {
        case 1: PutIndex(out, (row[x / 8] >> (7 - x % 8)) & 1u); break;
        case 4: PutIndex(out, (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15u); break;
        case 8: PutIndex(out, row[x]); break;
        case 24: PutRgb16(out, Widen8(row[3 * x + 2]), Widen8(row[3 * x + 1]), Widen8(row[3 * x])); break;
        default: {
            const std::uint32_t pixel = info_.bitsPerPixel == 16 ? Le16(row + 2 * x) : Le32(row + 4 * x);
            PutRgb16(out, channels[0].Extract(pixel), channels[1].Extract(pixel), channels[2].Extract(pixel));
            break;
        }
        }
    }

    // Run-length data: pairs of (count, index) runs and escapes for end of line, end of
    // image, a jump, and literal runs padded to two bytes. Pixels the data skips are black;
    // runs past the right or top edge are dropped.
    ImageDecodeStatus ReadRunLengthPixels(std::uint16_t* rgba)
    {
        for (std::size_t i = 0; i < std::size_t{width_} * height_; ++i)
            PutRgb16(rgba + 4 * i, 0, 0, 0);
        const bool four = info_.compression == kBmpRle4;
        ByteReader reader(source_);
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        auto put = [&](std::uint32_t index) {
            if (x < width_ && y < height_)
                PutIndex(PixelAt(rgba, static_cast<std::size_t>(x), static_cast<std::size_t>(y)), index);
            ++x;
        };
        for (;;) {
            std::uint8_t count = 0;
            std::uint8_t value = 0;
            if (!reader.Next(count) || !reader.Next(value))
                return y >= height_ ? ImageDecodeStatus::Ok : ImageDecodeStatus::PixelsUnreadable;
            if (count > 0) {
                for (unsigned i = 0; i < count; ++i)
                    put(four ? (i % 2 == 0 ? value >> 4 : value & 15u) : value);
                continue;
            }
            if (value == 0) {
                x = 0;
                ++y;
            } else if (value == 1) {
                return ImageDecodeStatus::Ok;
            } else if (value == 2) {
                std::uint8_t dx = 0;
                std::uint8_t dy = 0;
                if (!reader.Next(dx) || !reader.Next(dy))
                    return ImageDecodeStatus::PixelsUnreadable;
                x += dx;
                y += dy;
            } else {
                const unsigned bytes = four ? (value + 1u) / 2 : value;
                std::uint8_t byte = 0;
                for (unsigned i = 0; i < bytes; ++i) {
                    if (!reader.Next(byte))
                        return ImageDecodeStatus::PixelsUnreadable;
                    if (four) {
                        put(byte >> 4);
                        if (2 * i + 1 < value)
                            put(byte & 15u);
                    } else {
                        put(byte);
                    }
                }
                if (bytes % 2 == 1 && !reader.Next(byte))
                    return ImageDecodeStatus::PixelsUnreadable;
            }
        }
    }

    ByteSource& source_;
    BmpInfo info_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
};

}  // namespace

std::unique_ptr<FormatDecoder> MakeBmpDecoder(ByteSource& source)
{
    return std::make_unique<BmpDecoder>(source);
}

}  // namespace grainforge::platform
