// Writes a TriangleMesh as a binary or ASCII STL so that the target is never left half
// written: the bytes go to a new temporary file beside the target (named like it with
// ".%08x.part" appended), are flushed to disk, optionally read back and compared with the
// mesh that was meant, and only then renamed over the target, whose folder is flushed too.
// A symbolic link as target is written through to the file it names. Facet normals are the
// triangles' face normals and attributes are 0. Nothing is thrown for a bad mesh or a failed
// file operation (only allocation failure propagates); every failure is a result with a text.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace grainforge::mesh {

struct StlWriteOptions {
    // 1 writes ASCII; any other value binary.
    std::int32_t format = 0;
    // Binary: the 80-byte header (cut at 80 bytes, padded with zero bytes). ASCII: the name
    // after "solid" and "endsolid", with whitespace and control characters made "_" so that
    // the name stays on its line and cannot be taken for a keyword.
    std::string headerText = "Tessary";
    // Read the written file back with the STL reader and compare it with the mesh before
    // putting it in place. A facet count that differs fails the write; other differences
    // become warnings.
    bool readBack = true;
    // Put the file in place only under a name that nothing holds yet, for a name chosen
    // because it was free: a file (or link, or folder) that took the name in the meantime is
    // never replaced, and the write fails with `nameTaken` set in the result.
    bool newFileOnly = false;
};

// What a read-back found, mesh meant (before) against mesh read back (after).
struct RoundTripComparison {
    bool unchanged = true;  // no difference found
    std::uint64_t trianglesBefore = 0;
    std::uint64_t trianglesAfter = 0;
    Vec3 dimensionsBefore;  // mm; box of the positions the triangles use, 0 without triangles
    Vec3 dimensionsAfter;
    float volumeBefore = 0.0f;  // cubic mm, absolute
    float volumeAfter = 0.0f;
    // Edges and triangles as a slicer counts them: the mesh meant by its vertex numbers, the
    // mesh read back with the vertices at one position (of the floats as written) taken as one,
    // so that distinct vertices the writing put in one place show.
    std::uint64_t openEdgesBefore = 0;
    std::uint64_t openEdgesAfter = 0;
    std::uint64_t nonManifoldEdgesBefore = 0;  // edges used by more than two triangles
    std::uint64_t nonManifoldEdgesAfter = 0;
    std::uint64_t duplicateTrianglesBefore = 0;  // triangles repeating an earlier one's corners
    std::uint64_t duplicateTrianglesAfter = 0;
    // Triangle count, box, volume, open edges, non-manifold edges, duplicate triangles, in that
    // order.
    std::vector<std::string> differences;
};

struct StlExportReport {
    std::string fileName;  // the target's file name without folders, UTF-8
    std::int32_t format = 0;
    std::uint64_t trianglesWritten = 0;
    std::uint64_t facetsWithNoArea = 0;  // triangles written with a zero normal
    std::uint64_t bytesWritten = 0;
    Vec3 dimensions;        // mm; box of the vertices that the triangles use
    bool verified = false;  // the file was read back and compared
    RoundTripComparison roundTrip;  // filled when verified
    std::vector<std::string> warnings;
};

// On failure: ok false, the reason in error, and only fileName and format in the report.
struct ExportResult {
    bool ok = false;
    // With StlWriteOptions::newFileOnly: the name was taken, and nothing was written there.
    bool nameTaken = false;
    std::string error;
    StlExportReport report;
};

// Writes `mesh` to `target` as the options ask. Refuses an empty mesh ("There is no geometry
// to export."), an inconsistent one ("The mesh has invalid indices and was not written.") and
// one whose triangles reach a NaN or infinite coordinate, which no reader accepts. On any
// failure the old target is untouched and no temporary file is left; a failed file operation
// ends its text with the system's reason ("The file could not be written completely: No space
// left on device"), so a full disk, a read-only folder or a folder in the way can be told
// apart. Encoding runs in
// parallel; the bytes do not depend on the number of threads.
[[nodiscard]] ExportResult WriteStlFile(const std::filesystem::path& target, const TriangleMesh& mesh,
                                        const StlWriteOptions& options);

// The binary STL bytes of `mesh`: 84 + 50 x T bytes. Empty when the mesh has no vertex or no
// index, is inconsistent, or has more triangles than the 32-bit count can say.
[[nodiscard]] std::vector<std::uint8_t> EncodeBinaryStl(const TriangleMesh& mesh, const std::string& headerText);

// The ASCII STL text of `mesh`, every number the shortest text that reads back as the same
// float ("1", "0.1", "-0", "1e-07"), without any locale. Empty when the mesh is unusable as for
// EncodeBinaryStl.
[[nodiscard]] std::string FormatAsciiStl(const TriangleMesh& mesh, const std::string& solidName);

// Compares the mesh meant with the mesh read back: triangle count, box of the positions the
// triangles use (exact; the stored box and unused vertices play no part), volume (relative
// change above 1e-5), and the open edges, non-manifold edges and duplicate triangles a slicer
// finds (see RoundTripComparison). The box of an inconsistent mesh counts as empty.
[[nodiscard]] RoundTripComparison CompareRoundTrip(const TriangleMesh& meant, const TriangleMesh& readBack);

// The comparison as lines ending in a line feed.
[[nodiscard]] std::string FormatRoundTrip(const RoundTripComparison& comparison);

// The report as lines ending in a line feed, counts grouped, with the round-trip block when
// verified and one "Warning: " line per warning.
[[nodiscard]] std::string FormatExportReport(const StlExportReport& report);

}  // namespace grainforge::mesh
