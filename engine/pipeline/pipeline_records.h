// The records that travel between the document and the processing pipeline: the settings of
// one run (everything it needs besides the meshes and the height map), the run's quality, the
// status the user interface shows while and after a run, and the report of everything one run
// produced besides meshes. The document builds fresh settings for every Process; the pipeline
// keeps a copy of the last run's settings to find the stages that went stale.
//
// Plain values: default construction gives a run with every stage switched off and the print
// check on; copies and moves are member-wise.
#pragma once

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/projection.h"
#include "engine/displacement/solid_displacement.h"
#include "engine/displacement/texture_weights.h"
#include "engine/displacement/wall_measurement.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/mesh_simplify.h"
#include "engine/mesh/mesh_validation.h"
#include "engine/pipeline/body_change.h"
#include "engine/pipeline/printability_check.h"
#include "engine/pipeline/surface_distance.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/own_scale_remesh.h"
#include "engine/remesh/remesh_settings.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace grainforge::mesh {

// Occupancy grid resolutions a run may ask for; outside values are used clamped.
inline constexpr std::uint32_t kSmallestOccupancyCells = 16;
inline constexpr std::uint32_t kLargestOccupancyCells = 1024;

struct PipelineSettings {
    Projection projection = InitProjection();  // placement of the texture on the part
    // 1: no outer-surface test in the face stage; any other value classifies the faces through
    // the occupancy grid, and 0 also records the textured-area figures. The document sends 0.
    std::uint32_t surfaceMode = 0;
    std::uint32_t occupancyCells = 256;  // clamped to 16..1024 where used
    std::uint8_t tileExtentOn = 0;       // the texture covers one rectangle only
    float tileOffsetX = 0.0f;            // millimetres
    float tileOffsetY = 0.0f;
    float tileRotationDegrees = 0.0f;
    float tileWidth = 0.0f;
    float tileHeight = 0.0f;
    std::vector<MaskVolume> masks;       // regions kept plain
    std::uint8_t remeshOn = 0;
    RemeshSettings remesh;
    std::uint8_t displacementOn = 0;
    DisplacementSettings displacement;
    std::uint8_t simplifyOn = 0;
    SimplifySettings simplify;
    std::uint8_t printCheckOn = 1;       // the printability check after every run
    PrintabilitySettings printability;
    ExportCleanupOptions cleanup;
    float wallLineWidth = 0.42f;         // handed to the wall measurement
    float wallThreshold = 0.0f;          // 0: the line width, never below 0.05
    float wallMinimumInward = 0.02f;     // smallest inward move that is measured
    std::uint64_t maximumTriangles = 18000000;  // remesh and solid stages; 0 for no limit

    // The one-rectangle extent the weights and the height sampling read.
    TileFrame TileExtent() const;
    // The wall measurement's settings from the three wall fields.
    WallSettings Walls() const;
    // occupancyCells clamped to 16..1024.
    std::int32_t OccupancyResolution() const;
};

enum class PipelineQuality : std::int32_t {
    full = 0,     // every request from the user interface
    preview = 1,  // coarser remesh, no simplify
};

// A snapshot of the pipeline for the user interface.
struct PipelineStatus {
    bool running = false;
    bool cancelled = false;   // the last run stopped without an error
    bool failed = false;      // the last run failed or was refused
    std::string message;
    PipelineQuality quality = PipelineQuality::full;  // of the current or last run
    std::string stageText;    // the current phase
    float fraction = 0.0f;    // 0..1
    bool hasFraction = false; // false shows an indeterminate bar
};

// How finely the mesh carries the texture.
struct SamplingReport {
    bool measured = false;
    float triangleSize = 0.0f;        // mm: median edge of the mesh that is displaced
    float millimetresPerPixel = 0.0f; // texture mm per height-map pixel at the finest zoom
    float pixelsPerEdge = 0.0f;       // triangleSize / millimetresPerPixel
    float filterMillimetres = 0.0f;   // blur applied to the height map
    bool filterRaised = false;        // the blur is wider than the texture's own setting
    float finestDetail = 0.0f;        // mm: 2 x triangleSize
    float advisedWidth = 0.0f;        // mm: the texture width at which an edge spans 2 pixels
    float advisedTriangleSize = 0.0f; // mm: 2 x millimetresPerPixel
};

// Faces and area of the part, in all and textured, from the face stage.
struct TextureFigures {
    std::uint64_t faces = 0;
    std::uint64_t texturedFaces = 0;
    double area = 0.0;          // mm2
    double texturedArea = 0.0;  // mm2
    // mm2: the faces whose class (outer or inner) the projection's surface settings take in.
    double chosenArea = 0.0;
    // mm2: faces the projection takes that lie on the bed kept flat, so received no relief.
    double bedArea = 0.0;
};

// Milliseconds of the four timed stages.
struct StageMilliseconds {
    double remesh = 0.0;
    double faces = 0.0;
    double displacement = 0.0;
    double simplify = 0.0;
};

// Share of a closed part's volume a run may lose beyond what its relief takes off on purpose
// before the user is told: a remesh rounds off edges and corners by a fraction of a triangle,
// a twentieth of the volume is a part visibly cut down.
inline constexpr double kVolumeLossWarningShare = 0.05;

// What a run did to the part as a whole, measured on the source and the result.
struct PartChangeReport {
    bool measured = false;
    std::uint64_t openEdgesClosed = 0;  // open edges of the part; its result is closed
    double areaBefore = 0.0;            // mm2
    double areaAfter = 0.0;
    // mm3, signed: the part as measured (MeasurePartAsMeant), and the result, which encloses
    // that much when it is closed.
    double volumeBefore = 0.0;
    double volumeAfter = 0.0;
    std::uint64_t doubledFacets = 0;    // facets the part holds twice, measured once
    std::uint64_t bodiesTurned = 0;     // bodies of the part wound inside out, measured turned
    bool wholeTurned = false;           // the part as a whole is inside out
    double reliefAllowance = 0.0;       // mm3 a relief may take off: its depth over the part's area
    // mm: the bounding box's sides of the part and of the result.
    Vec3 sizeBefore{};
    Vec3 sizeAfter{};
    float triangleSize = 0.0f;          // mm: the size the result was built at, 0 when none
    bool ownTriangles = false;          // no remesh ran: that size is the part's own

    // Volume lost past kVolumeLossWarningShare of a closed part's volume (the relief's
    // allowance aside). Every test of a run's volume loss goes through here.
    [[nodiscard]] bool VolumeLostPastShare() const
    {
        if (!measured || openEdgesClosed != 0 || !(volumeBefore > 0.0))
            return false;
        return volumeBefore - volumeAfter > kVolumeLossWarningShare * volumeBefore + reliefAllowance;
    }
};

// Everything one run produced besides meshes.
struct PipelineReport {
    std::uint64_t sourceTriangles = 0;
    std::uint64_t remeshedTriangles = 0;  // after the remesh stage
    // Faces the part also holds wound the other way round, taken out before the remesh.
    std::uint64_t flippedCopiesRemoved = 0;
    // Facets the remesh input still holds twice (a body written double-sided): Mesh > Repair's.
    std::uint64_t doubledFacetsKept = 0;
    // The part's hollows and inserts (bodies inside others) by the nesting rule; the remesh
    // keeps the hollows and, when it contours, makes one solid of each insert and the body
    // round it.
    std::vector<NestedBody> nestedBodies;
    std::uint64_t resultTriangles = 0;    // of the final mesh
    std::uint8_t remeshed = 0;            // the remesh stage ran
    std::uint8_t stopped = 0;             // the run was cancelled or a stage stopped
    std::uint8_t refused = 0;             // a triangle limit refused the run
    std::uint64_t refusedTriangles = 0;   // the estimate over the limit
    CostliestPiece refusedPiece;          // of bodies that lie apart, the one that makes the most
    std::uint8_t refusedWithoutRemesh = 0;  // the count came from the part's own triangles
    float refusedAdvisedSize = 0.0f;      // triangle size at which every limit passes; 0: none found
    // The memory limit the run would still meet at its triangle size with a higher triangle limit
    // (ProcessLimit: 0 none, 2 the run's memory, 3 the relief's field).
    std::uint8_t refusedMemoryToo = 0;
    std::string message;                  // a stage's failure text, normally empty
    RemeshReport remeshReport;
    // Pieces far from the rest of the part that the remesh took at a size of their own, or kept
    // as they were and left untextured (RemeshAtOwnScale).
    std::vector<OwnScalePiece> ownScalePieces;
    DisplacementReport displacementReport;
    SolidDisplacementReport solidReport;
    SamplingReport sampling;
    FlatSimplifyReport flatSimplifyReport;
    MeshSimplifyReport meshSimplifyReport;
    std::uint8_t meshSimplifyRan = 0;
    ExportCleanupReport cleanupReport;
    bool validated = false;
    ValidationReport validation;
    // Triangles of the checked result folded over (FindFoldsMade) where the part had no fold,
    // whatever stage made them; counted with the check.
    std::uint64_t foldedTriangles = 0;
    // Of those, counted the same way on the remesh's result before a relief moved it: folds the
    // remesh made, which no relief is to be blamed for. Counted only when the result holds folds.
    std::uint64_t foldedBeforeRelief = 0;
    bool unchanged = false;               // no stage changed the source mesh
    double checkMilliseconds = 0.0;
    // The measuring of lost and added surface after the remesh and the relief, with the search
    // trees built for it alone (not part of any stage's time).
    double surfaceDistanceMilliseconds = 0.0;
    PrintabilityReport printability;      // of the result
    bool printabilityBeforeRelief = false;
    PrintabilityReport beforeRelief;      // of the mesh before the displacement
    WallReport walls;
    double cleanupMilliseconds = 0.0;
    std::uint8_t flatSimplifyRan = 0;
    TextureFigures textureFigures;
    // A relief was asked for, yet no face or only a sliver of the chosen surface received
    // texture (TextureMissed of the figures).
    bool textureMissed = false;
    TextureWeights resultWeights;         // carried to the final mesh
    StageMilliseconds stageMilliseconds;
    // How far the part lies from the remesh, and the relief's input from the result of either
    // relief and back: surface farther away than allowed was lost, or added.
    SurfaceDistanceReport remeshDistance;
    SurfaceDistanceReport reliefDistance;
    // The part against the result: openings the run closed, volume it lost.
    PartChangeReport partChange;
    BodyChangeReport bodyChanges;  // what the run did to each body of the part
};

}  // namespace grainforge::mesh
