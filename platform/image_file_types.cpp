#include "platform/image_file_types.h"

#include <array>

namespace grainforge::platform {

std::span<const ImageFileType> ImageFileTypes()
{
    static constexpr std::array<ImageFileType, 7> kTypes = {{
        {".png", ImageContainer::Png, "PNG"},
        {".jpg", ImageContainer::Jpeg, "JPEG"},
        {".jpeg", ImageContainer::Jpeg, "JPEG"},
        {".tif", ImageContainer::Tiff, "TIFF"},
        {".tiff", ImageContainer::Tiff, "TIFF"},
        {".bmp", ImageContainer::Bmp, "BMP"},
        {".gif", ImageContainer::Gif, "GIF"},
    }};
    return kTypes;
}

}  // namespace grainforge::platform
