// Commands whose work belongs to the project file, the checks, export and
// the modal mesh jobs, none of which is built yet. They are in the command table so that the
// window layer can route them; until their work lands they leave the document untouched.
#include "app/document/grainforge_doc.h"

namespace grainforge::app {

std::wstring CGrainforgeDoc::ReliefReportText() const
{
    return {};
}

void CGrainforgeDoc::OnFileSaveStl(bool /*ascii*/) {}
void CGrainforgeDoc::OnFileOpenProject() {}
void CGrainforgeDoc::OnFileSaveProject() {}
void CGrainforgeDoc::OnFileSaveProjectAs() {}
void CGrainforgeDoc::OnMeshValidate() {}
void CGrainforgeDoc::OnMeshCheckPrintability() {}
void CGrainforgeDoc::OnMeshRepair() {}
void CGrainforgeDoc::OnMeshRepairWithWindows() {}
void CGrainforgeDoc::OnMeshSimplifyInput() {}
void CGrainforgeDoc::OnMeshRemeshInput() {}

}  // namespace grainforge::app
