#pragma once

// The document's dialogs shown as wx dialogs over the main window: the frame puts one of these
// into the document's host.

#include <functional>

#include "app/document/document_host.h"

class wxWindow;

namespace grainforge::app {

class WxDocumentDialogs final : public IDocumentDialogs {
public:
  // `parent` (the main frame) owns the dialogs' position; null centres them on the screen.
  // `detailedLog` says whether the export check shows its time; empty: never.
  explicit WxDocumentDialogs(wxWindow* parent, std::function<bool()> detailedLog = {})
      : parent_(parent), detailedLog_(std::move(detailedLog)) {}

  std::optional<mesh::RemeshSettings> EditRemeshInput(const mesh::RemeshSettings& settings,
                                                      const mesh::TriangleMesh& loadedPart) override;
  std::unique_ptr<mesh::procedural::ProceduralTexture> EditProceduralTexture(
      std::unique_ptr<mesh::procedural::ProceduralTexture> pattern, int mode, const LibraryRoots& roots,
      const PresetReadNote& presetRead) override;
  // The "Save STL" check dialog; nothing when the user cancels.
  std::optional<ExportDialogResult> RunExportCheck(const ExportDialogRequest& request) override;

private:
  wxWindow* parent_ = nullptr;
  std::function<bool()> detailedLog_;
};

}  // namespace grainforge::app
