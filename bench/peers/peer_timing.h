// Shared by the side-by-side benchmarks against peer libraries: each iteration times ours and
// the peer on the same input in the same process, so machine noise hits both alike; the
// counters give the mean seconds of each and their ratio (ours / peer).
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>

namespace grainforge::bench {

template <class Work>
double SecondsOf(Work&& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class SideBySide {
public:
    // Adds one iteration's times; the manual iteration time is ours.
    void Add(benchmark::State& state, double ours, double peer)
    {
        ours_ += ours;
        peer_ += peer;
        state.SetIterationTime(ours);
    }

    void Report(benchmark::State& state) const
    {
        const double n = static_cast<double>(state.iterations());
        state.counters["ours_s"] = ours_ / n;
        state.counters["peer_s"] = peer_ / n;
        state.counters["ratio"] = peer_ > 0 ? ours_ / peer_ : 0.0;
    }

private:
    double ours_ = 0;
    double peer_ = 0;
};

}  // namespace grainforge::bench
