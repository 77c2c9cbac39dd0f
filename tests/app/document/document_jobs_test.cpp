// The modal mesh jobs through the document: a stop, a failure and a refusal leave the part as
// it was; a success replaces it in its loaded frame and marks it changed.
#include "app/document/document_commands.h"
#include "app/document/log_text.h"
#include "tests/app/document/document_fixture.h"

#include "engine/mesh/mesh_validation.h"
#include "engine/repair/non_manifold_repair.h"
#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>

namespace grainforge::test {
namespace {

// A runner double: the flag is already set when the job starts (Esc held), or the thread
// cannot be had and the job never runs.
class ScriptedRunner final : public app::IModalJobRunner {
public:
    enum class Mode { cancelled, notStarted };
    explicit ScriptedRunner(Mode m) : mode(m) {}
    bool RunModalJob(const app::ModalJob& job) override
    {
        ++calls;
        if (mode == Mode::notStarted)
            return false;
        const std::atomic<bool> cancel{true};
        job(cancel);
        return false;
    }
    Mode mode;
    int calls = 0;
};

mesh::Transform3x4 QuarterTurnAboutX()
{
    mesh::Transform3x4 t;
    t.m11 = 0.0f;
    t.m12 = -1.0f;
    t.m21 = 1.0f;
    t.m22 = 0.0f;
    t.translation = {0.0f, 0.0f, 10.0f};
    return t;
}

bool HasLine(const RecordingHost& host, const std::string& text, int level)
{
    const std::vector<std::string> lines = host.Lines(level);
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

void ExpectPartUntouched(const app::CGrainforgeDoc& doc, const mesh::TriangleMesh& before)
{
    EXPECT_EQ(doc.loadedPart.indices, before.indices);
    EXPECT_EQ(doc.loadedPart.vertices.size(), before.vertices.size());
    EXPECT_FALSE(doc.partChangedSinceOpened);
    EXPECT_FALSE(doc.IsModified());
}

TEST(DocumentJobsTest, PresetCancelFlagStopsSimplifyAndRemesh)
{
    const struct {
        const char* name;
        bool remesh;
        const char* stopped;
    } cases[] = {
        {"simplify", false, "Simplify Input Mesh: stopped. The part is as it was."},
        {"remesh", true, "Remesh Input Mesh: stopped. The part is as it was."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFixture f;
        ScriptedRunner runner(ScriptedRunner::Mode::cancelled);
        f.doc->SetHost([&] {
            app::DocumentHost h = f.host.Host();
            h.jobs = &runner;
            return h;
        }());
        f.doc->surfaceTestCells = 32;
        f.doc->OnFileTestShapeSphere();
        f.doc->SetModifiedFlag(false);
        const mesh::TriangleMesh before = f.doc->loadedPart;
        mesh::RemeshSettings settings = f.doc->remeshSettings;
        settings.targetEdgeMillimetres = 1.0f;
        const bool replaced = c.remesh ? f.doc->RemeshInputMesh(settings) : f.doc->SimplifyInputMesh();
        EXPECT_FALSE(replaced);
        EXPECT_EQ(runner.calls, 1);
        EXPECT_TRUE(HasLine(f.host, c.stopped, app::kLogWarning));
        ExpectPartUntouched(*f.doc, before);
        // The busy text was shown and cleared again.
        EXPECT_EQ(f.host.information.back(), std::make_pair(std::wstring(), app::kInfoOk));
    }
}

// A part placed with a quarter turn is simplified where it stands and stored back in the frame
// it was loaded in: its length stays on z, and the placement still applies to it.
TEST(DocumentJobsTest, RotatedPartIsStoredBackInItsLoadedFrame)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = *f.doc;
    doc.surfaceTestCells = 32;
    doc.OnFileTestShapeCylinder();
    doc.loadedPart.ComputeBounds();
    const mesh::Vec3 loaded = doc.loadedPart.boundsMax - doc.loadedPart.boundsMin;
    const std::size_t trianglesBefore = doc.loadedPart.TriangleCount();
    doc.partTransform = QuarterTurnAboutX();
    doc.RebuildWorkingPart();
    doc.simplifySettings.meshDetailError = 1.0f;
    doc.SetModifiedFlag(false);

    ASSERT_TRUE(doc.SimplifyInputMesh());
    EXPECT_LT(doc.loadedPart.TriangleCount(), trianglesBefore);
    ASSERT_TRUE(doc.loadedPart.boundsValid);
    const mesh::Vec3 got = doc.loadedPart.boundsMax - doc.loadedPart.boundsMin;
    EXPECT_NEAR(got.z, loaded.z, 0.05f);
    EXPECT_NEAR(got.x, loaded.x, 0.5f);
    EXPECT_TRUE(doc.partChangedSinceOpened);
    EXPECT_TRUE(doc.IsModified());
    // The working part is the new part placed: lying along y.
    doc.workingPart.ComputeBounds();
    EXPECT_NEAR(doc.workingPart.boundsMax.y - doc.workingPart.boundsMin.y, loaded.z, 0.05f);
    EXPECT_EQ(doc.workingPart.TriangleCount(), doc.loadedPart.TriangleCount());
    const std::vector<std::string> success = f.host.Lines(app::kLogSuccess);
    ASSERT_FALSE(success.empty());
    EXPECT_EQ(success.front().rfind("Simplify Input Mesh: ", 0), 0u);
}

// A job that cannot run, or that the engine refuses, is reported as a failure at level 4 with
// an error box; the part stays.
TEST(DocumentJobsTest, FailedAndRefusedJobsLeaveThePart)
{
    {
        DocumentFixture f;
        ScriptedRunner runner(ScriptedRunner::Mode::notStarted);
        app::DocumentHost h = f.host.Host();
        h.jobs = &runner;
        f.doc->SetHost(h);
        f.WithCube();
        f.doc->SetModifiedFlag(false);
        const mesh::TriangleMesh before = f.doc->loadedPart;
        const struct {
            const char* name;
            bool (*run)(app::CGrainforgeDoc&);
            const char* text;
        } cases[] = {
            {"simplify", [](app::CGrainforgeDoc& d) { return d.SimplifyInputMesh(); },
                "Simplify Input Mesh could not be started. The part is as it was."},
            {"remesh", [](app::CGrainforgeDoc& d) { return d.RemeshInputMesh(d.remeshSettings); },
                "Remesh Input Mesh could not be started. The part is as it was."},
            {"repair", [](app::CGrainforgeDoc& d) { return d.RepairMeshInPlace(); },
                "Repair could not be started. The part is as it was."},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_FALSE(c.run(*f.doc));
            EXPECT_EQ(f.host.Lines(app::kLogError).back(), c.text);
            EXPECT_EQ(f.host.information.back(), std::make_pair(app::Utf8ToWide(c.text), app::kInfoError));
            ExpectPartUntouched(*f.doc, before);
        }
    }
    {
        // Over the triangle limit: refused before anything runs.
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        doc.SetModifiedFlag(false);
        const mesh::TriangleMesh before = doc.loadedPart;
        doc.maximumTriangles = 100;
        mesh::RemeshSettings settings = doc.remeshSettings;
        settings.targetEdgeMillimetres = 0.2f;
        EXPECT_FALSE(doc.RemeshInputMesh(settings));
        const std::string error = f.host.Lines(app::kLogError).back();
        EXPECT_EQ(error.rfind("Remesh Input Mesh would make about ", 0), 0u);
        EXPECT_EQ(f.host.information.back().second, app::kInfoError);
        ExpectPartUntouched(doc, before);
    }
    // A triangle size too large for the 20 mm cube: refused, with the cause and the size
    // that makes a surface; that size, typed as the text writes it, then runs and replaces the
    // part by a closed one of at least a box's twelve triangles.
    const struct {
        mesh::RemeshMethod method;
        float size;
    } coarse[] = {{mesh::RemeshMethod::contour, 100.0f}, {mesh::RemeshMethod::contour, 1000.0f},
        {mesh::RemeshMethod::contour, 40.0f}, {mesh::RemeshMethod::isotropic, 100.0f},
        {mesh::RemeshMethod::isotropic, 1000.0f}};
    for (const auto& c : coarse) {
        SCOPED_TRACE(c.size);
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        doc.SetModifiedFlag(false);
        const mesh::TriangleMesh before = doc.loadedPart;
        mesh::RemeshSettings settings = doc.remeshSettings;
        settings.method = c.method;
        settings.targetEdgeMillimetres = c.size;
        EXPECT_FALSE(doc.RemeshInputMesh(settings));
        const std::string error = f.host.Lines(app::kLogError).back();
        EXPECT_EQ(error.rfind("Remesh Input Mesh would make about ", 0), 0u) << error;
        EXPECT_NE(error.find(" triangles, too few for the part's surface: triangles of "), std::string::npos) << error;
        EXPECT_NE(error.find(" mm are too large for a part of 20.00 x 20.00 x 20.00 mm. The part is as it was; "),
            std::string::npos) << error;
        EXPECT_EQ(f.host.information.back(), std::make_pair(app::Utf8ToWide(error), app::kInfoError));
        EXPECT_TRUE(HasLine(f.host, app::RemeshStartLine(12, c.size), app::kLogPlain));
        ExpectPartUntouched(doc, before);

        const std::string atMost = "a triangle size of at most ";
        const std::size_t at = error.find(atMost);
        ASSERT_NE(at, std::string::npos) << error;
        settings.targetEdgeMillimetres = std::stof(error.substr(at + atMost.size()));
        EXPECT_LT(settings.targetEdgeMillimetres, 22.0f);
        EXPECT_GT(settings.targetEdgeMillimetres, 10.0f);
        ASSERT_TRUE(doc.RemeshInputMesh(settings)) << f.host.Lines(app::kLogError).back();
        EXPECT_GE(doc.loadedPart.TriangleCount(), 12u);
        const mesh::ValidationReport check = mesh::ValidateMesh(doc.loadedPart, {});
        EXPECT_EQ(check.edgeCounts.boundary, 0u);
        EXPECT_EQ(check.edgeCounts.nonManifold, 0u);
        EXPECT_NEAR(check.signedVolume, 8000.0f, 800.0f);
    }
    {
        // A 1 mm disc under 10 mm cells: enough triangles by the estimate, but the contour
        // keeps none of a part thinner than its cell. A failure, not an empty part.
        DocumentFixture f;
        app::CGrainforgeDoc& doc = f.WithCube();
        doc.InstallGeneratedPart(mesh::MakeTestCylinder(30.0f, 1.0f), "Disc", L"Disc", "Disc.");
        doc.SetModifiedFlag(false);
        const mesh::TriangleMesh before = doc.loadedPart;
        mesh::RemeshSettings settings = doc.remeshSettings;
        settings.targetEdgeMillimetres = 10.0f;
        EXPECT_FALSE(doc.RemeshInputMesh(settings));
        EXPECT_EQ(f.host.Lines(app::kLogError).back(),
            "Remesh Input Mesh could not remesh the part: it made no triangles, as triangles of 10.00 mm are "
            "wider than the part's thinnest places; a smaller triangle size keeps them.");
        ExpectPartUntouched(doc, before);
    }
}

TEST(DocumentJobsTest, NothingToDoIsSaidAndThePartStays)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    doc.SetModifiedFlag(false);
    const mesh::TriangleMesh before = doc.loadedPart;
    EXPECT_FALSE(doc.SimplifyInputMesh());
    EXPECT_EQ(f.host.information.back(),
        std::make_pair(std::wstring(L"Nothing to simplify at this detail level: no merge was cheap enough."),
            app::kInfoOk));
    EXPECT_FALSE(doc.RepairMeshInPlace());
    EXPECT_TRUE(HasLine(f.host, "Repair: nothing needed changing.", app::kLogPlain));
    ExpectPartUntouched(doc, before);

    // The repair service of another system: said so, no job started, the command disabled.
    EXPECT_FALSE(doc.FixMeshWithWindows());
    EXPECT_EQ(f.host.information.back(),
        std::make_pair(std::wstring(L"This Windows does not offer the 3D printing repair service."), app::kInfoError));
    for (const app::CommandEntry& entry : doc.Commands())
        if (entry.id == app::kCmdRepairWithWindows) {
            app::CommandState state;
            entry.update(state);
            EXPECT_FALSE(state.enabled);
        }
}

// Two separate cubes: Repair asks first; a repair that changes the part installs it and says
// what it did. What the file's reading said of the part is then headed as the file's, not the
// part's.
TEST(DocumentJobsTest, RepairOfADoubledPartReplacesIt)
{
    TempFolder folder;
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    // The cube twice over the same place: duplicate triangles Repair removes.
    mesh::TriangleMesh doubled = doc.loadedPart;
    const std::uint32_t offset = static_cast<std::uint32_t>(doubled.vertices.size());
    doubled.vertices.insert(doubled.vertices.end(), doc.loadedPart.vertices.begin(), doc.loadedPart.vertices.end());
    for (const std::uint32_t index : doc.loadedPart.indices)
        doubled.indices.push_back(index + offset);
    doubled.ComputeBounds();
    WriteAllBytes(folder / "doubled.stl", mesh::EncodeBinaryStl(doubled, "doubled"));
    ASSERT_TRUE(doc.OpenDocument(folder / "doubled.stl"));
    const std::string read = doc.MeshInformationReport();
    EXPECT_NE(read.find("\r\nImport warnings\r\n  The file contains 12 duplicate triangles."), std::string::npos)
        << read;

    f.host.answers = {app::PromptAnswer::no};
    doc.OnMeshRepair();
    ASSERT_EQ(f.host.questions.size(), 1u);
    EXPECT_EQ(f.host.questions[0].rfind(L"Repair the part as loaded?\n\n", 0), 0u);
    // Welding and splitting move corners, so the question promises no still surface.
    EXPECT_EQ(f.host.questions[0].find(L"does not move the surface"), std::wstring::npos);
    EXPECT_EQ(doc.loadedPart.TriangleCount(), 24u);

    f.host.answers = {app::PromptAnswer::yes};
    doc.OnMeshRepair();
    EXPECT_EQ(doc.loadedPart.TriangleCount(), 12u);
    EXPECT_TRUE(doc.partChangedSinceOpened);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(app::WideToUtf8(f.host.information.back().first).rfind("Repaired: open edges ", 0), 0u);
    const std::string repaired = doc.MeshInformationReport();
    EXPECT_NE(repaired.find("  Non-manifold edges: 0\r\n"), std::string::npos) << repaired;
    EXPECT_NE(repaired.find("\r\nImport warnings (the file as read; the part has been changed since)\r\n  The file "
                            "contains 12 duplicate triangles."),
        std::string::npos)
        << repaired;
}

// What validation says Repair does to a part's non-manifold edges is what Repair then does, and
// what Repair says last stays in the box. The note once promised to split a wall's edges that
// Repair leaves, and a repair that could not start was followed by "Nothing was changed."
TEST(DocumentJobsTest, RepairDoesWhatTheNoteSaysAndItsTextStays)
{
    const mesh::TriangleMesh pair = Translated(MakeWeldedCubePair({10, 10, 0}), {30, 0, 0});
    const struct {
        const char* what;
        mesh::TriangleMesh part;
        const char* note;       // how the note on non-manifold edges ends
        std::uint64_t left;     // non-manifold edges after Repair
        const char* box;        // a line of the box after Repair
    } cases[] = {
        {"a wall across a box", MakeBoxWithInnerWall(), "Repair cannot part them without opening the surface, so that "
            "needs fixing in the modelling tool.", 4, "Nothing was changed: Repair mends none of what is wrong with this "
            "part.\n4 non-manifold edges are left, which no split could part."},  // the log said "nothing needed changing"
        {"two boxes on an edge", pair, "Repair parts all of them.", 0, "non-manifold edges 1 to 0"},
        {"both", Combined(MakeBoxWithInnerWall(), pair), "Repair parts 1 of them; the other 4 it cannot part without "
            "opening the surface, so those need fixing in the modelling tool.", 4, "non-manifold edges 5 to 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocumentFixture f;
        f.doc->InstallGeneratedPart(c.part, "Part", L"Part", "Part.");
        const std::string& note = f.doc->partValidation.notes.at(0);
        EXPECT_EQ(note.substr(note.size() - std::string(c.note).size()), c.note);
        f.host.answers = {app::PromptAnswer::yes};
        f.doc->OnMeshRepair();
        EXPECT_EQ(mesh::CountNonManifoldEdges(f.doc->loadedPart), c.left);
        EXPECT_NE(app::WideToUtf8(f.host.information.back().first).find(c.box), std::string::npos)
            << app::WideToUtf8(f.host.information.back().first);
        EXPECT_EQ(HasLine(f.host, "Repair: nothing was changed; 4 non-manifold edges are left, which no split could "
                                  "part.", app::kLogPlain), c.left == mesh::CountNonManifoldEdges(c.part));
        // After Repair the note on the edges it left says what a Repair of the part as it stands
        // does: it parts none of them.
        if (c.left != 0) {
            const std::string& after = f.doc->partValidation.notes.at(0);
            const std::string none = "Repair cannot part them without opening the surface, so that needs fixing in "
                                     "the modelling tool.";
            EXPECT_EQ(after.substr(after.size() - std::min(after.size(), none.size())), none);
        }
    }
    DocumentFixture f;
    ScriptedRunner runner(ScriptedRunner::Mode::notStarted);
    app::DocumentHost h = f.host.Host();
    h.jobs = &runner;
    f.doc->SetHost(h);
    f.doc->InstallGeneratedPart(MakeBoxWithInnerWall(), "Part", L"Part", "Part.");
    f.host.answers = {app::PromptAnswer::yes};
    f.doc->OnMeshRepair();
    EXPECT_EQ(f.host.information.back(),
        std::make_pair(std::wstring(L"Repair could not be started. The part is as it was."), app::kInfoError));
}

// Once Repair has run on a part, the note on the open edges it left no longer sends the user
// back to Repair: a robot support whose hole a fill could close only through the surface was
// told "Repair closes small gaps where triangles are missing" right after Repair declined it.
TEST(DocumentJobsTest, NoteOnOpenEdgesDoesNotSendTheUserBackToTheRepairThatLeftThem)
{
    // A 30 mm box without its top: a hole too large to close by guessing.
    mesh::TriangleMesh open = MakeBox({0, 0, 0}, {30, 30, 30});
    std::vector<std::uint32_t> kept;
    for (std::size_t t = 0; t < open.TriangleCount(); ++t) {
        const std::uint32_t* c = &open.indices[3 * t];
        if (open.vertices[c[0]].position.z == 30.0f && open.vertices[c[1]].position.z == 30.0f
            && open.vertices[c[2]].position.z == 30.0f)
            continue;
        kept.insert(kept.end(), c, c + 3);
    }
    open.indices = kept;
    open.ComputeBounds();
    const std::string rule = "Repair closes small gaps where triangles are missing; holes in the design are surfaces "
                             "of their own and are not touched.";
    const std::string closed = "Repair has closed what it could of them; the rest need closing in the modelling tool.";
    const struct {
        const char* what;
        mesh::TriangleMesh part;
        std::uint64_t openAfter;
    } cases[] = {
        {"a box without its top, which Repair leaves", open, 4},
        {"the same beside a sphere with a small triangle missing, which Repair closes",
            Combined(open, [] {
                mesh::TriangleMesh sphere = Translated(mesh::MakeTestSphere(10.0f), {60, 0, 10});
                sphere.indices.resize(sphere.indices.size() - 3);
                return sphere;
            }()),
            4},
    };
    const auto openNote = [](const app::CGrainforgeDoc& doc) {
        for (const std::string& note : doc.partValidation.notes)
            if (note.find("open border") != std::string::npos)
                return note;
        return std::string();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DocumentFixture f;
        f.doc->InstallGeneratedPart(c.part, "Part", L"Part", "Part.");
        EXPECT_NE(openNote(*f.doc).find(rule), std::string::npos) << openNote(*f.doc);
        f.host.answers = {app::PromptAnswer::yes};
        f.doc->OnMeshRepair();
        EXPECT_EQ(f.doc->partValidation.edgeCounts.boundary, c.openAfter);
        EXPECT_NE(openNote(*f.doc).find(closed), std::string::npos) << openNote(*f.doc);
    }
}

// A job that throws anyway ends as a failed run, with the host's runner and without one.
TEST(DocumentJobsTest, AThrowingJobIsAFailedRun)
{
    const app::MeshJob throwing = [](const std::atomic<bool>&) { throw std::bad_alloc(); };
    DocumentFixture f;
    EXPECT_FALSE(f.doc->RunModalJob(throwing));
    app::CGrainforgeDoc bare;
    EXPECT_FALSE(bare.RunModalJob(throwing));
    EXPECT_TRUE(bare.RunModalJob([](const std::atomic<bool>&) {}));
}

}  // namespace
}  // namespace grainforge::test
