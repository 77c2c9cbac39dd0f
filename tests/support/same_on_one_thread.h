// Parallel work must give the same bits however many threads run it: the result of `make`
// with the pool at its full size against the result under a one-thread limit.
#pragma once

#include "engine/mesh/parallel_loop.h"

#include <gtest/gtest.h>

namespace grainforge::test {

template <typename Make>
void ExpectSameOnOneThread(const Make& make)
{
    const auto parallel = make();
    mesh::ThreadLimit one(1);
    EXPECT_EQ(make(), parallel) << "differs on one thread";
}

}  // namespace grainforge::test
