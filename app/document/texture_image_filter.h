// The file dialog's types for a texture image, from the one list of image names
// (platform/image_file_types.h) that the texture library and dropped files go by too.
#pragma once

#include <string>

namespace grainforge::app {

// All the image extensions together first, then one entry per format ("JPEG (*.jpg;*.jpeg)"),
// then all files, as "description|patterns|...||".
std::wstring TextureImageDialogFilter();

}  // namespace grainforge::app
