// Speed and memory of building the solid field in label mode with a relief of 1 mm on every
// vertex: a sphere 50 mm across made of 249,000 triangles (edges of about 0.3 mm, as a remesh
// leaves them) and a 100 mm test cube of 12 triangles (long edges: every block is a candidate,
// one seeding block does all the work). Cells of 0.2 and 0.1 mm. Beside the time: points
// measured, blocks stored, the field's whole estimate in MB (labels included) and what is kept
// of it, propagation passes and seconds per pass. The memory budget is 60% of what the machine has free, as the solid displacement
// passes it; a refused build shows as tooLarge = 1.
#include "bench/bench_meshes.h"
#include "engine/displacement/solid_field.h"
#include "engine/mesh/test_shapes.h"
#include "platform/memory_info.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace grainforge::bench {
namespace {

const mesh::TriangleMesh& Sphere50()
{
    static const mesh::TriangleMesh sphere = MakeSphereGrid(25.0f, 250, 500);
    return sphere;
}

const mesh::TriangleMesh& Cube100()
{
    static const mesh::TriangleMesh cube = mesh::MakeTestCube(100.0f);
    return cube;
}

void BuildField(benchmark::State& state, const mesh::TriangleMesh& part, double cell)
{
    mesh::AabbTree tree;
    tree.Build(part);
    const std::vector<float> heights(part.vertices.size(), 1.0f);
    mesh::SolidFieldInput input;
    input.mesh = &part;
    input.tree = &tree;
    input.heights = &heights;
    input.floorZ = part.boundsMin.z;
    input.cell = cell;
    input.measure = mesh::FieldMeasure::labels;
    mesh::SolidFieldStats stats;
    std::size_t blocks = 0;
    double keptBytes = 0.0;
    for (auto _ : state) {
        input.memoryBudgetBytes = platform::AvailableMemoryBytes() / 10 * 6;
        mesh::SolidField field;
        const bool built = mesh::BuildSolidField(input, field, stats, nullptr);
        blocks = field.values.size() / mesh::kFieldBlockPoints;
        keptBytes = 4.0 * static_cast<double>(field.blockIndex.size() + field.values.size()
                              + field.columnOffsets.size() + field.columnCrossings.size())
            + static_cast<double>(field.displaced.size());
        benchmark::DoNotOptimize(built);
        benchmark::ClobberMemory();
    }
    state.counters["pointsMeasured"] = static_cast<double>(stats.pointsMeasured);
    state.counters["blocksStored"] = static_cast<double>(blocks);
    state.counters["fieldMB"] = stats.storedEstimateBytes / 1e6;  // while it is built
    state.counters["keptMB"] = keptBytes / 1e6;                     // what the contouring reads
    state.counters["passes"] = stats.propagationPasses;
    state.counters["passSeconds"] =
        stats.propagationPasses > 0 ? stats.propagateSeconds / stats.propagationPasses : 0.0;
    state.counters["seedSeconds"] = stats.seedSeconds;
    state.counters["valueSeconds"] = stats.valueSeconds;
    state.counters["tooLarge"] = stats.tooLarge ? 1.0 : 0.0;
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(stats.pointsMeasured));
}

void BM_SolidFieldSphere50Cell02(benchmark::State& state) { BuildField(state, Sphere50(), 0.2); }
void BM_SolidFieldSphere50Cell01(benchmark::State& state) { BuildField(state, Sphere50(), 0.1); }
void BM_SolidFieldCube100Cell02(benchmark::State& state) { BuildField(state, Cube100(), 0.2); }
void BM_SolidFieldCube100Cell01(benchmark::State& state) { BuildField(state, Cube100(), 0.1); }

BENCHMARK(BM_SolidFieldSphere50Cell02)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SolidFieldSphere50Cell01)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SolidFieldCube100Cell02)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SolidFieldCube100Cell01)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace grainforge::bench
