#include "engine/mesh/windows_repair.h"

#include "engine/mesh/test_shapes.h"
#include "tests/support/mesh_compare.h"

#include <gtest/gtest.h>

namespace grainforge::mesh {
namespace {

TEST(WindowsRepair, ProbeSaysNoAndADirectCallFailsLeavingTheInput)
{
    EXPECT_FALSE(IsWindowsRepairAvailable());
    const TriangleMesh cube = MakeTestCube(20);
    const TriangleMesh before = cube;
    const WindowsRepairResult result = RepairWithWindows(cube, nullptr);
    EXPECT_FALSE(result.succeeded || result.cancelled);
    EXPECT_EQ(result.message, "The Windows 3D-printing repair service is not available on this system.");
    EXPECT_TRUE(result.mesh.indices.empty());
    EXPECT_TRUE(test::Identical(cube, before));
}

}  // namespace
}  // namespace grainforge::mesh
