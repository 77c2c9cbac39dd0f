// CGrainforgeView: the document's one view in the centre of the main window. It holds the
// OpenGL viewport (with its renderer), the start hint and the mask panel, implements the
// document's view channel (IDocumentViews) and the viewport's two hosts (ICageHost,
// IRestingFaceHost), and turns the document's state into renderer state: on the first update,
// on every update hint and after each of its own commands.
//
// Files: grainforge_view.cpp (updates, refreshes, state pushes), grainforge_view_upload.cpp
// (the mesh upload), grainforge_view_cage.cpp (the two hosts and the overlays),
// grainforge_view_commands.cpp (the View command layer). The rules without a window are in
// view_rules.h.
#pragma once

// The viewport brings libepoxy, which must come before the window system's OpenGL header.
#include "app/view/viewport_window.h"

#include "app/document/command_entry.h"
#include "app/document/document_commands.h"
#include "app/document/document_host.h"
#include "app/shell/document_view_seam.h"
#include "app/view/cage_host.h"
#include "app/view/display_reduction.h"
#include "app/view/view_rules.h"

#include <wx/panel.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace grainforge::app {

class CGrainforgeDoc;
class CMaskPanel;

// Command ids the view handles.
namespace view_command {
inline constexpr int kStartHint = 1002;
inline constexpr int kOpenStl = 57601;
inline constexpr int kNoHandles = 32817;
inline constexpr int kMoveTexture = 32845;
inline constexpr int kRotateTexture = 32846;
inline constexpr int kZoomTexture = 32847;
inline constexpr int kMoveCage = 32814;
inline constexpr int kRotateCage = 32815;
inline constexpr int kMoveMask = 32905;
inline constexpr int kRotateMask = 32906;
inline constexpr int kScaleMask = 32907;
inline constexpr int kStopProcessing = 32836;
inline constexpr int kLayOnFace = 32837;
}  // namespace view_command

// Update hints: the document's (kHintProjection, kHintPrintCheck, kHintLeaveTools), one
// definition for both, so that the view and the panes can be used in one file.
inline constexpr int kHintFull = kHintFullRefresh;

inline constexpr const wchar_t* kStartHintText =
    L"Open an STL to begin: File > Open STL (Ctrl+O), or drop a file here.";
inline constexpr const wchar_t* kNoMeshReport = L"No mesh loaded.\r\n\r\nUse File > Open STL to load one.";
// Logged when Check Printability switches the view to the sliced preview.
inline constexpr const char* kSwitchedToSlicedText =
    "The view switched to Sliced (as Printed) to show the print check layer by layer; View > Sliced (as Printed) "
    "switches back.";

class CGrainforgeView final : public wxPanel, public IDocumentViews, public ICageHost, public IRestingFaceHost {
public:
    static constexpr int kViewportId = 1001;
    static constexpr int kStartHintId = 1002;

    CGrainforgeView(wxWindow* parent, const DocumentViewContext& context, ViewportWindowOptions options = {});
    ~CGrainforgeView() override;

    // The factory's record for the main window.
    DocumentView AsDocumentView();

    // ---- Framework --------------------------------------------------------------------
    // The first update: the viewport and the start hint, the hosts, the first refresh. The
    // steps that need the renderer run when its context is made (the first paint once shown).
    void OnInitialUpdate();
    void OnUpdate(int hint);

    // ---- IDocumentViews ---------------------------------------------------------------
    void UpdateAllViews(int hint) override { OnUpdate(hint); }
    void FocusView() override;
    void ShowInformationPane() override;
    void DocumentStateChanged() override;

    // ---- Refreshes and state pushes ---------------------------------------------------
    void RefreshAll();
    void RefreshProjectionOnly();
    void PushMasks();
    void PushProjectionOverlay();  // BuildProjectionOverlay into the viewport
    void SyncSurfaceMode();
    void SetPrintCheckShown(bool on);
    void ShowToolName();           // ToolName into the "Tool" pane
    void OnFrameStatistics(const gl::FrameStatistics& statistics);
    void PlaceStartHint();
    // Shows the current mesh (the reduced copy when needed); frames the camera when asked.
    void UploadMesh(bool frameCamera);
    void PushShadingMode();
    void Repaint();

    // ---- Overlays ---------------------------------------------------------------------
    void RebuildCageOverlay();
    void RebuildHandleOverlay();
    void RebuildMaskOverlay();
    void RebuildRestingFaceOverlay();

    // ---- Commands ---------------------------------------------------------------------
    // The View command layer (grainforge_view_commands.cpp).
    CommandTable Commands();
    void OnSelectTool(int commandId);
    void OnMeshLayOnFace();
    void OnStartHintClicked();

    // ---- View commands: the menus' and the bodies' commands, one concept per file ----------
    // grainforge_view_display_commands.cpp: shading, surfaces, display switches, sections.
    void AddDisplayCommands(CommandTable& table);
    void OnShading(std::uint32_t choice);
    void OnSurfaceMode(std::uint32_t mode);
    void OnDisplaySwitch(std::uint8_t gl::RenderViewState::*field);
    void OnSection(int commandId);
    void OnShowPrintCheck();
    void OnMeshInformation();
    // grainforge_view_camera_commands.cpp: orthographic, Reset / Fit and the camera presets.
    void AddCameraCommands(CommandTable& table);
    void OnOrthographic();
    void OnResetFit();
    void OnCameraPreset(int commandId);
    // grainforge_view_mapping_commands.cpp: kind, fit, sides, blend, axis, surfaces, layers.
    void AddMappingCommands(CommandTable& table);
    void RefreshMappingOverlays();  // cage (with handles), projection overlay, repaint
    void OnProjectionKind(mesh::ProjectionKind kind);
    void OnFitToModel();
    void OnSideSwitches(int commandId);
    void OnProjectionAxis(int axis);
    void OnEditPerSide();
    void OnPlaceOnAllSides();
    void OnResetPlacement();
    // grainforge_view_mask_commands.cpp: adding, editing, duplicating and deleting masks.
    void AddMaskCommands(CommandTable& table);
    void OnAddMask(mesh::MaskShape shape);
    void OnEditMasks();
    void OnDuplicateMask();
    void OnDeleteMask();
    void RefreshMaskList();
    // grainforge_view_texture_commands.cpp: the Texture section's switches.
    void AddTextureCommands(CommandTable& table);
    void OnTextureSwitch(int commandId);
    // grainforge_view_dialog_commands.cpp: the settings dialogs, modal.
    void AddDialogCommands(CommandTable& table);
    void OnMappingSettings();
    void OnTextureSettings();
    void OnSeamless();
    void OnReliefSettings(int page);

    // ---- ICageHost ----------------------------------------------------------------------
    bool HasPart() override;
    const Projection* GetProjection() override;
    int GetCageMode() override { return static_cast<int>(handleTool); }
    void SetHover(int side, int handle) override;
    void ClickBoxSide(int side, bool toggle) override;
    void SelectSide(int side) override;
    void SetCageFrame(const CageFrame& frame) override;
    const CageFrame* GetCageFrame() override;
    bool CageIsCylinder() override;
    void GetLayerGizmo(LayerGizmo& gizmo) override;
    void BeginCageDrag() override;
    void SetSidePlacement(int side, const ProjectionLayer& layer) override;
    void RefreshOverlays() override;
    bool PickPart(const ViewRay& ray, float point[3]) override;
    void BeginEdit() override;
    void EndCageDrag() override {}

    // ---- IRestingFaceHost -----------------------------------------------------------------
    bool IsActive() override { return layOnFaceMode; }
    int PickRestingFace(const ViewRay& ray) override;
    void SetHoveredRestingFace(int index) override;
    void LayOnRestingFace(int index) override;

    // ---- For the program and for checks --------------------------------------------------
    CGrainforgeDoc& Document() { return document_; }
    COpenGLViewport* Viewport() const { return viewport_; }
    wxWindow* StartHint() const { return startHint_; }
    CMaskPanel* MaskPanel() const { return maskPanel_; }
    bool RendererReady() const;
    // Renderer mesh uploads since the view was made (full meshes and reduced copies).
    std::uint64_t MeshUploadCount() const { return meshUploads_; }
    const std::vector<std::array<float, 2>>& CornerProjection() const { return cornerProjection; }

    // ---- View state (the data model; read by the commands) ----------------------------------
    bool layOnFaceMode = false;
    int hoveredRestingFace = -1;
    ReducedCopyState reducedCopy;        // source and shown triangle counts, last message
    bool toolGuard = false;              // set while OnUpdate itself leaves a mask tool
    std::uint32_t handleTool = kToolNone;
    int hoveredHandle = 0;
    int hoveredSide = -1;
    std::uint32_t partGenerationSeen = 0;
    bool partGenerationValid = false;    // false until the first full refresh with a part
    bool colourByComponent = false;
    std::uint32_t sectionMode = 0;       // 0 off, 1 as loaded, 2 split, 3 deviation, 4 sliced
    SurfaceModeMemory surfaceMemory;
    std::uint32_t shadingChoice = 1;     // 0 smooth, 1 flat, 2 wireframe, 3 solid plus wireframe
    std::string slicedPreviewText;       // UTF-8
    std::vector<std::uint32_t> sliceFirstLayers;
    std::int64_t sliceLayerStride = 1;
    bool clippingPlane = false;
    std::vector<std::array<float, 2>> cornerProjection;
    std::uint64_t lastFrameStatisticsTime = 0;  // milliseconds

private:
    void OnSize(wxSizeEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnCharHook(wxKeyEvent& event);
    // The main window may destroy the mask panel before this view (both are its children).
    void OnMaskPanelDestroyed(wxWindowDestroyEvent& event);
    // The steps of the first update that need the renderer.
    void OnRendererReady();
    bool ViewportReady() const;
    // The renderer upload of one mesh with its colours, the view's corner projection and
    // (unless a reduced copy) the document's mask values.
    bool UploadToRenderer(const TriangleMesh& mesh, const std::vector<Vec3>& colours, bool reducedCopy,
                          bool frameCamera);
    void ClearScene();
    void SetReport(const std::wstring& text);
    void ProblemOverlayFromValidation();
    void UploadHeightTexture();
    void LeaveToolsForProcess();
    void ShowMaskPanelForTool();
    // The user closed the mask panel: hidden, and the mask tools left.
    void CloseMaskPanel();
    void HideMaskPanel();
    // The viewport takes the client area but the strip of a shown mask panel on its right.
    void LayOutChildren();
    wxRect ViewportArea() const;
    void LogLine(const std::string& utf8, int level);

    CGrainforgeDoc& document_;
    DocumentViewContext context_;
    ViewportWindowOptions viewportOptions_;
    COpenGLViewport* viewport_ = nullptr;
    wxWindow* startHint_ = nullptr;  // a window of its own: it must show above the viewport's
    CMaskPanel* maskPanel_ = nullptr;
    bool initialUpdateDone_ = false;
    bool rendererStepsDone_ = false;
    bool printCheckShown_ = false;
    bool syncingSurface_ = false;  // SyncSurfaceMode's preview update is running
    std::wstring lastToolText_;
    std::wstring lastFrameText_;
    std::uint64_t meshUploads_ = 0;
    mesh::Projection defaultProjection_;
    CageFrame cageFrame_;  // the frame GetCageFrame hands out (valid until the next call)
};

// The factory the program gives the main window.
DocumentView MakeGrainforgeView(wxWindow* parent, const DocumentViewContext& context);

}  // namespace grainforge::app
