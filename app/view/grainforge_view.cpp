#include "app/view/grainforge_view.h"

#include "app/document/grainforge_doc.h"
#include "app/shell/kit/command_target.h"
#include "app/shell/text_layout.h"
#include "app/shell/wx_text_metrics.h"
#include "app/view/view_command_rules.h"
#include "app/workflow/mask_panel.h"

#include <wx/dcclient.h>
#include <wx/frame.h>
#include <wx/settings.h>

#include <algorithm>
#include <chrono>

namespace grainforge::app {

namespace {

const wxColour kHintBackground(38, 44, 56);
const wxColour kHintText(215, 222, 235);
const wxColour kViewBackground(19, 23, 29);

std::wstring Wide(const std::string& utf8) { return wxString::FromUTF8(utf8).ToStdWstring(); }

std::uint64_t NowMilliseconds()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// The start hint: a window of its own, so that it shows above the viewport's native window.
class CStartHint final : public wxWindow {
public:
    explicit CStartHint(wxWindow* parent, std::function<void()> clicked)
        : wxWindow(parent, CGrainforgeView::kStartHintId, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE,
                   wxS("StartHint")),
          clicked_(std::move(clicked))
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        SetLabel(wxString(kStartHintText));
        wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
        font.SetPointSize(font.GetPointSize() * 5 / 4);
        SetFont(font);
        SetCursor(wxCursor(wxCURSOR_HAND));
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxPaintDC dc(this);
            dc.SetBackground(wxBrush(kHintBackground));
            dc.Clear();
            dc.SetFont(GetFont());
            dc.SetTextForeground(kHintText);
            dc.DrawLabel(shown_, GetClientRect(), wxALIGN_CENTER);
        });
        Bind(wxEVT_LEFT_UP, [this](wxMouseEvent&) {
            if (clicked_)
                clicked_();
        });
    }

    // Wraps the hint to the width rather than cutting it; returns the height its lines need,
    // at least `least`.
    int WrapTo(int width, int least)
    {
        wxClientDC dc(this);
        dc.SetFont(GetFont());
        const WxTextMetrics metrics(dc);
        const std::wstring text = GetLabel().ToStdWstring();
        const int textWidth = std::max(1, width - 16);
        shown_.clear();
        const std::vector<TextRow> rows = WrapText(metrics, text, textWidth, textWidth);
        for (const TextRow& row : rows)
            shown_ += (shown_.empty() ? wxString() : wxString(wxS("\n"))) + wxString(text.substr(row.start, row.end - row.start));
        return std::max(least, static_cast<int>(rows.size()) * metrics.LineHeight() + least / 2);
    }

private:
    std::function<void()> clicked_;
    wxString shown_;
};

}  // namespace

CGrainforgeView::CGrainforgeView(wxWindow* parent, const DocumentViewContext& context, ViewportWindowOptions options)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE | wxCLIP_CHILDREN, wxS("GrainforgeView")),
      document_(*context.document),
      context_(context),
      viewportOptions_(options)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_SIZE, &CGrainforgeView::OnSize, this);
    Bind(wxEVT_PAINT, &CGrainforgeView::OnPaint, this);
    Bind(wxEVT_CHAR_HOOK, &CGrainforgeView::OnCharHook, this);
}

void CGrainforgeView::OnCharHook(wxKeyEvent& event)
{
    // Escape leaves the mask panel from anywhere in the view, not only from inside the panel: a
    // click in the view takes the focus from it. While a run goes, Escape stays Stop's.
    const bool panelShown = maskPanel_ != nullptr && maskPanel_->IsShown();
    if (event.GetKeyCode() == WXK_ESCAPE && event.GetModifiers() == wxMOD_NONE && panelShown &&
        !document_.pipeline.IsRunning()) {
        CloseMaskPanel();
        return;
    }
    event.Skip();
}

CGrainforgeView::~CGrainforgeView()
{
    if (viewport_ != nullptr) {
        viewport_->SetCageHost(nullptr);
        viewport_->SetRestingFaceHost(nullptr);
        viewport_->SetFrameStatisticsCallback({});
        viewport_->SetContextReadyCallback({});
    }
    if (maskPanel_ != nullptr) {
        // Gone before this view's own members: nothing may reach back into them.
        maskPanel_->Unbind(wxEVT_DESTROY, &CGrainforgeView::OnMaskPanelDestroyed, this);
        maskPanel_->Destroy();
        maskPanel_ = nullptr;
    }
}

DocumentView CGrainforgeView::AsDocumentView()
{
    DocumentView record;
    record.window = this;
    record.views = this;
    record.commands = [this] { return Commands(); };
    record.initialUpdate = [this] { OnInitialUpdate(); };
    return record;
}

DocumentView MakeGrainforgeView(wxWindow* parent, const DocumentViewContext& context)
{
    return (new CGrainforgeView(parent, context))->AsDocumentView();
}

bool CGrainforgeView::ViewportReady() const { return viewport_ != nullptr && viewport_->Renderer().IsReady(); }
bool CGrainforgeView::RendererReady() const { return ViewportReady(); }

void CGrainforgeView::Repaint()
{
    if (viewport_ != nullptr)
        viewport_->Refresh(false);
}

void CGrainforgeView::LogLine(const std::string& utf8, int level) { document_.LogMessage(utf8, level); }

void CGrainforgeView::SetReport(const std::wstring& text)
{
    if (context_.frame != nullptr)
        context_.frame->SetReportText(text);
}

// ---- First update and updates ---------------------------------------------------------------

void CGrainforgeView::OnInitialUpdate()
{
    PushShadingMode();
    if (viewport_ == nullptr) {
        if (context_.frame != nullptr)
            context_.frame->MarkStartupPhase("  the view's first update begins");
        viewport_ = new COpenGLViewport(this, viewportOptions_);
        viewport_->SetSize(GetClientSize());
        if (context_.frame != nullptr)
            context_.frame->MarkStartupPhase("  the OpenGL viewport and its context");
        viewport_->SetContextReadyCallback([this] { OnRendererReady(); });
    }
    viewport_->SetFrameStatisticsCallback([this](const gl::FrameStatistics& statistics) { OnFrameStatistics(statistics); });
    if (startHint_ == nullptr)
        startHint_ = new CStartHint(this, [this] { OnStartHintClicked(); });
    viewport_->SetCageHost(this);
    viewport_->SetRestingFaceHost(this);
    if (context_.frame != nullptr)
        context_.frame->SetStatusPaneTexts(ToolNames(), {WidestFrameStatisticsText()});
    ShowToolName();
    initialUpdateDone_ = true;
    // A context made before this (a window shown early) has missed its callback.
    if (viewport_->ContextTried())
        OnRendererReady();
    RefreshAll();
    PlaceStartHint();
}

void CGrainforgeView::OnRendererReady()
{
    if (rendererStepsDone_ || !initialUpdateDone_)
        return;
    rendererStepsDone_ = true;
    if (viewport_ == nullptr) {
        LogLine("OpenGL viewport window creation failed.", 4);
        return;
    }
    gl::GlRenderer& renderer = viewport_->Renderer();
    if (!renderer.IsReady()) {
        LogLine("OpenGL initialization failed: " + renderer.LastError(), 4);
        return;
    }
    if (document_.IsDetailedLogOn())
        LogLine("OpenGL viewport ready: " + renderer.VersionText(), 0);
    PushShadingMode();
    PushMasks();
    RefreshAll();
    PlaceStartHint();
}

void CGrainforgeView::OnUpdate(int hint)
{
    PlaceStartHint();
    PushMasks();
    PushProjectionOverlay();
    const bool nothingToMask = !document_.HasPart() || document_.maskVolumes.empty();
    if (IsMaskTool(handleTool) && !toolGuard && nothingToMask) {
        toolGuard = true;
        OnSelectTool(view_command::kNoHandles);
        toolGuard = false;
    }
    if (nothingToMask)
        HideMaskPanel();
    if (maskPanel_ != nullptr && maskPanel_->IsShown())
        maskPanel_->FillVolumeList(&document_);
    switch (hint) {
    case kHintProjection:
        RefreshProjectionOnly();
        RebuildCageOverlay();
        SyncSurfaceMode();
        if (document_.HasPart())
            SetReport(Wide(document_.MeshInformationReport()));
        break;
    case kHintPrintCheck:
        // Check Printability shows its findings layer by layer: a change of view the user did
        // not ask for, so it is said, with the way back.
        if (sectionMode != kSectionSliced)
            LogLine(kSwitchedToSlicedText, 0);
        sectionMode = kSectionSliced;
        PushShadingMode();
        SetPrintCheckShown(true);
        break;
    case kHintLeaveTools: LeaveToolsForProcess(); break;
    default: RefreshAll(); break;
    }
}

void CGrainforgeView::LeaveToolsForProcess()
{
    if (handleTool != kToolNone)
        OnSelectTool(view_command::kNoHandles);
    if (surfaceMemory.previewChoiceSet && surfaceMemory.previewChoice == 4)
        surfaceMemory.previewChoiceSet = false;
    if (viewport_ != nullptr && viewport_->Renderer().view.surfaceMode == 4) {
        viewport_->Renderer().view.surfaceMode = 0;
        Repaint();
    }
    surfaceMemory.pushed = 0;
    surfaceMemory.pushedValid = true;
    if (document_.surfaceViewActive) {
        document_.surfaceViewActive = false;
        document_.UpdatePreview();
    }
}

void CGrainforgeView::FocusView()
{
    if (viewport_ != nullptr)
        viewport_->SetFocus();
    else
        SetFocus();
}

void CGrainforgeView::ShowInformationPane()
{
    if (context_.frame != nullptr)
        context_.frame->ShowInformationPane();
}

void CGrainforgeView::DocumentStateChanged()
{
    if (auto* frame = dynamic_cast<wxFrame*>(wxGetTopLevelParent(this)))
        frame->SetTitle(wxString(document_.GetTitle()) + wxS(" - Tessary"));
}

// ---- Refreshes ------------------------------------------------------------------------------

void CGrainforgeView::RefreshAll()
{
    if (!ViewportReady())
        return;
    gl::GlRenderer& renderer = viewport_->Renderer();
    if (!document_.HasPart()) {
        renderer.ClearScene();
        cornerProjection.clear();
        Repaint();
        SetReport(kNoMeshReport);
        return;
    }
    SyncSurfaceMode();
    const bool newPart = !partGenerationValid || document_.partGeneration != partGenerationSeen;
    if (newPart) {
        surfaceMemory.resultChoiceSet = false;
        surfaceMemory.previewChoiceSet = false;
        surfaceMemory.resultMesh = nullptr;
    }
    UploadMesh(newPart);
    partGenerationSeen = document_.partGeneration;
    partGenerationValid = true;
    ProblemOverlayFromValidation();
    SetPrintCheckShown(printCheckShown_);
    UploadHeightTexture();
    RebuildCageOverlay();
    RebuildHandleOverlay();
    PushProjectionOverlay();
    Repaint();
    SetReport(Wide(document_.MeshInformationReport()));
}

void CGrainforgeView::ProblemOverlayFromValidation()
{
    const mesh::ValidationReport& validation = document_.CurrentValidation();
    gl::ProblemOverlayGeometry problems;
    problems.openEdges = validation.openEdgeSegments;
    problems.nonManifoldEdges = validation.nonManifoldEdgeSegments;
    problems.problemFaces = validation.reversedTriangleCorners;
    problems.secondProblemFaces = validation.degenerateTriangleCorners;
    viewport_->Renderer().UploadProblemOverlay(problems);
}

void CGrainforgeView::UploadHeightTexture()
{
    gl::GlRenderer& renderer = viewport_->Renderer();
    if (document_.IsHeightMapLoaded()) {
        if (!renderer.UploadHeightTexture(document_.heightMap))
            document_.ShowInformation(L"The texture could not be uploaded to the graphics card, so the Height Map "
                                      L"view is blank. A smaller image or a smaller tile size may help.",
                                      2);
    } else {
        // An empty map deletes the texture.
        (void)renderer.UploadHeightTexture(mesh::HeightMap{});
    }
}

void CGrainforgeView::RefreshProjectionOnly()
{
    if (!ViewportReady() || !document_.HasPart())
        return;
    gl::GlRenderer& renderer = viewport_->Renderer();
    if (reducedCopy.sourceTriangles != 0 || sectionMode != 0 || clippingPlane || renderer.view.surfaceMode == 2 ||
        renderer.view.surfaceMode == 4) {
        RefreshAll();
        return;
    }
    const TriangleMesh& shown = document_.CurrentDisplayMesh();
    cornerProjection = ComputeDisplayProjection(
        shown, mesh::BuildTileFrames(document_.projection, document_.heightMap.settings));
    gl::RenderAttributes attributes;
    attributes.cornerProjected = cornerProjection;
    const mesh::TextureWeights& weights = document_.DisplayProjectionData();
    if (weights.cornerWeights.size() == shown.indices.size())
        attributes.cornerMask = weights.cornerWeights;
    // Refused also when the renderer's mesh has another size: then everything is sent again.
    const bool ok = renderer.UploadProjection(shown, &attributes);
    Repaint();
    if (!ok) {
        RefreshAll();
        return;
    }
    RebuildCageOverlay();
    RebuildHandleOverlay();
    PushProjectionOverlay();
    Repaint();
}

// ---- State pushes ----------------------------------------------------------------------------

void CGrainforgeView::PushShadingMode()
{
    if (viewport_ == nullptr)
        return;
    const int mode = sectionMode == 4 ? 0 : static_cast<int>(shadingChoice);
    if (viewport_->Renderer().view.shadingMode != mode) {
        viewport_->Renderer().view.shadingMode = mode;
        Repaint();
    }
}

void CGrainforgeView::PushMasks()
{
    if (viewport_ == nullptr)
        return;
    const bool previewShown =
        ToolShowsPreview(handleTool) || document_.surfaceViewActive || !document_.IsResultCurrent();
    viewport_->Renderer().SetMasks(DisplayedMasks(document_.HasPart(), previewShown, document_.maskVolumes));
    Repaint();
}

void CGrainforgeView::PushProjectionOverlay()
{
    if (viewport_ == nullptr)
        return;
    viewport_->SetProjectionOverlay(
        BuildProjectionOverlay(document_.HasPart(), document_.projection, document_.heightMap.settings));
}

void CGrainforgeView::SyncSurfaceMode()
{
    // The preview update below refreshes this view again; a nested call would choose against
    // the other mesh and could switch the outer/inner flag back and forth without end.
    if (!document_.HasPart() || document_.pipeline.IsRunning() || syncingSurface_)
        return;
    const bool previewShown =
        ToolShowsPreview(handleTool) || document_.surfaceViewActive || !document_.IsResultCurrent();
    const TriangleMesh* result = previewShown ? nullptr : &document_.CurrentDisplayMesh();
    const std::optional<std::uint32_t> mode =
        NextSurfaceMode(surfaceMemory, previewShown, result, document_.IsHeightMapLoaded());
    if (!mode || viewport_ == nullptr)
        return;
    gl::GlRenderer& renderer = viewport_->Renderer();
    if (renderer.view.surfaceMode == static_cast<int>(*mode))
        return;
    renderer.view.surfaceMode = static_cast<int>(*mode);
    Repaint();
    const bool outerInner = *mode == 4;
    if (document_.surfaceViewActive != outerInner) {
        document_.surfaceViewActive = outerInner;
        syncingSurface_ = true;
        document_.UpdatePreview();
        syncingSurface_ = false;
    }
}

void CGrainforgeView::SetPrintCheckShown(bool on)
{
    // Only for the mesh the check was made for: an out-of-date result shows the plain part.
    const mesh::PrintabilityReport* current = document_.CurrentPrintCheck();
    static const mesh::PrintabilityReport kNone;
    const mesh::PrintabilityReport& report = current != nullptr ? *current : kNone;
    if (ViewportReady()) {
        gl::PrintCheckOverlayGeometry geometry;
        if (report.checked) {
            if (sectionMode != 4) {
                geometry.lines.reserve(report.contourSegments.size() * 2);
                for (const std::array<Vec3, 2>& segment : report.contourSegments) {
                    geometry.lines.push_back(segment[0]);
                    geometry.lines.push_back(segment[1]);
                }
            }
            geometry.redFaces = report.supportSquares;
            geometry.orangeFaces = report.farSquares;
            geometry.yellowFaces = report.bridgeSquares;
        }
        // Empty lists delete the buffers.
        viewport_->Renderer().UploadPrintCheckOverlay(geometry);
    }
    const bool shown = on && report.checked;
    const bool changed = shown != printCheckShown_;
    printCheckShown_ = shown;
    if (viewport_ != nullptr)
        viewport_->Renderer().view.showPrintCheck = shown ? 1 : 0;
    if (changed || shown)
        UploadMesh(false);
}

void CGrainforgeView::ShowToolName()
{
    const std::wstring text = ToolName(handleTool);
    if (text == lastToolText_)
        return;
    lastToolText_ = text;
    if (context_.frame != nullptr)
        context_.frame->SetToolPaneText(text);
}

void CGrainforgeView::OnFrameStatistics(const gl::FrameStatistics& statistics)
{
    const std::uint64_t now = NowMilliseconds();
    if (lastFrameStatisticsTime != 0 && now - lastFrameStatisticsTime < kFrameStatisticsMilliseconds)
        return;
    lastFrameStatisticsTime = now;
    const bool hasMesh = viewport_ != nullptr && viewport_->Renderer().IndexCount() > 0;
    const std::wstring text = FrameStatisticsText(statistics, hasMesh);
    if (text == lastFrameText_)
        return;
    lastFrameText_ = text;
    if (context_.frame != nullptr)
        context_.frame->SetFramePaneText(text);
}

void CGrainforgeView::PlaceStartHint()
{
    if (startHint_ == nullptr)
        return;
    if (document_.HasPart()) {
        if (startHint_->IsShown()) {
            startHint_->Hide();
            Repaint();
        }
        return;
    }
    const int dpi = GetDPI().x > 0 ? GetDPI().x : 96;
    const wxSize client = ViewportArea().GetSize();
    const int width = std::max(1, std::min(540 * dpi / 96, client.x - 40));
    const int height = static_cast<CStartHint*>(startHint_)->WrapTo(width, 44 * dpi / 96);
    startHint_->SetSize((client.x - width) / 2, (client.y - height) / 2, width, height);
    startHint_->Refresh(false);
    if (!startHint_->IsShown())
        startHint_->Show();
    startHint_->Raise();
}

void CGrainforgeView::LayOutChildren()
{
    const wxRect viewport = ViewportArea();
    if (maskPanel_ != nullptr && maskPanel_->IsShown())
        maskPanel_->SetSize(viewport.GetRight() + 1, 0, GetClientSize().x - viewport.width, viewport.height);
    if (viewport_ != nullptr) {
        viewport_->SetSize(viewport);
        // The camera's aspect follows at once, not at the size event GTK may send later: a fit
        // right after the mask panel opened would frame the part for the wider view.
        viewport_->UpdateSize();
    }
    PlaceStartHint();
    Repaint();
}

wxRect CGrainforgeView::ViewportArea() const
{
    const wxSize client = GetClientSize();
    int panel = 0;
    if (maskPanel_ != nullptr && maskPanel_->IsShown())
        panel = MaskPanelStripWidth(client.x, maskPanel_->GetMinSize().x, maskPanel_->LeastWidth());
    return wxRect(0, 0, client.x - panel, client.y);
}

void CGrainforgeView::OnSize(wxSizeEvent& event)
{
    LayOutChildren();
    event.Skip();
}

void CGrainforgeView::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (viewport_ == nullptr) {
        dc.SetBackground(wxBrush(kViewBackground));
        dc.Clear();
    }
}

void CGrainforgeView::OnStartHintClicked()
{
    // Posted, so that the file dialog does not open inside the click.
    CallAfter([this] {
        if (context_.commands != nullptr)
            context_.commands->ExecuteCommand(view_command::kOpenStl);
    });
}

}  // namespace grainforge::app
