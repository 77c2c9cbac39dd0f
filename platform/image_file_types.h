// The names of the image files the decoders read (image_decoder.h). The decoders go by a file's
// first bytes, never by its name; this list says which names the program treats as images
// wherever a file is offered, listed or accepted by its name (dropped files, the texture
// library, the file dialogs), so it names every container the decoders read.
#pragma once

#include "platform/image_decoder.h"

#include <span>
#include <string_view>

namespace grainforge::platform {

struct ImageFileType {
    std::string_view extension;   // lower case, with its dot: ".png"
    ImageContainer container;     // what a file of that name normally holds
    std::string_view formatName;  // the format as the user knows it: "PNG", "JPEG", ...
};

// In the order the texture library and the file dialogs show them: ".png", ".jpg", ".jpeg",
// ".tif", ".tiff", ".bmp", ".gif".
std::span<const ImageFileType> ImageFileTypes();

}  // namespace grainforge::platform
