// The two interfaces through which the viewport edits the document: the document's view
// implements both and hands the viewport a pointer to each. The viewport owns neither and checks
// each for null before every call. Sides are 0-5 as +X, -X, +Y, -Y, +Z, -Z; the handle tool is
// 0 none, 1-3 move, rotate and zoom texture, 4-5 move and rotate cage, 6-8 move, rotate and
// scale mask.
#pragma once

#include "app/view/renderer/camera.h"
#include "engine/displacement/cage_gizmo.h"
#include "engine/displacement/projection.h"

namespace grainforge::app {

using gl::ViewRay;
using mesh::CageFrame;
using mesh::LayerGizmo;
using mesh::Projection;
using mesh::ProjectionLayer;

class ICageHost {
public:
    virtual ~ICageHost() = default;
    // True only when a document exists and its working part has vertices and triangles.
    virtual bool HasPart() = 0;
    // Never null: a default record when there is no document; valid for the call.
    virtual const Projection* GetProjection() = 0;
    virtual int GetCageMode() = 0;
    // side -1 when a handle is hovered, handle 0 when a side or nothing is.
    virtual void SetHover(int side, int handle) = 0;
    // toggle: Ctrl held (flip the side's switch); otherwise solo the side or bring all back.
    virtual void ClickBoxSide(int side, bool toggle) = 0;
    virtual void SelectSide(int side) = 0;
    virtual void SetCageFrame(const CageFrame& frame) = 0;
    // The selected mask's frame for tools 6-8, the projection cage otherwise; null when there
    // is no part or no selected volume.
    virtual const CageFrame* GetCageFrame() = 0;
    virtual bool CageIsCylinder() = 0;
    virtual void GetLayerGizmo(LayerGizmo& gizmo) = 0;
    virtual void BeginCageDrag() = 0;
    virtual void SetSidePlacement(int side, const ProjectionLayer& layer) = 0;
    // Called after every camera change; must be cheap without a handle tool.
    virtual void RefreshOverlays() = 0;
    virtual bool PickPart(const ViewRay& ray, float point[3]) = 0;
    virtual void BeginEdit() = 0;
    virtual void EndCageDrag() = 0;
};

class IRestingFaceHost {
public:
    virtual ~IRestingFaceHost() = default;
    virtual bool IsActive() = 0;
    // The candidate the ray hits, -1 for none.
    virtual int PickRestingFace(const ViewRay& ray) = 0;
    virtual void SetHoveredRestingFace(int index) = 0;
    virtual void LayOnRestingFace(int index) = 0;
};

}  // namespace grainforge::app
