// Test doubles of the document's channels: every call is recorded (log lines with their
// levels, information texts with their kinds, view hints, questions asked), prompts are
// answered from a script, and modal jobs run on a thread that is joined.
#pragma once

#include "app/document/document_host.h"
#include "app/document/grainforge_doc.h"
#include "app/document/sync_job_runner.h"

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace grainforge::test {

struct LoggedLine {
    std::string text;
    int level = 0;
    friend bool operator==(const LoggedLine&, const LoggedLine&) = default;
};

class RecordingHost final : public app::IOutputLog,
                            public app::IInformationBox,
                            public app::IDocumentViews,
                            public app::IPrompts,
                            public app::IBusyIndicator,
                            public app::IDocumentDialogs,
                            public app::IRecentFiles,
                            public app::IFolders,
                            public app::ITypedEntries {
public:
    // Output log
    void AppendLine(const std::string& line, int level) override { lines.push_back({line, level}); }
    void Clear() override
    {
        lines.clear();
        ++clears;
    }
    bool IsDetailedLogOn() const override { return detailedLog; }

    // Information box, views
    void ShowInformation(const std::wstring& text, int kind) override { information.emplace_back(text, kind); }
    void ShowMessages(const std::vector<app::InformationMessage>& shown) override
    {
        messages = shown;
        IInformationBox::ShowMessages(shown);
    }
    void UpdateAllViews(int hint) override { hints.push_back(hint); }
    void FocusView() override { ++focusCalls; }
    void ShowInformationPane() override { ++informationPaneCalls; }
    void DocumentStateChanged() override { ++stateChanges; }

    // Prompts: answered from the script, "cancel" once it runs out.
    bool AskYesNo(const std::wstring& question) override
    {
        return NextAnswer(question) == app::PromptAnswer::yes;
    }
    app::PromptAnswer AskYesNoCancel(const std::wstring& question, const std::wstring&,
        const std::wstring&, const std::wstring&) override
    {
        return NextAnswer(question);
    }
    std::optional<std::filesystem::path> AskOpenFile(const app::FileDialogRequest& request) override
    {
        return NextFile(request);
    }
    std::optional<std::filesystem::path> AskSaveFile(const app::FileDialogRequest& request) override
    {
        return NextFile(request);
    }

    // Busy indicator
    void BeginBusy() override
    {
        ++busyDepth;
        ++busyScopes;
    }
    void EndBusy() override { --busyDepth; }

    // Dialogs: the procedural dialog accepts the pattern as offered unless told to cancel.
    std::optional<mesh::RemeshSettings> EditRemeshInput(const mesh::RemeshSettings& settings,
        const mesh::TriangleMesh&) override
    {
        return acceptDialogs ? std::optional(settings) : std::nullopt;
    }
    std::unique_ptr<mesh::procedural::ProceduralTexture> EditProceduralTexture(
        std::unique_ptr<mesh::procedural::ProceduralTexture> pattern, int, const app::LibraryRoots& roots,
        const app::PresetReadNote& presetRead) override
    {
        patternsOffered.push_back(pattern ? pattern->Name() : std::string());
        dialogRoots = roots;
        if (inPatternDialog && pattern)
            inPatternDialog(*pattern, presetRead);
        return acceptDialogs ? std::move(pattern) : nullptr;
    }
    // The export dialog: cancels unless told to accept; accepting runs the request's check on
    // a copy of the mesh, as the dialog's worker does, and hands the copy back to be written.
    std::optional<app::ExportDialogResult> RunExportCheck(const app::ExportDialogRequest& request) override
    {
        if (exportDialog)
            return exportDialog(request);
        exportNotes.push_back(request.note);
        exportWeldTolerance = request.weldTolerance;
        if (!acceptExport || request.mesh == nullptr)
            return std::nullopt;
        app::ExportDialogResult result;
        result.cleanup = request.cleanup;
        result.fixes = request.fixes;
        result.mesh = *request.mesh;
        exportCheckPassed = request.check && request.check(result.mesh, result.reportText);
        return result;
    }

    void AddRecentFile(const std::filesystem::path& path) override { recentFiles.push_back(path); }
    std::filesystem::path ProgramFolder() const override { return programFolder; }
    std::filesystem::path UserFolder() const override { return userFolder; }
    app::ProgramPlaces OwnPlaces() const override { return ownPlaces; }
    // The windows' fields: one holds a refused text while `entryRefused` is set.
    std::vector<app::HeldRefusal> HeldRefusals() const override { return heldRefusals; }
    bool TakeTypedEntries(const std::wstring& consequence) override
    {
        ++entryChecks;
        if (entryRefused)
            entryRefusals.push_back(consequence);
        return !entryRefused;
    }

    app::DocumentHost Host()
    {
        return {this, this, this, this, this, &jobs, this, this, this, this};
    }

    // Lines at `level` (any level when negative).
    std::vector<std::string> Lines(int level = -1) const
    {
        std::vector<std::string> out;
        for (const LoggedLine& line : lines)
            if (level < 0 || line.level == level)
                out.push_back(line.text);
        return out;
    }

    std::vector<LoggedLine> lines;
    int clears = 0;
    bool detailedLog = false;
    std::vector<std::pair<std::wstring, int>> information;
    std::vector<app::InformationMessage> messages;  // the box's messages as last shown, with their kinds
    std::vector<int> hints;
    int focusCalls = 0;
    int informationPaneCalls = 0;
    int stateChanges = 0;
    std::vector<std::wstring> questions;
    std::deque<app::PromptAnswer> answers;
    std::vector<std::wstring> fileDialogTitles;
    std::vector<std::wstring> fileDialogNames;
    std::vector<app::FileDialogRequest> fileDialogs;
    // The refused texts the windows' fields are said to hold.
    std::vector<app::HeldRefusal> heldRefusals;
    std::deque<std::optional<std::filesystem::path>> files;
    int busyDepth = 0;
    int busyScopes = 0;
    bool acceptDialogs = true;
    bool acceptExport = false;
    bool exportCheckPassed = false;
    // When set, stands for the export dialog (a test running the real check).
    std::function<std::optional<app::ExportDialogResult>(const app::ExportDialogRequest&)> exportDialog;
    std::vector<std::wstring> exportNotes;
    float exportWeldTolerance = -1.0f;  // the tolerance the last check was asked to clean up with
    std::vector<std::string> patternsOffered;
    // What the procedural dialog does to the pattern it is offered, as the user would (load a
    // preset, telling `presetRead`; change values); nothing when empty.
    std::function<void(mesh::procedural::ProceduralTexture&, const app::PresetReadNote&)> inPatternDialog;
    app::LibraryRoots dialogRoots;
    std::vector<std::filesystem::path> recentFiles;
    std::filesystem::path programFolder;
    std::filesystem::path userFolder;
    app::ProgramPlaces ownPlaces;
    app::SyncJobRunner jobs;
    bool entryRefused = false;
    int entryChecks = 0;
    std::vector<std::wstring> entryRefusals;  // what the document said it did not do

private:
    app::PromptAnswer NextAnswer(const std::wstring& question)
    {
        questions.push_back(question);
        if (answers.empty())
            return app::PromptAnswer::cancel;
        const app::PromptAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::filesystem::path> NextFile(const app::FileDialogRequest& request)
    {
        fileDialogTitles.push_back(request.title);
        fileDialogNames.push_back(request.initialName);
        fileDialogs.push_back(request);
        if (files.empty())
            return std::nullopt;
        std::optional<std::filesystem::path> file = files.front();
        files.pop_front();
        return file;
    }
};

}  // namespace grainforge::test
