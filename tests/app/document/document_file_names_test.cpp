// File names in any script, and in bytes that are not UTF-8, through the document's commands:
// the part, the texture and the project keep their exact names from saving to opening again,
// and every text for people stays valid. Also: the document's save never writes over the file
// the part came from, whatever other name reaches it.
#include "app/document/document_commands.h"
#include "app/document/grey_bmp.h"
#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/temp_folder.h"

#include "engine/files/stl_reader.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

namespace grainforge::test {
namespace {

namespace fs = std::filesystem;

struct NameCase {
    const char* label;
    std::string stem;  // the name's bytes
};

const NameCase kNames[] = {
    {"umlaut", "\xC3\x9C" "bung"},
    {"CJK", "\xE9\x83\xA8\xE5\x93\x81"},
    {"emoji", "\xF0\x9F\xA7\xB1 brick"},
    {"bytes that are not UTF-8", "part\xFF"},
};

fs::path Named(const fs::path& folder, const std::string& stem, const char* extension)
{
    return folder / fs::path(stem + extension);
}

void WriteCube(const fs::path& path)
{
    fs::create_directories(path.parent_path());
    WriteAllBytes(path, mesh::EncodeBinaryStl(mesh::MakeTestCube(10.0f), "part"));
}

void WriteGrain(const fs::path& path)
{
    std::vector<std::uint8_t> pixels(8 * 8);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint8_t>(i * 4);
    ASSERT_TRUE(app::WriteGreyBmp(path, pixels, 8));
}

bool IsValidUtf8(const std::string& text) { return app::WideToUtf8(app::Utf8ToWide(text)) == text; }
bool IsDisplayable(const std::wstring& text) { return app::DisplayText(text) == text; }

// Every log line is UTF-8 and every box and question is text a window can show.
void ExpectTextsForPeople(const RecordingHost& host)
{
    for (const LoggedLine& line : host.lines)
        EXPECT_TRUE(IsValidUtf8(line.text)) << line.text;
    for (const auto& [text, kind] : host.information)
        EXPECT_TRUE(IsDisplayable(text));
    for (const std::wstring& question : host.questions)
        EXPECT_TRUE(IsDisplayable(question));
}

// A part whose name takes the file system's 255 bytes: the close question's Save Project As
// proposed a 258-byte name, which the file system refused ("the filename is too long"). Every
// name proposed from the part's is cut to fit, at a whole character, and can be written.
TEST(DocumentFileNames, NamesProposedFromALongestNameCanBeWritten)
{
    const struct {
        const char* name;
        std::string stem;  // 251 bytes: with ".stl" the longest name
        std::size_t projectBytes;
        std::string lastCharacter;  // before ".gfproj"
    } cases[] = {
        {"letters", std::string(251, 'a'), 255, "a"},
        {"two-byte letters", "a" + [] { std::string s; for (int i = 0; i < 125; ++i) s += "\xC3\xA9"; return s; }(),
            254, "\xC3\xA9"},
        {"letters with combining marks",
            "a" + [] { std::string s; for (int i = 0; i < 83; ++i) s += "e\xCC\x81"; return s; }() + "a", 254,
            "e\xCC\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.stem.size() + 4, 255u);
        TempFolder folder;
        const fs::path part = folder / fs::path(c.stem + ".stl");
        WriteCube(part);
        DocumentFixture f;
        ASSERT_TRUE(f.doc->OpenDocument(part));
        f.doc->OnFileSaveProjectAs();  // cancelled
        ASSERT_EQ(f.host.fileDialogs.size(), 1u);
        const fs::path project = app::PathFromWide(f.host.fileDialogs[0].initialName);
        const std::string name = project.filename().native();
        EXPECT_EQ(name.size(), c.projectBytes);
        EXPECT_TRUE(name.ends_with(c.lastCharacter + ".gfproj")) << name;
        EXPECT_TRUE(c.stem.starts_with(name.substr(0, name.size() - 7)));
        EXPECT_TRUE(IsValidUtf8(name)) << name;
        ASSERT_TRUE(f.doc->SaveProject(project));
        EXPECT_TRUE(fs::exists(project));

        f.host.acceptExport = true;
        f.doc->OnFileSaveStl(false);  // cancelled at its file dialog
        ASSERT_EQ(f.host.fileDialogs.size(), 2u);
        const std::string stl = app::PathFromWide(f.host.fileDialogs[1].initialName).filename().native();
        EXPECT_LE(stl.size(), 255u);
        EXPECT_TRUE(stl.ends_with(" as loaded.stl")) << stl;
        EXPECT_TRUE(IsValidUtf8(stl)) << stl;
    }
}

// A project naming such a part and texture, saved under such a name and moved with its files
// to another folder, opens again on the same part and texture (through the relative entries).
TEST(DocumentFileNames, ProjectWithSuchNamesReopensToTheSamePartAndTexture)
{
    for (const NameCase& name : kNames) {
        SCOPED_TRACE(name.label);
        TempFolder folder;
        const fs::path before = Named(folder.Path(), name.stem, " work");
        WriteCube(Named(before, name.stem, ".stl"));
        WriteGrain(Named(before, name.stem, ".bmp"));

        DocumentFixture f;
        app::CGrainforgeDoc& doc = *f.doc;
        doc.surfaceTestCells = 32;
        ASSERT_TRUE(doc.OpenDocument(Named(before, name.stem, ".stl")));
        ASSERT_TRUE(doc.LoadHeightMap(Named(before, name.stem, ".bmp")));
        EXPECT_EQ(app::PathFromWide(doc.partSourcePath), Named(before, name.stem, ".stl"));
        const fs::path project = Named(before, name.stem, ".gfproj");
        f.host.files.push_back(project);
        doc.OnFileSaveProjectAs();
        ASSERT_EQ(f.host.fileDialogNames.size(), 1u);
        EXPECT_EQ(app::PathFromWide(f.host.fileDialogNames[0]), project);  // beside the part, named after it
        EXPECT_TRUE(fs::exists(project));
        EXPECT_EQ(app::PathFromWide(doc.projectPath), project);
        ASSERT_FALSE(f.host.recentFiles.empty());
        EXPECT_EQ(f.host.recentFiles.back(), project);
        EXPECT_EQ(doc.GetTitle(), app::PathToDisplay(project.filename()));
        EXPECT_TRUE(IsDisplayable(doc.GetTitle()));
        ExpectTextsForPeople(f.host);

        const fs::path after = folder / "moved";
        fs::rename(before, after);
        DocumentFixture g;
        g.doc->surfaceTestCells = 32;
        ASSERT_TRUE(g.doc->OpenDocument(Named(after, name.stem, ".gfproj")));
        EXPECT_EQ(app::PathFromWide(g.doc->partSourcePath), Named(after, name.stem, ".stl"));
        EXPECT_EQ(app::PathFromWide(g.doc->textureImagePath), Named(after, name.stem, ".bmp"));
        EXPECT_TRUE(g.doc->IsHeightMapLoaded());
        EXPECT_TRUE(g.host.questions.empty());  // nothing had to be looked for
        ExpectTextsForPeople(g.host);
    }
}

// The save question, Save STL As and the mesh information report with such names: the question
// and the report show the name (U+FFFD for a byte outside UTF-8), the dialog proposes the part's
// name with " as loaded" added (nothing was processed), and the STL is written where the user chose.
TEST(DocumentFileNames, SaveQuestionStlSaveAndReportShowSuchNames)
{
    for (const NameCase& name : kNames) {
        SCOPED_TRACE(name.label);
        TempFolder folder;
        const fs::path part = Named(folder.Path(), name.stem, ".stl");
        WriteCube(part);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = *f.doc;
        doc.surfaceTestCells = 32;
        doc.displacementOn = false;
        ASSERT_TRUE(doc.OpenDocument(part));
        const fs::path project = Named(folder.Path(), name.stem, ".gfproj");
        ASSERT_TRUE(doc.SaveProject(project));

        doc.partTransform.translation = {1.0f, 0.0f, 0.0f};
        doc.SetModifiedFlag(true);
        f.host.answers.push_back(app::PromptAnswer::cancel);
        EXPECT_FALSE(doc.SaveModified());
        ASSERT_EQ(f.host.questions.size(), 1u);
        EXPECT_EQ(f.host.questions[0], L"Save the changes to " + app::PathToDisplay(project.filename()) + L"?");
        f.host.answers.push_back(app::PromptAnswer::yes);
        EXPECT_TRUE(doc.SaveModified());
        EXPECT_FALSE(doc.IsModified());

        const fs::path out = Named(folder.Path(), name.stem, " out.stl");
        f.host.acceptExport = true;
        f.host.files.push_back(out);
        EXPECT_TRUE(doc.SaveStlAs());
        ASSERT_FALSE(f.host.fileDialogNames.empty());
        EXPECT_EQ(app::PathFromWide(f.host.fileDialogNames.back()), Named(fs::path(), name.stem, " as loaded.stl"));
        const mesh::StlReadResult read = mesh::ReadStlFile(out, mesh::StlReadOptions{});
        EXPECT_TRUE(read.ok) << read.error;

        const std::string report = doc.MeshInformationReport();
        EXPECT_TRUE(IsValidUtf8(report));
        EXPECT_NE(report.find("Part\r\n  " + app::PathToUtf8(part.filename()) + "\r\n"), std::string::npos);
        ExpectTextsForPeople(f.host);
    }
}

// The document's save onto the loaded part by another name that reaches the same file opens
// "Save STL As" instead and leaves the file as it was; another file is written.
TEST(DocumentFileNames, SaveOntoTheLoadedPartByAnotherNameAsksWhereInstead)
{
    TempFolder folder;
    const fs::path parts = folder / "parts";
    const fs::path part = parts / "part.stl";
    WriteCube(part);
    fs::create_symlink(part, folder / "link.stl");
    fs::create_hard_link(part, folder / "hard.stl");
    struct Case {
        const char* label;
        fs::path target;
        bool isLoadedPart;
    };
    const Case cases[] = {
        {"through ./", parts / "." / "part.stl", true},
        {"through ../", parts / ".." / "parts" / "part.stl", true},
        {"symbolic link", folder / "link.stl", true},
        {"hard link", folder / "hard.stl", true},
        {"another file", folder / "other.stl", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        f.doc->displacementOn = false;
        ASSERT_TRUE(f.doc->OpenDocument(part));
        const std::vector<std::uint8_t> bytes = ReadAllBytes(part);
        f.host.acceptExport = true;
        EXPECT_EQ(f.doc->OnSaveDocument(c.target), !c.isLoadedPart);  // the dialog is cancelled
        EXPECT_EQ(f.host.fileDialogTitles, c.isLoadedPart ? std::vector<std::wstring>{L"Save STL As"}
                                                           : std::vector<std::wstring>{});
        EXPECT_EQ(ReadAllBytes(part), bytes);
        if (!c.isLoadedPart) {
            EXPECT_TRUE(fs::exists(c.target));
        }
    }
}

// Save Project As onto the part (also one changed since: the file is its original), the
// texture image or a preset, by any name that reaches it, is refused naming the file, and the
// dialog comes again: the files stay, and "Project saved" is said only for the other name
// chosen next. Save STL As likewise never writes STL bytes over the open project, the image or
// a preset: those used to be replaced with the document still counted as saved. The files the
// program keeps (its settings, the library's lists) were written over by either.
TEST(DocumentFileNames, NoSaveWritesOverAFileTheProgramHolds)
{
    TempFolder folder;
    const fs::path part = folder / "parts" / "part.stl";
    const fs::path image = folder / "grain.bmp";
    const fs::path preset = folder / "user" / "procedural" / "Noise" / "Rock.gfpreset";
    const fs::path project = folder / "job.gfproj";
    WriteCube(part);
    WriteGrain(image);
    fs::create_directories(preset.parent_path());
    WriteAllText(preset, "preset");
    fs::create_symlink(part, folder / "link.stl");
    fs::create_hard_link(image, folder / "hard.bmp");
    fs::create_symlink(image, folder / "image.stl");
    fs::create_hard_link(preset, folder / "rock.stl");
    const fs::path settings = folder / "config" / "Tessary.conf";
    const fs::path images = folder / "user" / "custom" / "images.json";
    const fs::path index = folder / "user" / "textures" / "Stone" / "_deleted.index";
    for (const fs::path& file : {settings, images, index}) {
        fs::create_directories(file.parent_path());
        WriteAllText(file, "kept");
    }
    fs::create_symlink(settings, folder / "settings.stl");
    fs::create_hard_link(index, folder / "index.gfproj");
    const wchar_t* own = L"one of the program's own files";
    struct Case {
        fs::path target;
        const wchar_t* what;
        bool stl;
        bool changed = false;
    };
    const Case cases[] = {{part, L"its own part", false}, {folder / "parts" / "." / "part.stl", L"its own part", false},
        {folder / "link.stl", L"its own part", false}, {part, L"its own part", false, true},
        {folder / "hard.bmp", L"its own texture image", false}, {preset, L"a preset file", false},
        {project, L"the open project", true}, {folder / "image.stl", L"the loaded texture image", true},
        {folder / "hard.bmp", L"the loaded texture image", true}, {folder / "rock.stl", L"a preset file", true},
        {images, own, true}, {images, own, false}, {folder / "settings.stl", own, true}, {settings, own, false},
        {folder / "index.gfproj", L"another name of a file in the program's own folders", false},
        {folder / "user" / "custom" / "seams.json", own, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        fs::remove(project);
        DocumentFixture f;
        f.host.userFolder = folder / "user";
        f.host.ownPlaces = {{settings}, {settings.parent_path()}};
        f.doc->surfaceTestCells = 32;
        f.doc->displacementOn = false;
        ASSERT_TRUE(f.doc->OpenDocument(part) && f.doc->LoadHeightMap(image));
        if (c.stl) {
            ASSERT_TRUE(f.doc->SaveProject(project));
        }
        f.doc->partChangedSinceOpened = c.changed;
        const std::vector<fs::path> kept{part, image, preset, project, settings, images, index};
        std::vector<std::vector<std::uint8_t>> before;
        for (const fs::path& file : kept)
            before.push_back(ReadAllBytes(file));
        const fs::path other = folder / (c.stl ? "out.stl" : "other.gfproj");
        f.host.files = {c.target, other};
        f.host.acceptExport = true;
        f.host.lines.clear();
        if (c.stl)
            EXPECT_TRUE(f.doc->SaveStlAs());
        else
            f.doc->OnFileSaveProjectAs();
        EXPECT_EQ(f.host.fileDialogTitles.size(), 2u);
        for (std::size_t i = 0; i < kept.size(); ++i)
            EXPECT_EQ(ReadAllBytes(kept[i]), before[i]) << kept[i];
        const std::wstring where = c.target.lexically_normal().wstring();
        const std::pair<std::wstring, int> refusal{c.stl
                ? std::wstring(L"This file could not be saved.\nThe file chosen is ") + c.what + L":\n" + where +
                    L"\nSaving the STL there would replace it. Choose another name for the STL."
                : std::wstring(L"The project could not be saved: the file chosen is ") + c.what + L".\n" + where +
                    L"\nSaving the project there would replace it. Choose another name for the project.",
            app::kInfoError};
        // The refusal leads the box; a project saved before still stands under it.
        EXPECT_NE(std::find_if(f.host.information.begin(), f.host.information.end(),
                      [&refusal](const std::pair<std::wstring, int>& shown) {
                          return shown.second == refusal.second && shown.first.starts_with(refusal.first);
                      }),
            f.host.information.end());
        if (c.stl) {
            // The dialog is given the refusal, so that it refuses before it asks to replace.
            ASSERT_TRUE(f.host.fileDialogs.front().refusal);
            EXPECT_EQ(f.host.fileDialogs.front().refusal(c.target), refusal.first.substr(30));
            EXPECT_TRUE(fs::exists(other));
        } else {
            EXPECT_EQ(f.host.Lines(app::kLogSuccess), std::vector<std::string>{"Project saved: " + other.string()});
        }
    }
}

}  // namespace
}  // namespace grainforge::test
