// Feeds arbitrary bytes to the grey thumbnail reader. A picture it accepts must have the size
// its header states, and a square one must come back the same through the writer.
#include "app/document/grey_bmp.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace grainforge::app;
    const std::optional<GreyImage> image = DecodeGreyBmp(std::span<const std::uint8_t>(data, size));
    if (!image)
        return 0;
    if (image->width < 1 || image->width > kMaxGreyBmpSide || image->height < 1 ||
        image->height > kMaxGreyBmpSide ||
        image->pixels.size() != static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height))
        __builtin_trap();
    if (image->width == image->height) {
        const std::optional<GreyImage> again = DecodeGreyBmp(EncodeGreyBmp(image->pixels, image->width));
        if (!again || again->pixels != image->pixels)
            __builtin_trap();
    }
    return 0;
}
