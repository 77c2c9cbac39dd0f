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
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Images larger than this on either side are refused before any pixel memory is taken.
inline constexpr std::int32_t kMaxImageSide = 16384;

// The most pixels an image may have to be read: 8192 x 8192, checked from the header before
// any pixel memory is taken. A float image of that size is 256 MiB. The document's map, its
// undo history and the pipeline's copy share the loaded pixels, but a seamless step, a blur and
// the pipeline's own blur each make an image of their own, and the history keeps the pixels of
// earlier textures; beside them come a 256 MiB float texture on the graphics card and the
// meshes the pipeline builds while it samples the map. At 16384 x 16384 every such image
// would take 1 GiB of a 24 GB machine, for detail finer than a printer can lay down on any
// tile a few centimetres wide.
inline constexpr std::int32_t kMaxHeightMapSquareSide = 8192;
inline constexpr std::uint64_t kMaxHeightMapPixels =
    std::uint64_t{kMaxHeightMapSquareSide} * kMaxHeightMapSquareSide;

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
//   "The file was not found."
//   "The file could not be opened: <the system's reason>." (a file there that would not open)
//   "The file is not a regular file (it is a folder), so it was not read as an image." (or a
//    named pipe, a device, a socket; refused at once, without waiting on a pipe)
//   "The image contains no readable frame."
//   "The image has no size."
//   "The image is larger than 16384 pixels on a side."
//   "The image is <w> x <h> pixels; the largest height map this program uses is 8,192 x 8,192
//    (67,108,864 pixels)." (more than kMaxHeightMapPixels, sizes with thousands separators)
//   "The image could not be converted to a form we can read."
//   "The image pixels could not be read." (also when the pixel memory cannot be had)
// A successful result holds width x height heights. The pixels are decoded row by row into
// the heights, so the peak memory is the heights and a few rows (or, for the few layouts that
// place pixels out of row order, 8 bytes a pixel more while decoding); an image that looks like
// a normal map is decoded a second time for its raw colours. Any number of threads may read
// at once.
[[nodiscard]] ImageLoadResult ReadHeightImage(const std::filesystem::path& path, const ImageLoadOptions& options);

// Receives the image row by row, with the heights ReadHeightImage computes.
struct HeightRowSink {
    // Called once with the image's size, after the header's checks and before the first row.
    std::function<void(std::int32_t width, std::int32_t height)> begin;
    // Each row's index (0 is the top row) and its `width` heights, valid only during the call.
    std::function<void(std::int32_t y, std::span<const float> heights)> takeRow;
};

// Reads the image at `path` as ReadHeightImage does, with the same checks and reasons, but
// hands every row of heights to the sink once, as it is decoded, instead of keeping them:
// rows come in the order the file stores them, which is not always top first (bottom-up BMP,
// interlaced GIF). The result carries everything but the heights and the normal-map test
// (`heights` and `normalRgb` stay empty, `looksLikeNormalMap` false, no normal-map warning).
// A failure may come after some rows were handed over. Memory stays at a few rows for most
// files; for thumbnails of large images.
[[nodiscard]] ImageLoadResult ReadHeightImageRows(const std::filesystem::path& path, const ImageLoadOptions& options,
                                                  const HeightRowSink& sink);

// The load as output-log lines, each ending in a line feed: on failure "Height map failed
// to load: " and the reason; on success the size and depth, the source colour, the value
// mapping and one "Warning: " line per warning.
std::string LogHeightMapLoad(const ImageLoadResult& result);

}  // namespace grainforge::mesh
