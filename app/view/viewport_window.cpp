#include "app/view/viewport_window.h"

#include "app/view/view_rules.h"

#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/log.h>
#include <wx/settings.h>

#include <chrono>
#include <sstream>

namespace grainforge::app {

namespace {

wxGLAttributes CanvasAttributes()
{
    wxGLAttributes attributes;
    attributes.PlatformDefaults().RGBA().DoubleBuffer().Depth(24).EndList();
    return attributes;
}

// Splits the text at line breaks and wraps each line at spaces to fit the width.
std::vector<wxString> WrapText(wxDC& dc, const wxString& text, int width)
{
    std::vector<wxString> lines;
    wxString rest = text;
    while (true) {
        const int end = rest.Find('\n');
        const wxString paragraph = end == wxNOT_FOUND ? rest : rest.Left(static_cast<size_t>(end));
        wxString line;
        std::wistringstream words(paragraph.ToStdWstring());
        std::wstring word;
        while (words >> word) {
            const wxString candidate = line.empty() ? wxString(word) : line + " " + word;
            if (!line.empty() && dc.GetTextExtent(candidate).x > width) {
                lines.push_back(line);
                line = word;
            } else {
                line = candidate;
            }
        }
        lines.push_back(line);
        if (end == wxNOT_FOUND)
            break;
        rest = rest.Mid(static_cast<size_t>(end) + 1);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines;
}

}  // namespace

std::vector<std::uint8_t> DrawViewCubeLabels()
{
    std::vector<std::uint8_t> atlas(static_cast<std::size_t>(gl::kViewCubeAtlasBytes), 0);
    const int height = gl::kViewCubeAtlasRowHeight * gl::kViewCubeAtlasRows;
    wxBitmap bitmap(gl::kViewCubeAtlasWidth, height, 24);
    if (!bitmap.IsOk())
        return atlas;
    {
        wxMemoryDC dc(bitmap);
        if (!dc.IsOk())
            return atlas;
        dc.SetBackground(*wxBLACK_BRUSH);
        dc.Clear();
        wxFont font(wxFontInfo().Family(wxFONTFAMILY_SWISS).Bold());
        font.SetPixelSize(wxSize(0, 40));
        dc.SetFont(font);
        dc.SetTextForeground(*wxWHITE);
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        for (int row = 0; row < gl::kViewCubeAtlasRows; ++row)
            dc.DrawLabel(wxString::FromUTF8(gl::ViewCubeLabelText(row)),
                         wxRect(0, gl::kViewCubeAtlasRowHeight * row, gl::kViewCubeAtlasWidth, gl::kViewCubeAtlasRowHeight),
                         wxALIGN_CENTER);
        dc.SelectObject(wxNullBitmap);
    }
    const wxImage image = bitmap.ConvertToImage();
    if (!image.IsOk() || image.GetWidth() != gl::kViewCubeAtlasWidth || image.GetHeight() != height)
        return atlas;
    const unsigned char* rgb = image.GetData();
    for (std::size_t i = 0; i < atlas.size(); ++i)
        atlas[i] = rgb[3 * i];
    return atlas;
}

// The renderer's drawing surface: this window and its context.
class COpenGLViewport::Surface : public gl::GlSurface {
public:
    explicit Surface(COpenGLViewport& window) : window_(window) {}
    bool MakeCurrent() override
    {
        return window_.context_ != nullptr && window_.context_->IsOK() && window_.IsShownOnScreen() &&
               window_.SetCurrent(*window_.context_);
    }
    void SwapBuffers() override
    {
        if (!holdSwap)
            window_.wxGLCanvas::SwapBuffers();
    }
    gl::GlSurfaceSize Size() const override
    {
        const wxSize size = window_.GetClientSize();
        const double scale = window_.GetContentScaleFactor();
        return {static_cast<int>(size.x * scale), static_cast<int>(size.y * scale)};
    }

    // While set the frame stays in the back buffer, to be read back before it is shown.
    bool holdSwap = false;

private:
    COpenGLViewport& window_;
};

// What the state machine asks of this window.
class COpenGLViewport::Platform : public IViewportPlatform {
public:
    explicit Platform(COpenGLViewport& window) : window_(window) {}
    void Repaint() override { window_.Refresh(false); }
    void SetFocus() override { window_.wxGLCanvas::SetFocus(); }
    void CaptureMouse() override
    {
        if (!window_.wxGLCanvas::HasCapture())
            window_.wxGLCanvas::CaptureMouse();
    }
    void ReleaseMouse() override
    {
        if (window_.wxGLCanvas::HasCapture())
            window_.wxGLCanvas::ReleaseMouse();
    }
    bool HasCapture() const override { return window_.wxGLCanvas::HasCapture(); }
    void StartAnimationTimer(int milliseconds) override { window_.timer_.Start(milliseconds); }
    void StopAnimationTimer() override { window_.timer_.Stop(); }
    std::uint64_t NowMilliseconds() const override
    {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    // GTK lays windows out in logical pixels at 96 dpi; the content scale covers the rest.
    int Dpi() const override { return 96; }
    bool RendererReady() const override { return window_.renderer_.IsReady(); }

private:
    COpenGLViewport& window_;
};

COpenGLViewport::COpenGLViewport(wxWindow* parent, ViewportWindowOptions options)
    : wxGLCanvas(parent, CanvasAttributes(), kControlId, wxDefaultPosition, wxDefaultSize,
                 wxWANTS_CHARS | wxFULL_REPAINT_ON_RESIZE | wxTAB_TRAVERSAL, wxS("OpenGL Viewport")),
      options_(options),
      surface_(std::make_unique<Surface>(*this)),
      platform_(std::make_unique<Platform>(*this)),
      renderer_([&options] {
          gl::GlRendererOptions rendererOptions;
          rendererOptions.viewCubeLabels = DrawViewCubeLabels;
          rendererOptions.maxUploadHostBytes = options.maxUploadHostBytes;
          return rendererOptions;
      }()),
      controller_(renderer_, *platform_),
      timer_(this, kAnimationTimerId)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    controller_.OnCreate();
    Bind(wxEVT_PAINT, &COpenGLViewport::OnPaint, this);
    Bind(wxEVT_ERASE_BACKGROUND, [](wxEraseEvent&) {});
    Bind(wxEVT_SIZE, &COpenGLViewport::OnSize, this);
    Bind(wxEVT_LEFT_DOWN, &COpenGLViewport::OnLeftDown, this);
    Bind(wxEVT_LEFT_UP, &COpenGLViewport::OnLeftUp, this);
    Bind(wxEVT_MIDDLE_DOWN, &COpenGLViewport::OnMiddleDown, this);
    Bind(wxEVT_MIDDLE_UP, &COpenGLViewport::OnMiddleUp, this);
    Bind(wxEVT_MOTION, &COpenGLViewport::OnMotion, this);
    Bind(wxEVT_MOUSEWHEEL, &COpenGLViewport::OnWheel, this);
    Bind(wxEVT_LEAVE_WINDOW, &COpenGLViewport::OnLeave, this);
    Bind(wxEVT_KEY_DOWN, &COpenGLViewport::OnKeyDown, this);
    Bind(wxEVT_TIMER, &COpenGLViewport::OnTimer, this, kAnimationTimerId);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, &COpenGLViewport::OnCaptureLost, this);
    // Where the keyboard focus is shows, as on the program's other panes.
    const auto showFocus = [this](bool focused) {
        return [this, focused](wxFocusEvent& event) {
            renderer_.view.showFocusFrame = focused ? 1 : 0;
            Refresh(false);
            event.Skip();
        };
    };
    Bind(wxEVT_SET_FOCUS, showFocus(true));
    Bind(wxEVT_KILL_FOCUS, showFocus(false));
}

COpenGLViewport::~COpenGLViewport()
{
    timer_.Stop();
    controller_.EndMouseDrag();
    renderer_.Release();
    context_.reset();
}

const wxColour& COpenGLViewport::FailureBackground()
{
    static const wxColour colour(19, 23, 29);
    return colour;
}

const wxColour& COpenGLViewport::FailureTextColour()
{
    static const wxColour colour(225, 120, 110);
    return colour;
}

void COpenGLViewport::MakeContext()
{
    contextTried_ = true;
    wxGLContextAttrs attributes;
    attributes.PlatformDefaults().CoreProfile().OGLVersion(options_.glMajor, options_.glMinor).EndList();
    {
        // A refused context is reported by the window's own failure text; wx would also log it
        // and show the log as a message box later.
        wxLogNull quiet;
        auto context = std::make_unique<wxGLContext>(this, nullptr, &attributes);
        if (context->IsOK())
            context_ = std::move(context);
    }
    UpdateSize();
    // Without a context the renderer fails with its own text ("could not create an OpenGL 3.3
    // Core context"), which the failure paint shows.
    (void)renderer_.Initialise(surface_.get());
    if (contextReady_)
        contextReady_();
}

void COpenGLViewport::SetProjectionOverlay(const gl::ProjectionOverlay& overlay)
{
    if (ProjectionOverlaysEqual(overlay, projectionOverlay_))
        return;
    projectionOverlay_ = overlay;
    renderer_.SetProjectionOverlay(overlay);
    Refresh(false);
}

void COpenGLViewport::UpdateSize()
{
    const double scale = GetContentScaleFactor();
    controller_.SetContentScale(static_cast<float>(scale));
    const wxSize size = GetClientSize();
    controller_.OnSize(static_cast<int>(size.x * scale), static_cast<int>(size.y * scale));
}

void COpenGLViewport::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (!contextTried_ && IsShownOnScreen())
        MakeContext();
    if (renderer_.IsReady()) {
        renderer_.DrawFrame();
        controller_.OnFrameDrawn();
        return;
    }
    PaintFailure(dc);
}

void COpenGLViewport::PaintFailure(wxDC& dc)
{
    const wxSize size = GetClientSize();
    dc.SetBackground(wxBrush(FailureBackground()));
    dc.Clear();
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.SetTextForeground(FailureTextColour());
    dc.SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    const wxString text = wxString(FailureHeadline()) + "\n" + wxString::FromUTF8(renderer_.LastError());
    const std::vector<wxString> lines = WrapText(dc, text, std::max(size.x - 16, 16));
    const int lineHeight = dc.GetCharHeight();
    int y = (size.y - lineHeight * static_cast<int>(lines.size())) / 2;
    for (const wxString& line : lines) {
        const int width = dc.GetTextExtent(line).x;
        dc.DrawText(line, (size.x - width) / 2, y);
        y += lineHeight;
    }
}

void COpenGLViewport::OnSize(wxSizeEvent& event)
{
    UpdateSize();
    event.Skip();
}

ViewportPoint COpenGLViewport::PointOf(const wxMouseEvent& event) const
{
    const wxPoint p = event.GetPosition();
    return {static_cast<float>(p.x), static_cast<float>(p.y)};
}

void COpenGLViewport::OnLeftDown(wxMouseEvent& event)
{
    controller_.OnLeftDown(PointOf(event), event.ShiftDown());
    event.Skip();
}

void COpenGLViewport::OnLeftUp(wxMouseEvent& event)
{
    controller_.OnLeftUp(PointOf(event), event.ControlDown());
    event.Skip();
}

void COpenGLViewport::OnMiddleDown(wxMouseEvent& event)
{
    controller_.OnMiddleDown(PointOf(event));
    event.Skip();
}

void COpenGLViewport::OnMiddleUp(wxMouseEvent& event)
{
    controller_.OnMiddleUp();
    event.Skip();
}

void COpenGLViewport::OnMotion(wxMouseEvent& event)
{
    controller_.OnMouseMove(PointOf(event), event.ShiftDown());
    event.Skip();
}

void COpenGLViewport::OnWheel(wxMouseEvent& event)
{
    const int delta = event.GetWheelDelta() > 0 ? event.GetWheelDelta() : 120;
    if (event.GetWheelAxis() == wxMOUSE_WHEEL_VERTICAL)
        controller_.OnMouseWheel(PointOf(event), static_cast<float>(event.GetWheelRotation()) / static_cast<float>(delta));
}

void COpenGLViewport::OnLeave(wxMouseEvent& event)
{
    controller_.OnMouseLeave();
    event.Skip();
}

void COpenGLViewport::OnKeyDown(wxKeyEvent& event)
{
    int key = 0;
    switch (event.GetKeyCode()) {
    case WXK_HOME: key = kKeyHome; break;
    case 'F': case 'f': key = event.HasAnyModifiers() ? 0 : kKeyF; break;
    case WXK_NUMPAD5: case WXK_NUMPAD_BEGIN: key = kKeyNumpad5; break;
    default: break;
    }
    if (key == 0 || !controller_.OnKeyDown(key))
        event.Skip();
}

void COpenGLViewport::OnTimer(wxTimerEvent&)
{
    controller_.OnTimer();
}

void COpenGLViewport::OnCaptureLost(wxMouseCaptureLostEvent&)
{
    controller_.OnCaptureLost();
}

void COpenGLViewport::ClearCageOverlay()
{
    controller_.ClearCageOverlay();
}

wxImage COpenGLViewport::CaptureFrame()
{
    if (!renderer_.IsReady() || !renderer_.MakeCurrent())
        return wxImage();
    const int width = renderer_.view.width;
    const int height = renderer_.view.height;
    surface_->holdSwap = true;
    renderer_.DrawFrame();
    surface_->holdSwap = false;
    std::vector<unsigned char> rgba(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    surface_->SwapBuffers();
    wxImage image(width, height);
    unsigned char* out = image.GetData();
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = rgba.data() + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x) {
            unsigned char* pixel = out + (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3;
            pixel[0] = row[4 * x];
            pixel[1] = row[4 * x + 1];
            pixel[2] = row[4 * x + 2];
        }
    }
    return image;
}

}  // namespace grainforge::app
