// The project commands through the document: what a save writes and an open takes up again,
// the part beside the project, the missing part and texture, failed saves.
#include "app/document/document_commands.h"
#include "app/document/grey_bmp.h"
#include "app/document/log_text.h"
#include "app/document/project_file.h"
#include "app/document/texture_library.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_folder.h"

#include "engine/files/json_settings.h"
#include "engine/files/stl_writer.h"
#include "platform/system_error.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

namespace grainforge::test {
namespace {

namespace fs = std::filesystem;

std::string FileText(const fs::path& path)
{
    const std::vector<std::uint8_t> bytes = ReadAllBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteCube(const fs::path& path, float size = 10.0f)
{
    fs::create_directories(path.parent_path());
    WriteAllBytes(path, mesh::EncodeBinaryStl(mesh::MakeTestCube(size), "part"));
}

std::string SystemErrorTextOf(int error) { return platform::SystemErrorText(error); }

bool HasLine(const RecordingHost& host, const std::string& text, int level)
{
    const std::vector<std::string> lines = host.Lines(level);
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

// Every record a project holds moved off its New value, saved, the document emptied, opened,
// and saved again: the two files are the same, key for key.
TEST(DocumentProjectTest, RoundTripKeepsEveryRecord)
{
    TempFolder folder;
    WriteCube(folder / "parts" / "block.stl");
    DocumentFixture f;
    app::CGrainforgeDoc& doc = *f.doc;
    doc.surfaceTestCells = 128;
    ASSERT_TRUE(doc.OpenDocument(folder / "parts" / "block.stl"));

    const std::string patternName = mesh::procedural::ProceduralTextureNames().front();
    std::unique_ptr<mesh::procedural::ProceduralTexture> pattern = mesh::procedural::CreateProceduralTexture(patternName);
    pattern->ResetToDefaults();
    ASSERT_TRUE(pattern->SetValue("seed", 2.0f));
    doc.RenderProceduralTexture(std::move(pattern), L"My preset");
    doc.heightMap.settings.widthMillimetres = 12.5f;
    doc.heightMap.settings.heightMillimetres = 12.5f;
    doc.heightMap.settings.rotationDegrees = 30.0f;
    doc.partTransform.translation = {1.0f, 2.0f, 0.0f};
    doc.maskVolumes.push_back(mesh::MaskVolume{});
    doc.maskVolumes.back().size = {3.0f, 4.0f, 5.0f};
    doc.remeshSettings.targetEdgeMillimetres = 0.35f;
    doc.displacementSettings.strengthMillimetres = 0.75f;
    doc.simplifySettings.meshDetailError = 0.05f;
    doc.simplifyOn = false;
    doc.maximumTriangles = 5000000;
    doc.displayTriangles = 1000000;
    doc.exportCleanupOptions.maximumHoleMillimetres = 3.0f;
    doc.exportFixes.maximumRounds = 7;
    doc.projection.cage.rotationDegrees = {0.0f, 0.0f, 15.0f};

    const fs::path first = folder / "job.gfproj";
    ASSERT_TRUE(doc.SaveProject(first));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.projectPath, first.wstring());
    EXPECT_TRUE(HasLine(f.host, "Project saved: " + first.string(), app::kLogSuccess));

    doc.OnNewDocument();
    doc.surfaceTestCells = 256;
    const std::size_t linesBefore = f.host.lines.size();
    ASSERT_TRUE(doc.OpenDocument(first));
    // The log describes the pattern as opened, once, with the project's values and size.
    std::vector<std::string> described;
    for (std::size_t i = linesBefore; i < f.host.lines.size(); ++i)
        if (f.host.lines[i].text.starts_with("Procedural texture: ") ||
            f.host.lines[i].text.starts_with("  rendered at "))
            described.push_back(f.host.lines[i].text);
    ASSERT_EQ(described.size(), 2u);
    EXPECT_EQ(described[0], "Procedural texture: " + mesh::procedural::DescribeParameters(*doc.proceduralTexture));
    EXPECT_NE(described[0].find("Seed 2"), std::string::npos) << described[0];
    EXPECT_NE(described[1].find("for 12.5 x 12.5 mm"), std::string::npos) << described[1];
    EXPECT_TRUE(HasLine(f.host, "Project opened: " + first.string(), app::kLogSuccess));
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.partSourcePath, (folder / "parts" / "block.stl").wstring());
    ASSERT_NE(doc.proceduralTexture, nullptr);
    EXPECT_EQ(doc.proceduralTexture->Name(), patternName);
    EXPECT_EQ(doc.proceduralPresetName, L"My preset");
    EXPECT_TRUE(doc.IsHeightMapLoaded());
    EXPECT_EQ(doc.heightMap.settings.widthMillimetres, 12.5f);
    EXPECT_EQ(doc.surfaceTestCells, 128);
    EXPECT_FALSE(doc.simplifyOn);
    EXPECT_EQ(doc.maskVolumes.size(), 1u);
    EXPECT_EQ(doc.exportFixes.maximumRounds, 7);
    EXPECT_TRUE(doc.undoStack.empty());

    // Saved again beside the first: the relative part entry is the same, so the files match.
    const fs::path second = folder / "again.gfproj";
    ASSERT_TRUE(doc.SaveProject(second));
    EXPECT_EQ(FileText(first), FileText(second));
    EXPECT_FALSE(fs::exists(folder / "job.gfproj.tmp"));
}

// The project and its part moved together to another folder: the stored absolute path is gone,
// the relative entry finds the part, and nobody is asked anything.
TEST(DocumentProjectTest, ProjectMovedWithItsPartFindsItThroughTheRelativeEntry)
{
    TempFolder folder;
    WriteCube(folder / "old" / "parts" / "block.stl");
    {
        DocumentFixture f;
        f.doc->surfaceTestCells = 128;  // a grid offered, which opens without a word
        ASSERT_TRUE(f.doc->OpenDocument(folder / "old" / "parts" / "block.stl"));
        ASSERT_TRUE(f.doc->SaveProject(folder / "old" / "job.gfproj"));
    }
    fs::rename(folder / "old", folder / "new");

    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    ASSERT_TRUE(f.doc->OpenDocument(folder / "new" / "job.gfproj"));
    EXPECT_TRUE(f.host.questions.empty());
    EXPECT_TRUE(f.host.Lines(app::kLogWarning).empty());  // the part it was saved with is gone
    EXPECT_EQ(f.doc->partSourcePath, (folder / "new" / "parts" / "block.stl").wstring());
    EXPECT_EQ(f.doc->loadedPart.TriangleCount(), 12u);
}

// A project copied from A/ to B/ opens the part beside it (the relative name wins); when the
// part it was saved with is another file that is still there, which one was opened is said.
// A different B/part.stl used to be opened with only "Project opened".
TEST(DocumentProjectTest, ProjectCopiedBesideAnotherPartSaysWhichItOpened)
{
    for (const bool sameFile : {false, true}) {
        TempFolder folder;
        const fs::path a = folder / "A", b = folder / "B";
        WriteCube(a / "part.stl");
        DocumentFixture saving;
        ASSERT_TRUE(saving.doc->OpenDocument(a / "part.stl"));
        saving.doc->maskVolumes.resize(app::kMaximumMaskVolumes + 1);  // a second warning, which must not hide it
        ASSERT_TRUE(saving.doc->SaveProject(a / "job.gfproj"));
        fs::create_directories(b);
        fs::copy_file(a / "job.gfproj", b / "job.gfproj");
        sameFile ? fs::create_hard_link(a / "part.stl", b / "part.stl") : WriteCube(b / "part.stl", 20.0f);
        DocumentFixture f;
        ASSERT_TRUE(f.doc->OpenDocument(b / "job.gfproj"));
        EXPECT_EQ(f.doc->partSourcePath, (b / "part.stl").wstring());
        const std::string said = "The project was saved with the part " + (a / "part.stl").string() +
            ", which is still there; the part beside the project was opened: " + (b / "part.stl").string();
        const std::string masks = "The project holds 257 mask volumes, more than a part takes; the first 256 were "
                                  "opened and 1 left out.";
        const std::vector<std::string> warned = sameFile ? std::vector{masks} : std::vector{said, masks};
        EXPECT_EQ(f.host.Lines(app::kLogWarning), warned);
        const std::wstring box = f.host.information.back().first;
        EXPECT_EQ(box.find(app::Utf8ToWide(said)) != std::wstring::npos, !sameFile) << app::WideToUtf8(box);
        EXPECT_NE(box.find(app::Utf8ToWide(masks)), std::wstring::npos) << app::WideToUtf8(box);
    }
}

// A changed part goes beside the project under the first free beside name: not over its own
// source named like the first candidate, and not over an unrelated file of that name.
TEST(DocumentProjectTest, ChangedPartIsWrittenBesideUnderAFreeName)
{
    struct Case {
        const char* name;
        const char* source;      // relative to the folder
        const char* unrelated;   // an existing file that must survive, or null
        const char* expected;
    };
    const Case cases[] = {
        {"plain", "parts/block.stl", nullptr, "job part.stl"},
        {"source named like the first candidate", "job part.stl", nullptr, "job part 2.stl"},
        {"unrelated file in the way", "parts/block.stl", "job part.stl", "job part 2.stl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteCube(folder / c.source);
        const std::string sourceBytes = FileText(folder / c.source);
        if (c.unrelated != nullptr)
            WriteAllText(folder / c.unrelated, "not a part of this project");

        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ASSERT_TRUE(f.doc->OpenDocument(folder / c.source));
        f.doc->partChangedSinceOpened = true;
        ASSERT_TRUE(f.doc->SaveProject(folder / "job.gfproj"));

        const fs::path beside = folder / c.expected;
        EXPECT_TRUE(fs::exists(beside));
        EXPECT_EQ(f.doc->partSourcePath, beside.wstring());
        EXPECT_FALSE(f.doc->partChangedSinceOpened);
        EXPECT_TRUE(HasLine(f.host,
            "The part was changed after it was opened, so it is saved beside the project: " + beside.string(),
            app::kLogSavedBeside));
        EXPECT_EQ(FileText(folder / c.source), sourceBytes);
        if (c.unrelated != nullptr) {
            EXPECT_EQ(FileText(folder / c.unrelated), "not a part of this project");
        }

        app::ProjectData data;
        std::string error;
        ASSERT_TRUE(app::ReadProject(folder / "job.gfproj", data, error)) << error;
        EXPECT_EQ(data.partPath, beside);
    }
}

// The part named by the project is gone: the user is asked to find it. No keeps the document
// as it was; Yes with a file opens the project on that file.
TEST(DocumentProjectTest, MissingPartAsksFindIt)
{
    TempFolder folder;
    const fs::path part = folder / "block.stl";
    WriteCube(part);
    {
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ASSERT_TRUE(f.doc->OpenDocument(part));
        ASSERT_TRUE(f.doc->SaveProject(folder / "job.gfproj"));
    }
    fs::remove(part);
    const std::wstring notFound = L"The project's part was not found:\n" + part.wstring();

    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.host.answers = {app::PromptAnswer::no};
    EXPECT_FALSE(doc.OpenDocument(folder / "job.gfproj"));
    ASSERT_EQ(f.host.questions.size(), 1u);
    EXPECT_EQ(f.host.questions[0], notFound + L"\n\nFind it?");
    EXPECT_EQ(f.host.information.back(), std::make_pair(notFound, app::kInfoError));
    EXPECT_TRUE(HasLine(f.host, "The project's part is not at " + part.string(), app::kLogWarning));
    EXPECT_EQ(doc.testShapeName, "cube");
    EXPECT_TRUE(doc.projectPath.empty());

    const fs::path found = folder / "elsewhere" / "block.stl";
    WriteCube(found, 14.0f);
    f.host.answers = {app::PromptAnswer::yes};
    f.host.files = {found};
    ASSERT_TRUE(doc.OpenDocument(folder / "job.gfproj"));
    EXPECT_EQ(doc.partSourcePath, found.wstring());
    EXPECT_EQ(doc.projectPath, (folder / "job.gfproj").wstring());
}

// Yes to "Find it?" opened a dialog with no title in the home folder: it is titled and starts
// where the part was, or in the project's folder when that folder is gone too.
TEST(DocumentProjectTest, FindingAMissingPartStartsWhereThePartWas)
{
    const struct {
        const char* name;
        const char* partFolder;
        bool folderKept;
        const char* startFolder;  // under the temporary folder
    } cases[] = {
        {"the part moved out of its folder", "parts", true, "parts"},
        {"the part's folder is gone", "parts", false, "projects"},
        {"a folder deeper down is gone", "parts/deep", false, "projects"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const fs::path part = folder / c.partFolder / "part1.stl";
        if (c.folderKept)
            fs::create_directories(part.parent_path());
        fs::create_directories(folder / "projects");
        const fs::path project = folder / "projects" / "job.gfproj";
        std::ofstream(project) << R"({"application": "Grainforge project", "version": 1, "part": {"path": )"
                               << '"' << part.string() << "\"}}\n";
        DocumentFixture f;
        f.host.answers = {app::PromptAnswer::yes};
        EXPECT_FALSE(f.doc->OpenDocument(project));  // the dialog is cancelled
        ASSERT_EQ(f.host.fileDialogs.size(), 1u);
        EXPECT_EQ(f.host.fileDialogs[0].title, L"Find the Project's Part");
        EXPECT_EQ(f.host.fileDialogs[0].initialName, (folder / c.startFolder / "part1.stl").wstring());
        EXPECT_EQ(f.host.fileDialogs[0].defaultExtension, L"stl");
    }
}

// A part that is a link leading nowhere says so, rather than only that it was not found.
TEST(DocumentProjectTest, MissingPartSaysWhatIsInTheWay)
{
    TempFolder folder;
    const fs::path part = folder / "block.stl";
    WriteCube(part);
    {
        DocumentFixture f;
        ASSERT_TRUE(f.doc->OpenDocument(part));
        ASSERT_TRUE(f.doc->SaveProject(folder / "job.gfproj"));
    }
    fs::remove(part);
    fs::create_symlink(folder / "gone.stl", part);
    DocumentFixture f;
    f.host.answers = {app::PromptAnswer::no};
    EXPECT_FALSE(f.doc->OpenDocument(folder / "job.gfproj"));
    ASSERT_EQ(f.host.questions.size(), 1u);
    EXPECT_EQ(f.host.questions[0], L"The project's part was not found:\n" + part.wstring() +
        L" (it is a link that leads nowhere: " + (folder / "gone.stl").wstring() + L" is not there)\n\nFind it?");
}

// A project whose texture cannot be installed (an image that is gone, a file that is not an
// image, a pattern no pattern has) or that names none leaves no texture behind, not the
// previous document's: Process asks for one. The project's texture settings are kept. A file
// that is there but not an image is not reported as missing.
TEST(DocumentProjectTest, TextureThatCannotBeInstalledEmptiesTheHeightMap)
{
    enum class Note { none, missing, notAnImage };
    struct Case {
        const char* name;
        const char* image;
        const char* pattern;
        Note note;
        const char* content = nullptr;  // written to the image file when given
    };
    const Case cases[] = {
        {"missing image", "gone.png", "", Note::missing},
        {"file that is not an image", "notes.png", "", Note::notAnImage, "plain text, not an image"},
        {"unknown pattern", "", "No Such Pattern", Note::none},
        {"no texture", "", "", Note::none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        app::ProjectData data;
        data.testShape = "cube";
        data.textureSettings.widthMillimetres = 17.0f;
        if (*c.image != '\0')
            data.textureImagePath = folder / c.image;
        if (c.content != nullptr)
            WriteAllText(folder / c.image, c.content);
        data.proceduralName = c.pattern;
        data.occupancyCells = 128;
        std::string error;
        ASSERT_TRUE(app::WriteProject(folder / "job.gfproj", data, error)) << error;

        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        f.GiveTexture();
        ASSERT_TRUE(doc.IsHeightMapLoaded());
        ASSERT_TRUE(doc.OpenDocument(folder / "job.gfproj"));
        EXPECT_FALSE(doc.IsHeightMapLoaded());
        EXPECT_EQ(doc.proceduralTexture, nullptr);
        EXPECT_EQ(doc.heightMap.settings.widthMillimetres, 17.0f);
        EXPECT_FALSE(doc.NeedsProcessing());
        doc.RequestProcess();
        EXPECT_TRUE(HasLine(f.host, "Displacement needs a texture: load one, or turn Displacement off.",
            app::kLogWarning));
        const fs::path image = folder / c.image;
        if (c.note == Note::notAnImage) {
            EXPECT_TRUE(HasLine(f.host,
                "The project's texture at " + image.string() + " is not an image this program reads; its settings "
                "are kept",
                app::kLogWarning));
            EXPECT_EQ(f.host.information.back(),
                std::make_pair(L"The project's texture is not an image this program reads:\n" + image.wstring() +
                                   L"\nLoad another; its size and placement are kept.",
                    app::kInfoWarning));
        }
        if (c.note == Note::missing) {
            EXPECT_TRUE(HasLine(f.host, "The project's texture is not at " + image.string() + "; its settings are kept",
                app::kLogWarning));
            EXPECT_EQ(f.host.information.back(),
                std::make_pair(L"The project's texture was not found:\n" + image.wstring() +
                                   L"\nLoad it again; its size and placement are kept.",
                    app::kInfoWarning));
        }
    }
}

// The box names the file before the cause and says that what was open stays; the log names the
// whole path on the line before the refusal.
TEST(DocumentProjectTest, UnreadableProjectsAreRefusedWithTheirReason)
{
    TempFolder folder;
    WriteAllText(folder / "other.gfproj", "{\"application\": \"Grainforge project \"}");
    WriteAllText(folder / "broken.gfproj", "{ not json");
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    EXPECT_FALSE(doc.OpenDocument(folder / "other.gfproj"));
    EXPECT_EQ(f.host.information.back(),
        std::make_pair(std::wstring(L"This project could not be opened.\nother.gfproj: the file is not a Tessary "
                                    L"project\nWhat was open stays as it was."),
            app::kInfoError));
    EXPECT_FALSE(doc.OpenDocument(folder / "broken.gfproj"));
    const std::vector<std::string> lines = f.host.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Opening project " + (folder / "broken.gfproj").string());
    EXPECT_EQ(lines.back(), "Project not opened: the file is not a project (it could not be read as one)");
    EXPECT_EQ(doc.testShapeName, "cube");
}

// An image texture is read again from its file, and the project's settings applied to it. The
// log gives its seams and levels as the project has them, not those remembered for the image
// nor those of the document open before.
TEST(DocumentProjectTest, ImageTextureIsLoadedAgain)
{
    struct Case {
        const char* name;
        bool autoLevelsBefore;
        mesh::TextureSettings project;
        std::vector<std::string> described;
    };
    mesh::TextureSettings fade;
    fade.seamlessMethod = "Cross-fade";
    fade.seamlessParameters = "percent=20\n";
    fade.autoLevels = true;
    mesh::TextureSettings byHand;
    byHand.blackLevel = 0.2f;
    byHand.whiteLevel = 0.8f;
    byHand.invert = true;
    // The exponent 10 is the gamma the levels' edit shows as 0.10: the log says it as the edit does.
    byHand.gamma = 10.0f;
    const Case cases[] = {
        {"own seams and auto levels", false, fade,
            {"Seams: Cross-fade (20% of each edge faded into the opposite one), as the project has it.",
                "Auto levels: black 0.274, white 0.715 (the image's 1st and 99th percentiles)."}},
        {"levels by hand after a document with auto levels", true, byHand,
            {"Levels: black 0.200, white 0.800, gamma 0.10, output 0.000 to 1.000, invert on, as the project has "
             "them."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::vector<std::uint8_t> pixels(8 * 8);
        for (std::size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<std::uint8_t>(i * 4);
        ASSERT_TRUE(app::WriteGreyBmp(folder / "grain.bmp", pixels, 8));
        app::ProjectData data;
        data.testShape = "cube";
        data.textureImagePath = folder / "grain.bmp";
        data.textureSettings = c.project;
        data.textureSettings.widthMillimetres = 9.0f;
        data.textureSettings.heightMillimetres = 9.0f;
        std::string error;
        ASSERT_TRUE(app::WriteProject(folder / "job.gfproj", data, error)) << error;

        DocumentFixture f;
        f.host.userFolder = folder / "user";
        app::CGrainforgeDoc& doc = f.WithCube();
        ASSERT_TRUE(app::WriteSeamSettings(doc.LibraryRootsOfHost(), folder / "grain.bmp", "Mirror", ""));
        const std::string patternName = mesh::procedural::ProceduralTextureNames().front();
        doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture(patternName), L"");
        doc.heightMap.settings.autoLevels = c.autoLevelsBefore;
        const std::size_t linesBefore = f.host.lines.size();
        ASSERT_TRUE(doc.OpenDocument(folder / "job.gfproj"));
        EXPECT_TRUE(doc.IsHeightMapLoaded());
        EXPECT_EQ(doc.proceduralTexture, nullptr);
        EXPECT_EQ(doc.textureImagePath, (folder / "grain.bmp").wstring());
        EXPECT_EQ(doc.heightMap.settings.widthMillimetres, 9.0f);
        EXPECT_EQ(doc.heightMap.settings.seamlessMethod, c.project.seamlessMethod);

        std::vector<std::string> described;
        for (std::size_t i = linesBefore; i < f.host.lines.size(); ++i)
            for (const char* start : {"Seams: ", "Auto levels: ", "Levels: "})
                if (f.host.lines[i].text.starts_with(start))
                    described.push_back(f.host.lines[i].text);
        EXPECT_EQ(described, c.described);
    }
}

// A hand-edited test shape name is refused with its reason; the document stays as it was.
TEST(DocumentProjectTest, UnknownTestShapeIsRefused)
{
    TempFolder folder;
    app::ProjectData data;
    data.testShape = "pyramid";
    std::string error;
    ASSERT_TRUE(app::WriteProject(folder / "job.gfproj", data, error)) << error;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    EXPECT_FALSE(doc.OpenDocument(folder / "job.gfproj"));
    EXPECT_TRUE(f.host.questions.empty());
    EXPECT_EQ(f.host.Lines(app::kLogError).back(),
        "Project not opened: the project names a test shape this program does not make: pyramid");
    EXPECT_EQ(doc.testShapeName, "cube");
}

// A save that cannot put its file in place leaves the project that was there and says why. A
// file-size limit in a child process stands in for a full disk (root ignores permissions). The
// box names the file, the cause, and that the file there was kept; so does Save STL's.
TEST(DocumentProjectTest, FailedSaveLeavesTheOldProject)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    const fs::path path = folder / "job.gfproj";
    const fs::path stl = folder / "part.stl";
    ASSERT_TRUE(doc.SaveProject(path));
    app::CGrainforgeDoc::ExportPlan plan;
    plan.mesh = doc.workingPart;
    ASSERT_TRUE(doc.WriteStl(stl, false, plan));
    const std::string before = FileText(path);
    const std::string stlBefore = FileText(stl);
    doc.maximumTriangles = 1234;
    doc.SetModifiedFlag(true);
    const auto limited = [](const std::function<std::string()>& save) {
        return RunInChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{100, 100};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                return std::string("setrlimit failed");
            return save();
        });
    };
    EXPECT_EQ(limited([&] {
        const bool saved = doc.SaveProject(path);
        return std::string(saved ? "saved" : "refused") + (doc.IsModified() ? ", modified\n" : "\n") +
               f.host.Lines(app::kLogError).back() + "\n" + app::WideToUtf8(f.host.information.back().first);
    }),
        "refused, modified\n"
        "Project not saved: the file could not be written: File too large\n"
        "The project could not be saved.\njob.gfproj: the file could not be written: File too large\n"
        "The file that was there is as it was.\n\n"
        "Wrote: part.stl");  // a save says nothing of a file of another kind, which is still written
    EXPECT_EQ(limited([&] {
        const bool saved = doc.WriteStl(stl, false, plan);
        return std::string(saved ? "saved\n" : "refused\n") + f.host.Lines(app::kLogError).back() + "\n" +
               app::WideToUtf8(f.host.information.back().first);
    }),
        "refused\n"
        "Export failed: " + stl.string() + ": The file could not be written completely: File too large\n"
        "This file could not be saved.\npart.stl: The file could not be written completely: File too large\n"
        "The file that was there is as it was.\n\n"
        "Project saved: job.gfproj");
    // A part changed by a mesh job goes beside the project first: its failure named no file and
    // did not say the project was kept.
    doc.partChangedSinceOpened = true;
    EXPECT_EQ(limited([&] {
        const bool saved = doc.SaveProject(path);
        return std::string(saved ? "saved\n" : "refused\n") + f.host.Lines(app::kLogError).back() + "\n" +
               app::WideToUtf8(f.host.information.back().first);
    }),
        "refused\n"
        "Project not saved: the changed part could not be written beside it: " + (folder / "job part.stl").string() +
        ": The file could not be written completely: File too large\n"
        "The project could not be saved: the changed part could not be written beside it.\njob part.stl: The file "
        "could not be written completely: File too large\n"
        "The project file that was there is as it was.\n\n"
        "Wrote: part.stl");
    EXPECT_EQ(FileText(path), before);
    EXPECT_EQ(FileText(stl), stlBefore);
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"job.gfproj", "part.stl"}));

    // A project name of the longest a file takes: the part beside it once had no name a file
    // takes, and the save failed; its name is now cut to what a file takes and the work is kept.
    const fs::path longest = folder / (std::string(248, 'n') + ".gfproj");
    doc.partChangedSinceOpened = false;
    ASSERT_TRUE(doc.SaveProject(longest));
    doc.partChangedSinceOpened = true;
    EXPECT_TRUE(doc.SaveProject(longest)) << app::WideToUtf8(f.host.information.back().first);
    const std::vector<std::string> names = folder.List();
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                  [](const std::string& name) { return name.size() == 255 && name.ends_with(".stl"); }),
        1) << ::testing::PrintToString(names);
}

// Two windows on one project: A opens it, B opens it (by its name or through a link) and saves
// its own changes. A's Save Project said "Project saved" over B's work. A project that another
// save wrote over (or that was written in place) since this window opened or saved it is
// replaced only when the user says so; No keeps both. A's own saves and a project that is gone
// are not asked about.
TEST(DocumentProjectTest, SaveProjectAsksBeforeReplacingAProjectChangedOnDisk)
{
    using app::PromptAnswer;
    enum class Meanwhile { nothing, aSaves, bSaves, bSavesThroughALink, writtenInPlace, removed };
    const struct {
        const char* name;
        Meanwhile meanwhile;
        std::optional<PromptAnswer> answer;  // the question's answer; nothing when none is asked
    } cases[] = {
        {"nothing since the opening", Meanwhile::nothing, std::nullopt},
        {"A's own save", Meanwhile::aSaves, std::nullopt},
        {"B saved; No", Meanwhile::bSaves, PromptAnswer::no},
        {"B saved; Yes", Meanwhile::bSaves, PromptAnswer::yes},
        {"B saved through a link to it; No", Meanwhile::bSavesThroughALink, PromptAnswer::no},
        {"written in place", Meanwhile::writtenInPlace, PromptAnswer::no},
        {"removed", Meanwhile::removed, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const fs::path path = folder / "job.gfproj";
        {
            DocumentFixture maker;
            maker.WithCube();
            ASSERT_TRUE(maker.doc->SaveProject(path));
        }
        DocumentFixture a;
        ASSERT_TRUE(a.doc->OpenDocument(path));
        a.doc->maximumTriangles = 1111111;
        if (c.meanwhile == Meanwhile::aSaves) {
            ASSERT_TRUE(a.doc->SaveProject(path));
        }
        if (c.meanwhile == Meanwhile::bSaves || c.meanwhile == Meanwhile::bSavesThroughALink) {
            const fs::path name = c.meanwhile == Meanwhile::bSaves ? path : folder / "link.gfproj";
            if (name != path)
                fs::create_symlink(path, name);
            DocumentFixture b;
            ASSERT_TRUE(b.doc->OpenDocument(name));
            b.doc->maximumTriangles = 2222222;
            b.doc->OnFileSaveProject();
            EXPECT_TRUE(b.host.questions.empty());
        }
        if (c.meanwhile == Meanwhile::writtenInPlace)
            std::ofstream(path, std::ios::app) << "\n";
        if (c.meanwhile == Meanwhile::removed)
            fs::remove(path);
        const std::string onDisk = fs::exists(path) ? FileText(path) : std::string();

        if (c.answer)
            a.host.answers.push_back(*c.answer);
        a.doc->OnFileSaveProject();
        const bool kept = c.answer == PromptAnswer::no;
        EXPECT_EQ(a.host.questions, c.answer ? std::vector<std::wstring>{L"job.gfproj was changed on disk after this "
            L"window opened or saved it (another window or program saved it).\nDo you want to replace it with the "
            L"project in this window?"} : std::vector<std::wstring>{});
        if (kept) {
            EXPECT_EQ(FileText(path), onDisk);
            EXPECT_TRUE(HasLine(a.host, "Project not saved: " + path.string() + " was changed on disk after this window "
                "opened or saved it, and is kept as it is; this window's work is still open, to save under another name",
                app::kLogWarning));
            EXPECT_EQ(a.doc->projectPath, path.wstring());
        } else {
            EXPECT_NE(FileText(path).find("\"maximumTriangles\": 1111111"), std::string::npos);
        }
    }
}

// A file the user made read-only (mode 0444 in the user's own folder) was replaced by every
// save that writes aside and renames, and Save Project said "Project saved". Each road now
// keeps it and says why.
TEST(DocumentProjectTest, AWriteProtectedFileIsKeptOnEveryRoad)
{
    const std::string reason = "it is write-protected (you may not write to it)";
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    const std::pair<const char*, std::function<std::string(const fs::path&)>> roads[] = {
        {"Save Project", [&](const fs::path& path) {
             return doc.SaveProject(path) ? std::string("saved") : f.host.Lines(app::kLogError).back();
         }},
        {"binary STL", [&](const fs::path& path) {
             return mesh::WriteStlFile(path, mesh::MakeTestCube(10.0f), {}).error;
         }},
        {"ASCII STL", [&](const fs::path& path) {
             return mesh::WriteStlFile(path, mesh::MakeTestCube(10.0f), {.format = 1}).error;
         }},
        {"library list", [&](const fs::path& path) {
             const mesh::JsonNode list = mesh::NewJsonDocument();
             int error = 0;
             mesh::JsonSaveOptions options;
             options.links = platform::LinkHandling::ReplaceLink;
             return mesh::SaveJsonFile(list, path, options, &error) ? std::string("saved") : SystemErrorTextOf(error);
         }},
    };
    for (const auto& [road, save] : roads) {
        SCOPED_TRACE(road);
        TempFolder folder;
        WriteAllText(folder / "mine.gfproj", "mine");
        fs::permissions(folder / "mine.gfproj", fs::perms(0444));
        const std::string said = save(folder / "mine.gfproj");
        EXPECT_NE(said.find(reason), std::string::npos) << said;
        EXPECT_EQ(FileText(folder / "mine.gfproj"), "mine");
        EXPECT_EQ(folder.List(), std::vector<std::string>{"mine.gfproj"});
    }
}

// While a field of the windows holds a text it refused, no road saves the project: it would
// keep the value the field replaced. The refusal says so, no file is asked for or written, and
// the work stays open and modified, also when closing asked to save it.
TEST(DocumentProjectTest, NoRoadSavesTheProjectPastARefusedField)
{
    TempFolder folder;
    const std::pair<const char*, std::function<bool(app::CGrainforgeDoc&, DocumentFixture&)>> roads[] = {
        {"Save Project", [&](auto& d, auto&) { return d.SaveProject(folder / "a.gfproj"); }},
        {"Save Project As", [&](auto& d, auto& f) {
             f.host.files.push_back(folder / "a.gfproj");
             d.OnFileSaveProjectAs();
             return false;
         }},
        {"Save Project with no project yet", [&](auto& d, auto& f) {
             f.host.files.push_back(folder / "a.gfproj");
             d.OnFileSaveProject();
             return false;
         }},
        {"the framework's save", [&](auto& d, auto&) { return d.OnSaveDocument(folder / "a.gfproj"); }},
        {"Yes to saving before closing", [&](auto& d, auto& f) {
             f.host.files.push_back(folder / "a.gfproj");
             f.host.answers.push_back(app::PromptAnswer::yes);
             return d.SaveModified();
         }},
    };
    for (const auto& [road, save] : roads) {
        SCOPED_TRACE(road);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        doc.SetModifiedFlag(true);
        f.host.entryRefused = true;
        EXPECT_FALSE(save(doc, f));
        EXPECT_FALSE(fs::exists(folder / "a.gfproj"));
        EXPECT_TRUE(f.host.fileDialogs.empty());
        EXPECT_TRUE(doc.IsModified());
        EXPECT_EQ(f.host.entryRefusals, std::vector<std::wstring>{L"The project was not saved, so that it does not "
                                                                  L"keep a value other than the one shown."});
    }
}

// A changed part is written beside the project before the project itself; when the project
// then cannot be written, that part goes again, and only it: the user's files stay.
TEST(DocumentProjectTest, FailedSaveRemovesOnlyThePartItWrote)
{
    TempFolder folder;
    WriteCube(folder / "parts" / "block.stl");
    WriteAllText(folder / "job part.stl", "the user's own");
    fs::create_directory(folder / "job.gfproj");  // a folder in the way of the project
    DocumentFixture f;
    app::CGrainforgeDoc& doc = *f.doc;
    doc.surfaceTestCells = 32;
    ASSERT_TRUE(doc.OpenDocument(folder / "parts" / "block.stl"));
    doc.partChangedSinceOpened = true;
    EXPECT_FALSE(doc.SaveProject(folder / "job.gfproj"));
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"job part.stl", "job.gfproj", "parts"}));
    EXPECT_EQ(FileText(folder / "job part.stl"), "the user's own");
    EXPECT_TRUE(fs::is_empty(folder / "job.gfproj"));
    EXPECT_EQ(f.host.Lines(app::kLogError).back(), "Project not saved: the file could not be written: Is a directory");
    // Nothing was there to keep (a folder is no file): the box does not say the file is kept.
    EXPECT_EQ(f.host.information.back().first,
        L"The project could not be saved.\njob.gfproj: the file could not be written: Is a directory");
    EXPECT_TRUE(doc.partChangedSinceOpened);
    EXPECT_EQ(doc.partSourcePath, (folder / "parts" / "block.stl").wstring());
}

// Save Project with a changed part aimed at a folder, a pipe or a device is refused before
// anything is made: the folder's time, set back first, shows no part written and removed again.
TEST(DocumentProjectTest, TargetThatIsNoFileIsRefusedBeforeThePartIsWritten)
{
    TempFolder folder;
    WriteCube(folder / "parts" / "block.stl");
    for (const NonRegularFile& target : MakeNonRegularFiles(folder.Path(), "job.gfproj")) {
        SCOPED_TRACE(target.kind);
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ASSERT_TRUE(f.doc->OpenDocument(folder / "parts" / "block.stl"));
        f.doc->partChangedSinceOpened = true;
        const timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, target.path.parent_path().c_str(), longAgo, 0), 0);
        EXPECT_FALSE(f.doc->SaveProject(target.path));
        struct stat after {};
        ASSERT_EQ(::stat(target.path.parent_path().c_str(), &after), 0);
        EXPECT_EQ(after.st_mtim.tv_sec, 1000000000) << "a file was made beside the target";
        EXPECT_TRUE(f.host.Lines(app::kLogError).back().starts_with("Project not saved: the file could not be written"));
        EXPECT_TRUE(f.doc->partChangedSinceOpened);
    }
}

// Open "mine.stl", place it, Save STL As over "mine.stl" itself (the part as shown, or a
// processed result: every z half as high again), then Save Project: the project reopens on the
// part as opened, kept beside it, placed once.
TEST(DocumentProjectTest, PartSavedOverItsOwnFileReopensAsSaved)
{
    mesh::Transform3x4 moved, turned;
    moved.translation = {5.0f, 0.0f, 0.0f};
    turned.m00 = turned.m11 = turned.m10 = std::sqrt(0.5f);
    turned.m01 = -turned.m00;
    const auto positions = [](const mesh::TriangleMesh& part) {
        std::vector<mesh::Vec3> out;
        for (const mesh::MeshVertex& vertex : part.vertices)
            out.push_back(vertex.position);
        return out;
    };
    for (const auto& [placement, processedRun] : {std::pair{moved, false}, std::pair{turned, true}}) {
        const bool processed = processedRun;  // a lambda below captures it, which a binding cannot be
        SCOPED_TRACE(processed);
        TempFolder folder;
        WriteCube(folder / "mine.stl");
        DocumentFixture f;
        app::CGrainforgeDoc& doc = *f.doc;
        doc.surfaceTestCells = 32;
        ASSERT_TRUE(doc.OpenDocument(folder / "mine.stl"));
        const std::vector<mesh::Vec3> opened = positions(doc.loadedPart);
        doc.CarryMasksWithPart(placement);
        doc.displacementOn = false;
        doc.pipeline.SetRunForTesting([&](mesh::PipelineStages& stages, const mesh::ProgressCallback&) {
            stages.result = stages.source;
            for (mesh::MeshVertex& v : stages.result.vertices)
                v.position.z *= processed ? 1.5f : 1.0f;
            stages.stageDirty = {0, 0, 0, 0};
            return true;
        });
        doc.RequestProcess();
        f.PollUntilReported();
        f.host.acceptExport = true;
        f.host.files.push_back(folder / "mine.stl");
        ASSERT_TRUE(doc.OnSaveDocument(folder / "mine.stl"));
        ASSERT_TRUE(doc.SaveProject(folder / "job.gfproj"));

        DocumentFixture g;
        g.doc->surfaceTestCells = 32;
        ASSERT_TRUE(g.doc->OpenDocument(folder / "job.gfproj"));
        EXPECT_EQ(positions(g.doc->loadedPart), opened) << "the part as opened was not kept";
        EXPECT_EQ(positions(g.doc->workingPart), positions(doc.workingPart)) << "placed twice";
    }
}

// One limit both ways: adding and duplicating stop at it with a word, and a project holding
// more (written before the limit) opens with the first of them and says how many were left out.
TEST(DocumentProjectTest, MasksStopAtTheLimitBothWays)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.maskVolumes.assign(app::kMaximumMaskVolumes - 1, mesh::MaskVolume{});
    EXPECT_EQ(doc.DuplicateMaskVolume(0), 255);
    EXPECT_EQ(doc.AddMaskVolume(mesh::MaskVolume{}), -1);
    EXPECT_EQ(doc.DuplicateMaskVolume(0), -1);
    EXPECT_EQ(doc.maskVolumes.size(), 256u);
    EXPECT_EQ(f.host.Lines(app::kLogWarning),
        std::vector<std::string>(2, "No mask volume was added: a part takes at most 256."));

    doc.maskVolumes.resize(1000);
    doc.surfaceTestCells = 128;  // a grid offered, which opens without a word
    ASSERT_TRUE(doc.SaveProject(folder / "job.gfproj"));
    f.host.lines.clear();
    ASSERT_TRUE(doc.OpenDocument(folder / "job.gfproj"));
    EXPECT_EQ(doc.maskVolumes.size(), 256u);
    EXPECT_EQ(f.host.Lines(app::kLogWarning), std::vector<std::string>{"The project holds 1,000 mask volumes, more "
        "than a part takes; the first 256 were opened and 744 left out."});
}

// A project holding values its fields refuse opens with the nearest values they take, names
// them once, and the next save writes what was taken: nothing out of range reaches a dialog, a
// run or a file (a triangle size of -5 was carried to the next part and the next project).
TEST(DocumentProjectTest, ValuesOutsideTheirFieldsAreHeldAndSaidOnce)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    ASSERT_TRUE(doc.SaveProject(folder / "job.gfproj"));
    nlohmann::json project = nlohmann::json::parse(FileText(folder / "job.gfproj"));
    project["remesh"]["targetEdgeMillimetres"] = -5;
    project["texture"]["settings"]["gamma"] = 0;
    project["maskCount"] = 1;
    project["mask0"]["featherMillimetres"] = -3;
    // Values of another type, limits beyond their fields and a mask entry that is no mask object
    // used to be replaced without a word.
    project["displacement"]["midLevel"] = {{"value", 0.7}};
    project["occupancyCells"] = -7;
    project["displayTriangles"] = -1;
    project["mask007"]["featherMillimetres"] = 2;
    WriteAllText(folder / "job.gfproj", project.dump());
    f.host.lines.clear();
    f.host.information.clear();

    ASSERT_TRUE(doc.OpenDocument(folder / "job.gfproj"));
    const app::EditState state = doc.CaptureEditState();
    EXPECT_EQ(state.remesh.targetEdgeMillimetres, 0.01f);
    EXPECT_EQ(state.textureSettings.gamma, 1.0f);
    ASSERT_EQ(state.masks.size(), 1u);
    EXPECT_EQ(state.masks[0].featherMillimetres, 0.0f);
    EXPECT_EQ(state.displacement.midLevel, 0.5f);
    EXPECT_EQ(state.displayTriangles, 100000u);
    EXPECT_EQ(doc.surfaceTestCells, 128);
    const std::string masks = "The project holds 2 mask volumes; 1 was opened and 1 left out: \"mask007\" could not be "
                              "read.";
    // Those that took the nearest value are said apart from those that took their defaults.
    const std::string said = "The project holds values its fields do not take; each was changed to the nearest they "
                             "take: Test grid -7 is now 128; Display limit -1 triangles is now 100000 triangles; "
                             "Triangle size -5 mm is now 0.01 mm; Mask 1: Feather -3 mm is now 0 mm. Others could not "
                             "be taken as they are; each is now its field's default: displacement.midLevel "
                             "{\"value\":0.7} is now 0.5; texture.settings.gamma 0 is now 1.";
    EXPECT_EQ(f.host.Lines(app::kLogWarning), (std::vector<std::string>{masks, said}));
    ASSERT_FALSE(f.host.information.empty());
    EXPECT_EQ(f.host.information.back(),
        std::make_pair(app::Utf8ToWide(masks + " Saving the project keeps only those opened.\n\n" + said),
            app::kInfoWarning));

    ASSERT_TRUE(doc.SaveProject(folder / "again.gfproj"));
    app::ProjectData again;
    std::string error;
    ASSERT_TRUE(app::ReadProject(folder / "again.gfproj", again, error));
    EXPECT_TRUE(again.valuesHeld.empty());
    EXPECT_TRUE(again.valuesReplaced.empty());
    EXPECT_EQ(again.masksLeftOut, 0u);
    EXPECT_EQ(again.remesh.targetEdgeMillimetres, 0.01f);
}

// A project written by hand or by another program, with values no field holds: every one opens
// held to what the engine can use, is named in the one warning, and a Process of a 3.94 mm
// block with them still makes the block with its corners (they made a rounded blob); the next
// save writes the held values.
TEST(DocumentProjectTest, HostileValuesAreHeldBeforeTheyReachTheRun)
{
    TempFolder folder;
    const float edge = 3.94f;
    WriteCube(folder / "block.stl", edge);
    nlohmann::json project = {{"application", "Grainforge project"}, {"version", 1},
        {"part", {{"path", (folder / "block.stl").string()},
                     {"orientation", {{"rowX", {0, 0, 0}}, {"rowY", {0, 0, 0}}, {"rowZ", {0, 0, 0}}}}}},
        {"remesh", {{"method", "isotropic"}, {"targetEdgeMillimetres", 0.3}, {"rounds", 2000000000},
                       {"featureAngleDegrees", -400}, {"relaxation", 1e30}}},
        {"displacement", {{"method", "mesh"}, {"strengthMillimetres", 0.1}, {"maximumTiltDegrees", 1e9},
                             {"wallThresholdMillimetres", -1}, {"base", {{"axis", 7}, {"bandMillimetres", -1e30}}}}},
        {"simplify", {{"maximumValence", -5}, {"maximumSweeps", 2000000000},
                         {"minimumTriangleHeightMillimetres", -1}, {"planarAngleDegrees", 1e30}}},
        {"exportFixes", {{"maximumRounds", 2000000000}, {"maximumMoveMillimetres", -1}}},
        {"projection", {{"cage", {{"size", {0, -5, 1e30}}}},
                           {"layer", {{"px", {{"image", 99}}}}}, {"cylinder", {{"seamDegrees", 1e30}}}}},
        {"texture", {{"settings", {{"offsetMillimetres", {1e30, 0}}, {"rotationDegrees", 1e30}}}}}};
    WriteAllText(folder / "hostile.gfproj", project.dump());

    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    ASSERT_TRUE(f.doc->OpenDocument(folder / "hostile.gfproj"));
    const std::vector<std::string> warnings = f.host.Lines(app::kLogWarning);
    EXPECT_EQ(warnings.size(), 1u);
    const std::string said = warnings.empty() ? std::string() : warnings[0];
    for (const char* named : {"part.orientation.rowX[0] 0 is now 1",
             "remesh.rounds 2000000000 is now 100", "remesh.featureAngleDegrees -400 degrees is now 0 degrees",
             "remesh.relaxation 1e+30 is now 1", "displacement.maximumTiltDegrees 1000000000 degrees is now 179",
             "displacement.wallThresholdMillimetres -1 mm is now 0 mm", "displacement.base.axis 7 is now 2",
             "displacement.base.bandMillimetres -1e+30 mm is now 0 mm", "simplify.maximumValence -5 is now 3",
             "simplify.maximumSweeps 2000000000", "simplify.minimumTriangleHeightMillimetres -1 mm is now 0 mm",
             "simplify.planarAngleDegrees 1e+30 degrees is now 90", "exportFixes.maximumRounds 2000000000",
             "exportFixes.maximumMoveMillimetres -1 mm is now 0 mm", "projection.cage.size[1] -5 mm is now 0.01 mm",
             "projection.layer.px.image 99 is now 5", "projection.cylinder.seamDegrees 1e+30 degrees",
             "texture.settings.offsetMillimetres[0] 1e+30 mm", "texture.settings.rotationDegrees 1e+30 degrees"})
        EXPECT_NE(said.find(named), std::string::npos) << named << " is not in: " << said;

    // The run sees the part where it was loaded, and the block keeps its size and corners.
    f.GiveTexture();
    f.doc->RequestProcess();
    f.doc->RunPipelineNow();
    const mesh::TriangleMesh& result = f.doc->pipeline.PublishedMesh();
    ASSERT_FALSE(result.vertices.empty()) << f.doc->pipeline.PublishedReport().message;
    const float reach = 0.25f;  // the 0.1 mm relief both ways, and the remesh's triangles
    for (const mesh::Vec3& corner : {mesh::Vec3{-1, -1, -1}, mesh::Vec3{1, 1, 1}, mesh::Vec3{1, -1, 1}}) {
        const mesh::Vec3 at = corner * (edge / 2.0f);
        float nearest = std::numeric_limits<float>::infinity();
        for (const mesh::MeshVertex& v : result.vertices) {
            const mesh::Vec3 d = v.position - at;
            nearest = std::min(nearest, std::sqrt(mesh::Dot(d, d)));
        }
        EXPECT_LT(nearest, reach) << "the block's corner at " << at.x << " " << at.y << " " << at.z << " was lost";
    }
    EXPECT_NEAR(result.Volume(), edge * edge * edge, 0.2 * edge * edge * edge);

    ASSERT_TRUE(f.doc->SaveProject(folder / "again.gfproj"));
    app::ProjectData again;
    std::string error;
    ASSERT_TRUE(app::ReadProject(folder / "again.gfproj", again, error)) << error;
    EXPECT_EQ(FormatHeldValues(again.valuesHeld), "");
    EXPECT_EQ(again.remesh.rounds, 100);
    EXPECT_EQ(again.projection.cage.size.y, 0.01f);
}

// Members the program does not read (a misspelt key, notes, a newer version's sections, a mask's
// member, a pattern it does not know with its parameters and preset) were opened without a word
// and dropped by the next save, and "version": 2 was written back as 1. Each is named once as
// the project opens and written back as it was, unless the user replaced it (another texture,
// masks added or removed); a newer version is said, and saved as this version's.
TEST(DocumentProjectTest, WhatItDoesNotReadIsNamedAndSavedBack)
{
    const std::string bigParameters(100000, 'p');
    const struct {
        const char* name;
        std::function<void(nlohmann::ordered_json&)> edit;
        std::function<void(app::CGrainforgeDoc&)> change;  // what the user does before saving
        std::vector<std::string> said;                     // the opening's warnings
        std::function<void(const nlohmann::ordered_json&)> check;  // the project saved
        const char* savedSays = nullptr;                           // a warning of the save
    } cases[] = {
        {"members of a newer version",
            [](nlohmann::ordered_json& p) {
                p["version"] = 2;
                p["remesh"]["targetEdgeMillimeters"] = 0.5;
                p["myNotes"] = "keep me";
                p["futureSection"] = {{"a", {1, 2}}};
                p["texture"]["settings"]["bogus"] = true;
                p["maskX"] = {{"size", {1, 1, 1}}};
            },
            [](app::CGrainforgeDoc&) {},
            {"The project was saved by a newer version of Tessary (project version 2). This version uses what it "
             "reads of it and keeps the rest as it is; saving writes it as a version 1 project.",
                "The project holds members this version does not read: texture.settings.bogus, "
                "remesh.targetEdgeMillimeters, myNotes, futureSection, maskX. They are kept as they are and saved with the "
                "project."},
            [](const nlohmann::ordered_json& p) {
                EXPECT_EQ(p["version"], 1);
                EXPECT_EQ(p["remesh"]["targetEdgeMillimeters"], 0.5);
                EXPECT_EQ(p["myNotes"], "keep me");
                EXPECT_EQ(p["futureSection"], nlohmann::ordered_json({{"a", {1, 2}}}));
                EXPECT_EQ(p["texture"]["settings"]["bogus"], true);
                EXPECT_EQ(p["maskX"]["size"], nlohmann::ordered_json({1, 1, 1}));
                EXPECT_EQ(p["remesh"]["targetEdgeMillimetres"], 0.2);  // the misspelt value is not used
            }},
        {"a pattern it does not know",
            [&](nlohmann::ordered_json& p) {
                p["texture"]["procedural"] = "NoSuchPattern";
                p["texture"]["proceduralParameters"] = bigParameters;
                p["texture"]["proceduralPreset"] = "Mine";
            },
            [](app::CGrainforgeDoc&) {},
            {"The project's pattern \"NoSuchPattern\" is not known here; load a texture. Its name, parameters and "
             "preset are kept and saved with the project until another texture takes its place."},
            [&](const nlohmann::ordered_json& p) {
                EXPECT_EQ(p["texture"]["procedural"], "NoSuchPattern");
                EXPECT_EQ(p["texture"]["proceduralParameters"], bigParameters);
                EXPECT_EQ(p["texture"]["proceduralPreset"], "Mine");
            }},
        {"a pattern it does not know, replaced",
            [](nlohmann::ordered_json& p) { p["texture"]["procedural"] = "NoSuchPattern"; },
            [](app::CGrainforgeDoc& doc) {
                doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Noise"), L"", false);
            },
            {"The project's pattern \"NoSuchPattern\" is not known here; load a texture. Its name, parameters and "
             "preset are kept and saved with the project until another texture takes its place."},
            [](const nlohmann::ordered_json& p) { EXPECT_EQ(p["texture"]["procedural"], "Noise"); }},
        // A pattern's and a seamless method's parameter words go through the same rule: each
        // named, the ones not read kept, a doubled one named as doubled, no number named.
        {"a pattern's parameter words",
            [](nlohmann::ordered_json& p) {
                p["texture"]["procedural"] = "Bricks";
                p["texture"]["proceduralParameters"] = "rows=99999\nfutureParam=3\nbricks=abc\nmortar=0.1\nmortar=0.2";
            },
            [](app::CGrainforgeDoc&) {},
            {"The project holds members this version does not read: Bricks: futureParam. They are kept as they are "
             "and saved with the project.",
                "The project gives some members more than once, and only the last of each is used: Bricks: mortar 0.1 "
                "was dropped for 0.2.",
                "The project holds values its fields do not take; each was changed to the nearest they take: Rows per tile "
                "99999 is now 32. Others could not be taken as they are; each is now its field's default: Bricks per "
                "row \"abc\" is now 4."},
            [](const nlohmann::ordered_json& p) {
                const std::string text = p["texture"]["proceduralParameters"];
                EXPECT_NE(text.find("\nfutureParam=3\n"), std::string::npos) << text;
                EXPECT_NE(text.find("mortar=0.200000003\n"), std::string::npos) << text;
                EXPECT_NE(text.find("bricks=4\n"), std::string::npos) << text;
            }},
        {"a seamless method's parameter words",
            [](nlohmann::ordered_json& p) {
                p["texture"]["settings"]["seamlessMethod"] = "Cross-fade";
                p["texture"]["settings"]["seamlessParameters"] = "bogus=3\npercent=20\npercent=30\nnote";
            },
            [](app::CGrainforgeDoc&) {},
            {"The project holds members this version does not read: Cross-fade: bogus, Cross-fade: note. They are "
             "kept as they are and saved with the project.",
                "The project gives some members more than once, and only the last of each is used: Cross-fade: percent "
                "20 was dropped for 30."},
            [](const nlohmann::ordered_json& p) {
                EXPECT_EQ(p["texture"]["settings"]["seamlessParameters"], "percent=30\nbogus=3\nnote\n");
            }},
        // 5 MB as the newer version wrote it, 17.5 MB indented: past what a project reader takes,
        // so the save failed its read-back and said "Input/output error".
        {"a newer version's long array",
            [](nlohmann::ordered_json& p) { p["futureMesh"] = std::vector<int>(2500000, 1); },
            [](app::CGrainforgeDoc&) {},
            {"The project holds members this version does not read: futureMesh. They are kept as they are and saved "
             "with the project."},
            [](const nlohmann::ordered_json& p) { EXPECT_EQ(p["futureMesh"], std::vector<int>(2500000, 1)); }},
        // The member goes with its volume, which the user deleted: nothing of another's is lost.
        {"a mask's member, the mask deleted",
            [](nlohmann::ordered_json& p) {
                p["maskCount"] = 1;
                p["mask0"]["depth"] = 3;
            },
            [](app::CGrainforgeDoc& doc) { doc.DeleteMaskVolume(0); },
            {"The project holds members this version does not read: Mask 1: depth. They are kept as they are and "
             "saved with the project."},
            [](const nlohmann::ordered_json& p) { EXPECT_FALSE(p.contains("mask0")); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        DocumentFixture f;
        ASSERT_TRUE(f.WithCube().SaveProject(folder / "job.gfproj"));
        nlohmann::ordered_json project = nlohmann::ordered_json::parse(FileText(folder / "job.gfproj"));
        project["occupancyCells"] = 256;
        c.edit(project);
        WriteAllText(folder / "job.gfproj", project.dump());
        f.host.lines.clear();
        ASSERT_TRUE(f.doc->OpenDocument(folder / "job.gfproj"));
        EXPECT_EQ(f.host.Lines(app::kLogWarning), c.said);
        c.change(*f.doc);
        f.host.lines.clear();
        ASSERT_TRUE(f.doc->SaveProject(folder / "again.gfproj"));
        c.check(nlohmann::ordered_json::parse(FileText(folder / "again.gfproj")));
        EXPECT_EQ(f.host.Lines(app::kLogWarning),
            c.savedSays ? std::vector<std::string>{c.savedSays} : std::vector<std::string>{});
    }
}

// Kept members at every level of a newer version's project (the root, a section, a nested
// section, the part, each mask volume), a pattern this version does not know, and a part file and
// an image named beside the test shape and the pattern it opens, through the edits a user makes
// after opening. Each member stays with what it was read with: a mask's with that volume
// wherever it moves, gone with it when it is deleted and back with it on Undo; the pattern until
// another texture takes its place, and back on Undo. Members were matched by the mask count, so a
// delete and an add moved one volume's members to another; the pattern was lost to an Undo after
// a save; the unused entries were dropped without a word.
TEST(DocumentProjectTest, EditsAfterOpeningKeepEachKeptMemberWithItsOwner)
{
    using Json = nlohmann::ordered_json;
    const auto bricks = [](app::CGrainforgeDoc& doc) {
        doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Bricks"), L"Small bricks", false);
    };
    const auto sphere = [](app::CGrainforgeDoc& doc) {
        mesh::MaskVolume volume;
        volume.shape = mesh::MaskShape::Sphere;
        volume.name = "Sphere 1";
        ASSERT_GE(doc.AddMaskVolume(volume), 0);
    };
    const Json subtract = {{"mode", "subtract"}};
    const Json add = {{"mode", "add"}};
    const Json cut = {{"mode", "intersect"}};
    const Json none;
    using Masks = std::vector<std::pair<std::string, Json>>;
    const Masks opened = {{"Box", subtract}, {"grip", add}, {"Cap", cut}};
    const struct {
        const char* name;
        std::function<void(app::CGrainforgeDoc&, const fs::path&)> edit;
        Masks masks;          // each volume saved, by name, with its kept member or none
        const char* pattern;  // the pattern saved
    } cases[] = {
        {"saved as opened", [](app::CGrainforgeDoc&, const fs::path&) {}, opened, "NoSuchPattern"},
        {"Box deleted, a sphere added",
            [&](app::CGrainforgeDoc& doc, const fs::path&) {
                doc.DeleteMaskVolume(0);
                sphere(doc);
            },
            {{"grip", add}, {"Cap", cut}, {"Sphere 1", none}}, "NoSuchPattern"},
        {"grip duplicated", [](app::CGrainforgeDoc& doc, const fs::path&) { doc.DuplicateMaskVolume(1); },
            {{"Box", subtract}, {"grip", add}, {"Cap", cut}, {"grip copy", none}}, "NoSuchPattern"},
        {"Box deleted, Undo",
            [](app::CGrainforgeDoc& doc, const fs::path&) {
                doc.DeleteMaskVolume(0);
                doc.OnEditUndo();
            },
            opened, "NoSuchPattern"},
        {"Box deleted, Undo, Redo",
            [](app::CGrainforgeDoc& doc, const fs::path&) {
                doc.DeleteMaskVolume(0);
                doc.OnEditUndo();
                doc.OnEditRedo();
            },
            {{"grip", add}, {"Cap", cut}}, "NoSuchPattern"},
        {"grip deleted, a sphere added, both undone",
            [&](app::CGrainforgeDoc& doc, const fs::path&) {
                doc.DeleteMaskVolume(1);
                sphere(doc);
                doc.OnEditUndo();
                doc.OnEditUndo();
            },
            opened, "NoSuchPattern"},
        {"Save As, then Cap deleted",
            [](app::CGrainforgeDoc& doc, const fs::path& folder) {
                ASSERT_TRUE(doc.SaveProject(folder / "elsewhere.gfproj"));
                doc.DeleteMaskVolume(2);
            },
            {{"Box", subtract}, {"grip", add}}, "NoSuchPattern"},
        {"Small bricks picked", [&](app::CGrainforgeDoc& doc, const fs::path&) { bricks(doc); }, opened, "Bricks"},
        {"Small bricks picked, saved, Undo",
            [&](app::CGrainforgeDoc& doc, const fs::path& folder) {
                bricks(doc);
                ASSERT_TRUE(doc.SaveProject(folder / "job.gfproj"));
                doc.OnEditUndo();
            },
            opened, "NoSuchPattern"},
        {"Small bricks picked, Undo, Redo",
            [&](app::CGrainforgeDoc& doc, const fs::path&) {
                bricks(doc);
                doc.OnEditUndo();
                doc.OnEditRedo();
            },
            opened, "Bricks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        for (const char* name : {"Box", "grip", "Cap"}) {
            doc.maskVolumes.push_back(mesh::MaskVolume{});
            doc.maskVolumes.back().name = name;
        }
        ASSERT_TRUE(doc.SaveProject(folder / "job.gfproj"));
        Json project = Json::parse(FileText(folder / "job.gfproj"));
        project["version"] = 2;
        project["futureSection"] = {{"values", {1, 2, 3}}};
        project["remesh"]["futureKnob"] = 7;
        project["texture"]["settings"]["futureSetting"] = true;
        project["projection"]["futureProjection"] = "x";
        project["part"]["futurePart"] = 1;
        project["part"]["path"] = (folder / "other.stl").string();
        project["part"]["relative"] = "other.stl";
        project["texture"]["procedural"] = "NoSuchPattern";
        project["texture"]["proceduralParameters"] = "a=1\n";
        project["texture"]["proceduralPreset"] = "Mine";
        project["texture"]["image"]["path"] = (folder / "bark.png").string();
        for (std::size_t i = 0; i < opened.size(); ++i)
            project["mask" + std::to_string(i)]["extra"] = opened[i].second;
        WriteAllText(folder / "job.gfproj", project.dump());
        f.host.lines.clear();
        ASSERT_TRUE(doc.OpenDocument(folder / "job.gfproj"));
        const std::vector<std::string> warnings = f.host.Lines(app::kLogWarning);
        EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                      "The project names both the test shape \"cube\" and a part file; the test shape was opened, "
                      "and the part file's entry is kept as it is and saved with the project: part.path, "
                      "part.relative. The project names both the pattern \"NoSuchPattern\" and an image; the pattern "
                      "was opened, and the image's entry is kept as it is and saved with the project: "
                      "texture.image.path."),
            warnings.end())
            << ::testing::PrintToString(warnings);

        c.edit(doc, folder.Path());
        ASSERT_TRUE(doc.SaveProject(folder / "again.gfproj"));
        const Json saved = Json::parse(FileText(folder / "again.gfproj"));
        // Member by member: each kept one where it was read, as it was.
        for (const char* pointer : {"/futureSection", "/remesh/futureKnob", "/texture/settings/futureSetting",
                 "/projection/futureProjection", "/part/futurePart", "/part/path", "/part/relative",
                 "/texture/image/path"}) {
            const Json::json_pointer at(pointer);
            EXPECT_EQ(saved.value(at, Json()), project.at(at)) << pointer;
        }
        EXPECT_EQ(saved["part"]["testShape"], "cube");
        EXPECT_EQ(saved["texture"]["procedural"], std::string(c.pattern));
        if (std::string(c.pattern) == "NoSuchPattern") {
            EXPECT_EQ(saved["texture"]["proceduralParameters"], "a=1\n");
            EXPECT_EQ(saved["texture"]["proceduralPreset"], "Mine");
        }
        ASSERT_EQ(saved["maskCount"], c.masks.size());
        for (std::size_t i = 0; i < c.masks.size(); ++i) {
            const Json& mask = saved["mask" + std::to_string(i)];
            EXPECT_EQ(mask["name"], c.masks[i].first) << i;
            if (c.masks[i].second.is_null())
                EXPECT_FALSE(mask.contains("extra")) << c.masks[i].first << " took " << mask["extra"].dump();
            else
                EXPECT_EQ(mask.value("extra", Json()), c.masks[i].second) << c.masks[i].first;
        }
        EXPECT_FALSE(saved.contains("mask" + std::to_string(c.masks.size())));
    }
}

// What the program places itself, round a part lying far out, reopens as it was saved: the
// reader held the fitted cage's centre and the relief's base to 100,000 mm, so a part 1e6 mm out
// reopened with the texture no longer on it. Fitted mask volumes, and a single tile's zoom and
// origin fitted to a large part, too.
TEST(DocumentProjectTest, PlacementsRoundAFarPartReopenAsSaved)
{
    // How far out, and the part's edge: the largest part as far out as a float reaches.
    const std::pair<float, float> cases[] = {{1e5f, 20.0f}, {1e6f, 20.0f}, {-3e7f, 20.0f}, {1e20f, 1e16f},
        {-1e38f, 1e34f}};
    for (const auto& [out, edge] : cases) {
        SCOPED_TRACE(out);
        TempFolder folder;
        mesh::TriangleMesh part = mesh::MakeTestCube(edge);
        for (mesh::MeshVertex& vertex : part.vertices)
            vertex.position = vertex.position + mesh::Vec3{out, out / 2.0f, out};
        part.ComputeBounds();
        fs::create_directories(folder.Path());
        WriteAllBytes(folder / "far.stl", mesh::EncodeBinaryStl(part, "far"));
        DocumentFixture f;
        app::CGrainforgeDoc& doc = *f.doc;
        ASSERT_TRUE(doc.OpenDocument(folder / "far.stl")) << ::testing::PrintToString(f.host.Lines(app::kLogError));
        // A pattern that does not repeat: the fit zooms one tile across the cage and centres it.
        doc.RenderProceduralTexture(mesh::procedural::CreateProceduralTexture("Penrose"), L"", false);
        ASSERT_TRUE(doc.OnMappingFitToModel() || true);
        doc.workingPart.ComputeBounds();
        mesh::MaskVolume mask;
        mask.center = (doc.workingPart.boundsMin + doc.workingPart.boundsMax) * 0.5f;
        mask.size = doc.workingPart.boundsMax - doc.workingPart.boundsMin;
        ASSERT_GE(doc.AddMaskVolume(mask), 0);
        const app::EditState before = doc.CaptureEditState();
        ASSERT_TRUE(doc.SaveProject(folder / "far.gfproj"));
        f.host.lines.clear();
        ASSERT_TRUE(doc.OpenDocument(folder / "far.gfproj"));
        EXPECT_EQ(f.host.Lines(app::kLogWarning), std::vector<std::string>{});
        const app::EditState after = doc.CaptureEditState();
        EXPECT_TRUE(mesh::OrientedBoxEquals(after.projection.cage, before.projection.cage));
        EXPECT_EQ(after.displacement.base.planeMillimetres, before.displacement.base.planeMillimetres);
        ASSERT_EQ(after.masks.size(), 1u);
        EXPECT_TRUE(mesh::MaskVolumeEquals(after.masks[0], before.masks[0]));
        // Everything of the snapshot but the pixels' generation, which an opening renews.
        EXPECT_TRUE(app::TextureSettingsEqual(after.textureSettings, before.textureSettings));
        EXPECT_TRUE(mesh::DisplacementSettingsEquals(after.displacement, before.displacement));
        EXPECT_TRUE(mesh::RemeshSettingsEquals(after.remesh, before.remesh));
        EXPECT_TRUE(mesh::SimplifySettingsEquals(after.simplify, before.simplify));
        EXPECT_EQ(after.partTransform.translation, before.partTransform.translation);
        EXPECT_EQ(after.imagePath, before.imagePath);
        EXPECT_TRUE(app::EditStateSidesEquals(after, before));
    }
}

// With the aspect locked the tile's height follows the width: the height said is the one in
// force (the width at the texture's aspect), which the next save writes. A height in its range
// that disagrees with the lock was replaced without a word.
TEST(DocumentProjectTest, ALockedTileHeightIsSaidAsTheHeightInForce)
{
    const struct {
        const char* texture;  // an image's size, or a pattern's name
        float width;
        double height;
        float inForce;
        const char* said;
    } cases[] = {
        {"8x4", 0.2f, 1e30, 0.1f, "Tile height 1e+30 mm is now 0.1 mm"},
        {"256x128", 30.0f, 20.0, 15.0f, "Tile height 20 mm is now 15 mm"},
        {"Noise", 30.0f, 50.0, 30.0f, "Tile height 50 mm is now 30 mm"},
        {"256x128", 30.0f, 15.0, 15.0f, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said != nullptr ? c.said : "in force");
        TempFolder folder;
        app::ProjectData data;
        data.testShape = "cube";
        if (std::string(c.texture).find('x') != std::string::npos) {
            const int width = std::stoi(c.texture), height = std::stoi(std::strchr(c.texture, 'x') + 1);
            WriteAllBytes(folder / "grain.png", grainforge::test::UniformGreyPng(width, height, 128));
            data.textureImagePath = folder / "grain.png";
        } else {
            data.proceduralName = c.texture;
        }
        data.textureSettings.widthMillimetres = c.width;
        data.textureSettings.lockAspect = true;
        std::string error;
        ASSERT_TRUE(app::WriteProject(folder / "job.gfproj", data, error)) << error;
        nlohmann::json project = nlohmann::json::parse(FileText(folder / "job.gfproj"));
        project["texture"]["settings"]["heightMillimetres"] = c.height;
        WriteAllText(folder / "job.gfproj", project.dump());

        DocumentFixture f;
        ASSERT_TRUE(f.doc->OpenDocument(folder / "job.gfproj"));
        EXPECT_EQ(f.doc->heightMap.settings.heightMillimetres, c.inForce);
        const std::vector<std::string> warnings = f.host.Lines(app::kLogWarning);
        if (c.said == nullptr) {
            EXPECT_TRUE(warnings.empty()) << warnings.front();
            continue;
        }
        ASSERT_FALSE(warnings.empty());
        EXPECT_EQ(warnings.back(), "The project holds values its fields do not take; each was changed to the nearest "
                                   "they take: " + std::string(c.said) + ".");
        ASSERT_TRUE(f.doc->SaveProject(folder / "again.gfproj"));
        app::ProjectData again;
        ASSERT_TRUE(app::ReadProject(folder / "again.gfproj", again, error)) << error;
        EXPECT_EQ(again.textureSettings.heightMillimetres, c.inForce);
    }
}

// Open the user's "job part.stl", save it as job.gfproj, reopen, change the part and save
// again and again: each changed part goes to a new free name, and no part file, the user's or
// one the project wrote, is replaced or removed, also when the name is not ASCII or not UTF-8.
TEST(DocumentProjectTest, SavesNeverRemoveAPartFileTheUserMade)
{
    for (const std::string stem : {"job", "\xc3\x9c" "bung", "job\xff"}) {
        SCOPED_TRACE(app::PathToUtf8(stem));
        const auto name = [&](const char* tail) { return stem + tail; };
        TempFolder folder;
        WriteCube(folder / name(" part.stl"));
        const std::string users = FileText(folder / name(" part.stl"));
        const fs::path project = folder / name(".gfproj");
        DocumentFixture f;
        app::CGrainforgeDoc& doc = *f.doc;
        doc.surfaceTestCells = 32;
        ASSERT_TRUE(doc.OpenDocument(folder / name(" part.stl")));
        ASSERT_TRUE(doc.SaveProject(project));
        doc.OnNewDocument();
        ASSERT_TRUE(doc.OpenDocument(project));

        std::vector<std::string> expected = {name(" part.stl"), name(".gfproj")};
        for (const char* written : {" part 2.stl", " part 3.stl", " part 4.stl"}) {
            SCOPED_TRACE(written);
            doc.partChangedSinceOpened = true;
            ASSERT_TRUE(doc.SaveProject(project));
            EXPECT_EQ(doc.partSourcePath, app::PathToWide(folder / name(written)));
            EXPECT_TRUE(FileText(folder / name(" part.stl")) == users) << "the user's part was replaced or removed";
            expected.push_back(name(written));
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(folder.List(), expected);
        }
        // A save that leaves the part as it is writes no part.
        doc.SetModifiedFlag(true);
        ASSERT_TRUE(doc.SaveProject(project));
        EXPECT_EQ(folder.List(), expected);
    }
}

// Another project names "A part.stl": one saved from A under another name, a file-manager copy
// of A, or A itself received naming the user's own file as one it wrote. A save of A with a
// changed part keeps that file, and the other project still opens on it.
TEST(DocumentProjectTest, ChangedPartSaveKeepsThePartOtherProjectsName)
{
    for (const char* other : {"B.gfproj", "A backup.gfproj", ""}) {
        SCOPED_TRACE(other);
        TempFolder folder;
        const fs::path a = folder / "A.gfproj";
        const fs::path shared = folder / "A part.stl";
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        if (*other == '\0') {
            WriteCube(shared, 12.0f);
            WriteAllText(a, "{\"application\": \"Grainforge project\", \"part\": {\"path\": \"" + shared.string() +
                                "\", \"writtenBeside\": \"A part.stl\"}}");
        } else {
            WriteCube(folder / "mine.stl");
            ASSERT_TRUE(f.doc->OpenDocument(folder / "mine.stl"));
            f.doc->partChangedSinceOpened = true;
            ASSERT_TRUE(f.doc->SaveProject(a) && f.doc->OpenDocument(a));
            if (std::string(other) == "B.gfproj")
                ASSERT_TRUE(f.doc->SaveProject(folder / other));
            else
                fs::copy_file(a, folder / other);
        }
        const std::string before = FileText(shared);
        ASSERT_TRUE(f.doc->OpenDocument(a));
        f.doc->partChangedSinceOpened = true;
        ASSERT_TRUE(f.doc->SaveProject(a));
        EXPECT_TRUE(fs::exists(shared) && FileText(shared) == before) << "the older part was removed or replaced";
        if (*other != '\0') {
            DocumentFixture g;
            g.doc->surfaceTestCells = 32;
            EXPECT_TRUE(g.doc->OpenDocument(folder / other) && g.doc->partSourcePath == shared.wstring());
        }
    }
}

// File > Test Shape replaces the work as Open does, so it asks first: Cancel keeps the part
// and its changes, No makes the shape.
TEST(DocumentProjectTest, TestShapeCommandsAskBeforeReplacingTheWork)
{
    TempFolder folder;
    WriteCube(folder / "block.stl");
    const std::tuple<int, app::PromptAnswer, const char*> cases[] = {
        {app::kCmdTestShapeCube, app::PromptAnswer::cancel, ""}, {app::kCmdTestShapeCube, app::PromptAnswer::no, "cube"},
        {app::kCmdTestShapeCylinder, app::PromptAnswer::cancel, ""}, {app::kCmdTestShapeSphere, app::PromptAnswer::no, "sphere"}};
    for (const auto& [id, answer, shape] : cases) {
        SCOPED_TRACE(id);
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ASSERT_TRUE(f.doc->OpenDocument(folder / "block.stl"));
        f.doc->SetModifiedFlag(true);
        f.host.answers = {answer};
        for (const app::CommandEntry& e : f.doc->Commands())
            if (e.id == id)
                e.execute();
        EXPECT_EQ(f.host.questions.size(), 1u);
        EXPECT_EQ(f.doc->testShapeName, shape);
        EXPECT_EQ(f.doc->IsModified(), answer == app::PromptAnswer::cancel);
    }
}

// A NUL byte in an image name entry ("%00" escaped, "\u0000" plain) makes a name that is not
// found, never the image named up to that byte, and a save does not write it back.
TEST(DocumentProjectTest, ImageNameHoldingNulIsNotFoundNorWrittenBack)
{
    TempFolder folder;
    ASSERT_TRUE(app::WriteGreyBmp(folder / "grain.bmp", std::vector<std::uint8_t>(64, 128), 8));
    const std::string image = (folder / "grain.bmp").string();
    const std::pair<const char*, std::string> entries[] = {{"path", image + std::string(1, '\0') + "b.bmp"},
        {"pathEscaped", image + "%00b.bmp"}, {"relative", std::string("grain.bmp\0b.bmp", 15)},
        {"relativeEscaped", "grain.bmp%00b.bmp"}};
    for (const auto& [member, name] : entries) {
        SCOPED_TRACE(member);
        mesh::JsonValue project = {{"application", "Grainforge project"}, {"part", {{"testShape", "cube"}}}};
        project["texture"]["image"][member] = name;
        WriteAllText(folder / "job.gfproj", project.dump());
        DocumentFixture f;
        ASSERT_TRUE(f.WithCube().OpenDocument(folder / "job.gfproj"));
        EXPECT_FALSE(f.doc->IsHeightMapLoaded());
        EXPECT_TRUE(f.host.information.back().first.starts_with(L"The project's texture was not found:"));
        ASSERT_TRUE(f.doc->SaveProject(folder / "again.gfproj"));
        EXPECT_EQ(FileText(folder / "again.gfproj").find("grain.bmp"), std::string::npos);
    }
}

// A part or project given by a name relative to the current folder (the command line) is kept
// by its absolute name: the part's ".path", the project's path and the recent files.
TEST(DocumentProjectTest, RelativeNamesAreKeptAbsolute)
{
    TempFolder folder;
    WriteCube(folder / "part.stl");
    const struct InFolder {
        fs::path previous = fs::current_path();
        ~InFolder() { fs::current_path(previous); }
    } restore;
    fs::current_path(folder.Path());
    const fs::path here = fs::current_path();
    for (const char* given : {"part.stl", "./part.stl"}) {
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ASSERT_TRUE(f.doc->OpenDocument(given) && f.doc->SaveProject("job.gfproj"));
        EXPECT_NE(FileText("job.gfproj").find("\"path\": \"" + (here / "part.stl").string()), std::string::npos);
        ASSERT_TRUE(f.doc->OpenDocument("./job.gfproj"));
        const fs::path job = here / "job.gfproj";
        EXPECT_EQ(f.host.recentFiles, (std::vector<fs::path>{here / "part.stl", job, job})) << given;
    }
}

TEST(DocumentProjectTest, SaveModifiedAsksOnlyWhenThereIsWorkToLose)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.SetModifiedFlag(false);
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_TRUE(f.host.questions.empty());

    doc.SetModifiedFlag(true);
    f.host.answers = {app::PromptAnswer::cancel, app::PromptAnswer::no};
    EXPECT_FALSE(doc.SaveModified());
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_EQ(f.host.questions[0], L"Save the project before going on?\n\nIt keeps the part, the texture, its "
                                   L"placement, the masks and every setting.");

    // Yes with a project path saves it there.
    ASSERT_TRUE(doc.SaveProject(folder / "job.gfproj"));
    doc.SetModifiedFlag(true);
    f.host.answers = {app::PromptAnswer::yes};
    EXPECT_TRUE(doc.SaveModified());
    EXPECT_EQ(f.host.questions.back(), L"Save the changes to job.gfproj?");
    EXPECT_FALSE(doc.IsModified());
}

}  // namespace
}  // namespace grainforge::test
