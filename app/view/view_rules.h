// The document view's decisions that need no window: status texts, which masks and which
// surface mode the renderer gets, the projection overlay and its equality, the per-corner
// projection of the mesh on display (with the cylinder's seam kept off triangles), the cage and
// resting-face overlay colours and the side whose layer gizmo is shown. CGrainforgeView calls
// these and only moves their results into the renderer.
#pragma once

#include "app/view/renderer/gl_renderer.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/projection.h"
#include "engine/mesh/placement.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/textures/height_map.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace grainforge::app {

using mesh::TriangleMesh;
using mesh::Vec3;

// Handle tools.
inline constexpr std::uint32_t kToolNone = 0;
inline constexpr std::uint32_t kToolMoveTexture = 1;
inline constexpr std::uint32_t kToolZoomTexture = 3;
inline constexpr std::uint32_t kToolMoveCage = 4;
inline constexpr std::uint32_t kToolRotateCage = 5;
inline constexpr std::uint32_t kToolMoveMask = 6;
inline constexpr std::uint32_t kToolScaleMask = 8;
[[nodiscard]] inline bool IsMaskTool(std::uint32_t tool) { return tool >= 6 && tool <= 8; }
[[nodiscard]] inline bool IsTextureTool(std::uint32_t tool) { return tool >= 1 && tool <= 3; }

// The width of the strip the mask panel is docked in: the width it asks for, but never more
// than half of the view's, so that the part keeps room on a small screen (the panel scrolls
// down); yet never less than its least width, its fields beside the bar they scroll with, which
// the view gives up first (a bar beside the fields left them cut at the strip's edge).
[[nodiscard]] inline int MaskPanelStripWidth(int clientWidth, int askedWidth, int leastWidth)
{
    const int client = std::max(clientWidth, 0);
    return std::clamp(std::max(std::min(askedWidth, client / 2), leastWidth), 0, client);
}
// The view cube's size (its DPI scale) in a viewport of width x height pixels: its own while its
// square and margin take at most half the view's width and height, so that the fit keeps the
// part beside or below it; smaller in a narrower view, down to half (its face names still
// read); 0, not drawn, in a view narrower still, where a cube would stand over the part.
[[nodiscard]] float ViewCubeScale(int width, int height, float dpiScale);
// Whether the tool shows the part unprocessed, with the texture's preview: the cage and texture
// tools do, since their handles move that preview. The mask tools leave a current result on
// screen (a mask is placed as well on it); moving a mask makes it out of date, and then the
// preview shows anyway.
[[nodiscard]] inline bool ToolShowsPreview(std::uint32_t tool) { return tool != kToolNone && !IsMaskTool(tool); }

// "Tool: none (orbit)" .. "Tool: Scale Mask" for tools 0-8; empty for any other.
[[nodiscard]] std::wstring ToolName(std::uint32_t tool);
// Every tool's text, for sizing the "Tool" pane.
[[nodiscard]] std::vector<std::wstring> ToolNames();
// The tool a command chooses (32817 0, 32845-32847 1-3, 32814-32815 4-5, 32905-32907 6-8);
// -1 for other ids.
[[nodiscard]] int ToolFromCommand(int commandId);

// The "Frame" status pane: GPU time when it is valid, else the frame time; empty without a mesh.
[[nodiscard]] std::wstring FrameStatisticsText(const gl::FrameStatistics& statistics, bool hasMesh);
// The "Frame" pane's text at its widest in use: a GPU time of 999.9 ms and 9999 fps.
[[nodiscard]] std::wstring WidestFrameStatisticsText();
// The pane is written at most every 250 ms.
inline constexpr std::uint64_t kFrameStatisticsMilliseconds = 250;

// Equal when both are off, or when every field is equal (a NaN equals nothing).
[[nodiscard]] bool ProjectionOverlaysEqual(const gl::ProjectionOverlay& a, const gl::ProjectionOverlay& b);

// The overlay for the document's projection; the defaults without a part.
[[nodiscard]] gl::ProjectionOverlay BuildProjectionOverlay(bool hasPart, const mesh::Projection& projection,
                                                           const mesh::TextureSettings& texture);

// The masks the renderer fades the texture with: none without a part or while the current
// result is shown outside the tools; else the enabled volumes, in order, at most 16.
inline constexpr std::size_t kMaxDisplayedMasks = 16;
[[nodiscard]] std::vector<mesh::MaskVolume> DisplayedMasks(bool hasPart, bool previewShown,
                                                           const std::vector<mesh::MaskVolume>& volumes);

// The view's memory of the surface mode: the last mode pushed and the user's two choices.
struct SurfaceModeMemory {
    std::uint32_t pushed = 0;
    bool pushedValid = false;
    std::uint32_t resultChoice = 0;
    bool resultChoiceSet = false;
    std::uint32_t previewChoice = 0;
    bool previewChoiceSet = false;
    const TriangleMesh* resultMesh = nullptr;  // the result the result choice belongs to; compared only
};

// The mode to push now, or nothing when the memory already holds it. `previewShown`: a tool,
// the outer/inner view or a stale result; `result` the current result mesh (compared only).
[[nodiscard]] std::optional<std::uint32_t> NextSurfaceMode(SurfaceModeMemory& memory, bool previewShown,
                                                           const TriangleMesh* result, bool hasHeightMap);

// Per-corner (u, v) of a mesh under the projection (already through BuildTileFrames): the
// heaviest sample of each corner, (0, 0) without one; a cylinder's triangle across the seam
// gets its second and third corners moved whole turns next to the first.
[[nodiscard]] std::vector<std::array<float, 2>> ComputeDisplayProjection(const TriangleMesh& mesh,
                                                                         const mesh::Projection& frames);
// The seam rule alone: shifts b and c by whole steps `turn` to lie next to a. Nothing moves
// when |turn|^2 is not positive.
void ShiftAcrossSeam(const std::array<float, 2>& a, std::array<float, 2>& b, std::array<float, 2>& c,
                     std::array<float, 2> turn);

// Cage side colours; the hovered side and the active layer side are lightened by 0.35.
[[nodiscard]] Vec3 CageSideColour(int side, bool switchedOff, bool lightened);
// The cage overlay: each side patch triangle coloured by its side.
[[nodiscard]] gl::CageOverlayGeometry BuildCageOverlayGeometry(const mesh::Projection& projection, int hoveredSide);

// The side whose layer gizmo is shown: the active layer side, else the used side facing the
// eye most (-1 when the kind uses none).
[[nodiscard]] int LayerGizmoSide(const mesh::Projection& projection, Vec3 eye);

// Click on a box side: toggle flips it; otherwise it becomes the only side on, or, when it
// already was, all six come back. False for a side outside 0-5.
bool ClickBoxSideSwitches(std::uint8_t (&sides)[mesh::kBoxSideCount], int side, bool toggle);
// Choosing a side layer: the side, or -1 when it was already active or is outside 0-5.
[[nodiscard]] int NextActiveSide(int active, int side);

// The resting-face patches, floated 0.2 % of the part's largest extent along each face's
// normal; the hovered one orange, the others blue.
inline constexpr Vec3 kRestingFaceHovered{0.98f, 0.62f, 0.2f};
inline constexpr Vec3 kRestingFace{0.3f, 0.65f, 0.95f};
[[nodiscard]] float RestingFacePatchOffset(const TriangleMesh& part);
void BuildRestingFacePatches(const TriangleMesh& part, const std::vector<mesh::RestingFace>& faces, int hovered,
                             std::vector<Vec3>& points, std::vector<Vec3>& colours);
// The candidate the ray hits nearest, -1 for none.
[[nodiscard]] int PickRestingFaceIndex(const TriangleMesh& part, const std::vector<mesh::RestingFace>& faces,
                                       const gl::ViewRay& ray);

// The mask wireframes for the renderer's mask overlay, the selected one highlighted.
[[nodiscard]] gl::GizmoGeometry BuildMaskOverlayGeometry(const std::vector<mesh::MaskVolume>& volumes, int selected);

}  // namespace grainforge::app
