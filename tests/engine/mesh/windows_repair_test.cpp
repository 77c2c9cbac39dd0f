#include "engine/mesh/windows_repair.h"

#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <cstring>

namespace grainforge::mesh {
namespace {

TEST(WindowsRepair, ServiceIsReportedMissing)
{
    EXPECT_FALSE(IsWindowsRepairAvailable());
    EXPECT_FALSE(IsWindowsRepairAvailable());  // the answer does not change
}

TEST(WindowsRepair, DirectCallFailsClearlyAndLeavesTheInput)
{
    const TriangleMesh cube = MakeTestCube(20);
    const TriangleMesh before = cube;
    std::atomic<bool> cancel{false};
    for (const std::atomic<bool>* flag : {static_cast<const std::atomic<bool>*>(nullptr), static_cast<const std::atomic<bool>*>(&cancel)}) {
        const WindowsRepairResult result = RepairWithWindows(cube, flag);
        EXPECT_FALSE(result.succeeded);
        EXPECT_FALSE(result.cancelled);
        EXPECT_EQ(result.message, "The Windows 3D-printing repair service is not available on this system.");
        EXPECT_TRUE(result.mesh.vertices.empty());
        EXPECT_TRUE(result.mesh.indices.empty());
        EXPECT_EQ(cube.indices, before.indices);
        EXPECT_EQ(std::memcmp(cube.vertices.data(), before.vertices.data(), cube.vertices.size() * sizeof(MeshVertex)), 0);
    }
}

}  // namespace
}  // namespace grainforge::mesh
