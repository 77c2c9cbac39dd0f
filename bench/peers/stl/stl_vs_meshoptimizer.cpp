// ReadStlFile of a binary STL (read, parse, weld, clean, measure, report) side by side with
// meshoptimizer's weld alone (meshopt_generateVertexRemap over the same corners, already in
// memory), on the closed sphere of 1,001,112 triangles, about 50 MB.
#include "bench/bench_meshes.h"
#include "bench/peers/peer_timing.h"
#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "platform/file_system.h"
#include "platform/random_source.h"

#include <meshoptimizer.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace grainforge::bench {
namespace {

struct Input {
    std::filesystem::path path;
    std::vector<float> corners;  // x, y, z of every corner in file order
    std::size_t vertices = 0;    // after our weld

    ~Input() { platform::RemoveFileQuietly(path); }
};

const Input& Sphere()
{
    static const Input input = [] {
        const mesh::TriangleMesh sphere = MakeSphereGrid(75.0f, 708, 708);
        Input in;
        in.path = std::filesystem::temp_directory_path() /
                  ("tessary-stl-peer-" + std::to_string(platform::RandomU32()) + ".stl");
        mesh::StlWriteOptions options;
        options.readBack = false;
        if (!mesh::WriteStlFile(in.path, sphere, options).ok)
            throw std::runtime_error("could not write the benchmark's STL file");
        for (std::uint32_t index : sphere.indices) {
            const mesh::Vec3 p = sphere.vertices[index].position;
            in.corners.insert(in.corners.end(), {p.x, p.y, p.z});
        }
        in.vertices = sphere.vertices.size();
        return in;
    }();
    return input;
}

void ReadStlFileAgainstWeld(benchmark::State& state)
{
    const Input& in = Sphere();
    const std::size_t cornerCount = in.corners.size() / 3;
    std::vector<unsigned int> remap(cornerCount);
    SideBySide times;
    for (auto _ : state) {
        mesh::StlReadResult result;
        const Times ours = Measure([&] { result = mesh::ReadStlFile(in.path, mesh::StlReadOptions{}); });
        std::size_t peerVertices = 0;
        const Times peer = Measure([&] {
            peerVertices = meshopt_generateVertexRemap(remap.data(), nullptr, cornerCount, in.corners.data(),
                                                       cornerCount, 3 * sizeof(float));
        });
        if (!result.ok || result.report.verticesAfterWelding != in.vertices || peerVertices != in.vertices)
            state.SkipWithError("the welds disagree with the sphere");
        times.Add(state, ours, peer);
    }
    times.Report(state);
}
BENCHMARK(ReadStlFileAgainstWeld)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace grainforge::bench
