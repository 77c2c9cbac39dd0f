// Image files and memory figures shared by the benchmarks that load images: a 16-bit grey PNG
// of smooth waves written in code, and the process's resident memory read from /proc.
#pragma once

#include <filesystem>

namespace grainforge::bench {

// Writes a `side` x `side` 16-bit grey PNG whose heights are smooth waves with fine ripples:
// it compresses about as well as a scanned or rendered height map. False when it could not be
// written.
bool WriteWavePng(const std::filesystem::path& path, int side, int compression = 6);

// A "Vm...:" figure of /proc/self/status ("VmRSS:", "VmHWM:") in MiB; 0 when it cannot be read.
double StatusMebibytes(const char* key);

// Starts the peak resident figure (VmHWM) afresh from the current one; false when the kernel
// does not allow it.
bool ResetPeakResident();

// Measures the peak resident memory that `work` adds to what the process holds before it.
class PeakResident {
public:
    PeakResident() : before_(StatusMebibytes("VmRSS:")), reset_(ResetPeakResident()) {}
    // MiB above the resident memory at construction; 0 when the peak could not be reset.
    [[nodiscard]] double AddedMebibytes() const { return reset_ ? StatusMebibytes("VmHWM:") - before_ : 0.0; }

private:
    double before_;
    bool reset_;
};

}  // namespace grainforge::bench
