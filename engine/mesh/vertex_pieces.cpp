#include "engine/mesh/vertex_pieces.h"

namespace grainforge::mesh {

std::vector<std::uint32_t> LabelVertexPieces(const TriangleMesh& mesh)
{
    std::vector<std::uint32_t> parent(mesh.vertices.size());
    for (std::uint32_t v = 0; v < parent.size(); ++v)
        parent[v] = v;
    const auto root = [&parent](std::uint32_t v) {
        while (parent[v] != v) {
            parent[v] = parent[parent[v]];
            v = parent[v];
        }
        return v;
    };
    const std::size_t count = parent.size();
    for (std::size_t c = 0; c + 2 < mesh.indices.size(); c += 3) {
        const std::uint32_t* corners = mesh.indices.data() + c;
        if (corners[0] >= count || corners[1] >= count || corners[2] >= count)
            continue;
        const std::uint32_t first = root(corners[0]);
        for (int k = 1; k < 3; ++k) {
            const std::uint32_t other = root(corners[k]);
            if (other != first)
                parent[other] = first;
        }
    }
    // Every vertex pointed at its root, so that readers on many threads only read.
    for (std::uint32_t v = 0; v < parent.size(); ++v)
        parent[v] = root(v);
    return parent;
}

}  // namespace grainforge::mesh
