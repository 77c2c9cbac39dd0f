// What the document needs of the windows around it, as small interfaces that the window layer
// implements and tests replace with recording fakes. The document holds no pointer to a frame
// or a view: it reaches them only through the `DocumentHost` bundle it is given, and every
// member of the bundle may be null, in which case that channel does nothing (no log attached
// logs nothing; no prompts answer "cancel"; no busy indicator shows nothing).
//
// All calls come from the user-interface thread. Texts for people are wide strings (UTF-16 on
// Windows, UTF-32 here; wxString converts either); the output log takes the document's UTF-8
// log lines as they are.
#pragma once

#include "app/document/no_window_system.h"
#include "app/document/program_files.h"
#include "app/document/user_folders.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/procedural_texture.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// The output log pane.
class IOutputLog {
public:
    virtual ~IOutputLog() = default;
    // One line (UTF-8, no line break) with its level: 0 plain, 1 the saved-beside note,
    // 2 success, 3 warning, 4 error.
    virtual void AppendLine(const std::string& utf8Line, int level) = 0;
    // Removes every line (Process starts with an empty log).
    virtual void Clear() = 0;
    // The application's detailed-log switch: with it off the document drops timings.
    [[nodiscard]] virtual bool IsDetailedLogOn() const = 0;
};

// One message of the information box and its kind (0 ok, 1 warning, 2 error).
struct InformationMessage {
    std::wstring text;
    int kind = 0;
    friend bool operator==(const InformationMessage&, const InformationMessage&) = default;
};

// The coloured information box of the right pane.
class IInformationBox {
public:
    virtual ~IInformationBox() = default;
    // Kind 0 ok, 1 warning, 2 error. An empty text of kind 0 clears and hides the box.
    virtual void ShowInformation(const std::wstring& text, int kind) = 0;
    // The messages the box holds, the gravest first, each to be drawn in its own kind's colours
    // (none: the box empties). A box that draws one kind only shows them as one text, a blank
    // line between two, in the first one's kind.
    virtual void ShowMessages(const std::vector<InformationMessage>& messages)
    {
        std::wstring text;
        for (const InformationMessage& message : messages)
            text += (text.empty() ? L"" : L"\n\n") + message.text;
        ShowInformation(text, messages.empty() ? 0 : messages.front().kind);
    }
};

// The views of the document and the panes that follow it.
class IDocumentViews {
public:
    virtual ~IDocumentViews() = default;
    // Hint 0 full refresh, 1 projection only, 2 print-check colours, 3 leave the tools.
    virtual void UpdateAllViews(int hint) = 0;
    // Gives the view the keyboard focus (after Validate, Check Printability, Repair).
    virtual void FocusView() = 0;
    // Shows and activates the information pane (after an input-mesh job).
    virtual void ShowInformationPane() = 0;
    // The title, the path or the modified flag changed: the frame shows them.
    virtual void DocumentStateChanged() = 0;
};

enum class PromptAnswer : std::int32_t { yes = 0, no = 1, cancel = 2 };

// An open or save file dialog: its title, the filter in "Text|*.a;*.b|...||" form, the name to
// start with and the extension added to a name typed without one. A save dialog with a
// refusal asks it about the chosen file before it asks whether to replace one: a non-empty
// answer is shown and the dialog comes again.
struct FileDialogRequest {
    std::wstring title;
    std::wstring filter;
    std::wstring initialName;
    std::wstring defaultExtension;
    std::function<std::wstring(const std::filesystem::path&)> refusal = {};
};

// Questions to the user, answered as plain values.
class IPrompts {
public:
    virtual ~IPrompts() = default;
    [[nodiscard]] virtual bool AskYesNo(const std::wstring& question) = 0;
    // Empty labels keep the buttons' own words.
    [[nodiscard]] virtual PromptAnswer AskYesNoCancel(const std::wstring& question,
        const std::wstring& yesLabel, const std::wstring& noLabel,
        const std::wstring& cancelLabel) = 0;
    // The chosen file, or nothing when the user cancelled.
    [[nodiscard]] virtual std::optional<std::filesystem::path> AskOpenFile(
        const FileDialogRequest& request) = 0;
    [[nodiscard]] virtual std::optional<std::filesystem::path> AskSaveFile(
        const FileDialogRequest& request) = 0;
};

// The wait cursor. Calls nest: the cursor shows until every Begin has had its End.
class IBusyIndicator {
public:
    virtual ~IBusyIndicator() = default;
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
};

// Shows the wait cursor for as long as it lives; does nothing without an indicator.
class [[nodiscard]] BusyScope {
public:
    [[nodiscard]] explicit BusyScope(IBusyIndicator* indicator) : indicator_(indicator)
    {
        if (indicator_ != nullptr)
            indicator_->BeginBusy();
    }
    ~BusyScope()
    {
        if (indicator_ != nullptr)
            indicator_->EndBusy();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    IBusyIndicator* indicator_;
};

// A mesh job run modally: it reads `cancel` and must not throw.
using ModalJob = std::function<void(const std::atomic<bool>& cancel)>;

// Runs one modal job on one extra thread while the user-interface thread waits (a wait cursor,
// only paint messages, Esc sets the cancel flag); the job is joined before this returns.
class IModalJobRunner {
public:
    virtual ~IModalJobRunner() = default;
    // False when the job was cancelled (the flag was set) or could not be started.
    virtual bool RunModalJob(const ModalJob& job) = 0;
};

// What the export check dialog is given before it runs.
struct ExportDialogRequest {
    const grainforge::mesh::TriangleMesh* mesh = nullptr;  // the mesh to save
    // mm, for CleanupForExport; the document asks for each piece's own (kAutomaticWeldTolerance).
    float weldTolerance = 0.0f;
    grainforge::mesh::ExportCleanupOptions cleanup;
    grainforge::mesh::RepairOptions fixes;
    std::uint64_t bodies = 0;
    bool ascii = false;  // the file will be text (Save ASCII STL): the dialog is titled so
    std::wstring note;  // empty for none
    // Runs on the dialog's worker thread on the cleaned mesh: fills the text, returns whether
    // every check passed.
    std::function<bool(const grainforge::mesh::TriangleMesh&, std::string&)> check;
};

// What the export check dialog gives back on OK.
struct ExportDialogResult {
    grainforge::mesh::ExportCleanupOptions cleanup;
    grainforge::mesh::RepairOptions fixes;
    std::string reportText;  // UTF-8, logged by the document
    grainforge::mesh::TriangleMesh mesh;  // the mesh to write
    int choice = 0;
};

struct PresetResult;
// A preset a dialog loaded into its pattern: what the read gave and the name it is listed under.
using PresetReadNote = std::function<void(const PresetResult& read, std::string_view presetName)>;

// The dialogs the document opens, returning plain results; nothing means Cancel.
class IDocumentDialogs {
public:
    virtual ~IDocumentDialogs() = default;
    [[nodiscard]] virtual std::optional<grainforge::mesh::RemeshSettings> EditRemeshInput(
        const grainforge::mesh::RemeshSettings& settings,
        const grainforge::mesh::TriangleMesh& loadedPart) = 0;
    // The pattern is edited in place; null for Cancel. `mode` 2 from the document; the roots
    // are where the dialog's presets are listed, read and saved; `presetRead` hears of each
    // preset the dialog loads (it may be empty).
    [[nodiscard]] virtual std::unique_ptr<grainforge::mesh::procedural::ProceduralTexture>
    EditProceduralTexture(std::unique_ptr<grainforge::mesh::procedural::ProceduralTexture> pattern,
        int mode, const LibraryRoots& roots, const PresetReadNote& presetRead) = 0;
    [[nodiscard]] virtual std::optional<ExportDialogResult> RunExportCheck(
        const ExportDialogRequest& request) = 0;
};

// The application's recent-file list (four entries).
class IRecentFiles {
public:
    virtual ~IRecentFiles() = default;
    virtual void AddRecentFile(const std::filesystem::path& path) = 0;
};

// Where the factory data (beside the program) and the user's data (Documents/Tessary) lie.
class IFolders {
public:
    virtual ~IFolders() = default;
    [[nodiscard]] virtual std::filesystem::path ProgramFolder() const = 0;
    [[nodiscard]] virtual std::filesystem::path UserFolder() const = 0;
    // The places of the program's own files outside the library roots: its settings file, its
    // executable, its settings and cache folders (program_files.h). None by default.
    [[nodiscard]] virtual ProgramPlaces OwnPlaces() const { return {}; }
};

// A text a field holds that it refused: the refusal (which names the field) and the workflow
// step whose section holds the field (-1 outside the workflow).
struct HeldRefusal {
    std::wstring text;
    int step = -1;
};

// The windows' fields that keep a typed text they refused, to be mended (the Relief section's,
// the mask panel's). Work that reads the stored values in their place asks first.
class ITypedEntries {
public:
    virtual ~ITypedEntries() = default;
    // The refused texts the enabled fields hold now, in window order; nothing is taken or said.
    [[nodiscard]] virtual std::vector<HeldRefusal> HeldRefusals() const { return {}; }
    // Takes what each field shows, as Enter would. When a field holds a text it refuses, that
    // field is shown with its text selected, its refusal (which names it) is said followed by
    // `consequence`, and the answer is false.
    [[nodiscard]] virtual bool TakeTypedEntries(const std::wstring& consequence) = 0;
};

// The channels one document talks through. Not owned; null members do nothing.
struct DocumentHost {
    IOutputLog* log = nullptr;
    IInformationBox* information = nullptr;
    IDocumentViews* views = nullptr;
    IPrompts* prompts = nullptr;
    IBusyIndicator* busy = nullptr;
    IModalJobRunner* jobs = nullptr;
    IDocumentDialogs* dialogs = nullptr;
    IRecentFiles* recentFiles = nullptr;
    IFolders* folders = nullptr;
    ITypedEntries* entries = nullptr;
};

}  // namespace grainforge::app
