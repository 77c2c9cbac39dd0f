// Image files as height maps: ReadHeightImage turns a PNG, JPEG, TIFF, GIF or BMP file into
// one height from 0 to 1 per pixel (luminance for a colour image), reports what it found
// (container, bit depth, colour, sRGB decoding), warns about images that make poor height
// maps, and recognises images that look like normal maps, handing back their raw red, green
// and blue so that the caller can integrate them (normal_map.h). LogHeightMapLoad turns the
// result into the lines of the output log.
//
// The container is recognised from the file's content, whatever its name. Only the first
// frame of a multi-frame GIF or TIFF is read. Any file may be given: a missing, damaged or
// unsupported one comes back as a result with `ok` false and a reason, never an exception.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Images larger than this on either side are refused before any pixel memory is taken.
inline constexpr std::int32_t kMaxImageSide = 16384;

struct ImageLoadOptions {
    // How sample values are taken: 0 as linear (what the document and the texture library
    // use), 1 always decoded from sRGB, 2 decoded only when the file has at most 8 bits per
    // channel. Other values act as 0.
    std::int32_t srgbMode = 0;
};

struct ImageLoadResult {
    bool ok = false;
    std::string error;  // the reason when `ok` is false
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerChannel = 0;  // 8, 16 or 32, from the file's pixel format
    bool colour = false;              // heights are luminance
    bool decodedFromSrgb = false;
    std::string formatName;           // "PNG", "JPEG", "TIFF", "BMP" or "GIF"; empty on an open failure
    std::vector<float> heights;       // width x height values in 0..1, row-major, top row first
    bool looksLikeNormalMap = false;
    // Only when looksLikeNormalMap: red, green, blue of every pixel in 0..1, never
    // sRGB-decoded.
    std::vector<float> normalRgb;
    std::vector<std::string> warnings;  // in the order they were found
};

// Reads the image at `path` on the calling thread. Never throws for a bad file; the
// reasons for refusal are:
//   "The file could not be opened as an image. It may be missing, in a format this program
//    does not read, or damaged."
//   "The file is not a regular file (it is a folder, a pipe or a device), so it was not read
//    as an image." (refused at once, without waiting on a pipe)
//   "The image contains no readable frame."
//   "The image has no size."
//   "The image is larger than 16384 pixels on a side."
//   "The image could not be converted to a form we can read."
//   "The image pixels could not be read." (also when the pixel memory cannot be had)
// A successful result holds width x height heights. Any number of threads may read at once.
[[nodiscard]] ImageLoadResult ReadHeightImage(const std::filesystem::path& path, const ImageLoadOptions& options);

// The load as output-log lines, each ending in a line feed: on failure "Height map failed
// to load: " and the reason; on success the size and depth, the source colour, the value
// mapping and one "Warning: " line per warning.
std::string LogHeightMapLoad(const ImageLoadResult& result);

}  // namespace grainforge::mesh
