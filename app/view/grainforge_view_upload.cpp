// The mesh upload: which mesh the viewport shows (section modes, clipping), its colours, its
// per-corner projection, and the display limit and refusal schedule of the reduced copy.
#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/view/display_colours.h"
#include "app/view/display_section.h"
#include "app/view/view_command_rules.h"

#include <wx/utils.h>

namespace grainforge::app {

namespace {

// The sliced preview and the split view are made from the part with triangles of their own:
// the reduced-copy message names them and gives the part's own count.
ShownMeshName ShownMeshNameOf(std::uint32_t sectionMode, const TriangleMesh& part)
{
    switch (sectionMode) {
    case kSectionSliced: return {"sliced preview", part.TriangleCount()};
    case kSectionSplit: return {"split view", part.TriangleCount()};
    default: return {};
    }
}

}  // namespace

void CGrainforgeView::ClearScene()
{
    if (ViewportReady())
        viewport_->Renderer().ClearScene();
    cornerProjection.clear();
    Repaint();
}

bool CGrainforgeView::UploadToRenderer(const TriangleMesh& mesh, const std::vector<Vec3>& colours, bool reduced,
                                       bool frameCamera)
{
    if (!ViewportReady())
        return false;
    gl::RenderAttributes attributes;
    attributes.triangleColours = colours;
    if (reduced) {
        // The copy's own projection; the document's mask values belong to the full mesh, and
        // the copy takes them through its source triangles.
        cornerProjection = ComputeDisplayProjection(
            mesh, mesh::BuildTileFrames(document_.projection, document_.heightMap.settings));
        attributes.cornerMask = ReducedCopyCornerWeights(reducedCopy.uploadingSources, reducedCopy.uploadingFrom,
                                                         document_.DisplayProjectionData().cornerWeights);
    } else {
        const mesh::TextureWeights& weights = document_.DisplayProjectionData();
        if (weights.cornerWeights.size() == mesh.indices.size())
            attributes.cornerMask = weights.cornerWeights;
    }
    attributes.cornerProjected = cornerProjection;
    ++meshUploads_;
    const bool ok = viewport_->Renderer().UploadMesh(mesh, &attributes, frameCamera);
    Repaint();
    return ok;
}

void CGrainforgeView::UploadMesh(bool frameCamera)
{
    if (!document_.HasPart() || !ViewportReady())
        return;
    const TriangleMesh& display = document_.CurrentDisplayMesh();
    SectionedMesh sectioned;
    BuildSectionedMesh(sectioned, display, document_.workingPart, static_cast<int>(sectionMode), clippingPlane,
                       document_.projection.cage.center, document_.displacementSettings.base.axis);
    if (sectionMode == 4) {
        slicedPreviewText = sectioned.slicedReport;
        sliceFirstLayers = sectioned.sliceFirstLayers;
        sliceLayerStride = static_cast<std::int64_t>(sectioned.sliceLayerStride);
    }
    const TriangleMesh& mesh = sectioned.shown != nullptr ? *sectioned.shown : display;
    if (mesh.vertices.empty() || mesh.indices.empty()) {
        ClearScene();
        return;
    }

    DisplayColourInputs inputs;
    inputs.mesh = &mesh;
    inputs.sectionMode = static_cast<int>(sectionMode);
    inputs.clipping = clippingPlane;
    inputs.colourByComponent = colourByComponent;
    inputs.printCheck = printCheckShown_;
    inputs.validation = &document_.CurrentValidation();
    inputs.printReport = document_.CurrentPrintCheck();
    inputs.sliceFirstLayers = &sliceFirstLayers;
    inputs.sliceLayerStride = static_cast<std::uint64_t>(std::max<std::int64_t>(sliceLayerStride, 1));
    inputs.workingPart = &document_.workingPart;
    inputs.surfaceMode = viewport_ != nullptr ? viewport_->Renderer().view.surfaceMode : 0;
    inputs.projection = &document_.projection;
    const std::vector<std::uint8_t>* classes = nullptr;
    if (inputs.surfaceMode == 4 && sectionMode == 0 && !clippingPlane)
        classes = &document_.SurfaceClassification();
    inputs.surfaceClasses = classes;
    const std::vector<Vec3> colours = BuildDisplayColours(inputs);

    cornerProjection = ComputeDisplayProjection(
        mesh, mesh::BuildTileFrames(document_.projection, document_.heightMap.settings));

    DisplayUploader uploader;
    uploader.upload = [this, frameCamera](const TriangleMesh& shown, const std::vector<Vec3>& shownColours,
                                          bool reduced) {
        if (reduced) {
            wxBusyCursor wait;
            return UploadToRenderer(shown, shownColours, true, frameCamera);
        }
        return UploadToRenderer(shown, shownColours, false, frameCamera);
    };
    uploader.lastError = [this] {
        return ViewportReady() ? viewport_->Renderer().LastError() : std::string("the renderer is not ready");
    };
    const DisplayUploadOutcome outcome = UploadDisplayMesh(mesh, colours, document_.displayTriangles, reducedCopy,
                                                           uploader, ShownMeshNameOf(sectionMode, display));
    for (const DisplayLogLine& line : outcome.log)
        LogLine(line.text, line.level);
    if (outcome.information)
        document_.ShowInformation(*outcome.information, 0);
    if (outcome.clearReducedInformation && context_.frame != nullptr &&
        context_.frame->InformationText().find(L"reduced copy") != std::wstring::npos)
        document_.ShowInformation(L"", 0);
    // Nothing shown: an empty scene rather than the previous mesh as if it were current.
    if (outcome.scene == DisplayUploadOutcome::Scene::cleared)
        ClearScene();
}

}  // namespace grainforge::app
