// The triangle count a Process run is expected to make, before it runs. The relief section
// shows it and the document refuses a run with it, so the user never sees two different counts
// for the same part and settings.
#pragma once

#include "engine/mesh/triangle_mesh.h"
#include "engine/pipeline/pipeline_records.h"

#include <cstdint>
#include <string>

namespace grainforge::mesh {

struct ProcessEstimate {
    std::uint64_t triangles = 0;       // the count shown and held against the limit
    float cappedCellMillimetres = 0.0f; // the cell the part's size forced, else 0
    std::uint64_t limit = 0;           // the run's triangle limit; 0 means none
    bool overLimit = false;            // the run remeshes and would be refused
};

// A remesh estimate as shown: the area rule runs low on curved parts and the relief adds
// surface, so a twelfth more is closer to what Process makes. Saturates instead of wrapping.
[[nodiscard]] std::uint64_t ShownTriangleEstimate(std::uint64_t remeshEstimate);

// The expected result of remeshing `source` with the run's effective remesh settings (the
// contour remesh under a solid relief), held against the run's triangle limit. Over the limit
// only when the run remeshes and has a limit: then Process refuses before any stage runs.
[[nodiscard]] ProcessEstimate EstimateProcessTriangles(const TriangleMesh& source,
    const PipelineSettings& settings);

}  // namespace grainforge::mesh
