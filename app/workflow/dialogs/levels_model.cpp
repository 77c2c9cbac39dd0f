#include "app/workflow/dialogs/levels_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/shell/kit/number_text.h"
#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

constexpr float kMinDragGamma = 0.1001001f;
constexpr float kMaxDragGamma = 10.0f;

constexpr int kMargin = 8;
constexpr int kHistogramHeight = 64;
constexpr int kInputBarHeight = 12;
constexpr int kGap = 4;
constexpr int kEditWidth = 44;
constexpr int kEditHeight = 20;
constexpr int kOutputBarHeight = 24;
constexpr int kHitRadius = 8;

float Clamp01(float value) { return std::clamp(value, 0.0f, 1.0f); }

PixelRect EditAt(int left, int top, int width, int height) { return {left, top, left + width, top + height}; }

// The fraction of the bar's width at x, 0..1.
float BarFraction(const PixelRect& bar, int x) {
  if (bar.Width() < 1) return 0.0f;
  return Clamp01(static_cast<float>(x - bar.left) / static_cast<float>(bar.Width()));
}

std::wstring FormatGammaText(float gamma) {
  const double shown = GammaAsShown(gamma);
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, shown, std::chars_format::fixed, 2);
  if (result.ec != std::errc()) return L"1.00";
  return std::wstring(buffer, result.ptr);
}

}  // namespace

LevelsLayout LayOutLevels(int clientWidth, int dpi, int minEditHeight) {
  const int m = ScaleForDpi(kMargin, dpi);
  const int gap = ScaleForDpi(kGap, dpi);
  const int editWidth = ScaleForDpi(kEditWidth, dpi);
  const int editHeight = std::max(ScaleForDpi(kEditHeight, dpi), minEditHeight);
  LevelsLayout layout;
  const int left = m;
  const int right = std::max(left, clientWidth - m);
  layout.histogram = {left, 0, right, ScaleForDpi(kHistogramHeight, dpi)};
  layout.inputBar = {left, layout.histogram.bottom, right,
                     layout.histogram.bottom + ScaleForDpi(kInputBarHeight, dpi)};
  const int firstRow = layout.inputBar.bottom + gap;
  layout.edits[0] = EditAt(left, firstRow, editWidth, editHeight);
  layout.edits[1] = EditAt((left + right - editWidth) / 2, firstRow, editWidth, editHeight);
  layout.edits[2] = EditAt(right - editWidth, firstRow, editWidth, editHeight);
  const int outputTop = firstRow + 3 * gap + editHeight;
  layout.outputBar = {left, outputTop, right, outputTop + ScaleForDpi(kOutputBarHeight, dpi)};
  const int secondRow = layout.outputBar.bottom + gap;
  layout.edits[3] = EditAt(left, secondRow, editWidth, editHeight);
  layout.edits[4] = EditAt(right - editWidth, secondRow, editWidth, editHeight);
  return layout;
}

int LevelsControlHeight(int dpi, int minEditHeight) {
  return LayOutLevels(0, dpi, minEditHeight).edits[4].bottom + ScaleForDpi(kGap, dpi);
}

int LevelsHandleX(const PixelRect& bar, float value) {
  return bar.left + static_cast<int>(std::lround(static_cast<float>(bar.Width()) * Clamp01(value)));
}

float LevelsMiddleValue(const LevelsValues& values) {
  return values.blackLevel + (values.whiteLevel - values.blackLevel) *
                                 std::pow(0.5f, 1.0f / std::max(values.gamma, 0.001f));
}

namespace {

struct InputHandles {
  int black = 0, middle = 0, white = 0;
};

InputHandles SpreadInputHandles(const PixelRect& bar, const LevelsValues& values) {
  const int gap = std::max(1, bar.Height() / 2);
  InputHandles x{LevelsHandleX(bar, values.blackLevel), LevelsHandleX(bar, LevelsMiddleValue(values)),
                 LevelsHandleX(bar, values.whiteLevel)};
  if (x.white - x.black < 2 * gap) {
    // Room is made on the black side first: white at the bar's end stays where it belongs.
    x.black = std::max(bar.left, std::min(x.black, x.white - 2 * gap));
    x.white = std::min(bar.right, std::max(x.white, x.black + 2 * gap));
  }
  x.middle = std::clamp(x.middle, x.black + gap, std::max(x.black + gap, x.white - gap));
  return x;
}

}  // namespace

int LevelsHandlePosition(const LevelsLayout& layout, const LevelsValues& values, LevelsHandle handle) {
  switch (handle) {
    case LevelsHandle::Black: return SpreadInputHandles(layout.inputBar, values).black;
    case LevelsHandle::Gamma: return SpreadInputHandles(layout.inputBar, values).middle;
    case LevelsHandle::White: return SpreadInputHandles(layout.inputBar, values).white;
    case LevelsHandle::OutputBlack: return LevelsHandleX(layout.outputBar, values.outputBlackLevel);
    case LevelsHandle::OutputWhite: return LevelsHandleX(layout.outputBar, values.outputWhiteLevel);
    case LevelsHandle::None: break;
  }
  return 0;
}

LevelsHandle LevelsHitTest(const LevelsLayout& layout, const LevelsValues& values, int x, int y, int dpi) {
  const int r = ScaleForDpi(kHitRadius, dpi);
  const auto hit = [&](LevelsHandle handle) {
    return std::abs(x - LevelsHandlePosition(layout, values, handle)) <= r;
  };
  if (y >= layout.inputBar.top - r && y <= layout.inputBar.bottom + r) {
    // The middle handle first: it often sits between the other two.
    for (LevelsHandle handle : {LevelsHandle::Gamma, LevelsHandle::Black, LevelsHandle::White})
      if (hit(handle)) return handle;
  }
  if (y >= layout.outputBar.top && y <= layout.outputBar.bottom + r) {
    for (LevelsHandle handle : {LevelsHandle::OutputBlack, LevelsHandle::OutputWhite})
      if (hit(handle)) return handle;
  }
  return LevelsHandle::None;
}

LevelsValues DragLevelsHandle(const LevelsLayout& layout, LevelsValues values, LevelsHandle handle, int x) {
  const bool output = handle == LevelsHandle::OutputBlack || handle == LevelsHandle::OutputWhite;
  const float t = BarFraction(output ? layout.outputBar : layout.inputBar, x);
  switch (handle) {
    case LevelsHandle::Black:
      values.blackLevel = std::min(values.whiteLevel - kLevelStep, t);
      break;
    case LevelsHandle::Gamma: {
      const float span = std::max(values.whiteLevel - values.blackLevel, kLevelStep);
      const float u = std::clamp((t - values.blackLevel) / span, 0.02f, 0.98f);
      values.gamma = std::clamp(std::log(0.5f) / std::log(u), kMinDragGamma, kMaxDragGamma);
      break;
    }
    case LevelsHandle::White:
      values.whiteLevel = std::max(values.blackLevel + kLevelStep, t);
      break;
    case LevelsHandle::OutputBlack:
      values.outputBlackLevel = std::min(values.outputWhiteLevel, t);
      break;
    case LevelsHandle::OutputWhite:
      values.outputWhiteLevel = std::max(values.outputBlackLevel, t);
      break;
    case LevelsHandle::None: break;
  }
  return values;
}

LevelsTexts FormatLevelsTexts(const LevelsValues& values) {
  const auto level = [](float value) {
    return std::to_wstring(static_cast<int>(std::lround(Clamp01(value) * 255.0f)));
  };
  return {level(values.blackLevel), FormatGammaText(values.gamma), level(values.whiteLevel),
          level(values.outputBlackLevel), level(values.outputWhiteLevel)};
}

static_assert(std::size(kLevelsRules) == kLevelsEditCount);

LevelsReading ReadLevelsEdits(const LevelsTexts& texts, LevelsValues values) {
  LevelsReading result;
  const LevelsTexts shown = FormatLevelsTexts(values);
  const auto refuse = [&result](int index, const std::wstring& text) {
    result.refused[static_cast<std::size_t>(index)] = true;
    if (result.firstRefused < 0) {
      result.firstRefused = index;
      result.note = text;
    }
  };
  // The number a text is taken as; nothing when its edit refuses it, or when it is the text the
  // value shows, which keeps the value as it is (a gamma of 0.1 from elsewhere shows 10.00, past
  // what the edit takes, and must be taken back as shown).
  const auto read = [&](int index) -> std::optional<double> {
    if (texts[static_cast<std::size_t>(index)] == shown[static_cast<std::size_t>(index)]) return std::nullopt;
    const NumberFieldRule& rule = kLevelsRules[index];
    const NumberFieldReading reading = ReadNumberField(texts[static_cast<std::size_t>(index)], rule);
    if (reading.kind == NumberFieldReading::Kind::accepted) return reading.value;
    refuse(index, reading.refusal.empty() ? NumberFieldRangeText(rule) : reading.refusal);
    return std::nullopt;
  };
  const auto readLevel = [&](int index, float& level) {
    if (const std::optional<double> typed = read(index)) level = Clamp01(static_cast<float>(*typed / kLevelScale));
  };
  const LevelsValues before = values;
  readLevel(0, values.blackLevel);
  if (const std::optional<double> typed = read(1)) values.gamma = 1.0f / static_cast<float>(*typed);
  readLevel(2, values.whiteLevel);
  readLevel(3, values.outputBlackLevel);
  readLevel(4, values.outputWhiteLevel);
  if (!(values.blackLevel < values.whiteLevel)) {
    // The level typed gives way to the one standing: black first when both were typed.
    const auto levelText = [](float level) { return std::to_wstring(std::lround(Clamp01(level) * 255.0f)); };
    const bool blackTyped = texts[0] != shown[0];
    const bool whiteTyped = texts[2] != shown[2];
    if (blackTyped && !result.refused[0]) {
      values.blackLevel = before.blackLevel;
      if (values.blackLevel < values.whiteLevel) {
        refuse(0, L"Black must be below white (" + levelText(values.whiteLevel) + L").");
      } else {
        // The white typed crossed the black kept: it gives way as well.
        values.whiteLevel = before.whiteLevel;
        refuse(0, L"Black must be below white (" + levelText(values.whiteLevel) + L").");
        if (whiteTyped) refuse(2, L"White must be above black (" + levelText(values.blackLevel) + L").");
      }
    } else if (whiteTyped && !result.refused[2]) {
      values.whiteLevel = before.whiteLevel;
      refuse(2, L"White must be above black (" + levelText(values.blackLevel) + L").");
    }
    // Levels that came crossed (none typed) are held apart as a project's are.
    switch (HoldLevelsOrder(values.blackLevel, values.whiteLevel)) {
      case LevelsOrder::kept: break;
      case LevelsOrder::whiteRaised:
        if (result.note.empty()) result.note = L"White must stay above black. It is now " + levelText(values.whiteLevel) + L".";
        break;
      case LevelsOrder::blackLowered:
        if (result.note.empty()) result.note = L"Black must stay below white. It is now " + levelText(values.blackLevel) + L".";
        break;
    }
  }
  result.values = values;
  return result;
}

LevelsValues ReadLevelsTexts(const LevelsTexts& texts, LevelsValues values) {
  return ReadLevelsEdits(texts, values).values;
}

}  // namespace grainforge::app
