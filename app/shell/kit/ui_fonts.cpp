#include "app/shell/kit/ui_fonts.h"

#include <map>
#include <utility>

#include <wx/font.h>
#include <wx/fontenum.h>
#include <wx/settings.h>

#include "app/shell/kit/ui_scale.h"

namespace grainforge::app {
namespace {

wxFontWeight ToWxWeight(int weight) {
  return weight <= 0 ? wxFONTWEIGHT_NORMAL : static_cast<wxFontWeight>(weight);
}

bool IsReportFaceInstalled() {
  static const bool installed = wxFontEnumerator::IsValidFacename(kReportFaceName);
  return installed;
}

// Point sizes are written for 96 dpi; at another DPI the font grows with the other sizes.
double PointsAtDpi(int points, int dpi) {
  return static_cast<double>(points) * dpi / kDesignDpi;
}

}  // namespace

UiFontSpec UiFontSpecFor(int kind, int dpi) {
  UiFontSpec spec;
  switch (kind) {
    case kUiFontHeading:
      spec.points = 10;
      spec.weight = 600;
      break;
    case kUiFontNormal:
      spec.points = 9;
      spec.weight = 400;
      break;
    case kUiFontSmall:
      spec.points = 8;
      spec.weight = 400;
      break;
    default:
      spec.points = 9;
      spec.weight = 0;
      break;
  }
  spec.pixelHeight = -MulDiv(spec.points, dpi, 72);
  return spec;
}

std::wstring InterfaceFaceName() {
  return wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT).GetFaceName().ToStdWstring();
}

wxFont MakeInterfaceFont(double points, int weight, bool italic) {
  wxFontInfo info(static_cast<float>(points));
  info.FaceName(InterfaceFaceName()).Weight(ToWxWeight(weight)).Italic(italic);
  return wxFont(info);
}

wxFont MakeReportFont(double points, int weight) {
  wxFontInfo info(static_cast<float>(points));
  if (IsReportFaceInstalled()) {
    info.FaceName(kReportFaceName);
  } else {
    info.Family(wxFONTFAMILY_TELETYPE);
  }
  info.Weight(ToWxWeight(weight));
  return wxFont(info);
}

const wxFont& GetUiFont(int kind, int dpi) {
  // Kept until the process ends: freeing fonts after the toolkit has shut down is not safe.
  static auto& cache = *new std::map<std::pair<int, int>, wxFont>;
  const auto key = std::make_pair(kind, dpi);
  auto found = cache.find(key);
  if (found == cache.end()) {
    const UiFontSpec spec = UiFontSpecFor(kind, dpi);
    found = cache.emplace(key, MakeInterfaceFont(PointsAtDpi(spec.points, dpi), spec.weight))
                .first;
  }
  return found->second;
}

const wxFont& GetReportFont(int dpi) {
  static auto& cache = *new std::map<int, wxFont>;
  auto found = cache.find(dpi);
  if (found == cache.end())
    found = cache.emplace(dpi, MakeReportFont(PointsAtDpi(9, dpi), 400)).first;
  return found->second;
}

}  // namespace grainforge::app
