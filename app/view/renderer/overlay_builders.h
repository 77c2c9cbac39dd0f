// Everything the viewport shows besides the part and the floor is an overlay: the part's
// bounding box and vertex normals, the validation problems, the print check, the cage, the
// handles, the mask volumes and the resting-face candidates. The view builds them as plain
// point and colour lists (the records below); these builders turn the lists into RenderVertex
// lists the renderer uploads as they are. Overlay vertices carry the normal (0, 0, 1), no
// projection and mask 0; they are drawn unlit.
#pragma once

#include "app/view/renderer/render_vertex.h"

#include <vector>

namespace grainforge::gl {

// Segment ends come two to a segment (GL_LINES), triangle corners three to a triangle.
struct ProblemOverlayGeometry {
    std::vector<Vec3> openEdges;
    std::vector<Vec3> nonManifoldEdges;
    std::vector<Vec3> problemFaces;        // drawn orange
    std::vector<Vec3> secondProblemFaces;  // drawn yellow
};

struct PrintCheckOverlayGeometry {
    std::vector<Vec3> lines;
    std::vector<Vec3> redFaces;
    std::vector<Vec3> orangeFaces;
    std::vector<Vec3> yellowFaces;
};

struct CageOverlayGeometry {
    std::vector<Vec3> faces;
    std::vector<Vec3> faceColours;  // one per corner; grey where short
    std::vector<Vec3> lines;
    std::vector<Vec3> highlightedLines;
};

struct GizmoGeometry {
    std::vector<Vec3> linePoints;
    std::vector<Vec3> lineColours;      // one per point; white where short
    std::vector<Vec3> trianglePoints;
    std::vector<Vec3> triangleColours;  // one per point; white where short
};

namespace overlay_colour {
inline constexpr Vec3 kBoundingBox{0.95f, 0.76f, 0.2f};
inline constexpr Vec3 kNormals{0.35f, 0.8f, 0.95f};
inline constexpr Vec3 kOpenEdges{0.95f, 0.25f, 0.22f};
inline constexpr Vec3 kNonManifoldEdges{0.95f, 0.25f, 0.9f};
inline constexpr Vec3 kProblemFaces{0.98f, 0.55f, 0.15f};
inline constexpr Vec3 kSecondProblemFaces{0.98f, 0.92f, 0.2f};
inline constexpr Vec3 kPrintCheckLines{0.42f, 0.6f, 0.82f};
inline constexpr Vec3 kPrintCheckRed{0.95f, 0.2f, 0.16f};
inline constexpr Vec3 kPrintCheckOrange{0.98f, 0.58f, 0.12f};
inline constexpr Vec3 kPrintCheckYellow{0.96f, 0.84f, 0.18f};
inline constexpr Vec3 kCageFaceFallback{0.6f, 0.6f, 0.6f};
inline constexpr Vec3 kCageLines{0.92f, 0.93f, 0.95f};
inline constexpr Vec3 kCageHighlightedLines{1.0f, 0.85f, 0.2f};
inline constexpr Vec3 kRestingFaceFallback{0.3f, 0.6f, 0.9f};
inline constexpr Vec3 kWhite{1.0f, 1.0f, 1.0f};
}  // namespace overlay_colour

RenderVertex MakeOverlayVertex(Vec3 point, Vec3 colour);
// Every point in one colour.
std::vector<RenderVertex> MakeOverlayVertices(const std::vector<Vec3>& points, Vec3 colour);
void AppendOverlayVertices(const std::vector<Vec3>& points, Vec3 colour, std::vector<RenderVertex>& list);
// A colour per point; `fallback` where the colour list is short.
std::vector<RenderVertex> MakeColouredVertices(const std::vector<Vec3>& points, const std::vector<Vec3>& colours,
                                               Vec3 fallback = overlay_colour::kWhite);

// Adds line segments of one colour.
struct OverlayLineBuilder {
    Vec3 colour;
    std::vector<RenderVertex> vertices;
};
void AddOverlayLine(OverlayLineBuilder& builder, Vec3 a, Vec3 b);

// The 12 edges of a box: for each of the four bottom corners in turn, the bottom edge to the
// next corner, the top edge above it and the vertical edge. A flat box keeps all 12, some of
// zero length.
std::vector<RenderVertex> BuildBoxEdgeVertices(Vec3 boxMin, Vec3 boxMax);

// One segment per vertex from its position along its normal (as stored) times `length`.
std::vector<RenderVertex> BuildNormalVertices(const std::vector<mesh::MeshVertex>& vertices, float length);

// Length of the drawn normals for a scene radius.
float NormalLength(float sceneRadius);

}  // namespace grainforge::gl
