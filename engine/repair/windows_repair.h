// The operating system's 3D-printing repair service, as the "Repair with Windows" command sees
// it. Only Windows carries that service; on this system the probe answers no at once, so the
// command stays disabled, and a direct call fails with a clear message. The mesh passed in is
// never changed.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <atomic>
#include <string>

namespace grainforge::mesh {

struct WindowsRepairResult {
    bool succeeded = false;  // a usable repaired mesh is in `mesh`
    bool cancelled = false;  // stopped through the cancel flag
    std::string message;     // why it failed; empty on success and on cancellation
    TriangleMesh mesh;       // the repaired mesh; meaningful only when succeeded
    double seconds = 0.0;    // wall time, set on success and on cancellation
};

// Whether the repair service can be used on this machine. Answers at once, starts no thread
// and can be called from any thread.
[[nodiscard]] bool IsWindowsRepairAvailable();

// Hands `mesh` to the repair service and returns what it gives back. Where the service is
// missing the result is a failure with its message; `mesh` is read only and `cancel` (may be
// null) is not needed.
[[nodiscard]] WindowsRepairResult RepairWithWindows(const TriangleMesh& mesh, const std::atomic<bool>* cancel);

}  // namespace grainforge::mesh
