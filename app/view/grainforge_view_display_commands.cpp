// The View menu's display commands: shading, surface modes, the display switches, colour by
// component, the print check, the sections and the clipping plane, and the mesh information.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/view/view_command_rules.h"

#include <wx/string.h>

namespace grainforge::app {

namespace {

void Radio(CommandState& state, bool enabled, bool checked)
{
    state.enabled = enabled;
    state.checked = checked;
    state.radio = true;
}

void Tick(CommandState& state, bool enabled, bool checked)
{
    state.enabled = enabled;
    state.checked = checked;
}

}  // namespace

void CGrainforgeView::AddDisplayCommands(CommandTable& table)
{
    for (std::uint32_t choice = 0; choice < 4; ++choice) {
        table.push_back({static_cast<int>(32782 + choice), [this, choice] { OnShading(choice); },
                         [this, choice](CommandState& state) {
                             Radio(state, RendererReady() && sectionMode != kSectionSliced, shadingChoice == choice);
                         }});
    }
    for (const int id : {32811, 32812, 32813, 32820, 32896}) {
        const auto mode = static_cast<std::uint32_t>(SurfaceModeOfCommand(id));
        table.push_back({id, [this, mode] { OnSurfaceMode(mode); }, [this, mode](CommandState& state) {
                             const bool ready = RendererReady();
                             const bool enabled = ready && (mode != 3 || document_.IsHeightMapLoaded());
                             Radio(state, enabled,
                                   ready && viewport_->Renderer().view.surfaceMode == static_cast<int>(mode));
                         }});
    }

    using Field = std::uint8_t gl::RenderViewState::*;
    const auto switchState = [this](Field field, bool enabled, CommandState& state) {
        Tick(state, enabled, viewport_ != nullptr && viewport_->Renderer().view.*field != 0);
    };
    const auto showsMesh = [this] { return RendererReady() && viewport_->Renderer().IndexCount() > 0; };
    table.push_back({32786, [this] { OnDisplaySwitch(&gl::RenderViewState::showNormals); },
                     [switchState, showsMesh](CommandState& state) {
                         switchState(&gl::RenderViewState::showNormals, showsMesh(), state);
                     }});
    table.push_back({32787, [this] { OnDisplaySwitch(&gl::RenderViewState::showBoundingBox); },
                     [switchState, showsMesh](CommandState& state) {
                         switchState(&gl::RenderViewState::showBoundingBox, showsMesh(), state);
                     }});
    table.push_back({32792, [this] { OnDisplaySwitch(&gl::RenderViewState::showOpenEdges); },
                     [this, switchState](CommandState& state) {
                         switchState(&gl::RenderViewState::showOpenEdges,
                                     !document_.CurrentValidation().openEdgeSegments.empty(), state);
                     }});
    table.push_back({32793, [this] { OnDisplaySwitch(&gl::RenderViewState::showNonManifoldEdges); },
                     [this, switchState](CommandState& state) {
                         switchState(&gl::RenderViewState::showNonManifoldEdges,
                                     !document_.CurrentValidation().nonManifoldEdgeSegments.empty(), state);
                     }});
    table.push_back({32794, [this] { OnDisplaySwitch(&gl::RenderViewState::showProblemFaces); },
                     [this, switchState](CommandState& state) {
                         const mesh::ValidationReport& validation = document_.CurrentValidation();
                         switchState(&gl::RenderViewState::showProblemFaces,
                                     !validation.reversedTriangleCorners.empty() ||
                                         !validation.degenerateTriangleCorners.empty(),
                                     state);
                     }});
    table.push_back({32795,
                     [this] {
                         colourByComponent = !colourByComponent;
                         UploadMesh(false);
                         Repaint();
                     },
                     [this](CommandState& state) { Tick(state, document_.HasPart(), colourByComponent); }});
    table.push_back({32855, [this] { OnShowPrintCheck(); }, [this](CommandState& state) {
                         Tick(state, document_.CurrentPrintCheck() != nullptr, printCheckShown_);
                     }});
    for (const int id : {kCmdSectionOff, kCmdSectionLoaded, kCmdSectionSplit, kCmdSectionDeviation, kCmdSectionSliced}) {
        const std::uint32_t mode = *SectionModeOfCommand(id);
        table.push_back({id, [this, id] { OnSection(id); },
                         [this, mode](CommandState& state) { Tick(state, document_.HasPart(), sectionMode == mode); }});
    }
    table.push_back({32844,
                     [this] {
                         clippingPlane = !clippingPlane;
                         UploadMesh(false);
                         Repaint();
                     },
                     [this](CommandState& state) { Tick(state, document_.HasPart(), clippingPlane); }});
    table.push_back({32789, [this] { OnMeshInformation(); }, [this](CommandState& state) {
                         Tick(state, document_.HasPart(),
                             context_.frame != nullptr && context_.frame->IsInformationPaneShown());
                     }});
}

void CGrainforgeView::OnShading(std::uint32_t choice)
{
    if (choice > 3)
        return;
    shadingChoice = choice;
    PushShadingMode();
}

void CGrainforgeView::OnSurfaceMode(std::uint32_t mode)
{
    if (mode > 4)
        return;
    if (viewport_ != nullptr && viewport_->Renderer().view.surfaceMode != static_cast<int>(mode))
        viewport_->Renderer().view.surfaceMode = static_cast<int>(mode);
    if (document_.HasPart()) {
        // The flag first: it decides which mesh is the result the choice belongs to. The choice
        // is remembered before the preview update, whose refresh would otherwise push the mode
        // it remembered before over the one just chosen.
        const bool outerInner = mode == 4;
        const bool flagChanged = document_.surfaceViewActive != outerInner;
        document_.surfaceViewActive = outerInner;
        RememberSurfaceChoice(surfaceMemory, mode, ToolShowsPreview(handleTool), document_.IsResultCurrent(),
                              &document_.CurrentDisplayMesh());
        if (flagChanged)
            document_.UpdatePreview();
    }
    UploadMesh(false);
    Repaint();
}

void CGrainforgeView::OnDisplaySwitch(std::uint8_t gl::RenderViewState::*field)
{
    if (viewport_ == nullptr)
        return;
    gl::GlRenderer& renderer = viewport_->Renderer();
    gl::RenderViewState switches = renderer.view;
    const bool wasOn = switches.*field != 0;
    switches.*field = wasOn ? 0 : 1;
    renderer.view = switches;
    if (field == &gl::RenderViewState::showNormals && !wasOn && renderer.IsReady() && renderer.IndexCount() > 0 &&
        renderer.NormalsOverlay().count == 0 && renderer.MakeCurrent())
        renderer.BuildNormalsOverlay();
    Repaint();
}

void CGrainforgeView::OnShowPrintCheck()
{
    SetPrintCheckShown(!printCheckShown_);
    Repaint();
}

void CGrainforgeView::OnSection(int commandId)
{
    const std::uint32_t before = sectionMode;
    sectionMode = NextSectionMode(sectionMode, commandId);
    PushShadingMode();
    // The print check belongs to the sliced view it came with.
    if (before == kSectionSliced && sectionMode != kSectionSliced)
        SetPrintCheckShown(false);
    UploadMesh(false);
    Repaint();
    if (sectionMode == kSectionSliced && before != kSectionSliced && !slicedPreviewText.empty())
        document_.LogUtf8Lines(slicedPreviewText);
}

void CGrainforgeView::OnMeshInformation()
{
    if (!document_.HasPart())
        return;
    // The item is ticked while the pane shows: clicking it then takes the pane away.
    if (context_.frame != nullptr && context_.frame->IsInformationPaneShown()) {
        context_.frame->HideInformationPane();
        return;
    }
    SetReport(wxString::FromUTF8(document_.MeshInformationReport()).ToStdWstring());
    ShowInformationPane();
}

}  // namespace grainforge::app
