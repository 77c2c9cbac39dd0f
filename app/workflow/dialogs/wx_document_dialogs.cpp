#include "app/workflow/dialogs/wx_document_dialogs.h"

#include "app/workflow/dialogs/export_check_dialog.h"
#include "app/workflow/dialogs/procedural_dialog.h"
#include "app/workflow/dialogs/remesh_input_dialog.h"

namespace grainforge::app {

std::optional<mesh::RemeshSettings> WxDocumentDialogs::EditRemeshInput(const mesh::RemeshSettings& settings,
                                                                       const mesh::TriangleMesh& loadedPart) {
  CRemeshInputDialog dialog(parent_, settings, &loadedPart);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return dialog.Settings();
}

std::unique_ptr<mesh::procedural::ProceduralTexture> WxDocumentDialogs::EditProceduralTexture(
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern, int mode, const LibraryRoots& roots,
    const PresetReadNote& presetRead) {
  if (!pattern) return nullptr;
  CProceduralTextureDialog dialog(parent_, *pattern, mode, roots);
  dialog.presetRead = presetRead;
  if (dialog.ShowModal() != wxID_OK) return nullptr;
  return pattern;
}

std::optional<ExportDialogResult> WxDocumentDialogs::RunExportCheck(const ExportDialogRequest& request) {
  return RunExportCheckDialog(parent_, request, detailedLog_ && detailedLog_());
}

}  // namespace grainforge::app
