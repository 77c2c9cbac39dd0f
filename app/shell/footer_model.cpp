#include "app/shell/footer_model.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr int kMargin = 8;
constexpr int kTextHeight = 16;
constexpr int kGap = 4;
constexpr int kButtonHeight = 30;
constexpr int kFooterHeight = 64;

constexpr Rgb kReadyFill{58, 123, 213};
constexpr Rgb kReadyHover{46, 104, 188};
constexpr Rgb kStopFill{224, 72, 60};
constexpr Rgb kStopHover{200, 60, 48};
constexpr Rgb kInactiveFill{214, 218, 224};
constexpr Rgb kWhite{255, 255, 255};

// The fraction as the footer may use it: NaN counts as nothing done yet.
float ClampedFraction(float fraction) {
  if (std::isnan(fraction)) return 0.0f;
  return std::clamp(fraction, 0.0f, 1.0f);
}

}  // namespace

FooterLayout LayoutFooter(const PixelRect& client, int dpi) {
  const int margin = ScaleForDpi(kMargin, dpi);
  const int textHeight = ScaleForDpi(kTextHeight, dpi);
  const int gap = ScaleForDpi(kGap, dpi);
  const int buttonHeight = ScaleForDpi(kButtonHeight, dpi);
  const int top = client.top + std::max(0, (client.Height() - gap - buttonHeight - textHeight) / 2);
  FooterLayout layout;
  layout.text = {client.left + margin, top, client.right - margin, top + textHeight};
  const int buttonTop = top + textHeight + gap;
  layout.button = {client.left + margin, buttonTop, client.right - margin, buttonTop + buttonHeight};
  return layout;
}

std::wstring FooterLineText(const FooterShown& shown) {
  if (shown.state != FooterState::Processing) return shown.statusText;
  std::wstring text = shown.stageText.empty() ? std::wstring(L"Processing") : shown.stageText;
  if (shown.fractionKnown) text += L"  " + std::to_wstring(ProgressPercent(shown.fraction)) + L"%";
  return text;
}

int ProgressPercent(float fraction) {
  return static_cast<int>(ClampedFraction(fraction) * 100.0f + 0.5f);
}

FooterButtonLook FooterButtonLookFor(FooterState state, bool hover) {
  switch (state) {
    case FooterState::ReadyToProcess:
      return {L"Process", hover ? kReadyHover : kReadyFill, kWhite};
    case FooterState::Processing:
      return {L"Stop", hover ? kStopHover : kStopFill, kWhite};
    case FooterState::NothingToDo:
      break;
  }
  return {L"Process", kInactiveFill, colours::kMutedText};
}

Rgb FooterTextColour(FooterState state) {
  return state == FooterState::NothingToDo ? colours::kMutedText : colours::kText;
}

int FooterProgressWidth(const FooterShown& shown, int buttonWidth) {
  if (shown.state != FooterState::Processing || !shown.fractionKnown || buttonWidth <= 0) return 0;
  return static_cast<int>(static_cast<float>(buttonWidth) * ClampedFraction(shown.fraction));
}

std::optional<int> FooterClickCommand(FooterState state, const FooterLayout& layout, int x, int y) {
  if (!layout.button.Contains(x, y)) return std::nullopt;
  switch (state) {
    case FooterState::Processing:
      return kCmdStopProcessing;
    case FooterState::ReadyToProcess:
      return kCmdProcessFromFooter;
    case FooterState::NothingToDo:
      break;
  }
  return std::nullopt;
}

LeftPaneSplit SplitLeftPane(const PixelRect& client, int dpi) {
  const int height = std::max(0, client.Height());
  const int footer = std::min(height, ScaleForDpi(kFooterHeight, dpi));
  const int split = client.top + height - footer;
  return {PixelRect{client.left, client.top, client.right, split},
          PixelRect{client.left, split, client.right, client.top + height}};
}

}  // namespace grainforge::app
