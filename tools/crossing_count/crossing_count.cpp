// Counts the crossings of parts three ways, for settling what a crossing count means: the
// search's pairs (FindSelfIntersections), the same rule decided on every pair with no search
// (the tests' exact reference), and the wider rule that any contact of two triangles beyond
// the vertices they share counts (the rule of the mesh libraries' self-intersection tests, and
// of the contact search Simplify counts its crossing pairs with), by every pair and by that
// contact search, with the triangles without area apart. One JSON line per part. With --off <folder>, each
// part is also written there as an OFF file of the mesh as read, so that another library
// counts the same triangles.
#include "engine/mesh/exact_predicates.h"
#include "engine/mesh/self_intersection.h"
#include "engine/mesh/triangle_contact.h"
#include "tests/support/exact_crossings.h"
#include "engine/mesh/vertex_pieces.h"
#include "tools/corpus_part/corpus_part.h"

#include <algorithm>
#include <array>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace grainforge;

// The triangles the search may brute-force in the time a person waits.
constexpr std::size_t kMaxBruteForceTriangles = 40000;

void WriteOff(const mesh::TriangleMesh& mesh, const std::filesystem::path& path)
{
    std::ofstream out(path);
    out.precision(9);
    out << "OFF\n" << mesh.vertices.size() << ' ' << mesh.TriangleCount() << " 0\n";
    for (const mesh::MeshVertex& v : mesh.vertices)
        out << v.position.x << ' ' << v.position.y << ' ' << v.position.z << '\n';
    for (std::size_t t = 0; t < mesh.TriangleCount(); ++t)
        out << "3 " << mesh.indices[3 * t] << ' ' << mesh.indices[3 * t + 1] << ' ' << mesh.indices[3 * t + 2] << '\n';
}

// The pairs that meet but do not cross, by what they are: neighbours (a common vertex index),
// two triangles of one plane in one piece or in two, and the rest (a touch across planes,
// within one piece or between two).
struct MeetingOnly {
    std::size_t neighbours = 0;
    std::size_t coplanarOnePiece = 0;
    std::size_t coplanarTwoPieces = 0;
    std::size_t touchOnePiece = 0;
    std::size_t touchTwoPieces = 0;
};

MeetingOnly SortMeetingOnly(const mesh::TriangleMesh& part, const std::vector<test::CrossingPair>& meeting,
    const std::vector<test::CrossingPair>& crossing)
{
    MeetingOnly sorted;
    const std::vector<std::uint32_t> piece = mesh::LabelVertexPieces(part);
    const auto point = [&part](std::uint32_t t, int k) {
        const mesh::Vec3 p = part.vertices[part.indices[3 * std::size_t{t} + k]].position;
        return mesh::Point3{p.x, p.y, p.z};
    };
    for (const test::CrossingPair& pair : meeting) {
        if (std::binary_search(crossing.begin(), crossing.end(), pair))
            continue;
        const auto [t, u] = pair;
        bool neighbours = false;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                neighbours = neighbours || part.indices[3 * std::size_t{t} + i] == part.indices[3 * std::size_t{u} + j];
        bool coplanar = true;
        for (int k = 0; k < 3; ++k)
            coplanar = coplanar && mesh::Orient3d(point(t, 0), point(t, 1), point(t, 2), point(u, k)) == 0;
        const bool onePiece = piece[part.indices[3 * std::size_t{t}]] == piece[part.indices[3 * std::size_t{u}]];
        if (neighbours)
            ++sorted.neighbours;
        else if (coplanar)
            ++(onePiece ? sorted.coplanarOnePiece : sorted.coplanarTwoPieces);
        else
            ++(onePiece ? sorted.touchOnePiece : sorted.touchTwoPieces);
    }
    return sorted;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string offFolder;
    std::vector<std::string> parts;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--off" && i + 1 < argc)
            offFolder = argv[++i];
        else
            parts.push_back(arg);
    }
    if (parts.empty()) {
        std::fprintf(stderr, "usage: crossing_count [--off folder] part.stl...\n");
        return 2;
    }
    for (const std::string& name : parts) {
        const tools::Loaded loaded = tools::LoadPart(name, 0.0f);
        if (!loaded.ok) {
            std::printf("{\"part\": \"%s\", \"error\": \"%s\"}\n", name.c_str(), loaded.error.c_str());
            continue;
        }
        const mesh::TriangleMesh& part = loaded.mesh;
        if (!offFolder.empty())
            WriteOff(part, std::filesystem::path(offFolder) / (std::filesystem::path(name).stem().string() + ".off"));
        std::vector<std::uint32_t> found;
        bool stopped = false;
        mesh::FindSelfIntersections(part, {}, mesh::kNoPairLimit, found, stopped);
        const std::vector<test::CrossingPair> searched = test::SortedCrossingPairs(found);
        const bool small = part.TriangleCount() <= kMaxBruteForceTriangles;
        const std::vector<test::CrossingPair> crossing = small
            ? test::FindPairsByBruteForce(part, test::PairRule::crossing)
            : test::FindPairsThroughGrid(part, test::PairRule::crossing);
        const std::vector<test::CrossingPair> meeting = test::FindMeetingPairsThroughGrid(part);
        std::vector<test::CrossingPair> contacts;
        for (const std::array<std::uint32_t, 2>& pair : mesh::ChangedTrianglePairsMeetingOrFlat(part, {}))
            if (pair[0] != pair[1])
                contacts.emplace_back(pair[0], pair[1]);
        const MeetingOnly only = SortMeetingOnly(part, meeting, crossing);
        std::printf("{\"part\": \"%s\", \"triangles\": %zu, \"search_pairs\": %zu, \"search_triangles\": %zu, "
                    "\"exact_pairs\": %zu, \"exact_by\": \"%s\", \"same_pairs\": %s, \"meeting_pairs\": %zu, "
                    "\"meeting_triangles\": %zu, \"contact_search_pairs\": %zu, \"same_contacts\": %s, \"without_area\": %llu, "
                    "\"meeting_only\": {\"neighbours\": %zu, \"coplanar_one_piece\": %zu, \"coplanar_two_pieces\": %zu, "
                    "\"touch_one_piece\": %zu, \"touch_two_pieces\": %zu}}\n",
            name.c_str(), part.TriangleCount(), searched.size(), test::CrossingTriangles(searched).size(),
            crossing.size(), small ? "every pair" : "grid", searched == crossing ? "true" : "false", meeting.size(),
            test::CrossingTriangles(meeting).size(), contacts.size(), contacts == meeting ? "true" : "false",
            static_cast<unsigned long long>(test::CountTrianglesWithoutArea(part)), only.neighbours,
            only.coplanarOnePiece, only.coplanarTwoPieces, only.touchOnePiece, only.touchTwoPieces);
        std::fflush(stdout);
    }
    return 0;
}
