#include "engine/files/stl_writer.h"

#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/files/stl_reader.h"
#include "engine/mesh/welding.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

namespace grainforge::mesh {

namespace {

constexpr std::size_t kBinaryHeaderSize = 84;
constexpr std::size_t kHeaderTextSize = 80;
constexpr std::size_t kFacetSize = 50;
// Facets per block of the parallel encoders; a block's ASCII text is built on its own and
// the blocks are joined in order.
constexpr std::size_t kFacetsPerBlock = 4096;
// Longest ASCII facet: 12 numbers of at most 15 characters ("-1.17549435e-38") and fixed words.
constexpr std::size_t kMaxAsciiFacetChars = 512;

bool IsUsable(const TriangleMesh& mesh)
{
    return !mesh.vertices.empty() && !mesh.indices.empty() && mesh.IsConsistent();
}

bool FitsBinaryCount(const TriangleMesh& mesh)
{
    return mesh.TriangleCount() <= std::numeric_limits<std::uint32_t>::max();
}

void StoreU32(std::uint8_t* p, std::uint32_t value)
{
    if constexpr (std::endian::native == std::endian::big)
        value = (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u) | (value << 24);
    std::memcpy(p, &value, sizeof value);
}

void StoreVec3(std::uint8_t* p, Vec3 v)
{
    StoreU32(p, std::bit_cast<std::uint32_t>(v.x));
    StoreU32(p + 4, std::bit_cast<std::uint32_t>(v.y));
    StoreU32(p + 8, std::bit_cast<std::uint32_t>(v.z));
}


// Face normal of every triangle. Corners far apart near the float limit overflow the cross
// product and give a NaN normal; such a facet is written with a zero normal instead, since
// other programs may refuse a NaN in the file.
std::vector<Vec3> ComputeFaceNormals(const TriangleMesh& mesh)
{
    std::vector<Vec3> normals(mesh.TriangleCount());
    ParallelFor(normals.size(), [&](std::size_t t) {
        const Vec3 n = mesh.FaceNormal(t);
        normals[t] = IsFinite(n) ? n : Vec3{};
    });
    return normals;
}

std::vector<std::uint8_t> EncodeBinary(const TriangleMesh& mesh, const std::vector<Vec3>& normals,
                                       const std::string& headerText)
{
    const std::size_t triangles = mesh.TriangleCount();
    std::vector<std::uint8_t> bytes(kBinaryHeaderSize + kFacetSize * static_cast<std::uint64_t>(triangles));
    std::memcpy(bytes.data(), headerText.data(), std::min(headerText.size(), kHeaderTextSize));
    StoreU32(bytes.data() + kHeaderTextSize, static_cast<std::uint32_t>(triangles));
    // Each facet's 50 bytes have a fixed place; the attribute stays zero.
    ParallelForBlocks(triangles, kFacetsPerBlock, [&](std::size_t begin, std::size_t end) {
        for (std::size_t t = begin; t < end; ++t) {
            std::uint8_t* facet = bytes.data() + kBinaryHeaderSize + kFacetSize * t;
            StoreVec3(facet, normals[t]);
            for (std::size_t c = 0; c < 3; ++c)
                StoreVec3(facet + 12 + 12 * c, mesh.vertices[mesh.indices[3 * t + c]].position);
        }
    });
    return bytes;
}

// Shortest text that reads back as the same float: std::to_chars picks plain or exponent
// notation, whichever is shorter (plain on a tie), with a printf-style exponent ("1e-07").
char* AppendNumber(char* out, float value)
{
    return std::to_chars(out, out + 32, value).ptr;
}

char* AppendText(char* out, std::string_view text)
{
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* AppendTriple(char* out, Vec3 v)
{
    out = AppendNumber(out, v.x);
    *out++ = ' ';
    out = AppendNumber(out, v.y);
    *out++ = ' ';
    return AppendNumber(out, v.z);
}

void AppendAsciiFacet(std::string& text, const TriangleMesh& mesh, std::size_t t, Vec3 normal)
{
    char buffer[kMaxAsciiFacetChars];
    char* out = AppendText(buffer, "  facet normal ");
    out = AppendTriple(out, normal);
    out = AppendText(out, "\n    outer loop\n");
    for (std::size_t c = 0; c < 3; ++c) {
        out = AppendText(out, "      vertex ");
        out = AppendTriple(out, mesh.vertices[mesh.indices[3 * t + c]].position);
        *out++ = '\n';
    }
    out = AppendText(out, "    endloop\n  endfacet\n");
    text.append(buffer, out);
}

// Whitespace or a control character would end the name early or let its words be read as
// keywords by other programs.
std::string SafeSolidName(const std::string& name)
{
    std::string safe = name;
    for (char& c : safe) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f)
            c = '_';
    }
    return safe;
}

std::string FormatAscii(const TriangleMesh& mesh, const std::vector<Vec3>& normals, const std::string& solidName)
{
    const std::string name = SafeSolidName(solidName);
    const std::size_t triangles = mesh.TriangleCount();
    const std::size_t blockCount = (triangles + kFacetsPerBlock - 1) / kFacetsPerBlock;
    std::vector<std::string> blocks(blockCount);
    ParallelForBlocks(triangles, kFacetsPerBlock, [&](std::size_t begin, std::size_t end) {
        std::string& block = blocks[begin / kFacetsPerBlock];
        block.reserve((end - begin) * 200);
        for (std::size_t t = begin; t < end; ++t)
            AppendAsciiFacet(block, mesh, t, normals[t]);
    });
    std::size_t total = 2 * name.size() + 32;
    for (const std::string& block : blocks)
        total += block.size();
    std::string text;
    text.reserve(total);
    text += "solid " + name + "\n";
    for (std::string& block : blocks) {
        text += block;
        std::string().swap(block);
    }
    text += "endsolid " + name + "\n";
    return text;
}

// Box of the positions the triangles reach (unused vertices are not written, so they do not
// count), and whether all of those positions are finite.
struct UsedBox {
    Vec3 min;
    Vec3 max;
    bool finite = true;
};

void Include(UsedBox& box, Vec3 p, bool first)
{
    if (first) {
        box.min = p;
        box.max = p;
        return;
    }
    box.min = Vec3{std::min(box.min.x, p.x), std::min(box.min.y, p.y), std::min(box.min.z, p.z)};
    box.max = Vec3{std::max(box.max.x, p.x), std::max(box.max.y, p.y), std::max(box.max.z, p.z)};
}

UsedBox MeasureUsedVertices(const TriangleMesh& mesh)
{
    constexpr std::size_t kGrain = 1u << 16;
    const std::size_t count = mesh.indices.size();
    std::vector<UsedBox> blocks((count + kGrain - 1) / kGrain);
    ParallelForBlocks(count, kGrain, [&](std::size_t begin, std::size_t end) {
        UsedBox& box = blocks[begin / kGrain];
        for (std::size_t i = begin; i < end; ++i) {
            const Vec3 p = mesh.vertices[mesh.indices[i]].position;
            box.finite = box.finite && IsFinite(p);
            Include(box, p, i == begin);
        }
    });
    // Joined in block order, so the result is that of one pass in index order.
    UsedBox box = blocks.front();
    for (std::size_t b = 1; b < blocks.size(); ++b) {
        box.finite = box.finite && blocks[b].finite;
        Include(box, blocks[b].min, false);
        Include(box, blocks[b].max, false);
    }
    return box;
}

ExportResult Failure(const std::string& fileName, std::int32_t format, std::string text)
{
    ExportResult result;
    result.error = std::move(text);
    result.report.fileName = fileName;
    result.report.format = format;
    return result;
}

StlReadOptions ReadBackOptions()
{
    StlReadOptions options;
    options.mergeVertices = true;
    options.weldTolerance = -1.0f;
    options.removeDegenerate = true;
    options.removeZeroArea = true;
    options.removeDuplicates = false;
    options.computeNormals = true;
    return options;
}

// Reads the temporary file back and compares; an empty text means it passed.
std::string VerifyWrittenFile(const std::filesystem::path& path, const TriangleMesh& mesh, StlExportReport& report)
{
    const StlReadResult read = ReadStlFile(path, ReadBackOptions());
    if (!read.ok)
        return "The exported file could not be read back: " + read.error;
    if (read.report.trianglesRead != report.trianglesWritten)
        return "The exported file contains " + FormatCountGrouped(read.report.trianglesRead) + " facets but " +
               FormatCountGrouped(report.trianglesWritten) + " were written.";
    report.roundTrip = CompareRoundTrip(mesh, read.mesh);
    report.verified = true;
    for (const std::string& difference : report.roundTrip.differences)
        report.warnings.push_back("Round trip: " + difference);
    return std::string();
}

// Writes, flushes and (when asked) verifies the temporary file, then renames it over the
// target. Returns the failure text, or an empty text once the target is replaced; a failure
// removes the temporary file and leaves the target as it was. The system's reason ends each
// text, so a full disk, a read-only folder or a folder in the way can be told apart.
std::string PutInPlace(const std::filesystem::path& target, std::span<const std::uint8_t> bytes,
                       const TriangleMesh& mesh, const StlWriteOptions& options, StlExportReport& report,
                       bool& nameTaken)
{
    platform::ReplacementOptions replacement;
    replacement.suffix = ".part";
    // A new name is the name itself: a link there is something that holds it, not a way on.
    if (options.newFileOnly)
        replacement.links = platform::LinkHandling::ReplaceLink;
    int error = 0;
    platform::FileReplacement file = platform::FileReplacement::Begin(target, replacement, &error);
    if (!file.IsOpen()) {
        // A folder or a pipe that took a new name is refused here, before anything is made.
        std::error_code status;
        nameTaken = options.newFileOnly && std::filesystem::symlink_status(target, status).type() !=
                                               std::filesystem::file_type::not_found && !status;
        return "The file could not be opened for writing: " +
               platform::FileErrorCauseText(target, error, platform::FileUse::write);
    }
    if (!file.Write(bytes.data(), bytes.size(), &error) || !file.Finish(&error))
        return "The file could not be written completely: " + platform::SystemErrorText(error);
    report.bytesWritten = bytes.size();
    if (options.readBack) {
        const std::string failure = VerifyWrittenFile(file.TemporaryPath(), mesh, report);
        if (!failure.empty())
            return failure;
    }
    if (options.newFileOnly) {
        if (file.CommitAsNewFile(&error))
            return std::string();
        nameTaken = error == EEXIST;
        return "The file could not be put in place: " + platform::SystemErrorText(error);
    }
    if (!file.Commit(&error))
        return "The file could not be put in place: " + platform::SystemErrorText(error);
    return std::string();
}

// Box of the positions the triangles reach, for comparing what was meant with what was read:
// a stale stored box, or unused vertices (which are never written), would show as a change
// that is not in the file. Zero and not valid without triangles or for an inconsistent mesh.
struct TriangleBox {
    Vec3 min;
    Vec3 max;
    bool valid = false;
};

TriangleBox MeasureTriangleBox(const TriangleMesh& mesh)
{
    if (mesh.indices.empty() || !mesh.IsConsistent())
        return {};
    const UsedBox box = MeasureUsedVertices(mesh);
    return {box.min, box.max, true};
}

Vec3 ExtentsOf(const TriangleBox& box) { return box.valid ? box.max - box.min : Vec3{}; }

struct EdgeAndDuplicateCounts {
    std::uint64_t open = 0;
    std::uint64_t nonManifold = 0;
    std::uint64_t duplicates = 0;
};

// A triangle that repeats a vertex has no edges to walk; the reader drops it, so it counts on
// neither side.
EdgeAndDuplicateCounts CountEdgesAndDuplicates(TriangleMesh mesh)
{
    (void)RemoveDegenerateTriangles(mesh, true);
    const EdgeCounts edges = CountEdges(mesh);
    return {edges.boundary, edges.nonManifold, CountDuplicateTriangles(mesh)};
}

// A file holds positions, not vertex numbers: a slicer takes the corners at one position as one
// vertex, whatever the mesh numbered them.
EdgeAndDuplicateCounts CountAsWelded(const TriangleMesh& mesh)
{
    TriangleMesh welded;
    welded.vertices = mesh.vertices;
    welded.indices = mesh.indices;
    (void)WeldIdenticalVertices(welded);
    return CountEdgesAndDuplicates(std::move(welded));
}

std::string ChangedCountText(const char* what, std::uint64_t before, std::uint64_t after)
{
    return std::string(what) + " changed from " + FormatCountGrouped(before) + " to " + FormatCountGrouped(after) + ".";
}

}  // namespace

std::vector<std::uint8_t> EncodeBinaryStl(const TriangleMesh& mesh, const std::string& headerText)
{
    if (!IsUsable(mesh) || !FitsBinaryCount(mesh))
        return {};
    return EncodeBinary(mesh, ComputeFaceNormals(mesh), headerText);
}

std::string FormatAsciiStl(const TriangleMesh& mesh, const std::string& solidName)
{
    if (!IsUsable(mesh))
        return {};
    return FormatAscii(mesh, ComputeFaceNormals(mesh), solidName);
}

ExportResult WriteStlFile(const std::filesystem::path& target, const TriangleMesh& mesh,
                          const StlWriteOptions& options)
{
    const std::string fileName = ReportFileName(target);
    const bool ascii = options.format == 1;
    if (mesh.vertices.empty() || mesh.indices.empty())
        return Failure(fileName, options.format, "There is no geometry to export.");
    if (!mesh.IsConsistent())
        return Failure(fileName, options.format, "The mesh has invalid indices and was not written.");
    const UsedBox box = MeasureUsedVertices(mesh);
    if (!box.finite)
        return Failure(fileName, options.format,
                       "The mesh has a coordinate that is not a number (NaN or infinity) and was not written.");
    if (!ascii && !FitsBinaryCount(mesh))
        return Failure(fileName, options.format,
                       "The mesh has more triangles than a binary STL can hold and was not written.");

    ExportResult result;
    StlExportReport& report = result.report;
    report.fileName = fileName;
    report.format = options.format;
    report.trianglesWritten = mesh.TriangleCount();
    report.dimensions = box.max - box.min;

    const std::vector<Vec3> normals = ComputeFaceNormals(mesh);
    report.facetsWithNoArea = static_cast<std::uint64_t>(
        std::count_if(normals.begin(), normals.end(), [](Vec3 n) { return Dot(n, n) == 0.0f; }));
    if (report.facetsWithNoArea != 0)
        report.warnings.push_back("Wrote " + FormatCountOf(report.facetsWithNoArea, "facet", "facets") + " with no area, "
                                  + std::string(PluralWord(report.facetsWithNoArea, "whose normal is", "whose normals are"))
                                  + " zero. Slicers may reject " + std::string(PluralWord(report.facetsWithNoArea, "it.", "them.")));

    std::string failure;
    bool nameTaken = false;
    if (ascii) {
        const std::string text = FormatAscii(mesh, normals, options.headerText);
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        failure = PutInPlace(target, bytes, mesh, options, report, nameTaken);
    } else {
        const std::vector<std::uint8_t> bytes = EncodeBinary(mesh, normals, options.headerText);
        failure = PutInPlace(target, bytes, mesh, options, report, nameTaken);
    }
    if (!failure.empty()) {
        ExportResult failed = Failure(fileName, options.format, std::move(failure));
        failed.nameTaken = nameTaken;
        return failed;
    }
    result.ok = true;
    return result;
}

RoundTripComparison CompareRoundTrip(const TriangleMesh& meant, const TriangleMesh& readBack)
{
    RoundTripComparison comparison;
    comparison.trianglesBefore = meant.TriangleCount();
    comparison.trianglesAfter = readBack.TriangleCount();
    const TriangleBox boxBefore = MeasureTriangleBox(meant);
    const TriangleBox boxAfter = MeasureTriangleBox(readBack);
    comparison.dimensionsBefore = ExtentsOf(boxBefore);
    comparison.dimensionsAfter = ExtentsOf(boxAfter);
    comparison.volumeBefore = std::fabs(meant.Volume());
    comparison.volumeAfter = std::fabs(readBack.Volume());
    const EdgeAndDuplicateCounts before = CountEdgesAndDuplicates(meant);
    const EdgeAndDuplicateCounts after = CountAsWelded(readBack);
    comparison.openEdgesBefore = before.open;
    comparison.openEdgesAfter = after.open;
    comparison.nonManifoldEdgesBefore = before.nonManifold;
    comparison.nonManifoldEdgesAfter = after.nonManifold;
    comparison.duplicateTrianglesBefore = before.duplicates;
    comparison.duplicateTrianglesAfter = after.duplicates;

    auto& differences = comparison.differences;
    if (comparison.trianglesBefore != comparison.trianglesAfter)
        differences.push_back("Triangle count changed from " + FormatCountGrouped(comparison.trianglesBefore) +
                              " to " + FormatCountGrouped(comparison.trianglesAfter) + ".");
    if (boxBefore.valid != boxAfter.valid || !(boxBefore.min == boxAfter.min) || !(boxBefore.max == boxAfter.max)) {
        const Vec3 a = comparison.dimensionsBefore;
        const Vec3 b = comparison.dimensionsAfter;
        differences.push_back("Bounding box changed from " + FormatSize3(a.x, a.y, a.z) + " to " +
                              FormatSize3(b.x, b.y, b.z) + ".");
    }
    const float relative = std::fabs(comparison.volumeBefore - comparison.volumeAfter) /
                           std::max(comparison.volumeBefore, 1e-6f);
    if (relative > 1e-5f)
        differences.push_back("Volume changed from " + FormatGeneral6(comparison.volumeBefore) + " to " +
                              FormatGeneral6(comparison.volumeAfter) + " cubic mm.");
    if (comparison.openEdgesBefore != comparison.openEdgesAfter)
        differences.push_back(ChangedCountText("Open boundary edges", comparison.openEdgesBefore, comparison.openEdgesAfter));
    if (comparison.nonManifoldEdgesBefore != comparison.nonManifoldEdgesAfter)
        differences.push_back(ChangedCountText("Non-manifold edges", comparison.nonManifoldEdgesBefore,
            comparison.nonManifoldEdgesAfter));
    if (comparison.duplicateTrianglesBefore != comparison.duplicateTrianglesAfter)
        differences.push_back(ChangedCountText("Duplicate triangles", comparison.duplicateTrianglesBefore,
            comparison.duplicateTrianglesAfter));
    comparison.unchanged = differences.empty();
    return comparison;
}

std::string FormatRoundTrip(const RoundTripComparison& comparison)
{
    const Vec3 a = comparison.dimensionsBefore;
    const Vec3 b = comparison.dimensionsAfter;
    std::string text;
    text += std::string("Round trip: ") + (comparison.unchanged ? "unchanged" : "CHANGED") + "\n";
    text += "  Triangles: " + FormatCountGrouped(comparison.trianglesBefore) + " -> " +
            FormatCountGrouped(comparison.trianglesAfter) + "\n";
    text += "  Dimensions: " + FormatSize3(a.x, a.y, a.z) + " -> " + FormatSize3(b.x, b.y, b.z) + "\n";
    text += "  Open boundary edges: " + FormatCountGrouped(comparison.openEdgesBefore) + " -> " +
            FormatCountGrouped(comparison.openEdgesAfter) + "\n";
    for (const std::string& difference : comparison.differences)
        text += "  Difference: " + difference + "\n";
    return text;
}

std::string FormatExportReport(const StlExportReport& report)
{
    const Vec3 d = report.dimensions;
    std::string text;
    text += "Wrote: " + report.fileName + "\n";
    text += std::string("Format: ") + (report.format == 1 ? "ASCII STL" : "Binary STL") + "\n";
    text += "Triangles written: " + FormatCountGrouped(report.trianglesWritten) + "\n";
    text += "Bytes written: " + FormatCountGrouped(report.bytesWritten) + "\n";
    text += "Dimensions: " + FormatSize3(d.x, d.y, d.z) + "\n";
    if (report.facetsWithNoArea != 0)
        text += "Facets with no area: " + FormatCountGrouped(report.facetsWithNoArea) + "\n";
    text += std::string("Verified by reimport: ") + (report.verified ? "yes" : "no") + "\n";
    if (report.verified)
        text += FormatRoundTrip(report.roundTrip);
    for (const std::string& warning : report.warnings)
        text += "Warning: " + warning + "\n";
    return text;
}

}  // namespace grainforge::mesh
