// The loading and the measures the corpus runners share; see the header.
#include "tools/corpus_part/corpus_part.h"

#include "engine/files/stl_reader.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <sstream>
#include <tuple>
#include <utility>
#include <vector>

namespace grainforge::tools {

using mesh::TriangleMesh;
using mesh::Vec3;

namespace {

// The file's lines without their comments (from "#" to the end of the line).
std::string WithoutComments(const std::string& path)
{
    std::ifstream file(path);
    std::string text;
    for (std::string line; std::getline(file, line);)
        text += line.substr(0, line.find('#')) + "\n";
    return text;
}

// The header, then the vertex and face counts checked against what the file holds before
// anything is sized on them; faces of more than three corners become fans.
Loaded ReadOffFile(const std::string& path)
{
    std::istringstream in(WithoutComments(path));
    std::string word;
    in >> word;
    if (!in || (word != "OFF" && word != "COFF"))
        return {false, "not an OFF file", {}};
    std::uint64_t vertices = 0, faces = 0, edges = 0;
    if (!(in >> vertices >> faces >> edges))
        return {false, "OFF header without its counts", {}};
    Loaded loaded{true, {}, {}};
    std::vector<Vec3> points;
    for (std::uint64_t v = 0; v < vertices; ++v) {
        Vec3 p{};
        if (!(in >> p.x >> p.y >> p.z))
            return {false, "OFF file ends inside its vertices", {}};
        std::string rest;
        std::getline(in, rest);  // colours, when present
        loaded.mesh.vertices.push_back({p, {}});
    }
    for (std::uint64_t f = 0; f < faces; ++f) {
        std::uint64_t corners = 0;
        if (!(in >> corners) || corners < 3 || corners > vertices)
            return {false, "OFF face " + std::to_string(f) + " unreadable", {}};
        std::vector<std::uint32_t> ring(corners);
        for (std::uint32_t& index : ring) {
            std::uint64_t i = 0;
            if (!(in >> i) || i >= vertices)
                return {false, "OFF face " + std::to_string(f) + " names a missing vertex", {}};
            index = static_cast<std::uint32_t>(i);
        }
        std::string rest;
        std::getline(in, rest);
        for (std::size_t k = 1; k + 1 < ring.size(); ++k)
            loaded.mesh.indices.insert(loaded.mesh.indices.end(), {ring[0], ring[k], ring[k + 1]});
    }
    if (loaded.mesh.indices.empty())
        return {false, "OFF file without faces", {}};
    return loaded;
}

// Scaled about its low corner so that the largest extent is `size` mm, and stood on z = 0.
TriangleMesh ScaledOntoTheBed(TriangleMesh part, float size)
{
    part.ComputeBounds();
    const Vec3 extent = part.boundsMax - part.boundsMin;
    const float largest = std::max({extent.x, extent.y, extent.z});
    const float scale = largest > 0.0f ? size / largest : 1.0f;
    for (mesh::MeshVertex& v : part.vertices) {
        const Vec3 p = v.position - part.boundsMin;
        v.position = Vec3{p.x * scale, p.y * scale, p.z * scale};
    }
    part.ComputeBounds();
    return part;
}

// Vertices whose triangles form more than one fan (the far edges of their triangles, from -> to,
// make more than one cycle).
std::uint64_t CountPinchedVertices(const TriangleMesh& mesh)
{
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> fans(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k)
            fans[mesh.indices[3 * t + k]].emplace_back(mesh.indices[3 * t + (k + 1) % 3], mesh.indices[3 * t + (k + 2) % 3]);
    std::uint64_t pinched = 0;
    for (auto& fan : fans) {
        if (fan.empty())
            continue;
        std::sort(fan.begin(), fan.end());
        std::size_t steps = 0;
        std::uint32_t at = fan[0].first;
        do {
            const auto next = std::lower_bound(fan.begin(), fan.end(), std::make_pair(at, std::uint32_t{0}));
            if (next == fan.end() || next->first != at)
                break;
            at = next->second;
            ++steps;
        } while (at != fan[0].first && steps <= fan.size());
        pinched += steps != fan.size();
    }
    return pinched;
}

// Vertices round which the triangles close into more than one fan: each triangle's far edge
// (from -> to) continues into exactly one other's, and the chain comes round more than once.
// Vertices on an open or wrongly wound edge are left to the edge counts.
std::uint64_t CountVerticesOfSeveralFans(const TriangleMesh& mesh)
{
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> fans(mesh.vertices.size());
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        for (int k = 0; k < 3; ++k)
            fans[mesh.indices[3 * t + k]].emplace_back(mesh.indices[3 * t + (k + 1) % 3], mesh.indices[3 * t + (k + 2) % 3]);
    std::uint64_t several = 0;
    for (auto& fan : fans) {
        std::sort(fan.begin(), fan.end());
        std::vector<std::uint32_t> starts, ends;
        for (const auto& [from, to] : fan) {
            starts.push_back(from);
            ends.push_back(to);
        }
        std::sort(ends.begin(), ends.end());
        if (fan.empty() || starts != ends || std::adjacent_find(starts.begin(), starts.end()) != starts.end())
            continue;
        std::vector<bool> walked(fan.size(), false);
        std::size_t cycles = 0;
        for (std::size_t first = 0; first < fan.size(); ++first) {
            if (walked[first])
                continue;
            ++cycles;
            for (std::size_t at = first; !walked[at];) {
                walked[at] = true;
                const auto next = std::lower_bound(fan.begin(), fan.end(), std::make_pair(fan[at].second, std::uint32_t{0}));
                at = std::size_t(next - fan.begin());
            }
        }
        several += cycles > 1;
    }
    return several;
}

using Point = std::array<double, 3>;

// The distinct corner positions of the mesh's triangles (unused vertices are no corners).
std::vector<Point> CornerPositions(const TriangleMesh& mesh)
{
    std::vector<Point> points;
    points.reserve(mesh.indices.size());
    for (const std::uint32_t index : mesh.indices) {
        const Vec3 p = mesh.vertices[index].position;
        points.push_back({double(p.x), double(p.y), double(p.z)});
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

double SquaredDistance(const Point& a, const Point& b)
{
    const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return dx * dx + dy * dy + dz * dz;
}

// A k-d tree laid out in the point array itself: each range splits at its middle point along
// its widest axis, so a part with a piece a kilometre away costs no more than a compact one
// (a uniform grid over its box would put nearly every corner in one cell).
class NearestCorner {
public:
    explicit NearestCorner(std::vector<Point> points) : points_(std::move(points)), axis_(points_.size(), 0)
    {
        Build(0, points_.size());
    }

    // Squared distance to the nearest point; the largest double when there is none.
    double SquaredDistanceTo(const Point& q) const
    {
        double best = std::numeric_limits<double>::max();
        Search(q, 0, points_.size(), best);
        return best;
    }

private:
    static constexpr std::size_t kLeafSize = 8;

    void Build(std::size_t lo, std::size_t hi)
    {
        if (hi - lo <= kLeafSize)
            return;
        Point low = points_[lo], high = points_[lo];
        for (std::size_t i = lo; i < hi; ++i)
            for (int k = 0; k < 3; ++k) {
                low[k] = std::min(low[k], points_[i][k]);
                high[k] = std::max(high[k], points_[i][k]);
            }
        int axis = 0;
        for (int k = 1; k < 3; ++k)
            if (high[k] - low[k] > high[axis] - low[axis])
                axis = k;
        const std::size_t mid = lo + (hi - lo) / 2;
        std::nth_element(points_.begin() + std::ptrdiff_t(lo), points_.begin() + std::ptrdiff_t(mid),
            points_.begin() + std::ptrdiff_t(hi), [axis](const Point& a, const Point& b) { return a[axis] < b[axis]; });
        axis_[mid] = axis;
        Build(lo, mid);
        Build(mid + 1, hi);
    }

    void Search(const Point& q, std::size_t lo, std::size_t hi, double& best) const
    {
        if (hi - lo <= kLeafSize) {
            for (std::size_t i = lo; i < hi; ++i)
                best = std::min(best, SquaredDistance(q, points_[i]));
            return;
        }
        const std::size_t mid = lo + (hi - lo) / 2;
        best = std::min(best, SquaredDistance(q, points_[mid]));
        const double side = q[axis_[mid]] - points_[mid][axis_[mid]];
        if (side < 0.0) {
            Search(q, lo, mid, best);
            if (side * side < best)
                Search(q, mid + 1, hi, best);
        } else {
            Search(q, mid + 1, hi, best);
            if (side * side < best)
                Search(q, lo, mid, best);
        }
    }

    std::vector<Point> points_;
    std::vector<int> axis_;  // the split axis of the range whose middle is at this index
};
}  // namespace

const std::map<std::string, std::function<TriangleMesh()>>& GeneratedParts()
{
    static const std::map<std::string, std::function<TriangleMesh()>> parts = {
        {"thin-plate", [] { return test::MakeBox({0, 0, 0}, {20, 20, 0.5f}); }},
        {"blade", [] { return test::MakeWedge(20.0f, 10.0f, 2.0f, 0.05f); }},
        {"two-boxes", [] { return test::MakeTwoCubes(); }},
        {"boxes-sharing-a-face", [] { return test::MakeWeldedCubePair({10, 0, 0}); }},
        {"boxes-sharing-an-edge", [] { return test::MakeWeldedCubePair({10, 10, 0}); }},
        {"noisy-sphere", [] { return test::MakeNoisySphere(7, 10.0f, 0.3f, 48, 96); }},
        {"torus", [] { return test::MakeTorus(15.0f, 5.0f, 96, 48); }},
        {"cube-20", [] { return mesh::MakeTestCube(20.0f); }},
        {"cube-at-1e6", [] { return test::Translated(mesh::MakeTestCube(20.0f), {1e6f, 1e6f, 0}); }},
        {"sphere-with-cube-1km-away",
            [] { return test::Combined(mesh::MakeTestSphere(15.0f), test::Translated(mesh::MakeTestCube(1.0f), {707110, 707110, 0})); }},
        {"corner-fold",
            [] {
                TriangleMesh box = test::MakeGridTopBox(8, 10.0f);
                box.vertices[4 * 9 + 4].position += Vec3{1.9f, 0.3f, 0.0f};
                return box;
            }},
        {"cube-with-hollow", [] { return test::Combined(mesh::MakeTestCube(20.0f), test::Flipped(mesh::MakeTestCube(6.0f))); }},
        {"body-inside-a-body", [] { return test::Combined(mesh::MakeTestCube(20.0f), mesh::MakeTestCube(6.0f)); }},
        {"boss-on-a-plate",
            [] { return test::Combined(test::MakeBox({0, 0, 0}, {30, 30, 2}), test::MakeBox({10, 10, 1}, {20, 20, 12})); }},
        {"cube-with-crumbs",
            [] {
                TriangleMesh part = mesh::MakeTestCube(20.0f);
                for (int i = 0; i < 4; ++i)
                    part = test::Combined(std::move(part), test::Translated(mesh::MakeTestCube(0.05f), {25.0f + 3 * i, 0, 0}));
                return part;
            }},
        {"cube-with-reversed-copies",
            [] {
                TriangleMesh cube = mesh::MakeTestCube(20.0f);
                for (const std::size_t f : {1, 6, 11})
                    cube.indices.insert(cube.indices.end(), {cube.indices[3 * f], cube.indices[3 * f + 2], cube.indices[3 * f + 1]});
                return cube;
            }},
        {"doubled-sphere",
            [] {
                TriangleMesh sphere = mesh::MakeTestSphere(10.0f);
                const std::vector<std::uint32_t> once = sphere.indices;
                sphere.indices.insert(sphere.indices.end(), once.begin(), once.end());
                return sphere;
            }},
        {"plain-tube", [] { return test::MakeReliefTube(30.0f, 3.0f, 30.0f, 128, 60, 0.0f); }},
    };
    return parts;
}

Loaded LoadPart(const std::string& name, float sizeMillimetres)
{
    if (name.rfind("gen:", 0) == 0) {
        const auto found = GeneratedParts().find(name.substr(4));
        if (found == GeneratedParts().end())
            return {false, "no generated part named " + name.substr(4), {}};
        TriangleMesh part = found->second();
        part.ComputeBounds();
        return {true, {}, std::move(part)};
    }
    Loaded loaded;
    const bool isOff = name.size() > 4 && (name.substr(name.size() - 4) == ".off" || name.substr(name.size() - 4) == ".OFF");
    if (isOff) {
        loaded = ReadOffFile(name);
    } else {
        mesh::StlReadResult read = mesh::ReadStlFile(name, mesh::StlReadOptions{});
        loaded = {read.ok, read.error, std::move(read.mesh)};
    }
    if (loaded.ok && sizeMillimetres > 0.0f)
        loaded.mesh = ScaledOntoTheBed(std::move(loaded.mesh), sizeMillimetres);
    loaded.mesh.ComputeBounds();
    return loaded;
}


double SignedVolume(const TriangleMesh& mesh)
{
    const Vec3 centre = (mesh.boundsMin + mesh.boundsMax) * 0.5f;
    double volume = 0.0;
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        double p[3][3];
        for (int k = 0; k < 3; ++k) {
            const Vec3 v = mesh.vertices[mesh.indices[3 * t + k]].position;
            p[k][0] = double(v.x) - centre.x;
            p[k][1] = double(v.y) - centre.y;
            p[k][2] = double(v.z) - centre.z;
        }
        volume += (p[0][0] * (p[1][1] * p[2][2] - p[1][2] * p[2][1]) - p[0][1] * (p[1][0] * p[2][2] - p[1][2] * p[2][0])
                      + p[0][2] * (p[1][0] * p[2][1] - p[1][1] * p[2][0]))
            / 6.0;
    }
    return volume;
}

Shape MeasureShape(const TriangleMesh& mesh)
{
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> directed;
    for (std::size_t c = 0; c < mesh.indices.size(); ++c)
        ++directed[{mesh.indices[c], mesh.indices[c - c % 3 + (c + 1) % 3]}];
    std::uint64_t open = 0, repeated = 0;
    for (const auto& [edge, uses] : directed) {
        repeated += uses > 1;
        open += directed.count({edge.second, edge.first}) == 0;
    }
    return {open == 0, repeated == 0 && CountPinchedVertices(mesh) == 0, SignedVolume(mesh)};
}

EdgeFaults CountEdgeFaults(const TriangleMesh& mesh)
{
    // Each use of an edge as (lower index, higher index, whether it runs from higher to lower).
    std::vector<std::tuple<std::uint32_t, std::uint32_t, bool>> uses;
    uses.reserve(mesh.indices.size());
    for (std::size_t c = 0; c < mesh.indices.size(); ++c) {
        const std::uint32_t from = mesh.indices[c], to = mesh.indices[c - c % 3 + (c + 1) % 3];
        uses.emplace_back(std::min(from, to), std::max(from, to), from > to);
    }
    std::sort(uses.begin(), uses.end());
    EdgeFaults faults;
    for (std::size_t i = 0; i < uses.size();) {
        std::size_t j = i;
        std::size_t backwards = 0;
        while (j < uses.size() && std::get<0>(uses[j]) == std::get<0>(uses[i]) && std::get<1>(uses[j]) == std::get<1>(uses[i]))
            backwards += std::get<2>(uses[j++]);
        const std::size_t count = j - i;
        faults.open += count == 1;
        faults.nonManifold += count > 2;
        faults.windingConflicts += count == 2 && backwards != 1;
        i = j;
    }
    faults.pinchedVertices = CountVerticesOfSeveralFans(mesh);
    return faults;
}

double LargestCornerMove(const TriangleMesh& before, const TriangleMesh& after)
{
    const std::vector<Point> corners = CornerPositions(after);
    if (corners.empty())
        return 0.0;
    const NearestCorner nearest(CornerPositions(before));
    double largest = 0.0;
    for (const Point& corner : corners)
        largest = std::max(largest, nearest.SquaredDistanceTo(corner));
    return largest == std::numeric_limits<double>::max() ? -1.0 : std::sqrt(largest);
}

namespace {

// The body of every distinct corner position of the mesh's triangles, numbered from 0 in the
// order of `corners` (CornerPositions).
std::vector<std::uint32_t> BodiesOfCorners(const TriangleMesh& mesh, const std::vector<Point>& corners)
{
    std::vector<std::uint32_t> parent(corners.size());
    for (std::uint32_t i = 0; i < parent.size(); ++i)
        parent[i] = i;
    const auto root = [&parent](std::uint32_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    const auto corner = [&](std::uint32_t index) {
        const Vec3 p = mesh.vertices[index].position;
        const Point q{double(p.x), double(p.y), double(p.z)};
        return std::uint32_t(std::lower_bound(corners.begin(), corners.end(), q) - corners.begin());
    };
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t) {
        const std::uint32_t a = root(corner(mesh.indices[3 * t]));
        for (int k = 1; k < 3; ++k) {
            const std::uint32_t b = root(corner(mesh.indices[3 * t + k]));
            parent[b] = a;
        }
    }
    for (std::uint32_t i = 0; i < parent.size(); ++i)
        parent[i] = root(i);
    return parent;
}

}  // namespace

std::uint64_t CountBodiesGone(const TriangleMesh& before, const TriangleMesh& after)
{
    const std::vector<Point> corners = CornerPositions(before);
    if (corners.empty())
        return 0;
    const std::vector<std::uint32_t> body = BodiesOfCorners(before, corners);
    Point low = corners.front(), high = corners.front();
    for (const Point& p : corners)
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    const double near = 1e-4 * std::sqrt(SquaredDistance(low, high));
    const NearestCorner nearest(CornerPositions(after));
    std::vector<bool> kept(corners.size(), false), seen(corners.size(), false);
    for (std::size_t i = 0; i < corners.size(); ++i) {
        seen[body[i]] = true;
        if (!kept[body[i]] && nearest.SquaredDistanceTo(corners[i]) <= near * near)
            kept[body[i]] = true;
    }
    std::uint64_t gone = 0;
    for (std::size_t i = 0; i < corners.size(); ++i)
        gone += seen[i] && !kept[i];
    return gone;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace grainforge::tools
