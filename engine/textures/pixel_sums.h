// Sums over all pixels of an image, for the statistics the seamless methods report. The image
// is cut into blocks of a fixed size that do not depend on the thread count; blocks are summed
// in parallel and their partial sums added in block order, so the result is the same on any
// number of threads.
#pragma once

#include "engine/mesh/parallel_loop.h"

#include <cstddef>
#include <vector>

namespace grainforge::mesh::detail {

inline constexpr std::size_t kPixelSumBlock = 65536;

// The double-precision sum of term(value) over every value.
template <class Term>
double SumOverPixels(const std::vector<float>& values, Term term)
{
    const std::size_t blocks = (values.size() + kPixelSumBlock - 1) / kPixelSumBlock;
    std::vector<double> partial(blocks, 0.0);
    ParallelFor(blocks, [&](std::size_t block) {
        const std::size_t begin = block * kPixelSumBlock;
        const std::size_t end = std::min(values.size(), begin + kPixelSumBlock);
        double sum = 0.0;
        for (std::size_t i = begin; i < end; ++i)
            sum += term(values[i]);
        partial[block] = sum;
    }, 1);
    double total = 0.0;
    for (const double sum : partial)
        total += sum;
    return total;
}

}  // namespace grainforge::mesh::detail
