// PNG through libpng, keeping 16-bit samples. libpng reports errors by calling our error
// function, which jumps back to the setjmp of the step that called into libpng. Every step
// that calls libpng is a plain function holding nothing that needs destruction, so the jump
// skips no destructor; C++ objects (row pointers, the pixel buffer) are made by the caller
// before the step starts.
#include "platform/image_format_decoder.h"

#include <png.h>

#include <bit>
#include <csetjmp>
#include <vector>

namespace grainforge::platform {

namespace {

// libpng allocates ancillary chunks (text, ICC profiles) up to this size each and keeps at
// most this many; the image rows go into our own buffer.
constexpr png_alloc_size_t kChunkMemoryLimit = 8u << 20;
constexpr png_uint_32 kChunkCountLimit = 1000;

struct PngContext {
    ByteSource* source = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::jmp_buf jump;
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp /*message*/)
{
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    std::longjmp(context->jump, 1);
}

// Warnings (a bad ancillary chunk, extra data) do not stop the read and are not printed.
void OnPngWarning(png_structp, png_const_charp) {}

void ReadPngBytes(png_structp png, png_bytep data, std::size_t length)
{
    auto* context = static_cast<PngContext*>(png_get_io_ptr(png));
    if (!context->source->ReadExactly(data, length))
        png_error(png, "unexpected end of file");
}

struct PngFacts {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    bool interlaced = false;
    std::vector<png_color> palette;  // a palette image's entries
};

bool ReadPngInfo(PngContext* context, PngFacts* facts)
{
    if (setjmp(context->jump) != 0)
        return false;
    png_set_read_fn(context->png, context, ReadPngBytes);
    // Any size the format allows is read from the header; the caller refuses large ones
    // before a row is allocated, with its own message.
    png_set_user_limits(context->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_chunk_malloc_max(context->png, kChunkMemoryLimit);
    png_set_chunk_cache_max(context->png, kChunkCountLimit);
    png_read_info(context->png, context->info);
    int interlace = 0;
    png_get_IHDR(context->png, context->info, &facts->width, &facts->height, &facts->bitDepth,
                 &facts->colourType, &interlace, nullptr, nullptr);
    facts->interlaced = interlace != PNG_INTERLACE_NONE;
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_PLTE(context->png, context->info, &palette, &entries) != 0 && palette != nullptr && entries > 0)
        facts->palette.assign(palette, palette + entries);
    return true;
}

// Asks libpng for 16-bit RGBA in host byte order; false when it cannot give exactly that.
bool SetRgba16Transforms(PngContext* context, png_uint_32 width)
{
    if (setjmp(context->jump) != 0)
        return false;
    png_structp png = context->png;
    png_set_expand(png);  // palette to RGB, grey below 8 bits to 8, transparency to alpha
    png_set_expand_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFFFF, PNG_FILLER_AFTER);
    if constexpr (std::endian::native == std::endian::little)
        png_set_swap(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, context->info);
    return png_get_bit_depth(png, context->info) == 16 && png_get_channels(png, context->info) == 4 &&
           png_get_rowbytes(png, context->info) == std::size_t{width} * 8;
}

bool ReadPngRows(PngContext* context, png_bytepp rows)
{
    if (setjmp(context->jump) != 0)
        return false;
    png_read_image(context->png, rows);
    return true;
}

bool ReadPngRow(PngContext* context, png_bytep row)
{
    if (setjmp(context->jump) != 0)
        return false;
    png_read_row(context->png, row, nullptr);
    return true;
}

ImagePixelFormat PngPixelFormat(const PngFacts& facts)
{
    ImagePixelFormat format;
    format.bitsPerSample = facts.bitDepth;
    switch (facts.colourType) {
    case PNG_COLOR_TYPE_GRAY: format.channels = ImageChannels::Grey; break;
    case PNG_COLOR_TYPE_GRAY_ALPHA: format.channels = ImageChannels::GreyAlpha; break;
    case PNG_COLOR_TYPE_PALETTE:
        return PalettePixelFormat(facts.bitDepth, facts.palette.size(), [&facts](std::size_t i) {
            const png_color& c = facts.palette[i];
            return std::array<int, 3>{c.red, c.green, c.blue};
        });
    case PNG_COLOR_TYPE_RGB_ALPHA: format.channels = ImageChannels::Rgba; break;
    default: format.channels = ImageChannels::Rgb; break;
    }
    return format;
}

class PngDecoder final : public FormatDecoder {
public:
    explicit PngDecoder(ByteSource& source) { context_.source = &source; }
    ~PngDecoder() override
    {
        if (context_.png != nullptr)
            png_destroy_read_struct(&context_.png, context_.info != nullptr ? &context_.info : nullptr, nullptr);
    }
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;

    ImageDecodeStatus ReadHeader(ImageHeader& header) override
    {
        context_.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context_, OnPngError, OnPngWarning);
        if (context_.png == nullptr)
            return ImageDecodeStatus::NotReadable;
        context_.info = png_create_info_struct(context_.png);
        if (context_.info == nullptr || !ReadPngInfo(&context_, &facts_))
            return ImageDecodeStatus::NotReadable;
        header.width = facts_.width;
        header.height = facts_.height;
        header.pixelFormat = PngPixelFormat(facts_);
        header.convertible = true;
        return ImageDecodeStatus::Ok;
    }

    ImageDecodeStatus ReadRows(const ImageRowSink& sink) override
    {
        if (!SetRgba16Transforms(&context_, facts_.width))
            return ImageDecodeStatus::Unconvertible;
        const std::size_t rowSamples = std::size_t{facts_.width} * 4;
        // Each interlace pass adds pixels to every row, so those rows must all be held.
        if (facts_.interlaced)
            return DecodeWholeFrame(facts_.width, facts_.height, sink, [&](std::uint16_t* rgba) {
                std::vector<png_bytep> rows(facts_.height);
                for (std::size_t y = 0; y < rows.size(); ++y)
                    rows[y] = reinterpret_cast<png_bytep>(rgba + y * rowSamples);
                return ReadPngRows(&context_, rows.data()) ? ImageDecodeStatus::Ok : ImageDecodeStatus::PixelsUnreadable;
            });
        std::vector<std::uint16_t> row(rowSamples);
        for (std::uint32_t y = 0; y < facts_.height; ++y) {
            if (!ReadPngRow(&context_, reinterpret_cast<png_bytep>(row.data())))
                return ImageDecodeStatus::PixelsUnreadable;
            sink(y, row);
        }
        return ImageDecodeStatus::Ok;
    }

private:
    PngContext context_;
    PngFacts facts_;
};

}  // namespace

std::unique_ptr<FormatDecoder> MakePngDecoder(ByteSource& source)
{
    return std::make_unique<PngDecoder>(source);
}

}  // namespace grainforge::platform
