// Cross-fade: makes an image tile by fading a band along each edge into the opposite edge, so
// the left continues the right and the top continues the bottom. The faded bands' far sides
// are used up, so the image loses that share of its size.
#pragma once

#include <cstdint>
#include <vector>

namespace grainforge::mesh::seamless {

// Fades `percent` (limited to 0..45; non-finite counts as 0) of each edge of the width x height
// source into the opposite one and gives the (width - ox) x (height - oy) result, with ox and
// oy the overlaps in pixels rounded half away from zero; the size goes to outWidth and
// outHeight. A size that does not match the pixel count gives the source back unchanged, and
// overlaps below one pixel give a copy. Rows run in parallel; the result does not depend on
// the thread count.
std::vector<float> CrossFadeEdges(const std::vector<float>& source, std::int32_t width, std::int32_t height,
                                  float percent, std::int32_t& outWidth, std::int32_t& outHeight);

}  // namespace grainforge::mesh::seamless
