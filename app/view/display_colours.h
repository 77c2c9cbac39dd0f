// The colours of the mesh on display, one per triangle, by the view's switches: components,
// print check (on the part or on the sliced preview), deviation, projector sides and
// outer/inner surfaces. An empty list lets the renderer shade by its surface mode.
#pragma once

#include "engine/displacement/projection.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/printability_check.h"

#include <cstdint>
#include <vector>

namespace grainforge::app {

using mesh::TriangleMesh;
using mesh::Vec3;

namespace display_colour {
inline constexpr Vec3 kReducedCopy{0.52f, 0.66f, 0.9f};
inline constexpr Vec3 kPrintBase{0.78f, 0.8f, 0.82f};
inline constexpr Vec3 kPrintLevel1{0.95f, 0.2f, 0.16f};
inline constexpr Vec3 kPrintLevel2{0.98f, 0.58f, 0.12f};
inline constexpr Vec3 kPrintLevel3{0.96f, 0.84f, 0.18f};
inline constexpr Vec3 kOuterInnerBase{0.55f, 0.55f, 0.58f};
inline constexpr Vec3 kOuterSurface{0.86f, 0.88f, 0.84f};
inline constexpr Vec3 kInnerSurface{0.93f, 0.45f, 0.18f};
inline constexpr Vec3 kProjectorX{0.88f, 0.28f, 0.25f};
inline constexpr Vec3 kProjectorY{0.32f, 0.78f, 0.36f};
inline constexpr Vec3 kProjectorZ{0.3f, 0.52f, 0.92f};
inline constexpr Vec3 kProjectorNone{0.45f, 0.47f, 0.5f};
}  // namespace display_colour

// The colour of a component number (eight colours, repeating).
[[nodiscard]] Vec3 ComponentColour(std::uint32_t component);

// One colour per triangle from the per-triangle component numbers; triangles past the list
// take component 0.
[[nodiscard]] std::vector<Vec3> ComponentColours(const std::vector<std::uint32_t>& components,
                                                 std::size_t triangleCount);

// The print check on the part: base, then levels 3, 2, 1 (support wins). Empty when the report
// marks no triangle. Indices past the triangle count are skipped.
[[nodiscard]] std::vector<Vec3> PrintCheckColours(const mesh::PrintabilityReport& report,
                                                  std::size_t triangleCount);

// The print check on the sliced preview: each triangle takes the first level whose marked
// cells lie around its centroid in one of its layers (first layer .. first + stride - 1).
// Empty when the layer list does not fit the preview or no cell is marked.
[[nodiscard]] std::vector<Vec3> SlicedPrintCheckColours(const TriangleMesh& preview,
                                                        const std::vector<std::uint32_t>& firstLayers,
                                                        std::uint64_t layerStride,
                                                        const mesh::PrintabilityReport& report);

// Projector colours: the dominant side of each triangle's centroid under the projection.
[[nodiscard]] std::vector<Vec3> ProjectorColours(const TriangleMesh& mesh, const mesh::Projection& projection);

// Outer/inner colours from the surface classes (1 outer, 0 inner, others the base).
[[nodiscard]] std::vector<Vec3> OuterInnerColours(std::size_t triangleCount,
                                                  const std::vector<std::uint8_t>& classes);

// Everything the colour rules read, as the view holds it. Pointers may be null where the
// switch that needs them is off.
struct DisplayColourInputs {
    const TriangleMesh* mesh = nullptr;        // the mesh to upload
    int sectionMode = 0;                       // 0 off .. 4 sliced as printed
    bool clipping = false;
    bool colourByComponent = false;
    bool printCheck = false;
    const mesh::ValidationReport* validation = nullptr;
    const mesh::PrintabilityReport* printReport = nullptr;  // the document's last check
    const std::vector<std::uint32_t>* sliceFirstLayers = nullptr;
    std::uint64_t sliceLayerStride = 1;
    const TriangleMesh* workingPart = nullptr;  // deviation reference (section mode 3)
    int surfaceMode = 0;                        // 0 plain .. 4 outer/inner
    const mesh::Projection* projection = nullptr;
    const std::vector<std::uint8_t>* surfaceClasses = nullptr;
};

// The rules in order, each one that applies replacing the colours before it: component,
// print check, sliced print check, deviation; then the surface mode's colours.
[[nodiscard]] std::vector<Vec3> BuildDisplayColours(const DisplayColourInputs& inputs);

}  // namespace grainforge::app
