// Reads STL files, binary and ASCII, into an indexed TriangleMesh and describes what it found.
// An STL file is a soup of separate triangles: the reader welds coincident corners, drops
// degenerate triangles, counts duplicates, measures the part and warns about what a printer
// would trip over. It accepts any bytes: every failure is a result with a fixed English text,
// never an exception (only allocation failure propagates).
//
// Binary form (little-endian): 80 header bytes (ignored), an unsigned 32-bit facet count N,
// then N facets of 50 bytes: normal (3 floats, ignored), corners 0, 1, 2 (3 floats each),
// a 16-bit attribute (ignored). A binary file is exactly 84 + 50 x N bytes long.
// ASCII form: whitespace-separated words; "facet" is counted, "vertex" is followed by the
// corner's x, y and z (keywords in any case, as older programs write them in capitals); every other word is skipped, and so is the rest of the line after
// "solid" and after "endsolid" (the solid's name, which may hold any word). A control byte no
// text holds (other than whitespace) after an "endsolid", on its line or before the next
// "solid", ends the text: the rest is ignored with a warning. A run of DOS end-of-file marks
// (0x1A), NULs and whitespace that ends the file is ignored without one. In the words the
// reader skips, the solid's name and the three numbers of a facet's normal, such a byte is
// skipped with them. Anywhere else in text that opens with "solid" (in a keyword, a
// coordinate, any word where a keyword may stand, or breaking the word "solid" itself) it makes
// the text damaged: the read fails at once, naming the byte's line.
// No failure text holds a byte of the file raw: a word that is shown has its control characters
// and broken UTF-8 written as "\x" and two hexadecimal digits.
#pragma once

#include "engine/mesh/triangle_mesh.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace grainforge::mesh {

enum class StlFormat : std::int32_t {
    Unrecognised = 0,
    Binary = 1,
    Ascii = 2,
};

// What the caller asks of an import. The defaults are the document's import (also used by the
// writer's read-back); the slicer-style read-back turns removeZeroArea off.
struct StlReadOptions {
    // Weld coincident corners into shared vertices: first bitwise-equal positions, then, only
    // when that leaves open or non-manifold edges, positions within weldTolerance.
    bool mergeVertices = true;
    // Tolerance of the second weld, mm. Negative: automatic, each piece of the exactly welded
    // part its own (LocalWeldTolerances): 1e-6 times the piece's largest absolute coordinate
    // but no more than 1e-6 times twice its largest side, at least 1e-6, so that neither where
    // a piece sits nor a stray piece far away widens it. 0: exact weld only. Ignored without
    // merging.
    float weldTolerance = -1.0f;
    // Drop triangles with a repeated vertex (after welding, when merging).
    bool removeDegenerate = true;
    // With removeDegenerate: also take out triangles of zero area whose vertices differ, after
    // a weld by collapsing them (RemoveZeroAreaTriangles), so a closed file stays closed.
    bool removeZeroArea = true;
    // Drop duplicate triangles (same three vertices in any order); otherwise only count them.
    bool removeDuplicates = false;
    // Compute area-weighted vertex normals of the result.
    bool computeNormals = true;
};

struct StlImportReport {
    std::string fileName;  // file name without folders (the caller's name for in-memory data), UTF-8
    StlFormat format = StlFormat::Unrecognised;
    std::uint64_t trianglesRead = 0;          // corners read / 3
    std::uint64_t trianglesKept = 0;          // triangles of the final mesh
    std::uint64_t degenerateRemoved = 0;      // degenerate in the file (before the tolerance weld)
    std::uint64_t weldCollapsedRemoved = 0;   // collapsed by the tolerance weld, then removed
    std::uint64_t duplicateTriangles = 0;     // duplicates found
    std::uint64_t duplicatesRemoved = 0;      // duplicates dropped
    float weldTolerance = 0.0f;               // mm; the second weld's (largest) tolerance when it ran, else 0
    std::uint64_t verticesBeforeWelding = 0;  // corners read
    std::uint64_t verticesAfterWelding = 0;   // vertices of the final mesh
    Vec3 dimensions;                          // mm; extents of the final box, 0 when not valid
    std::uint64_t openBoundaryEdges = 0;      // edges used once
    std::uint64_t nonManifoldEdges = 0;       // edges used three times or more
    std::uint64_t components = 0;             // connected bodies
    std::vector<std::string> warnings;        // in the order FormatImportReport prints them
};

// On failure: ok false, the reason in error, an empty mesh, and only fileName and format in
// the report (format Unrecognised when the form was never recognised).
struct StlReadResult {
    bool ok = false;
    std::string error;
    TriangleMesh mesh;
    StlImportReport report;
};

// Reads the file at `path` as ParseStl reads its bytes, with the same result, without holding
// the whole file: the form is told from the first bytes and the size, so a header that cannot
// match the size is refused before anything more is read; binary facets go a chunk at a time
// straight into the mesh's arrays and ASCII text is read a chunk at a time. Failures before
// parsing: "The file could not be opened: " with the system's error text (a missing file),
// "The file could not be opened: it is not a regular file (it is a folder)." (or a named
// pipe, a device, a socket; refused at once, never waiting on a pipe), "The file could not be
// opened for reading: " with the system's error text (such as "Permission denied"), and "The file ended earlier than its reported size of N bytes." (also when it
// shrinks while read). Parts of the work run in parallel.
[[nodiscard]] StlReadResult ReadStlFile(const std::filesystem::path& path, const StlReadOptions& options);

// Parses STL bytes held in memory; `fileName` only goes into the report. Detects the form,
// parses it, refuses a file without triangles or with a NaN or infinite corner coordinate,
// then builds the indexed mesh as the options ask and fills the report and its warnings.
// Units are taken to be millimetres; nothing is rescaled. Parts of the work run in parallel;
// the result does not depend on the number of threads.
[[nodiscard]] StlReadResult ParseStl(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                     const StlReadOptions& options);

// Binary when the size is exactly 84 + 50 x N for the count N at offset 80 (even when the
// header begins with "solid"); otherwise ASCII when the first word after leading whitespace
// starts with "solid" in any case, unless the data looks like a binary file of the wrong size
// (84 bytes or more, and the count explains the size to within one facet or the 4096 bytes
// from offset 80 hold a control byte other than whitespace that the text does not read past:
// read as ASCII, in a word the reader skips below the first line, or, at offset 84 or later,
// where the closing run of 0x1A, NUL and whitespace begins or after an "endsolid"); otherwise
// Unrecognised, for which ParseStl gives the binary size text.
[[nodiscard]] StlFormat DetectStlFormat(std::span<const std::uint8_t> bytes);

// Reads every facet's three corners of a binary STL into `corners` (replacing its contents)
// and the header's count into `declaredCount`. Refuses, with the import's size text in
// `error`, bytes whose length is not exactly 84 + 50 x N. Runs in parallel over the facets.
[[nodiscard]] bool ParseBinaryStl(std::span<const std::uint8_t> bytes, std::vector<Vec3>& corners,
                                  std::uint64_t& declaredCount, std::string& error);

// Reads the corners of an ASCII STL in file order into `corners` (replacing its contents) and
// counts the "facet" keywords (in any case) into `declaredCount`. Numbers are read without any locale: an
// optional sign, digits with an optional point and exponent, or the words for infinity and NaN
// in any case. A value too small for a float reads as the nearest float (a subnormal, or zero
// with its sign); a value beyond the float range or a word with anything else fails. Fails
// with its text when the data ends inside a vertex or the corners do not make whole triangles.
// Reads up to the end of the text as the ASCII form above describes it.
[[nodiscard]] bool ParseAsciiStl(std::span<const std::uint8_t> bytes, std::vector<Vec3>& corners,
                                 std::uint64_t& declaredCount, std::string& error);

// The report as lines ending in a line feed, counts grouped: file, format, units, counts,
// welding, dimensions, edges, components, then one "Warning: " line per warning.
[[nodiscard]] std::string FormatImportReport(const StlImportReport& report);

}  // namespace grainforge::mesh
