#include "engine/displacement/source_transfer.h"

#include "engine/displacement/parallel_blocks.h"
#include "engine/mesh/parallel_loop.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>

namespace grainforge::mesh {

namespace {

constexpr float kThird = 0.33333334f;
// Within this (mm) of the origin every search of the tree finds a nearest point; beyond it a
// squared distance could overflow, and the searches decide.
constexpr float kSearchableCoordinate = 1e9f;

bool CanTransfer(const TriangleMesh& source, const TextureWeights& sourceWeights, const TriangleMesh& newMesh)
{
    return sourceWeights.MatchesMesh(source) && !newMesh.vertices.empty() && newMesh.TriangleCount() > 0
        && source.IsConsistent() && newMesh.IsConsistent();
}

double WideDot(Vec3 a, Vec3 b)
{
    return static_cast<double>(a.x) * b.x + static_cast<double>(a.y) * b.y + static_cast<double>(a.z) * b.z;
}

// A weight that is not finite would spoil every blend it takes part in, even at factor 0.
double SourceWeight(const std::vector<float>& weights, std::uint32_t vertex)
{
    const float w = weights[vertex];
    return std::isfinite(w) ? w : 0.0;
}

// The source weights of triangle t interpolated at `closest`, a point on it. Its barycentric
// coordinates are clamped onto the triangle; a triangle without area gives its first corner.
float InterpolatedWeight(const TriangleMesh& source, const std::vector<float>& weights, std::size_t t, Vec3 closest)
{
    const std::uint32_t ia = source.indices[3 * t];
    const std::uint32_t ib = source.indices[3 * t + 1];
    const std::uint32_t ic = source.indices[3 * t + 2];
    const Vec3 a = source.vertices[ia].position;
    const Vec3 e1 = source.vertices[ib].position - a;
    const Vec3 e2 = source.vertices[ic].position - a;
    const Vec3 r = closest - a;
    const double d11 = WideDot(e1, e1);
    const double d22 = WideDot(e2, e2);
    const double d12 = WideDot(e1, e2);
    const double r1 = WideDot(e1, r);
    const double r2 = WideDot(e2, r);
    const double den = d11 * d22 - d12 * d12;
    double u = 0.0;
    double v = 0.0;
    if (den > 0.0) {
        u = std::clamp((r1 * d22 - r2 * d12) / den, 0.0, 1.0);
        v = std::clamp((r2 * d11 - r1 * d12) / den, 0.0, 1.0 - u);
    }
    const double weight = SourceWeight(weights, ia) * (1.0 - u - v) + SourceWeight(weights, ib) * u
        + SourceWeight(weights, ic) * v;
    return static_cast<float>(weight);
}

bool IsSearchable(const TriangleMesh& mesh)
{
    return std::all_of(mesh.vertices.begin(), mesh.vertices.end(), [](const MeshVertex& vertex) {
        const Vec3 p = vertex.position;
        return std::fabs(p.x) <= kSearchableCoordinate && std::fabs(p.y) <= kSearchableCoordinate
            && std::fabs(p.z) <= kSearchableCoordinate;
    });
}

// The weight every source vertex has, bit for bit, when they all have one and it is finite.
// Blending three equal weights with coefficients that sum to 1 gives that weight again once
// narrowed to a float, so the searches can be left out.
std::optional<float> SharedWeight(const std::vector<float>& weights)
{
    if (weights.empty() || !std::isfinite(weights.front()))
        return std::nullopt;
    const auto bits = std::bit_cast<std::uint32_t>(weights.front());
    const bool shared = std::all_of(
        weights.begin(), weights.end(), [&](float w) { return std::bit_cast<std::uint32_t>(w) == bits; });
    return shared ? std::optional<float>(weights.front()) : std::nullopt;
}

bool AllEqual(const std::vector<std::uint8_t>& bytes)
{
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [&](std::uint8_t b) { return b == bytes.front(); });
}

// Nearest source points of a run of nearby query points. The distance to the source changes
// by no more than the step between two points, so each search is first bounded by twice what
// the previous answer allows. A bounded search that finds a triangle finds the very one the
// unbounded search gives (it visits the same nodes in the same order, less those wholly beyond
// the bound); only when it finds none does the unbounded search run.
class NearestWalk {
public:
    NearestWalk(const TriangleMesh& source, const AabbTree& tree) : source_(source), tree_(tree) {}

    NearestHit Find(Vec3 point)
    {
        // Covers rounding where the previous point lay on the surface.
        constexpr double kBoundSlack = 1e-4;
        if (hasLast_) {
            const double step = Length(point - last_);
            const double bound = 2.0 * (static_cast<double>(lastDistance_) + step) + kBoundSlack;
            if (bound < static_cast<double>(kNoDistanceLimit)) {
                const NearestHit hit = tree_.Nearest(source_, point, {}, {}, static_cast<float>(bound));
                if (hit.found)
                    return Remember(point, hit);
            }
        }
        return Remember(point, tree_.Nearest(source_, point, {}, {}, kNoDistanceLimit));
    }

private:
    NearestHit Remember(Vec3 point, const NearestHit& hit)
    {
        hasLast_ = hit.found && std::isfinite(hit.distance) && IsFinite(point);
        last_ = point;
        lastDistance_ = hit.distance;
        return hit;
    }

    const TriangleMesh& source_;
    const AabbTree& tree_;
    bool hasLast_ = false;
    Vec3 last_;
    float lastDistance_ = 0.0f;
};

void TransferVertexWeights(const TriangleMesh& source, const TextureWeights& sourceWeights, const AabbTree& tree,
    const TriangleMesh& newMesh, TextureWeights& result)
{
    result.vertexWeights.assign(newMesh.vertices.size(), 0.0f);
    const std::size_t n = newMesh.vertices.size();
    ParallelBlocks(n, kTransferVerticesBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        NearestWalk walk(source, tree);
        for (std::size_t i = begin; i < end; ++i) {
            const NearestHit hit = walk.Find(newMesh.vertices[i].position);
            if (hit.found)
                result.vertexWeights[i] = InterpolatedWeight(source, sourceWeights.vertexWeights,
                    static_cast<std::size_t>(hit.triangle), hit.point);
        }
    }, nullptr);
}

// Reads the vertex weights the first pass finished.
void TransferFaceValues(const TriangleMesh& source, const TextureWeights& sourceWeights, const AabbTree& tree,
    const TriangleMesh& newMesh, TextureWeights& result)
{
    const std::size_t triangles = newMesh.TriangleCount();
    result.faceTextured.assign(triangles, 0);
    result.faceOuterMask.assign(triangles, 0);
    result.cornerWeights.assign(newMesh.indices.size(), 0.0f);
    ParallelBlocks(triangles, kTransferFacesBlock, [&](std::size_t begin, std::size_t end, std::size_t) {
        NearestWalk walk(source, tree);
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint32_t* corners = &newMesh.indices[3 * i];
            const Vec3 centroid = (newMesh.vertices[corners[0]].position + newMesh.vertices[corners[1]].position
                                      + newMesh.vertices[corners[2]].position) * kThird;
            const NearestHit hit = walk.Find(centroid);
            if (!hit.found)
                continue;
            const auto t = static_cast<std::size_t>(hit.triangle);
            result.faceOuterMask[i] = sourceWeights.faceOuterMask[t];
            result.faceTextured[i] = sourceWeights.faceTextured[t];
            if (result.faceTextured[i] == 0)
                continue;
            for (std::size_t k = 0; k < 3; ++k)
                result.cornerWeights[3 * i + k] = result.vertexWeights[corners[k]];
        }
    }, nullptr);
}

}  // namespace

TextureWeights TransferSourceValues(const TriangleMesh& source, const TextureWeights& sourceWeights,
    const TriangleMesh& newMesh, const AabbTree* sourceTree)
{
    TextureWeights result;
    if (!CanTransfer(source, sourceWeights, newMesh))
        return result;
    // A part without masks has the same weights everywhere; then every search would find a
    // point and every answer would be the same, so none is made.
    const bool searchable = source.TriangleCount() > 0 && IsSearchable(source) && IsSearchable(newMesh);
    const std::optional<float> sharedWeight =
        searchable ? SharedWeight(sourceWeights.vertexWeights) : std::nullopt;
    const bool sharedFaces =
        searchable && AllEqual(sourceWeights.faceTextured) && AllEqual(sourceWeights.faceOuterMask);
    AabbTree built;
    if (sourceTree == nullptr && !(sharedWeight && sharedFaces)) {
        built.Build(source);
        sourceTree = &built;
    }
    if (sharedWeight)
        result.vertexWeights.assign(newMesh.vertices.size(), *sharedWeight);
    else
        TransferVertexWeights(source, sourceWeights, *sourceTree, newMesh, result);
    if (sharedFaces) {
        const std::uint8_t textured = sourceWeights.faceTextured.front();
        result.faceTextured.assign(newMesh.TriangleCount(), textured);
        result.faceOuterMask.assign(newMesh.TriangleCount(), sourceWeights.faceOuterMask.front());
        result.cornerWeights.assign(newMesh.indices.size(), 0.0f);
        if (textured != 0)
            ParallelFor(newMesh.indices.size(),
                [&](std::size_t c) { result.cornerWeights[c] = result.vertexWeights[newMesh.indices[c]]; });
    } else {
        TransferFaceValues(source, sourceWeights, *sourceTree, newMesh, result);
    }
    return result;
}

}  // namespace grainforge::mesh
