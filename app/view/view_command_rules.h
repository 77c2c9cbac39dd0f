// The View command layer's decisions that need no window: which section mode a section
// command leads to, the box-side switch commands, the camera presets, which surface choice the
// view remembers, the mapping commands' kinds and axes, and the mask volume a Masks menu
// command adds. CGrainforgeView's command handlers call these and only move the results into
// the document and the renderer.
#pragma once

#include "app/document/command_entry.h"
#include "app/view/view_rules.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/projection.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace grainforge::app {

// ---- Sections -----------------------------------------------------------------------------
// 32840 off, 32841 part as loaded, 32842 split, 32843 deviation, 32856 sliced as printed.
inline constexpr int kCmdSectionOff = 32840;
inline constexpr int kCmdSectionLoaded = 32841;
inline constexpr int kCmdSectionSplit = 32842;
inline constexpr int kCmdSectionDeviation = 32843;
inline constexpr int kCmdSectionSliced = 32856;
inline constexpr std::uint32_t kSectionSplit = 2;
inline constexpr std::uint32_t kSectionSliced = 4;

// The section mode a command stands for (32840 gives 0); empty for other ids.
[[nodiscard]] std::optional<std::uint32_t> SectionModeOfCommand(int commandId);
// The mode after the command: its own, or 0 when that one is already shown. An id that is no
// section command keeps the current mode.
[[nodiscard]] std::uint32_t NextSectionMode(std::uint32_t current, int commandId);
// The shading mode the renderer draws with: the choice, but smooth while sliced.
[[nodiscard]] inline int ShadingModeShown(std::uint32_t choice, std::uint32_t sectionMode)
{
    return sectionMode == kSectionSliced ? 0 : static_cast<int>(choice);
}

// ---- Box sides ------------------------------------------------------------------------------
enum class SideSwitchChange { all, none, invert };
void ApplySideSwitchChange(std::uint8_t (&sides)[mesh::kBoxSideCount], SideSwitchChange change);
// 32801-32806: the side a toggle command flips; -1 for other ids.
[[nodiscard]] int BoxSideOfCommand(int commandId);
// Why the Sides items are greyed while the plane or the cylinder is the projection.
inline constexpr const wchar_t* kPlaneHasNoSidesTip =
    L"The plane textures every face turned towards it, so it has no sides to switch. The Sides "
    L"items apply to the box and sphere.";
inline constexpr const wchar_t* kCylinderHasNoSidesTip =
    L"The cylinder has a wall and two caps, switched in the Mapping section, and no sides to "
    L"switch. The Sides items apply to the box and sphere.";
// The state of a Sides item: `side` 0-5 for a side's own switch (ticked while on), -1 for All,
// None and Invert. Enabled with a part while the box or the sphere is the projection; under
// the plane or the cylinder, whose sides do not exist, greyed, unticked and telling why.
[[nodiscard]] CommandState SidesCommandState(const mesh::Projection& projection, bool hasPart, int side);
// Runs a Sides command (32801-32809) on the projection's side switches; only the box and the
// sphere have sides, so under another projection nothing changes. True when a switch changed.
bool ApplySidesCommand(mesh::Projection& projection, int commandId);

// ---- Camera presets (32774 Isometric .. 32780 Bottom) -----------------------------------------
struct CameraPreset {
    float yaw = 0.0f;     // degrees
    float pitch = 0.0f;   // degrees
    bool faceView = false;  // looks straight at a face: shown orthographic until the next orbit
};
[[nodiscard]] std::optional<CameraPreset> CameraPresetOfCommand(int commandId);

// ---- Surface modes --------------------------------------------------------------------------
// 32811 plain, 32812 checkerboard, 32813 projector colours, 32820 height map, 32896 outer/inner.
[[nodiscard]] int SurfaceModeOfCommand(int commandId);
// Remembers the user's choice: for the current result when it is shown (no tool, result
// current) and the mode is not outer/inner, else for the preview. The result choice is tied to
// `result` so that the next NextSurfaceMode keeps it.
void RememberSurfaceChoice(SurfaceModeMemory& memory, std::uint32_t mode, bool toolActive, bool resultCurrent,
                           const TriangleMesh* result);

// ---- Mapping --------------------------------------------------------------------------------
// 32796 box, 32797 plane, 32798 cylinder, 32887 sphere.
[[nodiscard]] std::optional<mesh::ProjectionKind> ProjectionKindOfCommand(int commandId);
// 32850-32852: axis 0-2; -1 for other ids.
[[nodiscard]] int AxisOfCommand(int commandId);
// The axis field the kind uses; null for a box, which has none.
[[nodiscard]] std::int32_t* KindAxis(mesh::Projection& projection);
// 32919 all surfaces (2), 32920 outer only (0), 32921 inner only (1); -1 for other ids.
[[nodiscard]] int SurfacesModeOfCommand(int commandId);
// Why the Surfaces buttons are disabled while the plane is the projection.
inline constexpr const wchar_t* kPlaneTakesEverySurfaceTip =
    L"The plane textures every face turned towards it, inside and out, so it has no surfaces to "
    L"choose. The Surfaces buttons apply to the box, cylinder and sphere.";
// The state of the Surfaces button for `mode` (0 outer, 1 inner, 2 all): a radio button,
// enabled with a part and ticked when every side and the cylinder take that mode. The plane
// takes every face turned towards it whatever the setting, so with it the buttons are disabled,
// unticked and tell why.
[[nodiscard]] CommandState SurfacesCommandState(const mesh::Projection& projection, bool hasPart, int mode);
// Every side layer back to its start (origin 0, rotation 0, zoom 1, image 0) and no side active.
void ResetSidePlacement(mesh::Projection& projection);

// ---- Masks ----------------------------------------------------------------------------------
// 32901 box, 32902 cylinder, 32903 sphere; empty for other ids.
[[nodiscard]] std::optional<mesh::MaskShape> MaskShapeOfCommand(int commandId);
// A new volume for a part with the given bounds: at the bounds' centre, each size 40 % of the
// part's extent along it (at least kMinimumMaskSize), upright; a cylinder takes the smaller of
// the x and y sizes across and a sphere the smallest of all three, so that they stay round. Named "Box 1", "Cylinder 2"...: the
// shape's name with the lowest number no existing volume's name uses.
[[nodiscard]] mesh::MaskVolume FittedMaskVolume(mesh::MaskShape shape, Vec3 boundsMin, Vec3 boundsMax,
                                                const std::vector<mesh::MaskVolume>& existing);

}  // namespace grainforge::app
