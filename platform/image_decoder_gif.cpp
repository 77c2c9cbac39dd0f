// GIF through giflib, first image only: records are read up to the first image descriptor and
// only that image is decompressed (DGifSlurp would decode every frame). The image is read at
// its own size, without the logical screen around it; transparency is ignored.
#include "platform/image_format_decoder.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <vector>

namespace grainforge::platform {

namespace {

int ReadGifBytes(GifFileType* gif, GifByteType* buffer, int size)
{
    if (size <= 0)
        return 0;
    auto* source = static_cast<ByteSource*>(gif->UserData);
    return static_cast<int>(source->Read(buffer, static_cast<std::size_t>(size)));
}

// Skips extension blocks (comments, animation control) up to the first image descriptor.
bool FindFirstImage(GifFileType* gif)
{
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &record) == GIF_ERROR)
            return false;
        if (record == IMAGE_DESC_RECORD_TYPE)
            return DGifGetImageDesc(gif) == GIF_OK;
        if (record != EXTENSION_RECORD_TYPE)
            return false;  // the trailer, or a record giflib does not know
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            return false;
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                return false;
        }
    }
}

class GifDecoder final : public FormatDecoder {
public:
    explicit GifDecoder(ByteSource& source) : source_(source) {}
    ~GifDecoder() override
    {
        if (gif_ != nullptr) {
            int error = 0;
            DGifCloseFile(gif_, &error);
        }
    }
    GifDecoder(const GifDecoder&) = delete;
    GifDecoder& operator=(const GifDecoder&) = delete;

    ImageDecodeStatus ReadHeader(ImageHeader& header) override
    {
        int error = 0;
        gif_ = DGifOpen(&source_, ReadGifBytes, &error);
        if (gif_ == nullptr)
            return ImageDecodeStatus::NotReadable;
        if (!FindFirstImage(gif_))
            return ImageDecodeStatus::NoFrame;
        const GifImageDesc& image = gif_->Image;
        header.width = image.Width > 0 ? static_cast<std::uint32_t>(image.Width) : 0;
        header.height = image.Height > 0 ? static_cast<std::uint32_t>(image.Height) : 0;
        const ColorMapObject* map = ColourMap();
        header.pixelFormat = map != nullptr && map->Colors != nullptr
            ? PalettePixelFormat(map->BitsPerPixel, static_cast<std::size_t>(std::max(map->ColorCount, 0)),
                                 [map](std::size_t i) {
                                     const GifColorType& c = map->Colors[i];
                                     return std::array<int, 3>{c.Red, c.Green, c.Blue};
                                 })
            : ImagePixelFormat{.bitsPerSample = 8, .channels = ImageChannels::Indexed};
        header.convertible = map != nullptr && map->ColorCount > 0 && map->Colors != nullptr;
        return ImageDecodeStatus::Ok;
    }

    ImageDecodeStatus ReadRows(const ImageRowSink& sink) override
    {
        const std::size_t width = static_cast<std::size_t>(gif_->Image.Width);
        const std::size_t height = static_cast<std::size_t>(gif_->Image.Height);
        std::vector<GifPixelType> line(width);
        std::vector<std::uint16_t> row(width * 4);
        for (std::size_t y : RowOrder(height, gif_->Image.Interlace)) {
            if (DGifGetLine(gif_, line.data(), static_cast<int>(width)) == GIF_ERROR)
                return ImageDecodeStatus::PixelsUnreadable;
            StoreLine(line, row.data());
            sink(static_cast<std::uint32_t>(y), row);
        }
        return ImageDecodeStatus::Ok;
    }

private:
    const ColorMapObject* ColourMap() const
    {
        return gif_->Image.ColorMap != nullptr ? gif_->Image.ColorMap : gif_->SColorMap;
    }

    // Rows in the order they are stored: top to bottom, or in the four interlace passes.
    static std::vector<std::size_t> RowOrder(std::size_t height, bool interlaced)
    {
        std::vector<std::size_t> order;
        order.reserve(height);
        if (!interlaced) {
            for (std::size_t y = 0; y < height; ++y)
                order.push_back(y);
            return order;
        }
        constexpr std::size_t kStart[4] = {0, 4, 2, 1};
        constexpr std::size_t kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (std::size_t y = kStart[pass]; y < height; y += kStep[pass])
                order.push_back(y);
        return order;
    }

    // An index beyond the colour map (which the format allows) shows as black.
    void StoreLine(const std::vector<GifPixelType>& line, std::uint16_t* out) const
    {
        const ColorMapObject* map = ColourMap();
        for (GifPixelType index : line) {
            if (index < map->ColorCount) {
                const GifColorType& colour = map->Colors[index];
                PutRgb16(out, Widen8(colour.Red), Widen8(colour.Green), Widen8(colour.Blue));
            } else {
                PutRgb16(out, 0, 0, 0);
            }
            out += 4;
        }
    }

    ByteSource& source_;
    GifFileType* gif_ = nullptr;
};

}  // namespace

std::unique_ptr<FormatDecoder> MakeGifDecoder(ByteSource& source)
{
    return std::make_unique<GifDecoder>(source);
}

}  // namespace grainforge::platform
