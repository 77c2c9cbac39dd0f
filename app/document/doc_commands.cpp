#include "app/document/document_commands.h"
#include "app/document/grainforge_doc.h"

#include "engine/repair/windows_repair.h"

namespace grainforge::app {

CommandTable CGrainforgeDoc::Commands()
{
    const auto needsPart = [this](CommandState& state) { state.enabled = HasPart(); };
    const auto gridRadio = [this](int cells) {
        return [this, cells](CommandState& state) {
            state.radio = true;
            state.checked = surfaceTestCells == cells;
        };
    };

    CommandTable table;
    table.push_back({kCmdSaveStl, [this] { OnFileSaveStl(false); }, needsPart});
    table.push_back({kCmdSaveStlAlternate, [this] { OnFileSaveStl(false); }, needsPart});
    table.push_back({kCmdSaveAsciiStl, [this] { OnFileSaveStl(true); }, needsPart});
    table.push_back({kCmdLoadTextureFromDisk, [this] { OnTextureLoadFromDisk(); }, {}});
    table.push_back({kCmdSurfaceGrid128, [this] { SetSurfaceTestGridResolution(128); }, gridRadio(128)});
    table.push_back({kCmdSurfaceGrid256, [this] { SetSurfaceTestGridResolution(256); }, gridRadio(256)});
    table.push_back({kCmdSurfaceGrid512, [this] { SetSurfaceTestGridResolution(512); }, gridRadio(512)});
    for (int id = kCmdProceduralFirst; id <= kCmdProceduralLast; ++id)
        table.push_back({id, [this, id] { OnProceduralPattern(id); }, {}});
    table.push_back({kCmdProceduralSettings, [this] { OnProceduralSettings(); },
        [this](CommandState& state) { state.enabled = proceduralTexture != nullptr; }});
    // A test shape replaces the part as New and Open do, so it asks first as they do. (A
    // project that names one makes it without asking again: it was asked before it opened.)
    table.push_back({kCmdTestShapeCube, [this] { if (SaveModified()) OnFileTestShapeCube(); }, {}});
    table.push_back({kCmdTestShapeCylinder, [this] { if (SaveModified()) OnFileTestShapeCylinder(); }, {}});
    table.push_back({kCmdTestShapeSphere, [this] { if (SaveModified()) OnFileTestShapeSphere(); }, {}});
    table.push_back({kCmdOpenProject, [this] { OnFileOpenProject(); }, {}});
    table.push_back({kCmdSaveProject, [this] { OnFileSaveProject(); }, needsPart});
    table.push_back({kCmdSaveProjectAs, [this] { OnFileSaveProjectAs(); }, needsPart});
    table.push_back({kCmdValidate, [this] { OnMeshValidate(); }, needsPart});
    table.push_back({kCmdCheckPrintability, [this] { OnMeshCheckPrintability(); }, needsPart});
    table.push_back({kCmdRepair, [this] { OnMeshRepair(); }, needsPart});
    table.push_back({kCmdRepairWithWindows, [this] { OnMeshRepairWithWindows(); },
        [](CommandState& state) { state.enabled = grainforge::mesh::IsWindowsRepairAvailable(); }});
    table.push_back({kCmdSimplifyInputMesh, [this] { OnMeshSimplifyInput(); }, needsPart});
    table.push_back({kCmdRemeshInputMesh, [this] { OnMeshRemeshInput(); }, needsPart});
    table.push_back({kCmdProcess, [this] { OnMeshProcess(); },
        [this](CommandState& state) { state.enabled = NeedsProcessing(); }});
    table.push_back({kCmdUndo, [this] { OnEditUndo(); },
        [this](CommandState& state) { state.enabled = !undoStack.empty(); }});
    table.push_back({kCmdRedo, [this] { OnEditRedo(); },
        [this](CommandState& state) { state.enabled = !redoStack.empty(); }});
    return table;
}

}  // namespace grainforge::app
