#include "tests/support/image_fixtures.h"

#include <csetjmp>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <utility>

#include <unistd.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

namespace grainforge::test {

namespace {

// ---- PNG ----------------------------------------------------------------------------------

// Indexed by PngColour.
constexpr int kPngColourTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                   PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE};
constexpr int kPngChannels[] = {1, 2, 3, 4, 1};

// Packs one row of samples at the fixture's depth, big-endian as PNG stores them.
std::vector<png_byte> PackPngRow(const PngFixture& f, std::uint32_t y)
{
    const std::size_t perRow = std::size_t{f.width} * kPngChannels[static_cast<int>(f.colour)];
    const std::uint16_t* samples = f.samples.data() + y * perRow;
    std::vector<png_byte> row((perRow * f.bitDepth + 7) / 8 + 1, 0);
    for (std::size_t i = 0; i < perRow; ++i) {
        if (f.bitDepth == 16) {
            row[2 * i] = static_cast<png_byte>(samples[i] >> 8);
            row[2 * i + 1] = static_cast<png_byte>(samples[i] & 0xFF);
        } else {  // 8 bits or fewer, packed from the high bit down
            const std::size_t bit = i * f.bitDepth;
            row[bit / 8] |= static_cast<png_byte>(samples[i] << (8 - f.bitDepth - bit % 8));
        }
    }
    return row;
}

// Holds no C++ object across the setjmp: libpng jumps back here on an error.
bool WritePng(png_structp png, png_infop info, const PngFixture& f, png_bytepp rows, png_colorp palette,
              int paletteSize)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_set_IHDR(png, info, f.width, f.height, f.bitDepth, kPngColourTypes[static_cast<int>(f.colour)],
                 f.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (f.colour == PngColour::Palette)
        png_set_PLTE(png, info, palette, paletteSize);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

// ---- TIFF ---------------------------------------------------------------------------------

// The samples of one plane (or of all, interleaved) in a rectangle, as the file stores them.
std::vector<std::uint8_t> PackTiffBlock(const TiffPage& page, int plane, std::uint32_t x0, std::uint32_t y0,
                                        std::uint32_t w, std::uint32_t h)
{
    const int bytes = page.bitsPerSample / 8;
    const int perPixel = plane < 0 ? page.samplesPerPixel : 1;
    std::vector<std::uint8_t> block(std::size_t{w} * h * perPixel * bytes, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < w; ++x) {
            if (x0 + x >= page.width || y0 + y >= page.height)
                continue;
            const std::size_t pixel = std::size_t{y0 + y} * page.width + x0 + x;
            for (int s = 0; s < perPixel; ++s) {
                const int sample = plane < 0 ? s : plane;
                const double value = page.samples[pixel * page.samplesPerPixel + sample];
                // Stored in the page's type, in this machine's byte order as libtiff expects.
                std::uint8_t* out = block.data() + ((std::size_t{y} * w + x) * perPixel + s) * bytes;
                const float asFloat = page.floating ? static_cast<float>(value) : 0.0f;
                const auto asShort = static_cast<std::uint16_t>(!page.floating && bytes == 2 ? value : 0.0);
                if (page.floating || bytes == 2)
                    std::memcpy(out, page.floating ? static_cast<const void*>(&asFloat) : &asShort, bytes);
                else
                    *out = static_cast<std::uint8_t>(value);
            }
        }
    }
    return block;
}

bool WriteTiffPage(TIFF* tiff, const TiffPage& page)
{
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, page.samplesPerPixel);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, page.bitsPerSample);
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, page.floating ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    const bool colour = page.samplesPerPixel >= 3;
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 colour ? PHOTOMETRIC_RGB : page.whiteIsZero ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
    if (page.samplesPerPixel == 2 || page.samplesPerPixel == 4) {
        const std::uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    }
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, page.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, page.deflate ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_NONE);
    // Square tiles, or strips of two rows written a row at a time.
    const bool tiled = page.tileSize > 0;
    const std::uint32_t blockWidth = tiled ? page.tileSize : page.width, blockHeight = tiled ? page.tileSize : 1;
    TIFFSetField(tiff, tiled ? TIFFTAG_TILEWIDTH : TIFFTAG_ROWSPERSTRIP, tiled ? page.tileSize : 2u);
    if (tiled)
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, page.tileSize);
    for (int p = 0; p < (page.separatePlanes ? page.samplesPerPixel : 1); ++p)
        for (std::uint32_t y = 0; y < page.height; y += blockHeight)
            for (std::uint32_t x = 0; x < page.width; x += blockWidth) {
                auto block = PackTiffBlock(page, page.separatePlanes ? p : -1, x, y, blockWidth, blockHeight);
                const auto plane = static_cast<std::uint16_t>(p);
                if ((tiled ? TIFFWriteTile(tiff, block.data(), x, y, 0, plane)
                           : TIFFWriteScanline(tiff, block.data(), y, plane)) < 0)
                    return false;
            }
    return TIFFWriteDirectory(tiff) == 1;
}

// ---- BMP and hand-written TIFF ------------------------------------------------------------

// Each value appended little-endian in its number of bytes.
void AppendLittleEndian(std::vector<std::uint8_t>& out, std::initializer_list<std::pair<std::uint32_t, int>> fields)
{
    for (const auto& [value, bytes] : fields)
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The rows as the file stores them, bottom row first unless top-down: run-length pairs ending
// in an end-of-line mark, then end-of-bitmap, or plain rows padded to four bytes.
std::vector<std::uint8_t> BmpRows(const BmpFixture& f)
{
    const int bytes = f.bitsPerPixel / 8;
    const std::size_t stride = (std::size_t(f.width) * f.bitsPerPixel + 31) / 32 * 4;
    std::vector<std::uint8_t> data;
    for (std::int32_t fileRow = 0; fileRow < f.height; ++fileRow) {
        const std::int32_t y = f.topDown ? fileRow : f.height - 1 - fileRow;
        const std::uint8_t* indices = f.samples.data() + std::size_t(y) * f.width;
        for (std::int32_t x = 0, run = 1; f.runLength && x < f.width; x += run, run = 1) {
            while (x + run < f.width && run < 255 && indices[x + run] == indices[x])
                ++run;
            data.insert(data.end(), {static_cast<std::uint8_t>(run), indices[x]});
        }
        if (f.runLength) {
            data.insert(data.end(), {0, 0});
            continue;
        }
        std::vector<std::uint8_t> row(stride, 0);
        for (std::int32_t x = 0; x < f.width; ++x) {
            const std::size_t pixel = std::size_t(y) * f.width + x;
            if (bytes == 1) {
                row[x] = f.samples[pixel];
            } else {
                row[bytes * x] = f.samples[3 * pixel + 2];
                row[bytes * x + 1] = f.samples[3 * pixel + 1];
                row[bytes * x + 2] = f.samples[3 * pixel];
            }
        }
        data.insert(data.end(), row.begin(), row.end());
    }
    if (f.runLength)
        data.insert(data.end(), {0, 1});
    return data;
}

// ---- Stated sizes ---------------------------------------------------------------------------

void PutBigEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * (count - 1 - i)));
}

void PutLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value, int count)
{
    for (int i = 0; i < count; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The PNG header chunk (at byte 8: length, "IHDR", 13 bytes, CRC) restated, its CRC redone.
void RestatePngSize(std::vector<std::uint8_t>& bytes, std::uint32_t width, std::uint32_t height)
{
    PutBigEndian(bytes, 16, width, 4);
    PutBigEndian(bytes, 20, height, 4);
    PutBigEndian(bytes, 29, static_cast<std::uint32_t>(crc32(0, bytes.data() + 12, 17)), 4);
}

// The frame header of a baseline JPEG (marker FF C0: length, precision, height, width).
void RestateJpegSize(std::vector<std::uint8_t>& bytes, std::uint32_t width, std::uint32_t height)
{
    for (std::size_t i = 2; i + 8 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            PutBigEndian(bytes, i + 5, height, 2);
            PutBigEndian(bytes, i + 7, width, 2);
            return;
        }
    throw std::runtime_error("JPEG fixture has no frame header");
}

// The logical screen (byte 6) and the first image descriptor, found past the global colour
// table and the extension records before it.
void RestateGifSize(std::vector<std::uint8_t>& bytes, std::uint32_t width, std::uint32_t height)
{
    PutLittleEndian(bytes, 6, width, 2);
    PutLittleEndian(bytes, 8, height, 2);
    std::size_t at = 13 + ((bytes[10] & 0x80) != 0 ? 3u << ((bytes[10] & 7) + 1) : 0);
    while (at < bytes.size() && bytes[at] == 0x21) {  // an extension: label, then sub-blocks
        at += 2;
        while (at < bytes.size() && bytes[at] != 0)
            at += bytes[at] + 1u;
        ++at;
    }
    if (at + 9 > bytes.size() || bytes[at] != 0x2C)
        throw std::runtime_error("GIF fixture has no image descriptor");
    PutLittleEndian(bytes, at + 5, width, 2);
    PutLittleEndian(bytes, at + 7, height, 2);
}

bool WriteUniformPngRows(png_structp png, png_infop info, std::uint32_t width, std::uint32_t height, png_bytep row)
{
    if (setjmp(png_jmpbuf(png)) != 0)
        return false;
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y)
        png_write_row(png, row);
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const PngFixture& f)
{
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, std::size_t size) {
            static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p))->insert(
                static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p))->end(), data, data + size);
        },
        [](png_structp) {});
    std::vector<std::vector<png_byte>> rows(f.height);
    std::vector<png_bytep> pointers;
    for (std::uint32_t y = 0; y < f.height; ++y)
        pointers.push_back((rows[y] = PackPngRow(f, y)).data());
    std::vector<png_color> palette;
    for (const Rgb8& c : f.palette)
        palette.push_back({c[0], c[1], c[2]});
    const bool ok = WritePng(png, info, f, pointers.data(), palette.data(), static_cast<int>(palette.size()));
    png_destroy_write_struct(&png, &info);
    if (!ok)
        throw std::runtime_error("PNG fixture could not be written");
    return out;
}

std::vector<std::uint8_t> EncodeJpeg(const JpegFixture& f)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = f.width;
    info.image_height = f.height;
    info.input_components = f.components;
    info.in_color_space = f.components == 1 ? JCS_GRAYSCALE : f.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, f.quality, TRUE);
    if (f.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    const std::size_t stride = std::size_t{f.width} * f.components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(f.samples.data() + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

std::vector<std::uint8_t> EncodeTiff(const std::vector<TiffPage>& pages)
{
    // libtiff writes through a descriptor of its own (it closes it); the bytes are read back
    // from the unnamed temporary file afterwards.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
    TIFF* tiff = file ? TIFFFdOpen(dup(fileno(file.get())), "fixture", "w") : nullptr;
    if (tiff == nullptr)
        throw std::runtime_error("TIFF fixture could not be opened");
    bool ok = true;
    for (const TiffPage& page : pages)
        ok = ok && WriteTiffPage(tiff, page);
    TIFFClose(tiff);
    std::fseek(file.get(), 0, SEEK_END);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(std::max(std::ftell(file.get()), 0L)));
    std::rewind(file.get());
    if (!ok || std::fread(out.data(), 1, out.size(), file.get()) != out.size())
        throw std::runtime_error("TIFF fixture could not be written");
    return out;
}

std::vector<std::uint8_t> EncodeGif(const GifFixture& f)
{
    std::vector<std::uint8_t> out;
    int error = 0;
    const auto append = [](GifFileType* g, const GifByteType* data, int size) {
        auto* bytes = static_cast<std::vector<std::uint8_t>*>(g->UserData);
        bytes->insert(bytes->end(), data, data + size);
        return size;
    };
    GifFileType* gif = EGifOpen(&out, append, &error);
    if (gif == nullptr)
        throw std::runtime_error("GIF fixture could not be opened");
    std::vector<GifColorType> colours;
    for (const Rgb8& c : f.palette)
        colours.push_back({c[0], c[1], c[2]});
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, static_cast<int>(f.width), static_cast<int>(f.height), 8, 0, map) == GIF_OK;
    ok = ok && EGifPutComment(gif, "fixture") == GIF_OK;  // a record before the first image
    for (const auto& frame : f.frames) {
        ok = ok && EGifPutImageDesc(gif, 0, 0, static_cast<int>(f.width), static_cast<int>(f.height), f.interlaced,
                                    nullptr) == GIF_OK;
        // Interlaced rows go in four passes: every 8th from row 0, every 8th from 4, every 4th
        // from 2, every 2nd from 1.
        const std::uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < (f.interlaced ? 4 : 1); ++pass)
            for (std::uint32_t y = f.interlaced ? start[pass] : 0; y < f.height; y += f.interlaced ? step[pass] : 1) {
                std::vector<GifPixelType> line(frame.begin() + y * f.width, frame.begin() + (y + 1) * f.width);
                ok = ok && EGifPutLine(gif, line.data(), static_cast<int>(f.width)) == GIF_OK;
            }
    }
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    if (!ok)
        throw std::runtime_error("GIF fixture could not be written");
    return out;
}

std::vector<std::uint8_t> EncodeBmp(const BmpFixture& f)
{
    const bool palette = f.bitsPerPixel == 8;
    const std::vector<std::uint8_t> pixels = BmpRows(f);
    const std::uint32_t paletteBytes = palette ? static_cast<std::uint32_t>(f.palette.size() * 4) : 0;
    const std::uint32_t offset = 14 + 40 + paletteBytes;
    const auto size = [](auto value) { return static_cast<std::uint32_t>(value); };
    const std::uint32_t colours = palette ? size(f.palette.size()) : 0;
    // File header, then the 40-byte information header; 2835 pixels per metre is 72 dpi.
    std::vector<std::uint8_t> out = {'B', 'M'};
    AppendLittleEndian(out, {{offset + size(pixels.size()), 4}, {0, 4}, {offset, 4}, {40, 4}, {size(f.width), 4},
                             {size(f.topDown ? -f.height : f.height), 4}, {1, 2}, {size(f.bitsPerPixel), 2},
                             {f.runLength ? 1 : 0, 4}, {size(pixels.size()), 4}, {2835, 4}, {2835, 4}, {colours, 4},
                             {0, 4}});
    for (const Rgb8& c : f.palette) {
        if (!palette)
            break;
        out.insert(out.end(), {c[2], c[1], c[0], 0});
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

std::vector<std::uint8_t> UniformGreyPng(std::uint32_t width, std::uint32_t height, std::uint16_t value, int bitDepth)
{
    return EncodePng(
        {width, height, PngColour::Grey, bitDepth, std::vector<std::uint16_t>(std::size_t{width} * height, value)});
}

std::vector<std::uint8_t> EncodeTiffStatingSize(std::uint32_t width, std::uint32_t height)
{
    // Tag, type (3 short, 4 long), one value; the samples follow the directory.
    std::vector<std::uint8_t> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0, 9, 0};
    const std::uint32_t dataOffset = 8 + 2 + 9 * 12 + 4;
    const std::uint32_t entries[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                        {273, 4, dataOffset}, {277, 3, 1}, {278, 4, height}, {279, 4, 16}};
    for (const auto& e : entries)
        AppendLittleEndian(bytes, {{e[0], 2}, {e[1], 2}, {1, 4}, {e[2], 4}});
    AppendLittleEndian(bytes, {{0, 4}});
    bytes.resize(bytes.size() + 16, 0x80);
    return bytes;
}

std::vector<std::uint8_t> EncodeImageStatingSize(ImageFormat format, std::uint32_t width, std::uint32_t height)
{
    constexpr std::uint32_t kSide = 8;
    const std::vector<std::uint8_t> grey(kSide * kSide, 0x80);
    std::vector<std::uint8_t> bytes;
    switch (format) {
    case ImageFormat::Png:
        bytes = UniformGreyPng(kSide, kSide, 0x80);
        RestatePngSize(bytes, width, height);
        break;
    case ImageFormat::Jpeg:
        bytes = EncodeJpeg({kSide, kSide, 1, grey});
        RestateJpegSize(bytes, width, height);
        break;
    case ImageFormat::Tiff:
        bytes = EncodeTiffStatingSize(width, height);
        break;
    case ImageFormat::Gif:
        bytes = EncodeGif({kSide, kSide, {{0, 0, 0}, {255, 255, 255}}, {std::vector<std::uint8_t>(kSide * kSide, 1)}});
        RestateGifSize(bytes, width, height);
        break;
    case ImageFormat::Bmp:
        bytes = EncodeBmp({.width = kSide, .height = kSide, .samples = std::vector<std::uint8_t>(3 * kSide * kSide)});
        PutLittleEndian(bytes, 18, width, 4);
        PutLittleEndian(bytes, 22, height, 4);
        break;
    }
    return bytes;
}

std::vector<std::uint8_t> LargeUniformGreyPng(std::uint32_t width, std::uint32_t height, std::uint8_t value)
{
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, std::size_t size) {
            auto* bytes = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            bytes->insert(bytes->end(), data, data + size);
        },
        [](png_structp) {});
    std::vector<png_byte> row(width, value);
    const bool ok = WriteUniformPngRows(png, info, width, height, row.data());
    png_destroy_write_struct(&png, &info);
    if (!ok)
        throw std::runtime_error("PNG fixture could not be written");
    return out;
}

}  // namespace grainforge::test
