#pragma once

// Remeshes the part as loaded: triangle size and method, with an estimate of the result.

#include "app/shell/kit/refusal_note.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"

#include <functional>
#include <string>

#include <wx/dialog.h>

class wxChoice;
class wxStaticText;
class wxTextCtrl;

namespace grainforge::app {

class CMarkdownTextCtrl;

inline constexpr int kIdRemeshInputSize = 1245;
inline constexpr int kIdRemeshInputMethod = 1246;
inline constexpr int kIdRemeshInputEstimate = 1247;
inline constexpr int kIdRemeshInputRefusal = 1248;  // a refused size, in red under the fields

class CRemeshInputDialog final : public wxDialog {
public:
  CRemeshInputDialog(wxWindow* parent, const mesh::RemeshSettings& settings, const mesh::TriangleMesh* part);
  const mesh::RemeshSettings& Settings() const { return settings_; }
  void ReadControls();
  // What Remesh does: refuses a size out of range (the dialog stays open, the field has the
  // focus), else reads the fields. True when they were taken.
  bool TakeFieldValues();
  // Shows the Remesh button's refusal; in red under the size, where it is said as it is typed,
  // unless replaced (tests record instead).
  std::function<void(const std::wstring&)> refuse;
  CMarkdownTextCtrl* HelpPane() const { return helpPane_; }

private:
  void UpdateEstimate();
  int RefusalWidth() const;
  void OnOk();

  mesh::RemeshSettings settings_;
  const mesh::TriangleMesh* part_ = nullptr;
  wxTextCtrl* size_ = nullptr;
  wxChoice* method_ = nullptr;
  wxStaticText* estimate_ = nullptr;
  RefusedFieldsNote sizeRefusal_;
  CMarkdownTextCtrl* helpPane_ = nullptr;
};

}  // namespace grainforge::app
