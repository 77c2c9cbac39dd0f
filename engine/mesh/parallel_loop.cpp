#include "engine/mesh/parallel_loop.h"

#include <tbb/global_control.h>

namespace grainforge::mesh {

void FirstException::Capture() noexcept
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!first_) {
        first_ = std::current_exception();
        held_.store(true, std::memory_order_release);
    }
}

void FirstException::RethrowIfAny()
{
    std::exception_ptr first;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        first = first_;
    }
    if (first)
        std::rethrow_exception(first);
}

struct ThreadLimit::Impl {
    explicit Impl(std::size_t threads)
        : control(tbb::global_control::max_allowed_parallelism, threads == 0 ? 1 : threads)
    {
    }
    tbb::global_control control;
};

ThreadLimit::ThreadLimit(std::size_t threads) : impl_(std::make_unique<Impl>(threads)) {}

ThreadLimit::~ThreadLimit() = default;

}  // namespace grainforge::mesh
