// Shared by the side-by-side benchmarks against peer libraries: each iteration times ours and
// the peer on the same input in the same process, so machine noise hits both alike; the
// counters give the mean seconds of each, their ratio (ours / peer), and the processor time
// each used over all its threads (on a busy machine, how many cores it really had).
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

namespace grainforge::bench {

struct Times {
    double wall = 0;
    double cpu = 0;  // the whole process, every thread
};

inline double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

template <class Work>
Times Measure(Work&& work)
{
    const double cpu = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
        ProcessCpuSeconds() - cpu};
}

class SideBySide {
public:
    // Adds one iteration's times; the manual iteration time is ours.
    void Add(benchmark::State& state, const Times& ours, const Times& peer)
    {
        ours_.wall += ours.wall;
        ours_.cpu += ours.cpu;
        peer_.wall += peer.wall;
        peer_.cpu += peer.cpu;
        state.SetIterationTime(ours.wall);
    }

    void Report(benchmark::State& state) const
    {
        const double n = static_cast<double>(state.iterations());
        state.counters["ours_s"] = ours_.wall / n;
        state.counters["peer_s"] = peer_.wall / n;
        state.counters["ratio"] = peer_.wall > 0 ? ours_.wall / peer_.wall : 0.0;
        state.counters["ours_cpu_s"] = ours_.cpu / n;
        state.counters["peer_cpu_s"] = peer_.cpu / n;
    }

private:
    Times ours_;
    Times peer_;
};

}  // namespace grainforge::bench
