#pragma once

// CToolbarHostWnd: the one owner-drawn toolbar of the program (the main toolbar, the mapping
// body's bars, the texture body's tool row, the mask panel's tool row). A row or column of icon
// buttons and separators, painted flat with hover, pressed, checked and disabled looks, with
// two-part tooltips. It asks its command target for each button's state on idle (throttled)
// and sends a clicked button's command to it; the same pass drops a hover the pointer has left
// without a leave reaching the bar. The logic is ToolbarModel's; this is its window.

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include <wx/bitmap.h>
#include <wx/image.h>
#include <wx/timer.h>
#include <wx/window.h>

#include "app/shell/kit/command_target.h"
#include "app/shell/kit/icon_files.h"
#include "app/shell/kit/idle_throttle.h"
#include "app/shell/kit/toolbar_model.h"

namespace grainforge::app {

class CRectTooltip;

class CToolbarHostWnd : public wxWindow {
public:
  // How often the idle update pass may ask the commands' states.
  static constexpr std::chrono::milliseconds kUpdateInterval{100};

  CToolbarHostWnd();
  ~CToolbarHostWnd() override;

  // Creates the child window "ToolbarHost" of parent; false on failure.
  bool Create(wxWindow* parent, wxWindowID id);

  // Replaces the items (copied), builds their tooltips, lays out, updates the states, repaints.
  void SetItems(std::vector<ToolbarItem> items);
  // The main toolbar's thickness: the bar height becomes 40 (from 36).
  void SetButtonSize();
  // Loads the palette; every user calls it once after Create.
  void SetColorStyle();
  void SetIconPadding(int pixels);
  void SetSpacing(int pixels);
  void SetMargin(int pixels);
  // 0 horizontal, 1 vertical.
  void SetOrientation(int orientation);
  // Where commands and state questions go. Without one, the command travels up the window
  // chain as a CommandEvent and states are asked with a CommandQueryEvent, so the frame's
  // routing answers.
  void SetCommandTarget(ICommandTarget* target) { target_ = target; }
  // The folder the icons are read from; resources beside the program unless set.
  void SetIconFolder(std::filesystem::path folder);
  // Text of commands for buttons without their own tooltip texts.
  void SetCommandStrings(CommandStringLookup lookup) { commandStrings_ = std::move(lookup); }

  // The update pass (ToolbarModel::UpdateCommandStates); repaints only on a change.
  void UpdateCommandStates();

  int BarHeight() const { return model_.Spacing().barHeight; }
  const ToolbarModel& Model() const { return model_; }
  const ToolbarColors& Colors() const { return colors_; }
  CRectTooltip& Tooltip() { return *tooltip_; }

  // The target set by SetCommandTarget; null while commands travel up the window chain.
  ICommandTarget* GetCommandTarget() const { return target_; }

private:
  void Relayout();
  void RegisterTooltipTools();
  std::optional<IconSize> SourceIconSize(const ToolbarItem& item);
  const wxBitmap* ScaledIcon(const ToolbarItem& item, int height, bool disabled);
  void EmptyIconCaches();
  void SendCommand(std::uint32_t commandId);
  std::optional<CommandState> AskState(std::uint32_t commandId);
  void RefreshRects(const std::vector<PixelRect>& rects);
  void DropHoverLeftBehind();

  bool IsHorizontal() const;
  void DrawSeparator(wxDC& dc, const PixelRect& rect, int dpi) const;
  void DrawButton(wxDC& dc, int index, int dpi);
  void DrawButtonContent(wxDC& dc, const ToolbarButtonState& button, bool greyIcon, int dpi);
  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnMotion(wxMouseEvent& event);
  void OnLeave(wxMouseEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnIdle(wxIdleEvent& event);
  void OnUpdateTimer(wxTimerEvent& event);
  void OnDpiChanged(wxDPIChangedEvent& event);

  ToolbarModel model_;
  ToolbarColors colors_;
  ICommandTarget* target_ = nullptr;
  CommandStringLookup commandStrings_;
  std::unique_ptr<IconFileCache> sourceIcons_;
  // Scaled icons by (icon name, height, disabled look).
  std::map<std::tuple<std::wstring, int, bool>, wxBitmap> scaledIcons_;
  std::unique_ptr<CRectTooltip> tooltip_;
  IdleThrottle updateThrottle_{kUpdateInterval};
  wxTimer updateTimer_;
};

}  // namespace grainforge::app
