#pragma once

// The document's dialogs shown as wx dialogs over the main window: the frame puts one of these
// into the document's host.

#include "app/document/document_host.h"

class wxWindow;

namespace grainforge::app {

class WxDocumentDialogs final : public IDocumentDialogs {
public:
  // `parent` (the main frame) owns the dialogs' position; null centres them on the screen.
  explicit WxDocumentDialogs(wxWindow* parent) : parent_(parent) {}

  std::optional<mesh::RemeshSettings> EditRemeshInput(const mesh::RemeshSettings& settings,
                                                      const mesh::TriangleMesh& loadedPart) override;
  std::unique_ptr<mesh::procedural::ProceduralTexture> EditProceduralTexture(
      std::unique_ptr<mesh::procedural::ProceduralTexture> pattern, int mode, const LibraryRoots& roots) override;
  // The export check dialog is built with the export path; until it is plugged in here the
  // save is cancelled rather than written unchecked.
  std::optional<ExportDialogResult> RunExportCheck(const ExportDialogRequest& request) override;

private:
  wxWindow* parent_ = nullptr;
};

}  // namespace grainforge::app
