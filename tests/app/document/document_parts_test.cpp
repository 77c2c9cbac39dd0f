#include "app/document/document_commands.h"
#include "app/document/document_reports.h"
#include "tests/app/document/document_fixture.h"
#include "tests/support/shapes.h"
#include "tests/support/temp_folder.h"

#include "engine/files/stl_writer.h"
#include "engine/mesh/test_shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace grainforge::test {
namespace {

float LowestZ(const mesh::TriangleMesh& part)
{
    float low = INFINITY;
    for (const mesh::MeshVertex& v : part.vertices)
        low = std::min(low, v.position.z);
    return low;
}

// A cube standing on a plinth at z = 3: the import switches off the -Z side and seats the
// relief base on the lowest z, protected below. The file name is not ASCII; a test shape made
// afterwards is no longer that file.
TEST(DocumentPartsTest, ImportSeatsTheBaseOnTheLowestPoint)
{
    TempFolder folder;
    mesh::TriangleMesh cube = mesh::MakeTestCube(10.0f);
    for (mesh::MeshVertex& v : cube.vertices)
        v.position.z += 8.0f;
    const std::filesystem::path path = folder / "pi\xC3\xA8" "ce.stl";
    WriteAllBytes(path, mesh::EncodeBinaryStl(cube, "part"));

    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    ASSERT_TRUE(f.doc->OpenDocument(path));
    const mesh::BaseProtection& base = f.doc->displacementSettings.base;
    EXPECT_EQ(f.doc->projection.boxSideEnabled[5], 0);
    EXPECT_EQ(f.doc->projection.boxSideEnabled[4], 1);
    EXPECT_TRUE(base.enabled);
    EXPECT_TRUE(base.protectBelow);
    EXPECT_EQ(base.axis, 2);
    EXPECT_EQ(base.planeMillimetres, 3.0f);
    EXPECT_FALSE(f.doc->IsModified());
    EXPECT_EQ(f.doc->GetTitle(), L"pi\u00E8" L"ce.stl");
    EXPECT_EQ(f.host.Lines().front(), "Opening " + path.string());
    // Without the detailed log the import time is not written.
    for (const std::string& line : f.host.Lines())
        EXPECT_EQ(line.rfind("Imported in", 0), std::string::npos) << line;

    f.doc->OnFileTestShapeCube();
    EXPECT_TRUE(f.doc->GetPathName().empty());
    EXPECT_EQ(f.doc->GetTitle(), L"Test Cube");
}

TEST(DocumentPartsTest, TestShapesStandOnTheBed)
{
    const struct {
        void (app::CGrainforgeDoc::*command)();
        const char* name;
        const char* line;
    } cases[] = {
        {&app::CGrainforgeDoc::OnFileTestShapeCube, "cube", "Test cube: 20 mm, 12 triangles."},
        {&app::CGrainforgeDoc::OnFileTestShapeCylinder, "cylinder",
            "Test cylinder: 20 mm across, 20 mm tall, 256 triangles."},
        {&app::CGrainforgeDoc::OnFileTestShapeSphere, "sphere", "Test sphere: 20 mm across, 9,024 triangles."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ((*f.doc).*c.command)();
        EXPECT_EQ(f.doc->testShapeName, c.name);
        EXPECT_EQ(f.host.Lines(0).front(), c.line);
        EXPECT_EQ(f.doc->importReport.trianglesKept, f.doc->loadedPart.TriangleCount());
        EXPECT_TRUE(f.doc->undoStack.empty());
    }
    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    f.doc->OnFileTestShapeSphere();
    EXPECT_NEAR(LowestZ(f.doc->workingPart), 0.0f, 1e-5f);
    EXPECT_NEAR(f.doc->displacementSettings.base.planeMillimetres, 0.0f, 1e-5f);
}

// Laying the cube on its +X face: the masks turn with the part (they keep their place on it),
// the cage is fitted to the turned part and the candidates are those of the new placement.
TEST(DocumentPartsTest, LayOnFaceCarriesMasksAndRefits)
{
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    mesh::MaskVolume mask;
    mask.center = {10.0f, 0.0f, 5.0f};  // on the +X face, near its top
    mask.size = {2.0f, 2.0f, 2.0f};
    doc.maskVolumes.push_back(mask);
    doc.ComputeRestingFaces();
    int plusX = -1;
    for (std::size_t i = 0; i < doc.restingFaces.size(); ++i)
        if (doc.restingFaces[i].normal.x > 0.99f)
            plusX = static_cast<int>(i);
    ASSERT_GE(plusX, 0);
    const std::size_t undoBefore = doc.undoStack.size();

    ASSERT_TRUE(doc.LayOnFace(plusX));
    EXPECT_EQ(f.host.Lines(0).back(), "Laid on a face of 400.0 mm\xC2\xB2; the part now stands on it.");
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.undoStack.size(), undoBefore + 1);
    // The mask is where the same point of the part went: the part's transform maps the mask's
    // old centre onto its new one.
    const mesh::Transform3x4& t = doc.partTransform;
    const mesh::Vec3 p = mask.center;
    const mesh::Vec3 moved{t.m00 * p.x + t.m01 * p.y + t.m02 * p.z + t.translation.x,
        t.m10 * p.x + t.m11 * p.y + t.m12 * p.z + t.translation.y,
        t.m20 * p.x + t.m21 * p.y + t.m22 * p.z + t.translation.z};
    EXPECT_NEAR(doc.maskVolumes[0].center.x, moved.x, 1e-4f);
    EXPECT_NEAR(doc.maskVolumes[0].center.y, moved.y, 1e-4f);
    EXPECT_NEAR(doc.maskVolumes[0].center.z, moved.z, 1e-4f);
    // The +X face now rests where the bottom was (the test cube is centred on the origin).
    EXPECT_NEAR(moved.z, -10.0f, 1e-4f);
    EXPECT_NEAR(doc.projection.cage.center.z, 0.0f, 1e-3f);
    EXPECT_NEAR(LowestZ(doc.workingPart), -10.0f, 1e-4f);
    EXPECT_NEAR(doc.displacementSettings.base.planeMillimetres, -10.0f, 1e-4f);
    ASSERT_FALSE(doc.restingFaces.empty());
    EXPECT_FALSE(doc.LayOnFace(static_cast<int>(doc.restingFaces.size())));
    EXPECT_FALSE(doc.LayOnFace(-1));
}

// A closed file whose split edges are sealed by facets of no area imports closed: the log and
// the verdict describe the file, not what deleting those facets would make of it.
TEST(DocumentPartsTest, ClosedFileWithZeroAreaFacetsIsCalledClosed)
{
    TempFolder folder;
    const mesh::TriangleMesh part = WithZeroAreaFacet(WithZeroAreaFacet(mesh::MakeTestCube(10.0f), 0, 1, 0.25f), 7, 2, 0.75f);
    WriteAllBytes(folder / "sealed.stl", mesh::EncodeBinaryStl(part, "part"));
    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    ASSERT_TRUE(f.doc->OpenDocument(folder / "sealed.stl"));
    EXPECT_EQ(f.doc->CurrentValidation().verdict, mesh::Verdict::Good) << mesh::VerdictHeadline(f.doc->CurrentValidation());
    for (const std::string& line : f.host.Lines())
        EXPECT_EQ(line.find("not closed"), std::string::npos) << line;
}

// Two boxes that pass through each other: the verdict keeps the crossings after the part is
// laid on a face, as it had them at the load.
TEST(DocumentPartsTest, PlacementKeepsTheCrossingsInTheVerdict)
{
    DocumentFixture f;
    f.doc->surfaceTestCells = 32;
    f.doc->InstallGeneratedPart(Combined(MakeBox({0, 0, 0}, {10, 10, 10}), MakeBox({5, 5, 5}, {15, 15, 15})),
        "Crossing boxes", L"Crossing boxes", "Crossing boxes.");
    const std::uint64_t crossing = f.doc->CurrentValidation().selfIntersectingTriangleCount;
    ASSERT_GT(crossing, 0u);
    f.doc->ComputeRestingFaces();
    ASSERT_FALSE(f.doc->restingFaces.empty());
    ASSERT_TRUE(f.doc->LayOnFace(0));
    EXPECT_EQ(f.doc->CurrentValidation().selfIntersectingTriangleCount, crossing);
    EXPECT_NE(f.doc->CurrentValidation().verdict, mesh::Verdict::Good);
}

// How bodies face, judged once: the import's verdict and the checklist before saving agree on a
// hollow wound as a hollow (sound, named as kept), a solid island inside it, a body inside out
// apart from the part (both fail) and an insert wound as a solid inside the cube, which both keep
// solid and name: the import warns of it, the checklist passes with a note (it once failed it as
// reversed while Repair turned it into a hollow).
TEST(DocumentPartsTest, ImportVerdictAndSaveCheckAgreeOnHowBodiesFace)
{
    const mesh::TriangleMesh outer = mesh::MakeTestCube(20.0f);
    const mesh::TriangleMesh hollow = Flipped(mesh::MakeTestCube(6.0f));
    const char* const keptHollow = "  note    1 body inside another is kept as a hollow: the 6.00 x";
    const char* const keptInsert = "  note    1 body inside another is kept solid, as an insert: the 6.00 x";
    const struct {
        const char* name;
        mesh::TriangleMesh part;
        bool good;
        bool passed;
        const char* note;
    } cases[] = {
        {"a 20 mm cube holding a 6 mm hollow", Combined(outer, hollow), true, true, keptHollow},
        {"a solid island in the hollow", Combined(Combined(outer, hollow), mesh::MakeTestCube(2.0f)), true, true, keptHollow},
        {"a 10 mm cube inside out apart from it", Combined(outer, Translated(Flipped(mesh::MakeTestCube(10.0f)), {40, 0, 0})),
            false, false, nullptr},
        {"an insert wound as a solid", Combined(outer, mesh::MakeTestCube(6.0f)), false, true, keptInsert},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        WriteAllBytes(folder / "bodies.stl", mesh::EncodeBinaryStl(c.part, "part"));
        DocumentFixture f;
        f.doc->surfaceTestCells = 32;
        ASSERT_TRUE(f.doc->OpenDocument(folder / "bodies.stl")) << c.name;
        const bool good = f.doc->CurrentValidation().verdict == mesh::Verdict::Good;
        std::string checklist;
        const bool passed = app::BeforeSavingReport(f.doc->workingPart, mesh::BaseProtection{}, checklist);
        EXPECT_EQ(std::tuple(good, passed), std::tuple(c.good, c.passed)) << c.name << "\n"
            << mesh::FormatValidationReport(f.doc->CurrentValidation()) << checklist;
        EXPECT_EQ(checklist.find("  note    1 bod") != std::string::npos, c.note != nullptr) << c.name << "\n" << checklist;
        if (c.note != nullptr) {
            EXPECT_NE(checklist.find(c.note), std::string::npos) << c.name << "\n" << checklist;
        }
        const std::vector<std::string> lines = f.host.Lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "Verdict: Good: no problems found."), c.good ? 1 : 0) << c.name;
    }
}

// A file that cannot be read leaves the document exactly as it was: part, settings, history,
// title, path and modified flag; the failure is reported in the log and the information box.
TEST(DocumentPartsTest, FailedImportLeavesTheDocumentAsItWas)
{
    TempFolder folder;
    WriteAllText(folder / "broken.stl", "solid x\n facet normal 0 0 1\n vertex 1 2\nendsolid x\n");
    DocumentFixture f;
    app::CGrainforgeDoc& doc = f.WithCube();
    f.GiveTexture();
    doc.projection.cage.center.x = 4.0f;
    doc.UpdatePreview();
    const app::EditState state = doc.CaptureEditState();
    const std::size_t triangles = doc.workingPart.TriangleCount();
    const std::size_t undo = doc.undoStack.size();
    const std::wstring title = doc.GetTitle();
    const bool modified = doc.IsModified();

    for (const char* name : {"broken.stl", "missing.stl"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(doc.OpenDocument(folder / name));
        EXPECT_TRUE(app::EditStateEquals(doc.CaptureEditState(), state));
        EXPECT_EQ(doc.workingPart.TriangleCount(), triangles);
        EXPECT_EQ(doc.testShapeName, "cube");
        EXPECT_EQ(doc.undoStack.size(), undo);
        EXPECT_EQ(doc.GetTitle(), title);
        EXPECT_TRUE(doc.GetPathName().empty());
        EXPECT_EQ(doc.IsModified(), modified);
        EXPECT_TRUE(f.host.recentFiles.empty());
        ASSERT_FALSE(f.host.Lines(app::kLogError).empty());
        EXPECT_EQ(f.host.Lines(app::kLogError).back().rfind("Import failed: ", 0), 0u);
        EXPECT_EQ(f.host.information.back().first.rfind(L"This file could not be opened.\n", 0), 0u);
        // The box names the file (it gave only the cause).
        EXPECT_NE(f.host.information.back().first.find((folder / name).wstring()), std::wstring::npos);
        EXPECT_EQ(f.host.information.back().second, app::kInfoError);
    }
}

}  // namespace
}  // namespace grainforge::test
