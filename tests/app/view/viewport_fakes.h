// A window and a document view standing in for the real ones around the viewport's state
// machine: the window's clock is set by the test, and every host call is recorded by name.
#pragma once

#include "app/view/viewport_controller.h"

#include <string>
#include <vector>

namespace grainforge::app::test {

class FakeViewportPlatform : public IViewportPlatform {
public:
    void Repaint() override { ++repaints; }
    void SetFocus() override { focused = true; }
    void CaptureMouse() override { captured = true; }
    void ReleaseMouse() override { captured = false; }
    bool HasCapture() const override { return captured; }
    void StartAnimationTimer(int milliseconds) override { timerMilliseconds = milliseconds; }
    void StopAnimationTimer() override { timerMilliseconds = 0; }
    std::uint64_t NowMilliseconds() const override { return now; }
    int Dpi() const override { return dpi; }
    bool RendererReady() const override { return ready; }

    int repaints = 0;
    bool focused = false;
    bool captured = false;
    int timerMilliseconds = 0;
    std::uint64_t now = 1000;
    int dpi = 96;
    bool ready = true;
};

class FakeCageHost : public ICageHost {
public:
    bool HasPart() override { return hasPart; }
    const Projection* GetProjection() override { return &projection; }
    int GetCageMode() override { return tool; }
    void SetHover(int side, int handle) override
    {
        Note("SetHover");
        hoverSide = side;
        hoverHandle = handle;
    }
    void ClickBoxSide(int side, bool toggle) override
    {
        Note(toggle ? "ClickBoxSide toggle" : "ClickBoxSide");
        clickedSide = side;
    }
    void SelectSide(int side) override
    {
        Note("SelectSide");
        clickedSide = side;
    }
    void SetCageFrame(const CageFrame& frame) override
    {
        Note("SetCageFrame");
        lastFrame = frame;
        if (tool >= 6)
            mask = frame;
        else
            projection.cage = frame;
    }
    const CageFrame* GetCageFrame() override
    {
        if (!hasPart)
            return nullptr;
        return tool >= 6 ? (hasMask ? &mask : nullptr) : &projection.cage;
    }
    bool CageIsCylinder() override { return cylinder; }
    void GetLayerGizmo(LayerGizmo& gizmo) override { gizmo = layerGizmo; }
    void BeginCageDrag() override { Note("BeginCageDrag"); }
    void SetSidePlacement(int side, const ProjectionLayer& layer) override
    {
        Note("SetSidePlacement");
        if (side >= 0 && side < 6)
            projection.layers[side] = layer;
    }
    void RefreshOverlays() override { ++refreshes; }
    bool PickPart(const ViewRay& ray, float point[3]) override
    {
        if (!partHit)
            return false;
        (void)ray;
        point[0] = partPoint.x;
        point[1] = partPoint.y;
        point[2] = partPoint.z;
        return true;
    }
    void BeginEdit() override { Note("BeginEdit"); }
    void EndCageDrag() override { Note("EndCageDrag"); }

    // The calls that change something, in order (hover calls only when asked).
    std::vector<std::string> calls;
    bool recordHover = false;
    bool hasPart = true;
    int tool = 0;
    Projection projection;
    CageFrame mask;
    bool hasMask = true;
    bool cylinder = false;
    LayerGizmo layerGizmo;
    int hoverSide = -1;
    int hoverHandle = 0;
    int clickedSide = -1;
    CageFrame lastFrame;
    int refreshes = 0;
    bool partHit = false;
    mesh::Vec3 partPoint;

private:
    void Note(const char* what)
    {
        if (recordHover || std::string(what) != "SetHover")
            calls.emplace_back(what);
    }
};

class FakeRestingFaceHost : public IRestingFaceHost {
public:
    bool IsActive() override { return active; }
    int PickRestingFace(const ViewRay&) override { return face; }
    void SetHoveredRestingFace(int index) override { hovered = index; }
    void LayOnRestingFace(int index) override { laid.push_back(index); }

    bool active = true;
    int face = -1;
    int hovered = -1;
    std::vector<int> laid;
};

}  // namespace grainforge::app::test
