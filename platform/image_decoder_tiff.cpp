// TIFF through libtiff: the first directory only, 8- and 16-bit unsigned and 32-bit float
// samples, grey or RGB with any extra samples (alpha) ignored, stored in strips or tiles,
// interleaved or as separate planes; JPEG-compressed YCbCr is read as RGB. Errors reach a
// handler of this handle (never the process-wide one, so threads do not share it), and
// libtiff's allocations are capped per allocation.
#include "platform/image_format_decoder.h"

#include <tiffio.h>

#include <cstdarg>
#include <algorithm>
#include <cstring>
#include <vector>

namespace grainforge::platform {

namespace {

// Largest single allocation libtiff may make while reading (a whole compressed strip of a
// large image fits); larger requests fail as an error instead of exhausting memory.
constexpr tmsize_t kTiffAllocationLimit = tmsize_t{1} << 30;
// Our own tile buffer is refused beyond this (a 4096 x 4096 tile of four floats is 256 MiB).
constexpr std::uint64_t kTileByteLimit = std::uint64_t{256} << 20;
// Samples per pixel beyond this are not an image we read (the format allows 65535).
constexpr std::uint16_t kSampleLimit = 64;

struct TiffHandle {
    ByteSource* source = nullptr;
    bool failed = false;  // an error was reported since the flag was last cleared
};

tmsize_t ReadTiffBytes(thandle_t handle, void* buffer, tmsize_t size)
{
    if (size <= 0)
        return 0;
    return static_cast<tmsize_t>(static_cast<TiffHandle*>(handle)->source->Read(buffer, static_cast<std::size_t>(size)));
}

tmsize_t WriteTiffBytes(thandle_t, void*, tmsize_t) { return -1; }

toff_t SeekTiff(thandle_t handle, toff_t offset, int whence)
{
    ByteSource& source = *static_cast<TiffHandle*>(handle)->source;
    std::uint64_t target = offset;
    if (whence == SEEK_CUR)
        target = source.Position() + offset;
    else if (whence == SEEK_END)
        target = source.Size() + offset;
    if (target < offset || !source.Seek(target))  // wrapped, or beyond the end
        return static_cast<toff_t>(-1);
    return target;
}

int CloseTiff(thandle_t) { return 0; }
toff_t TiffSize(thandle_t handle) { return static_cast<TiffHandle*>(handle)->source->Size(); }
int MapTiff(thandle_t, void**, toff_t*) { return 0; }
void UnmapTiff(thandle_t, void*, toff_t) {}

int OnTiffError(TIFF*, void* user, const char*, const char*, va_list)
{
    static_cast<TiffHandle*>(user)->failed = true;
    return 1;  // handled: the process-wide handler (which prints) is not called
}

int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    bool tiled = false;
    int colourSamples = 1;  // 1 grey, 3 RGB
    bool invert = false;    // white is zero
};

TiffLayout ReadLayout(TIFF* tiff)
{
    TiffLayout layout;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout.sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric) != 1)
        layout.photometric = layout.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    layout.tiled = TIFFIsTiled(tiff) != 0;
    return layout;
}

// Fills the pixel-format facts and says whether the samples can be read.
bool DescribeLayout(TIFF* tiff, TiffLayout& layout, ImagePixelFormat& format)
{
    const bool extraSamples = layout.samplesPerPixel > (layout.photometric == PHOTOMETRIC_MINISBLACK ||
                                                                layout.photometric == PHOTOMETRIC_MINISWHITE
                                                            ? 1
                                                            : 3);
    format.bitsPerSample = layout.bitsPerSample;
    format.sampleType = layout.sampleFormat == SAMPLEFORMAT_IEEEFP ? ImageSampleType::Float
                                                                    : ImageSampleType::UnsignedInteger;
    bool readable = true;
    switch (layout.photometric) {
    case PHOTOMETRIC_MINISWHITE:
        layout.invert = true;
        [[fallthrough]];
    case PHOTOMETRIC_MINISBLACK:
        format.channels = extraSamples ? ImageChannels::GreyAlpha : ImageChannels::Grey;
        layout.colourSamples = 1;
        break;
    case PHOTOMETRIC_YCBCR:
        // Only JPEG compression can hand YCbCr over as RGB (the codec converts).
        readable = layout.compression == COMPRESSION_JPEG &&
                   TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 1;
        [[fallthrough]];
    case PHOTOMETRIC_RGB:
        format.channels = extraSamples ? ImageChannels::Rgba : ImageChannels::Rgb;
        layout.colourSamples = 3;
        break;
    case PHOTOMETRIC_PALETTE:
        format.channels = ImageChannels::Indexed;
        readable = false;
        break;
    case PHOTOMETRIC_SEPARATED:
        format.channels = ImageChannels::Cmyk;
        readable = false;
        break;
    default:
        format.channels = ImageChannels::Rgb;
        readable = false;
        break;
    }
    const bool integer = (layout.sampleFormat == SAMPLEFORMAT_UINT || layout.sampleFormat == SAMPLEFORMAT_VOID) &&
                         (layout.bitsPerSample == 8 || layout.bitsPerSample == 16);
    const bool floating = layout.sampleFormat == SAMPLEFORMAT_IEEEFP && layout.bitsPerSample == 32;
    return readable && (integer || floating) && layout.samplesPerPixel >= layout.colourSamples &&
           layout.samplesPerPixel <= kSampleLimit &&
           (layout.planar == PLANARCONFIG_CONTIG || layout.planar == PLANARCONFIG_SEPARATE);
}

std::uint16_t SampleTo16(const unsigned char* sample, const TiffLayout& layout)
{
    std::uint16_t value;
    if (layout.bitsPerSample == 8) {
        value = Widen8(*sample);
    } else if (layout.bitsPerSample == 16) {
        std::memcpy(&value, sample, 2);
    } else {
        float f;
        std::memcpy(&f, sample, 4);
        value = !(f > 0.0f) ? 0 : f >= 1.0f ? 65535 : static_cast<std::uint16_t>(f * 65535.0f + 0.5f);
    }
    return layout.invert ? static_cast<std::uint16_t>(65535 - value) : value;
}

// Copies `count` pixels of one decoded run into the RGBA rows. `stride` is the distance
// between pixels in the run; `plane` is the one channel the run holds when planes are
// separate, or -1 when it holds every sample of each pixel.
void StoreRun(const unsigned char* run, std::size_t count, std::size_t stride, int plane, const TiffLayout& layout,
              std::uint16_t* out)
{
    const std::size_t bytes = layout.bitsPerSample / 8;
    for (std::size_t x = 0; x < count; ++x, run += stride, out += 4) {
        if (plane < 0) {
            for (int c = 0; c < 3; ++c)
                out[c] = SampleTo16(run + (layout.colourSamples == 1 ? 0 : c) * bytes, layout);
        } else if (layout.colourSamples == 1) {
            out[0] = out[1] = out[2] = SampleTo16(run, layout);
        } else {
            out[plane] = SampleTo16(run, layout);
        }
        out[3] = 0xFFFF;
    }
}

class TiffDecoder final : public FormatDecoder {
public:
    explicit TiffDecoder(ByteSource& source) { handle_.source = &source; }
    ~TiffDecoder() override
    {
        if (tiff_ != nullptr)
            TIFFClose(tiff_);
    }
    TiffDecoder(const TiffDecoder&) = delete;
    TiffDecoder& operator=(const TiffDecoder&) = delete;

    ImageDecodeStatus ReadHeader(ImageHeader& header) override
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (options == nullptr)
            return ImageDecodeStatus::NotReadable;
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kTiffAllocationLimit);
        TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffError, &handle_);
        TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffWarning, &handle_);
        // "m": no memory mapping; every read goes through the byte source.
        tiff_ = TIFFClientOpenExt("image", "rm", &handle_, ReadTiffBytes, WriteTiffBytes, SeekTiff, CloseTiff,
                                  TiffSize, MapTiff, UnmapTiff, options);
        TIFFOpenOptionsFree(options);
        if (tiff_ == nullptr)
            return ImageDecodeStatus::NotReadable;
        layout_ = ReadLayout(tiff_);
        header.width = layout_.width;
        header.height = layout_.height;
        header.convertible = DescribeLayout(tiff_, layout_, header.pixelFormat);
        return ImageDecodeStatus::Ok;
    }

    ImageDecodeStatus ReadRows(const ImageRowSink& sink) override
    {
        handle_.failed = false;
        ImageDecodeStatus status;
        if (layout_.tiled)
            status = ReadTiles(sink);
        else if (Separate())  // each plane runs through all rows before the next begins
            status = DecodeWholeFrame(layout_.width, layout_.height, sink,
                                      [&](std::uint16_t* rgba) { return ReadStrips(rgba); });
        else
            status = ReadStrips(sink);
        if (status == ImageDecodeStatus::Ok && handle_.failed)
            return ImageDecodeStatus::PixelsUnreadable;
        return status;
    }

private:
    std::size_t SampleBytes() const { return layout_.bitsPerSample / 8u; }
    bool Separate() const { return layout_.planar == PLANARCONFIG_SEPARATE; }
    int PlaneCount() const { return Separate() ? layout_.colourSamples : 1; }
    // Bytes between neighbouring pixels in a decoded run.
    std::size_t PixelStride() const { return Separate() ? SampleBytes() : SampleBytes() * layout_.samplesPerPixel; }

    // Bytes of one scanline of strips; 0 when a line is shorter than its pixels or larger
    // than we read.
    std::size_t LineBytes() const
    {
        const std::uint64_t needed = std::uint64_t{layout_.width} * PixelStride();
        const std::uint64_t lineBytes = static_cast<std::uint64_t>(TIFFScanlineSize64(tiff_));
        return lineBytes < needed || lineBytes > kTileByteLimit ? 0 : static_cast<std::size_t>(lineBytes);
    }

    // Separate planes: each plane's rows in turn, into the whole frame.
    ImageDecodeStatus ReadStrips(std::uint16_t* rgba)
    {
        const std::size_t lineBytes = LineBytes();
        if (lineBytes == 0)
            return ImageDecodeStatus::Unconvertible;
        std::vector<unsigned char> line(lineBytes);
        const std::size_t rowSamples = std::size_t{layout_.width} * 4;
        for (int plane = 0; plane < PlaneCount(); ++plane) {
            for (std::uint32_t y = 0; y < layout_.height; ++y) {
                if (TIFFReadScanline(tiff_, line.data(), y, static_cast<std::uint16_t>(plane)) < 0 || handle_.failed)
                    return ImageDecodeStatus::PixelsUnreadable;
                StoreRun(line.data(), layout_.width, PixelStride(), plane, layout_, rgba + y * rowSamples);
            }
        }
        return ImageDecodeStatus::Ok;
    }

    // Interleaved samples: each row to the sink as read.
    ImageDecodeStatus ReadStrips(const ImageRowSink& sink)
    {
        const std::size_t lineBytes = LineBytes();
        if (lineBytes == 0)
            return ImageDecodeStatus::Unconvertible;
        std::vector<unsigned char> line(lineBytes);
        std::vector<std::uint16_t> rgba(std::size_t{layout_.width} * 4);
        for (std::uint32_t y = 0; y < layout_.height; ++y) {
            if (TIFFReadScanline(tiff_, line.data(), y, 0) < 0 || handle_.failed)
                return ImageDecodeStatus::PixelsUnreadable;
            StoreRun(line.data(), layout_.width, PixelStride(), -1, layout_, rgba.data());
            sink(y, rgba);
        }
        return ImageDecodeStatus::Ok;
    }

    // One row of tiles (every plane of it) at a time into a band of full rows, which then goes
    // to the sink.
    ImageDecodeStatus ReadTiles(const ImageRowSink& sink)
    {
        std::uint32_t tileWidth = 0;
        std::uint32_t tileHeight = 0;
        TIFFGetField(tiff_, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tiff_, TIFFTAG_TILELENGTH, &tileHeight);
        const std::uint64_t tileBytes = static_cast<std::uint64_t>(TIFFTileSize64(tiff_));
        const std::uint64_t tileRowBytes = std::uint64_t{tileWidth} * PixelStride();
        if (tileWidth == 0 || tileHeight == 0 || tileBytes > kTileByteLimit || tileBytes < tileRowBytes * tileHeight)
            return ImageDecodeStatus::Unconvertible;
        std::vector<unsigned char> tile(tileBytes);
        const std::size_t rowSamples = std::size_t{layout_.width} * 4;
        std::vector<std::uint16_t> band(std::size_t{std::min(tileHeight, layout_.height)} * rowSamples);
        for (std::uint32_t ty = 0; ty < layout_.height; ty += tileHeight) {
            const std::uint32_t rows = std::min(tileHeight, layout_.height - ty);
            for (int plane = 0; plane < PlaneCount(); ++plane) {
                for (std::uint32_t tx = 0; tx < layout_.width; tx += tileWidth) {
                    if (TIFFReadTile(tiff_, tile.data(), tx, ty, 0, static_cast<std::uint16_t>(plane)) < 0 ||
                        handle_.failed)
                        return ImageDecodeStatus::PixelsUnreadable;
                    const std::uint32_t columns = std::min(tileWidth, layout_.width - tx);
                    for (std::uint32_t r = 0; r < rows; ++r)
                        StoreRun(tile.data() + r * tileRowBytes, columns, PixelStride(), Separate() ? plane : -1,
                                 layout_, band.data() + r * rowSamples + std::size_t{tx} * 4);
                    if (tileWidth > layout_.width - tx)  // the last tile of a row
                        break;
                }
            }
            for (std::uint32_t r = 0; r < rows; ++r)
                sink(ty + r, {band.data() + r * rowSamples, rowSamples});
            if (tileHeight > layout_.height - ty)
                break;
        }
        return ImageDecodeStatus::Ok;
    }

    TiffHandle handle_;
    TIFF* tiff_ = nullptr;
    TiffLayout layout_;
};

}  // namespace

std::unique_ptr<FormatDecoder> MakeTiffDecoder(ByteSource& source)
{
    return std::make_unique<TiffDecoder>(source);
}

}  // namespace grainforge::platform
