#include "engine/repair/windows_repair.h"

namespace grainforge::mesh {

bool IsWindowsRepairAvailable()
{
    // The 3D-printing runtime exists only on Windows.
    return false;
}

WindowsRepairResult RepairWithWindows(const TriangleMesh& /*mesh*/, const std::atomic<bool>* /*cancel*/)
{
    WindowsRepairResult result;
    result.message = "The Windows 3D-printing repair service is not available on this system.";
    return result;
}

}  // namespace grainforge::mesh
