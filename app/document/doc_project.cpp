// The document's side of the project file: gathering what a project stores, writing a changed
// part beside it, taking up a project's work again, and the project commands.
#include "app/document/document_commands.h"
#include "app/document/file_identity.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/preset_files.h"
#include "app/document/project_file.h"
#include "app/document/proposed_file_name.h"

#include "engine/mesh/report_text.h"
#include "engine/textures/image_loading.h"
#include "engine/textures/procedural_registry.h"
#include "platform/file_system.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <tuple>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

constexpr const wchar_t* kProjectFilter = L"Tessary projects (*.gfproj)|*.gfproj|All files (*.*)|*.*||";
constexpr const wchar_t* kOpenProjectTitle = L"Open Project";
constexpr const wchar_t* kSaveProjectTitle = L"Save Project As";
constexpr const wchar_t* kPartFilter = L"STL files (*.stl)|*.stl|All files (*.*)|*.*||";
constexpr const wchar_t* kFindPartTitle = L"Find the Project's Part";
constexpr const wchar_t* kProjectWaitsText =
    L"The project was not saved, so that it does not keep a value other than the one shown.";

// Why a project's part is not found, as " (<cause>)", where more is in the way than the file
// gone: a link that leads nowhere, a folder gone or renamed. Empty otherwise, and for a name
// that is not one of this system.
std::string MissingPartCause(const std::filesystem::path& part)
{
    std::error_code status;
    const bool plain = !part.is_absolute() || NameHoldsNul(part) ||
        (std::filesystem::is_directory(part.parent_path(), status) &&
            !std::filesystem::is_symlink(std::filesystem::symlink_status(part, status)));
    return plain ? std::string() : " (" + platform::FileErrorCauseText(part, ENOENT, platform::FileUse::read) + ")";
}

// The name the part's file dialog starts with: the missing file's name in the folder it was in,
// or, when that folder is gone too, in the project's folder. A name holding NUL names no file.
std::wstring MissingPartDialogName(const std::filesystem::path& project, const std::filesystem::path& part)
{
    std::error_code error;
    std::filesystem::path folder = part.parent_path();
    if (!part.is_absolute() || NameHoldsNul(part) || !std::filesystem::is_directory(folder, error))
        folder = std::filesystem::absolute(project, error).parent_path();
    const std::filesystem::path name = NameHoldsNul(part) ? std::filesystem::path() : part.filename();
    return PathToWide(folder / name);
}

}  // namespace

std::vector<KeptFile> CGrainforgeDoc::FilesAProjectKeeps() const
{
    std::vector<KeptFile> kept;
    if (testShapeName.empty())
        kept.push_back({PathFromWide(partSourcePath), "its own part"});
    if (!proceduralTexture)
        kept.push_back({PathFromWide(textureImagePath), "its own texture image"});
    for (std::filesystem::path& preset : AllPresetFiles(LibraryRootsOfHost()))
        kept.push_back({std::move(preset), "a preset file"});
    return kept;
}

std::string CGrainforgeDoc::ProjectTargetRefusal(const std::filesystem::path& path) const
{
    const std::vector<KeptFile> kept = FilesAProjectKeeps();
    if (const KeptFile* input = FindKeptFile(path, kept))
        return input->what;
    return ProgramFileWhat(path, ProgramPlacesOfHost());
}

bool CGrainforgeDoc::SaveProject(const std::filesystem::path& path)
{
    if (!HasPart() || !TypedEntriesTaken(kProjectWaitsText))
        return false;
    return SaveProjectAt(path, false) == ProjectSave::saved;
}

bool CGrainforgeDoc::MayReplaceOpenProjectFile(const std::filesystem::path& path)
{
    if (projectPath.empty() || !IsSameFile(path, PathFromWide(projectPath)) || !RegularFileAt(path) ||
        !WrittenOverSince(path, projectLeft))
        return true;
    const std::wstring name = PathToDisplay(path.filename());
    const std::wstring question = name + L" was changed on disk after this window opened or saved it (another "
        L"window or program saved it).\nDo you want to replace it with the project in this window?";
    if (host.prompts != nullptr && host.prompts->AskYesNo(question))
        return true;
    LogMessage("Project not saved: " + PathToUtf8(path) + " was changed on disk after this window opened or saved it, "
               "and is kept as it is; this window's work is still open, to save under another name",
        kLogWarning);
    ShowInformation(L"The project was not saved: " + name + L" was changed on disk after this window opened or saved "
                    L"it, and is kept as it is.\nThis window's work is still open: Save Project As keeps it under "
                    L"another name.",
        kInfoWarning, InfoEvent::project);
    return false;
}

CGrainforgeDoc::ProjectSave CGrainforgeDoc::SaveProjectAt(const std::filesystem::path& given, bool replaceAgreed)
{
    // Kept as the project's name and in the recent files: absolute, like every file taken in.
    const std::filesystem::path path = AbsoluteFileName(given);
    if (!HasPart())
        return ProjectSave::failed;

    ProjectData data;
    const EditState state = CaptureEditState();
    if (testShapeName.empty())
        data.partPath = PathFromWide(partSourcePath);
    data.testShape = testShapeName;
    data.partTransform = state.partTransform;
    data.projection = projection;
    data.masks = state.masks;
    data.remesh = state.remesh;
    data.displacement = state.displacement;
    data.simplify = state.simplify;
    data.stageRemesh = state.remeshOn;
    data.stageDisplacement = state.displacementOn;
    data.stageSimplify = state.simplifyOn;
    data.occupancyCells = surfaceTestCells;
    data.maximumTriangles = state.maximumTriangles;
    data.displayTriangles = state.displayTriangles;
    data.exportCleanup = exportCleanupOptions;
    data.exportFixes = exportFixes;
    data.textureSettings = state.textureSettings;
    if (!state.patternName.empty()) {
        data.proceduralName = state.patternName;
        data.proceduralParameters = state.patternParameters;
        data.proceduralPreset = WideToUtf8(state.presetName);
    } else if (!state.imagePath.empty()) {
        data.textureImagePath = PathFromWide(state.imagePath);
    } else if (!state.keptPattern.name.empty()) {
        // The pattern this program does not know, while no other texture took its place.
        data.proceduralName = state.keptPattern.name;
        data.proceduralParameters = state.keptPattern.parameters;
        data.proceduralPreset = state.keptPattern.preset;
    }
    // A mask volume's own kept members are on the volume, and go as it goes.
    data.membersKept = projectKept.members;

    // Written over its part or image, the project would name itself as that file and the only
    // copy would be gone. A changed part goes beside, but the file it came from is still the
    // user's original. A preset or another of the program's own files is no project's to
    // replace either.
    if (const std::string what = ProjectTargetRefusal(path); !what.empty()) {
        const std::string where = PathToUtf8(path);
        LogMessage("Project not saved: the file chosen is " + what + ": " + where, kLogError);
        ShowInformation(L"The project could not be saved: the file chosen is " + Utf8ToWide(what) + L".\n" +
                            Utf8ToWide(where) + L"\nSaving the project there would replace it. Choose another name "
                            L"for the project.",
            kInfoError, InfoEvent::project);
        return ProjectSave::targetIsInput;
    }

    if (!replaceAgreed && !MayReplaceOpenProjectFile(path))
        return ProjectSave::failed;

    const BusyScope busy(host.busy);
    const bool fileWasThere = RegularFileAt(path);
    const auto reportNotSaved = [&](const std::string& error) {
        LogMessage("Project not saved: " + error, kLogError);
        ShowInformation(L"The project could not be saved.\n" + Utf8ToWide(PathToUtf8(path.filename()) + ": " + error) +
                            (fileWasThere ? L"\n" + std::wstring(kFileKeptText) : L""),
            kInfoError, InfoEvent::project);
        return ProjectSave::failed;
    };
    // A target no project can be written at is refused before the changed part is written.
    if (std::string error; !CanWriteProjectAt(path, error))
        return reportNotSaved(error);

    std::filesystem::path besidePart;
    if (partChangedSinceOpened) {
        std::string message;
        std::filesystem::path tried;
        try {
            besidePart = WritePartUnderFreeBesideName(path, PathFromWide(partSourcePath), loadedPart, message, &tried);
        } catch (const std::bad_alloc&) {
            message = "there is not enough memory to write it";
        }
        if (besidePart.empty()) {
            // Named as a failed save of the project is: the file, the cause, and the project kept.
            const std::string named = tried.empty() ? message : PathToUtf8(tried.filename()) + ": " + message;
            LogMessage("Project not saved: the changed part could not be written beside it: " +
                           (tried.empty() ? message : PathToUtf8(tried) + ": " + message),
                kLogError);
            // The file named is the part's, which was never there: what is kept is the project.
            // A part's name is the project's and more, so a project name near the limit leaves
            // it none: a shorter one does.
            const bool nameTooLong = tried.filename().native().size() > platform::kLongestFileNameBytes;
            ShowInformation(L"The project could not be saved: the changed part could not be written beside it.\n" +
                                Utf8ToWide(named) + (fileWasThere ? L"\n" + std::wstring(kProjectKeptText) : L"") +
                                (nameTooLong ? L"\n" + std::wstring(kShorterProjectNameText) : L""),
                kInfoError, InfoEvent::project);
            return ProjectSave::failed;
        }
        data.partPath = besidePart;
        data.testShape.clear();
    }

    std::string error;
    bool projectWritten = false;
    try {
        projectWritten = WriteProject(path, data, error);
    } catch (const std::bad_alloc&) {
        error = "the file could not be written";
    }
    if (!projectWritten) {
        // The old project still names its own part, which is left where it was; the part just
        // written went to a name that was free, so removing it takes nothing from anyone.
        if (partChangedSinceOpened)
            platform::RemoveFileQuietly(besidePart);
        return reportNotSaved(error);
    }

    // The part the project named before stays where it is: copies of this project, and
    // projects saved from it under other names, may still name it.
    if (partChangedSinceOpened) {
        partSourcePath = PathToWide(besidePart);
        testShapeName.clear();
        partChangedSinceOpened = false;
        LogMessage("The part was changed after it was opened, so it is saved beside the project: " +
                       PathToUtf8(besidePart),
            kLogSavedBeside);
    }

    projectPath = PathToWide(path);
    projectLeft = FileLeftAt(path);
    SetPathName(path);
    if (host.recentFiles != nullptr)
        host.recentFiles->AddRecentFile(path);
    SetModifiedFlag(false);
    const std::string saved = "Project saved: " + PathToUtf8(path);
    LogMessage(saved, kLogSuccess);
    // The box names the file, as after a save of the part; the log keeps where it went. A
    // whole path is one long word the box can only break in the middle.
    ShowInformation(L"Project saved: " + PathToDisplay(path.filename()), kInfoOk, InfoEvent::project);
    return ProjectSave::saved;
}

bool CGrainforgeDoc::OpenProject(const std::filesystem::path& path)
{
    const BusyScope busy(host.busy);
    ProjectData data;
    // Taken before the file is read: a save by another window in between is then asked about
    // at the next save, never missed.
    const FileLeft left = FileLeftAt(path);
    // Named first, so that the log says which file a refusal below is about.
    LogMessage("Opening project " + PathToUtf8(path), kLogPlain);
    if (!ReadProjectToOpen(path, data))
        return false;
    if (!OpenProjectPart(path, data))
        return false;
    const ProjectTextureOutcome texture = InstallProjectTexture(data);
    // Before the settings are applied, so that the snapshot they go through, and the history's
    // base after it, hold the pattern not known.
    projectKept = ProjectKept{};
    projectKept.members = data.membersKept;
    if (texture.unknownPattern)
        projectKept.pattern = {data.proceduralName, data.proceduralParameters, data.proceduralPreset};
    ApplyProjectSettings(data);

    ResetUndoHistory();
    projectPath = PathToWide(path);
    projectLeft = left;
    SetModifiedFlag(false);
    UpdateAllViews(kHintFullRefresh);

    ShowProjectOpeningWarnings(data, texture);
    if (data.stageSubdivide)
        LogMessage("The project had Subdivide switched on. Subdivide is no longer a step: the relief is made at "
                   "the triangle size, so a smaller triangle size is what gives finer relief now.",
            kLogWarning);
    LogMessage("Project opened: " + PathToUtf8(path), kLogSuccess);
    return true;
}

bool CGrainforgeDoc::ReadProjectToOpen(const std::filesystem::path& path, ProjectData& data)
{
    std::string error;
    bool read = false;
    try {
        read = ReadProject(path, data, error);
    } catch (const std::bad_alloc&) {
        // Nothing is built in here while memory is short: the text follows once it is freed.
        error.clear();
    }
    if (read)
        return true;
    if (error.empty())
        error = kProjectMemoryError;
    RefuseProjectOpening(path, error);
    return false;
}

void CGrainforgeDoc::RefuseProjectOpening(const std::filesystem::path& path, const std::string& reason)
{
    // The box names the file before its cause, so the cause reads on after a colon (the log has
    // named it whole just before); nothing was taken from the project yet, so what was open stays
    // as it was, which the box says.
    LogMessage("Project not opened: " + reason, kLogError);
    ShowInformation(L"This project could not be opened.\n" + Utf8ToWide(PathToUtf8(path.filename()) + ": " + reason) +
                        (HasPart() ? L"\nWhat was open stays as it was." : L""),
        kInfoError, InfoEvent::part);
}

bool CGrainforgeDoc::OpenProjectPart(const std::filesystem::path& path, const ProjectData& data)
{
    // The part. A test shape this program does not make (a hand-edited name) is no part at
    // all: asking to find a file with no name would help nobody.
    if (!data.testShape.empty() && data.partPath.empty() && !IsMadeTestShape(data.testShape)) {
        RefuseProjectOpening(path, "the project names a test shape this program does not make: " + data.testShape);
        return false;
    }
    if (data.testShape == "cube") {
        OnFileTestShapeCube();
    } else if (data.testShape == "cylinder") {
        OnFileTestShapeCylinder();
    } else if (data.testShape == "sphere") {
        OnFileTestShapeSphere();
    } else if (ProjectFileExists(data.partPath)) {
        if (!ImportStl(data.partPath))
            return false;
    } else {
        const std::string where = PathToUtf8(data.partPath);
        const std::string cause = MissingPartCause(data.partPath);
        LogMessage("The project's part is not at " + where + cause, kLogWarning);
        const std::wstring notFound = L"The project's part was not found:\n" + Utf8ToWide(where + cause);
        if (host.prompts == nullptr || !host.prompts->AskYesNo(notFound + L"\n\nFind it?")) {
            ShowInformation(notFound, kInfoError, InfoEvent::part);
            return false;
        }
        const std::optional<std::filesystem::path> chosen = host.prompts->AskOpenFile(
            {kFindPartTitle, kPartFilter, MissingPartDialogName(path, data.partPath), L"stl"});
        if (!chosen || !ImportStl(*chosen))
            return false;
    }
    return true;
}

CGrainforgeDoc::ProjectTextureOutcome CGrainforgeDoc::InstallProjectTexture(ProjectData& data)
{
    // The texture. One that cannot be installed leaves no texture at all: the previous
    // document's map would otherwise be processed under this project's settings.
    ProjectTextureOutcome outcome;
    if (!data.proceduralName.empty()) {
        std::unique_ptr<mesh::procedural::ProceduralTexture> pattern =
            mesh::procedural::CreateProceduralTexture(data.proceduralName);
        if (pattern) {
            mesh::procedural::ParametersFromText(*pattern, data.proceduralParameters);
            for (HeldValue& held : HeldPatternParameters(*pattern, data.proceduralParameters))
                data.valuesHeld.push_back(std::move(held));
            NoteParameterWords(*pattern, data.proceduralParameters, "", data);
            // The values as held, which the settings below take up and a save writes.
            data.proceduralParameters = mesh::procedural::ParametersToText(*pattern);
            RenderProceduralTexture(std::move(pattern), Utf8ToWide(data.proceduralPreset), false);
            outcome.installed = proceduralTexture != nullptr;
        } else {
            outcome.unknownPattern = true;
        }
    } else if (!data.textureImagePath.empty()) {
        outcome.missing = !ProjectFileExists(data.textureImagePath);
        outcome.installed = !outcome.missing && LoadHeightMap(data.textureImagePath, false);
        outcome.unreadable = !outcome.missing && !outcome.installed;
    }
    if (!outcome.installed) {
        proceduralTexture.reset();
        proceduralPresetName.clear();
        // A missing image stays named, so that a save keeps it for when it is back; a name
        // holding NUL names no file and is not written back.
        textureImagePath = (outcome.missing || outcome.unreadable) && !NameHoldsNul(data.textureImagePath)
            ? PathToWide(data.textureImagePath)
            : std::wstring();
        EmptyHeightMap(heightMap);
        heightMap.sourceName.clear();
        ++pixelGeneration;
        ++pipelinePixelGeneration;
        SyncTextureToPipeline();
    }
    return outcome;
}

void CGrainforgeDoc::ApplyProjectSettings(const ProjectData& data)
{
    // The settings, through a snapshot so that everything is applied as an undo step would.
    EditState state = CaptureEditState();
    state.partTransform = data.partTransform;
    state.projection = data.projection;
    state.masks = data.masks;
    state.remeshOn = data.stageRemesh || data.stageDisplacement;
    state.displacementOn = data.stageDisplacement;
    state.simplifyOn = data.stageSimplify;
    state.maximumTriangles = data.maximumTriangles;
    state.displayTriangles = data.displayTriangles;
    state.textureSettings = data.textureSettings;
    state.remesh = data.remesh;
    state.displacement = data.displacement;
    state.simplify = data.simplify;
    if (!state.patternName.empty())
        state.patternParameters = data.proceduralParameters;
    RestoreEditState(state);
    RefreshProceduralTexture(true);
    // The texture as the project has it: its values, seams, levels, size and placement are in
    // place only now.
    if (proceduralTexture)
        LogProceduralTexture();
    else if (IsHeightMapLoaded())
        LogImageTexture(true);

    exportCleanupOptions = data.exportCleanup;
    exportFixes = data.exportFixes;
    if (data.occupancyCells != surfaceTestCells) {
        surfaceTestCells = data.occupancyCells;
        if (HasPart()) {
            const BusyScope rebuilding(host.busy);
            RebuildSurfaceTestGrid();
            UpdatePreview();
        }
    }
}

void CGrainforgeDoc::ShowProjectOpeningWarnings(const ProjectData& data, const ProjectTextureOutcome& texture)
{
    // The opening's warnings are one word in the box: each holds, so none may take another's place.
    std::wstring warnings;
    const auto warn = [&warnings](const std::wstring& text) { warnings += (warnings.empty() ? L"" : L"\n\n") + text; };
    const auto say = [&](const std::string& text) {
        if (!text.empty()) {
            LogMessage(text, kLogWarning);
            warn(Utf8ToWide(text));
        }
    };
    say(FormatNewerVersion(data));
    if (texture.unknownPattern)
        say("The project's pattern \"" + data.proceduralName + "\" is not known here; load a texture. Its name, "
            "parameters and preset are kept and saved with the project until another texture takes its place.");
    if (texture.missing) {
        const std::string where = PathToUtf8(data.textureImagePath);
        LogMessage("The project's texture is not at " + where + "; its settings are kept", kLogWarning);
        warn(L"The project's texture was not found:\n" + Utf8ToWide(where) +
             L"\nLoad it again; its size and placement are kept.");
    }
    if (texture.unreadable) {
        // The load has shown its own reason already; this says what became of the project.
        const std::string where = PathToUtf8(data.textureImagePath);
        LogMessage("The project's texture at " + where + " is not an image this program reads; its settings are kept",
            kLogWarning);
        warn(L"The project's texture is not an image this program reads:\n" + Utf8ToWide(where) +
             L"\nLoad another; its size and placement are kept.");
    }
    // A copy of the project beside other files of the same names opens those, as designed; the
    // files it was saved with are still there, so which one was taken is said.
    for (const auto& [saved, opened, what, isTexture] :
        {std::tuple{&data.partSavedElsewhere, &data.partPath, "part", false},
            std::tuple{&data.textureSavedElsewhere, &data.textureImagePath, "texture image", true}}) {
        if (saved->empty() || (isTexture && (!texture.installed || !data.proceduralName.empty())))
            continue;
        const std::string said = "The project was saved with the " + std::string(what) + " " + PathToUtf8(*saved) +
            ", which is still there; the " + what + " beside the project was opened: " + PathToUtf8(*opened);
        LogMessage(said, kLogWarning);
        warn(Utf8ToWide(said));
    }
    if (const std::string leftOut = FormatMasksLeftOut(data); !leftOut.empty()) {
        LogMessage(leftOut, kLogWarning);
        warn(Utf8ToWide(leftOut + " Saving the project keeps only those opened."));
    }
    // With the aspect locked the tile's height follows its width at the texture's aspect: the
    // height said is the one in force, also where the project's own height lay in its range.
    std::vector<HeldValue> valuesHeld = data.valuesHeld;
    if (heightMap.settings.lockAspect) {
        const float inForce = heightMap.settings.heightMillimetres;
        const auto held = std::find_if(valuesHeld.begin(), valuesHeld.end(),
            [](const HeldValue& value) { return value.name == kHeldTileHeightName; });
        if (held != valuesHeld.end())
            held->now = inForce;
        else if (inForce != data.textureSettings.heightMillimetres)
            valuesHeld.push_back({kHeldTileHeightName, data.textureSettings.heightMillimetres, inForce, "mm"});
    }
    say(FormatEntriesNotUsed(data));
    say(FormatMembersNotRead(data));
    say(FormatRepeatedMembers(data));
    say(FormatChangedValuesWarning(data.valuesReplaced, valuesHeld));
    if (!warnings.empty())
        ShowInformation(warnings, kInfoWarning, InfoEvent::part);
}

void CGrainforgeDoc::OnFileOpenProject()
{
    if (host.prompts == nullptr)
        return;
    const std::optional<std::filesystem::path> chosen =
        host.prompts->AskOpenFile({kOpenProjectTitle, kProjectFilter, L"", L"gfproj"});
    if (!chosen || !SaveModified())
        return;
    (void)OpenDocument(*chosen);
}

void CGrainforgeDoc::OnFileSaveProject()
{
    if (!projectPath.empty())
        (void)SaveProject(PathFromWide(projectPath));
    else
        OnFileSaveProjectAs();
}

void CGrainforgeDoc::OnFileSaveProjectAs()
{
    if (!HasPart() || host.prompts == nullptr || !TypedEntriesTaken(kProjectWaitsText))
        return;
    // The dialog starts beside the project, or else beside the part, named after it.
    std::filesystem::path beside;
    if (!projectPath.empty())
        beside = PathFromWide(projectPath);
    else if (testShapeName.empty() && !partSourcePath.empty())
        beside = PathFromWide(partSourcePath);
    const std::filesystem::path initial = beside.empty()
        ? std::filesystem::path("Project.gfproj")
        : beside.parent_path() / ProposedFileName(beside.stem(), ".gfproj");
    // A name that is the part's or the image's own file is refused: the dialog comes again
    // until another name is chosen or it is cancelled.
    // The dialog refuses them too, before it asks whether to replace the file.
    const auto refusal = [this](const std::filesystem::path& path) {
        const std::string what = ProjectTargetRefusal(path);
        return what.empty() ? std::wstring()
                            : L"The file chosen is " + Utf8ToWide(what) + L":\n" + PathToDisplay(path) +
                L"\nSaving the project there would replace it. Choose another name for the project.";
    };
    for (;;) {
        const std::optional<std::filesystem::path> chosen =
            host.prompts->AskSaveFile({kSaveProjectTitle, kProjectFilter, PathToWide(initial), L"gfproj", refusal});
        if (!chosen || SaveProjectAt(*chosen, true) != ProjectSave::targetIsInput)
            return;
    }
}

bool CGrainforgeDoc::SaveModified()
{
    if (!IsModified() || !HasPart())
        return true;
    const std::wstring question =
        projectPath.empty()
            ? std::wstring(L"Save the project before going on?\n\nIt keeps the part, the texture, its placement, "
                           L"the masks and every setting.")
            : L"Save the changes to " + PathToDisplay(PathFromWide(projectPath).filename()) + L"?";
    const PromptAnswer answer = host.prompts != nullptr
        ? host.prompts->AskYesNoCancel(question, L"", L"", L"")
        : PromptAnswer::cancel;
    if (answer == PromptAnswer::cancel)
        return false;
    if (answer == PromptAnswer::no)
        return true;
    if (projectPath.empty())
        OnFileSaveProjectAs();
    else
        (void)SaveProject(PathFromWide(projectPath));
    return !IsModified();
}

}  // namespace grainforge::app
