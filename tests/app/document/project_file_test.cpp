#include "app/document/project_file.h"
#include "app/document/log_text.h"

#include "engine/files/stl_reader.h"
#include "engine/mesh/test_shapes.h"
#include "engine/textures/procedural_registry.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/resource.h>

#include <cfloat>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::WriteAllText;

bool TransformEquals(const mesh::Transform3x4& a, const mesh::Transform3x4& b)
{
    return a.m00 == b.m00 && a.m01 == b.m01 && a.m02 == b.m02 && a.m10 == b.m10 && a.m11 == b.m11 &&
           a.m12 == b.m12 && a.m20 == b.m20 && a.m21 == b.m21 && a.m22 == b.m22 && a.translation == b.translation;
}

void ExpectTextureSettingsEqual(const mesh::TextureSettings& a, const mesh::TextureSettings& b)
{
    EXPECT_EQ(a.widthMillimetres, b.widthMillimetres);
    EXPECT_EQ(a.heightMillimetres, b.heightMillimetres);
    EXPECT_EQ(a.lockAspect, b.lockAspect);
    EXPECT_EQ(a.tiles, b.tiles);
    EXPECT_EQ(a.offsetMillimetres[0], b.offsetMillimetres[0]);
    EXPECT_EQ(a.offsetMillimetres[1], b.offsetMillimetres[1]);
    EXPECT_EQ(a.rotationDegrees, b.rotationDegrees);
    EXPECT_EQ(a.blackLevel, b.blackLevel);
    EXPECT_EQ(a.whiteLevel, b.whiteLevel);
    EXPECT_EQ(a.autoLevels, b.autoLevels);
    EXPECT_EQ(a.gamma, b.gamma);
    EXPECT_EQ(a.outputBlackLevel, b.outputBlackLevel);
    EXPECT_EQ(a.outputWhiteLevel, b.outputWhiteLevel);
    EXPECT_EQ(a.invert, b.invert);
    EXPECT_EQ(a.blurMillimetres, b.blurMillimetres);
    EXPECT_EQ(a.seamlessMethod, b.seamlessMethod);
    EXPECT_EQ(a.seamlessParameters, b.seamlessParameters);
}

void ExpectProjectsEqual(const ProjectData& a, const ProjectData& b)
{
    EXPECT_EQ(a.partPath, b.partPath);
    EXPECT_EQ(a.testShape, b.testShape);
    EXPECT_TRUE(TransformEquals(a.partTransform, b.partTransform));
    EXPECT_TRUE(mesh::ProjectionEquals(a.projection, b.projection));
    ASSERT_EQ(a.masks.size(), b.masks.size());
    for (std::size_t i = 0; i < a.masks.size(); ++i)
        EXPECT_TRUE(mesh::MaskVolumeEquals(a.masks[i], b.masks[i])) << "mask " << i;
    EXPECT_TRUE(mesh::RemeshSettingsEquals(a.remesh, b.remesh));
    EXPECT_TRUE(mesh::DisplacementSettingsEquals(a.displacement, b.displacement));
    EXPECT_TRUE(mesh::SimplifySettingsEquals(a.simplify, b.simplify));
    EXPECT_EQ(a.stageRemesh, b.stageRemesh);
    EXPECT_EQ(a.stageSubdivide, b.stageSubdivide);
    EXPECT_EQ(a.stageDisplacement, b.stageDisplacement);
    EXPECT_EQ(a.stageSimplify, b.stageSimplify);
    EXPECT_EQ(a.occupancyCells, b.occupancyCells);
    EXPECT_EQ(a.maximumTriangles, b.maximumTriangles);
    EXPECT_EQ(a.displayTriangles, b.displayTriangles);
    EXPECT_EQ(a.exportCleanup.weldCollapsedTriangles, b.exportCleanup.weldCollapsedTriangles);
    EXPECT_EQ(a.exportCleanup.fillHoles, b.exportCleanup.fillHoles);
    EXPECT_EQ(a.exportCleanup.maximumHoleMillimetres, b.exportCleanup.maximumHoleMillimetres);
    EXPECT_EQ(a.exportCleanup.maximumSlitWidthMillimetres, b.exportCleanup.maximumSlitWidthMillimetres);
    EXPECT_EQ(a.exportFixes.splitNonManifoldEdges, b.exportFixes.splitNonManifoldEdges);
    EXPECT_EQ(a.exportFixes.unfoldTriangles, b.exportFixes.unfoldTriangles);
    EXPECT_EQ(a.exportFixes.resolveSelfIntersections, b.exportFixes.resolveSelfIntersections);
    EXPECT_EQ(a.exportFixes.removeCrumbs, b.exportFixes.removeCrumbs);
    EXPECT_EQ(a.exportFixes.maximumRounds, b.exportFixes.maximumRounds);
    EXPECT_EQ(a.exportFixes.maximumMoveMillimetres, b.exportFixes.maximumMoveMillimetres);
    ExpectTextureSettingsEqual(a.textureSettings, b.textureSettings);
    EXPECT_EQ(a.textureImagePath, b.textureImagePath);
    EXPECT_EQ(a.proceduralName, b.proceduralName);
    EXPECT_EQ(a.proceduralParameters, b.proceduralParameters);
    EXPECT_EQ(a.proceduralPreset, b.proceduralPreset);
}

// Every field away from its default.
ProjectData FullProject(const fs::path& part, const fs::path& image)
{
    ProjectData data;
    data.partPath = part;
    data.partTransform.m00 = 0.0f;
    data.partTransform.m01 = -1.0f;
    data.partTransform.m10 = 1.0f;
    data.partTransform.m11 = 0.0f;
    data.partTransform.translation = {1.5f, -2.25f, 0.1f};
    data.projection.type = mesh::ProjectionKind::Cylinder;
    data.projection.cage.center = {3.0f, 4.0f, 5.0f};
    data.projection.cage.size = {10.0f, 20.0f, 30.0f};
    data.projection.cylinderSeamDegrees = 90.0f;
    data.projection.layers[2].zoom = 2.5f;
    data.projection.layers[2].originMillimetres[1] = 0.7f;
    mesh::MaskVolume first;
    first.shape = mesh::MaskShape::Sphere;
    first.center = {1.0f, 2.0f, 3.0f};
    first.name = "Handle \u00e9";
    mesh::MaskVolume second;
    second.enabled = 0;
    second.featherMillimetres = 0.3f;
    data.masks = {first, second};
    data.remesh.targetEdgeMillimetres = 0.35f;
    data.remesh.rounds = 7;
    data.displacement.strengthMillimetres = 0.8f;
    data.displacement.base.enabled = true;
    data.displacement.base.planeMillimetres = -1.0f;
    data.simplify.meshDetailError = 0.05f;
    data.simplify.maximumValence = 30;
    data.stageRemesh = false;
    data.stageDisplacement = false;
    data.stageSimplify = false;
    data.occupancyCells = 512;
    data.maximumTriangles = 199999999;  // within the largest limit a field takes
    data.displayTriangles = 123456;
    data.exportCleanup.fillHoles = false;
    data.exportCleanup.maximumHoleMillimetres = 2.5f;
    data.exportFixes.removeCrumbs = false;
    data.exportFixes.maximumRounds = 12;
    data.exportFixes.maximumMoveMillimetres = 0.25f;
    data.textureSettings.widthMillimetres = 12.5f;
    data.textureSettings.rotationDegrees = 45.0f;
    data.textureSettings.invert = true;
    data.textureSettings.seamlessMethod = "Mirror";
    data.textureImagePath = image;
    data.proceduralName = "Voronoi";
    data.proceduralParameters = "scale=2\ncells=10\n";
    data.proceduralPreset = "Coarse";
    return data;
}

mesh::JsonValue ReadJson(const fs::path& path)
{
    std::shared_ptr<mesh::JsonValue> document = mesh::ReadJsonFile(path);
    return document ? *document : mesh::JsonValue();
}

void WriteJson(const fs::path& path, const mesh::JsonValue& value) { WriteAllText(path, value.dump(2)); }

// The value a "key=value" parameter text gives `key`.
double ParameterInText(const std::string& text, const std::string& key)
{
    const std::size_t at = text.find(key + "=");
    return at == std::string::npos ? std::nan("") : std::stod(text.substr(at + key.size() + 1));
}

// A small valid project naming a part by its ".path" only.
mesh::JsonValue MinimalProject(const std::string& partPath)
{
    mesh::JsonValue project = mesh::JsonValue::object();
    project["application"] = "Grainforge project";
    project["version"] = 1;
    project["part"]["path"] = partPath;
    return project;
}

TEST(ProjectFile, RoundTripKeepsEveryField)
{
    TempFolder folder;
    const fs::path part = folder / "bracket.stl";
    const fs::path image = folder / "bark.png";
    WriteAllText(part, "solid x\nendsolid x\n");
    WriteAllText(image, "not read");
    // The program saves a pattern or an image, never both: each is one round trip.
    for (const bool pattern : {true, false}) {
        SCOPED_TRACE(pattern ? "pattern" : "image");
        ProjectData written = FullProject(part, image);
        if (pattern) {
            written.textureImagePath.clear();
        } else {
            written.proceduralName.clear();
            written.proceduralParameters.clear();
            written.proceduralPreset.clear();
        }
        std::string error;
        ASSERT_TRUE(WriteProject(folder / "job.gfproj", written, error)) << error;
        ProjectData read;
        ASSERT_TRUE(ReadProject(folder / "job.gfproj", read, error)) << error;
        ExpectProjectsEqual(written, read);
        // A project of its own is read without a word, and saved again byte for byte.
        EXPECT_EQ(FormatChangedValues(read.valuesReplaced, read.valuesHeld), "");
        EXPECT_EQ(FormatMasksLeftOut(read), "");
        EXPECT_EQ(FormatEntriesNotUsed(read), "");
        ASSERT_TRUE(WriteProject(folder / "again.gfproj", read, error)) << error;
        EXPECT_EQ(test::ReadAllBytes(folder / "again.gfproj"), test::ReadAllBytes(folder / "job.gfproj"));
    }
}

TEST(ProjectFile, KeysComeInTheWritersOrder)
{
    TempFolder folder;
    const fs::path part = folder / "bracket.stl";
    WriteAllText(part, "x");
    ProjectData data = FullProject(part, fs::path());
    std::string error;
    ASSERT_TRUE(WriteProject(folder / "job.gfproj", data, error));
    const mesh::JsonValue json = ReadJson(folder / "job.gfproj");
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it)
        keys.push_back(it.key());
    const std::vector<std::string> expected = {"application", "version", "part", "texture", "projection",
        "maskCount", "mask0", "mask1", "stages", "remesh", "displacement", "simplify", "occupancyCells",
        "maximumTriangles", "displayTriangles", "exportCleanup", "exportFixes"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(json["application"], "Grainforge project");
    EXPECT_EQ(json["version"], 1);
    EXPECT_EQ(json["part"]["path"], part.string());
    EXPECT_EQ(json["part"]["relative"], "bracket.stl");
    EXPECT_FALSE(json["stages"].contains("subdivide"));
    EXPECT_FALSE(json["texture"].contains("image"));  // no image path: no entry
    EXPECT_EQ(json["texture"]["procedural"], "Voronoi");
}

TEST(ProjectFile, TestShapeProjectHasNoPartEntry)
{
    TempFolder folder;
    ProjectData data;
    data.testShape = "cube";
    std::string error;
    ASSERT_TRUE(WriteProject(folder / "cube.gfproj", data, error));
    const mesh::JsonValue json = ReadJson(folder / "cube.gfproj");
    EXPECT_FALSE(json["part"].contains("path"));
    EXPECT_FALSE(json["part"].contains("relative"));
    EXPECT_EQ(json["part"]["testShape"], "cube");
    EXPECT_TRUE(json["part"].contains("orientation"));
    ProjectData read;
    ASSERT_TRUE(ReadProject(folder / "cube.gfproj", read, error)) << error;
    EXPECT_EQ(read.testShape, "cube");
    EXPECT_TRUE(read.partPath.empty());
}

// A part file named beside a test shape, and an image beside a pattern, are not opened but kept
// as they are; once the writer names a part or an image of its own, none of the kept entry's
// members stays beside it (an ".pathEscaped" left there would be read before the new ".path").
TEST(ProjectFile, EntriesNotUsedAreKeptUntilTheWriterNamesItsOwn)
{
    const struct {
        const char* name;
        std::function<void(ProjectData&, const fs::path&)> change;
        const char* entry;     // JSON pointer of the entry
        const char* keptPath;  // its ".path" saved; empty: the writer's own
    } cases[] = {
        {"saved as read", [](ProjectData&, const fs::path&) {}, "/part", "/a/other.stl"},
        {"another test shape", [](ProjectData& d, const fs::path&) { d.testShape = "sphere"; }, "/part",
            "/a/other.stl"},
        {"a part written beside",
            [](ProjectData& d, const fs::path& folder) {
                d.testShape.clear();
                d.partPath = folder / "job part.stl";
            },
            "/part", ""},
        {"the image as read", [](ProjectData&, const fs::path&) {}, "/texture/image", "/a/bark.png"},
        {"an image loaded",
            [](ProjectData& d, const fs::path& folder) {
                d.proceduralName.clear();
                d.textureImagePath = folder / "wood.png";
            },
            "/texture/image", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        mesh::JsonValue project = MinimalProject("/a/other.stl");
        project["part"]["pathEscaped"] = "/a/%FFother.stl";
        project["part"]["testShape"] = "cube";
        project["texture"]["procedural"] = "Noise";
        project["texture"]["image"] = {{"path", "/a/bark.png"}, {"relativeEscaped", "%FFbark.png"}};
        WriteJson(folder / "job.gfproj", project);
        ProjectData read;
        std::string error;
        ASSERT_TRUE(ReadProject(folder / "job.gfproj", read, error)) << error;
        EXPECT_TRUE(read.partPath.empty());
        EXPECT_TRUE(read.textureImagePath.empty());
        EXPECT_EQ(read.partEntryNotUsed, (std::vector<std::string>{"part.path", "part.pathEscaped"}));
        EXPECT_EQ(read.imageEntryNotUsed,
            (std::vector<std::string>{"texture.image.path", "texture.image.relativeEscaped"}));
        EXPECT_EQ(read.membersNotReadCount, 0u);
        c.change(read, folder.Path());
        ASSERT_TRUE(WriteProject(folder / "again.gfproj", read, error)) << error;
        const mesh::JsonValue saved = ReadJson(folder / "again.gfproj");
        const mesh::JsonValue& entry = saved.at(mesh::JsonValue::json_pointer(c.entry));
        if (*c.keptPath != '\0') {
            EXPECT_EQ(entry.value("path", mesh::JsonValue()), c.keptPath);
            for (const auto& [member, value] : project.at(mesh::JsonValue::json_pointer(c.entry)).items()) {
                if (member == "testShape")
                    continue;
                EXPECT_EQ(entry.value(member, mesh::JsonValue()), value) << member;
            }
            continue;
        }
        for (const char* member : {"pathEscaped", "relativeEscaped"})
            EXPECT_FALSE(entry.contains(member)) << member;
        ProjectData again;
        ASSERT_TRUE(ReadProject(folder / "again.gfproj", again, error)) << error;
        EXPECT_EQ(std::string(c.entry) == "/part" ? again.partPath : again.textureImagePath,
            std::string(c.entry) == "/part" ? folder / "job part.stl" : folder / "wood.png");
    }
}

TEST(ProjectFile, PartFoundThroughItsRelativeEntryAfterAMove)
{
    TempFolder folder;
    const fs::path before = folder / "before";
    fs::create_directories(before / "parts");
    WriteAllText(before / "parts" / "bracket.stl", "x");
    ProjectData data;
    data.partPath = before / "parts" / "bracket.stl";
    std::string error;
    ASSERT_TRUE(WriteProject(before / "job.gfproj", data, error));
    EXPECT_EQ(ReadJson(before / "job.gfproj")["part"]["relative"], "parts/bracket.stl");

    fs::rename(before, folder / "after");
    ProjectData read;
    ASSERT_TRUE(ReadProject(folder / "after" / "job.gfproj", read, error)) << error;
    EXPECT_EQ(read.partPath, folder / "after" / "parts" / "bracket.stl");
    EXPECT_TRUE(ProjectFileExists(read.partPath));
}

// Part and texture names in any script, or in bytes that are not UTF-8 (kept exactly through
// the escaped entries, "%" in a name included), are read back as written, by the absolute
// entry and, after a move, by the relative one; the plain entries stay valid UTF-8.
TEST(ProjectFile, NamesInAnyBytesAreReadBackExactly)
{
    const std::string names[] = {"\xC3\x9C" "bung", "\xE9\x83\xA8\xE5\x93\x81", "\xF0\x9F\xA7\xB1",
                                 "part\xFF", "50% \xFE" "done%41"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        TempFolder folder;
        const fs::path before = folder / "before";
        fs::create_directories(before / fs::path(name));
        const fs::path part = before / fs::path(name) / fs::path(name + ".stl");
        const fs::path image = before / fs::path(name + ".png");
        WriteAllText(part, "x");
        WriteAllText(image, "x");
        ProjectData data;
        data.partPath = part;
        data.textureImagePath = image;
        std::string error;
        ASSERT_TRUE(WriteProject(before / fs::path(name + ".gfproj"), data, error)) << error;
        ProjectData read;
        ASSERT_TRUE(ReadProject(before / fs::path(name + ".gfproj"), read, error)) << error;
        EXPECT_EQ(read.partPath, part);
        EXPECT_EQ(read.textureImagePath, image);
        EXPECT_EQ(ReadJson(before / fs::path(name + ".gfproj"))["part"]["path"], PathToUtf8(part));

        fs::rename(before, folder / "after");
        ASSERT_TRUE(ReadProject(folder / "after" / fs::path(name + ".gfproj"), read, error)) << error;
        EXPECT_EQ(read.partPath, folder / "after" / fs::path(name) / fs::path(name + ".stl"));
        EXPECT_EQ(read.textureImagePath, folder / "after" / fs::path(name + ".png"));
    }
}

TEST(ProjectFile, MissingPartKeepsTheAbsolutePathToAskFor)
{
    TempFolder folder;
    ProjectData data;
    data.partPath = folder / "gone.stl";
    std::string error;
    ASSERT_TRUE(WriteProject(folder / "job.gfproj", data, error));
    ProjectData read;
    ASSERT_TRUE(ReadProject(folder / "job.gfproj", read, error));
    EXPECT_EQ(read.partPath, folder / "gone.stl");
    EXPECT_FALSE(ProjectFileExists(read.partPath));
}

TEST(ProjectFile, ProjectWrittenOnWindowsFindsItsPartByTheRelativeEntry)
{
    struct Case {
        const char* relative;
        bool found;
    };
    const Case cases[] = {{"parts\\bracket.stl", true}, {"parts/bracket.stl", true}, {"", false},
        {"elsewhere\\bracket.stl", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relative);
        TempFolder folder;
        fs::create_directories(folder / "parts");
        WriteAllText(folder / "parts" / "bracket.stl", "x");
        mesh::JsonValue project = MinimalProject("C:\\Users\\ann\\Documents\\parts\\bracket.stl");
        if (*c.relative != '\0')
            project["part"]["relative"] = c.relative;
        project["texture"]["image"]["path"] = "D:\\textures\\bark.png";
        WriteJson(folder / "win.gfproj", project);
        ProjectData read;
        std::string error;
        ASSERT_TRUE(ReadProject(folder / "win.gfproj", read, error)) << error;
        if (c.found) {
            EXPECT_EQ(read.partPath, folder / "parts" / "bracket.stl");
            EXPECT_TRUE(ProjectFileExists(read.partPath));
        } else {
            // The Windows path is kept for the question, and is not found here.
            EXPECT_EQ(read.partPath.string(), "C:\\Users\\ann\\Documents\\parts\\bracket.stl");
            EXPECT_FALSE(ProjectFileExists(read.partPath));
        }
        EXPECT_FALSE(ProjectFileExists(read.textureImagePath));
    }
}

TEST(ProjectFile, WindowsPathIsNotFoundEvenWhereTheCurrentFolderHoldsSuchAName)
{
    TempFolder folder;
    const fs::path previous = fs::current_path();
    fs::current_path(folder.Path());
    WriteAllText(folder / "C:\\parts\\a.stl", "x");  // one odd file name on this system
    const bool exists = ProjectFileExists(fs::path("C:\\parts\\a.stl"));
    fs::current_path(previous);
    EXPECT_FALSE(exists);
}

// The masks are the mask objects the file holds, in the order of their numbers and up to the
// limit, whatever "maskCount" claims: no mask is made up for a number without an object (a
// count of 300 beside three objects opened 256, 253 of them boxes at the origin), and none past
// the count is lost (mask500 beside a count of 1000 was dropped for made-up ones).
TEST(ProjectFile, MasksAreTheObjectsTheFileHolds)
{
    TempFolder folder;
    WriteAllText(folder / "p.stl", "x");
    const auto range = [](int count) {
        std::vector<int> numbers(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            numbers[static_cast<std::size_t>(i)] = i;
        return numbers;
    };
    struct Case {
        const char* name;
        mesh::JsonValue count;
        std::vector<int> objects;
        std::vector<int> opened;  // the first masks opened, in order, then the last one
        std::size_t masks;
        std::uint64_t leftOut;  // past the limit, and the four entries that are no mask objects
    };
    const Case cases[] = {
        {"count past the objects", 300, {0, 1, 2}, {0, 1, 2}, 3, 4},
        {"objects past the count", 1000, {0, 1, 500}, {0, 1, 500}, 3, 4},
        {"count below the objects", 2, {0, 1, 2, 3}, {0, 1, 2, 3}, 4, 4},
        {"a gap", 2, {1}, {1}, 1, 4},
        {"numbers out of order", 3, {10, 2, 7}, {2, 7, 10}, 3, 4},
        {"more than the limit", UINT64_MAX, range(300), {0, 1, 255}, 256, 48},
        {"the limit", 256, range(256), {0, 1, 255}, 256, 4},
        {"no objects", 300, {}, {}, 0, 4},
        {"no count", mesh::JsonValue(), {4}, {4}, 1, 4},
        {"a count of the wrong type", "2", {0, 1}, {0, 1}, 2, 4},
        {"a negative count", -1, {0}, {0}, 1, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mesh::JsonValue project = MinimalProject((folder / "p.stl").string());
        if (!c.count.is_null())
            project["maskCount"] = c.count;
        for (const int number : c.objects)
            project["mask" + std::to_string(number)]["name"] = std::to_string(number);
        project["mask0300"]["name"] = "not a mask's plain number";
        project["mask-1"]["name"] = "nor this";
        project["mask100000"] = "not an object";
        project["mask400000"] = {1, 2};
        WriteJson(folder / "masks.gfproj", project);
        ProjectData read;
        std::string error;
        ASSERT_TRUE(ReadProject(folder / "masks.gfproj", read, error));
        ASSERT_EQ(read.masks.size(), c.masks);
        EXPECT_EQ(read.masksLeftOut, c.leftOut);
        // The entries that are no mask objects are named in the file's order.
        EXPECT_TRUE(FormatMasksLeftOut(read).ends_with(
            " left out: \"mask0300\", \"mask-1\", \"mask100000\" and 1 more could not be read."));
        // The first masks, and the last one opened.
        for (std::size_t i = 0; i + 1 < c.opened.size() && i < read.masks.size(); ++i)
            EXPECT_EQ(read.masks[i].name, std::to_string(c.opened[i])) << "mask " << i;
        if (!c.opened.empty() && !read.masks.empty()) {
            EXPECT_EQ(read.masks.back().name, std::to_string(c.opened.back()));
        }
    }
}

TEST(ProjectFile, RefusesWhatIsNotOneOfItsProjects)
{
    struct Case {
        const char* name;
        std::string text;
        const char* error;
    };
    const Case cases[] = {
        {"empty", "", "the file is not a project (it could not be read as one)"},
        {"array", "[1, 2]", "the file is not a project (it could not be read as one)"},
        {"broken", "{\"application\": ", "the file is not a project (it could not be read as one)"},
        {"trailing blank", R"({"application": "Grainforge project ", "part": {"path": "/a.stl"}})",
            "the file is not a Tessary project"},
        {"other case", R"({"application": "grainforge project", "part": {"path": "/a.stl"}})",
            "the file is not a Tessary project"},
        {"number", R"({"application": 1, "part": {"path": "/a.stl"}})", "the file is not a Tessary project"},
        {"no part", R"({"application": "Grainforge project", "version": 1})", "the project names no part"},
        {"part of wrong type", R"({"application": "Grainforge project", "part": {"path": 5, "testShape": []}})",
            "the project names no part"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteAllText(folder / "x.gfproj", c.text);
        ProjectData read;
        read.testShape = "sphere";
        std::string error;
        EXPECT_FALSE(ReadProject(folder / "x.gfproj", read, error));
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(read.testShape, "sphere");  // the caller's record is untouched
    }
    ProjectData read;
    std::string error;
    EXPECT_FALSE(ReadProject("/nonexistent/folder/x.gfproj", read, error));
    EXPECT_EQ(error, "the file was not found: /nonexistent/folder/x.gfproj (the folder /nonexistent is not there)");
}

TEST(ProjectFile, WrongTypedKeysKeepTheirDefaults)
{
    TempFolder folder;
    mesh::JsonValue project = MinimalProject("/somewhere/p.stl");
    project["occupancyCells"] = "512";
    project["maximumTriangles"] = -5;
    project["displayTriangles"] = 1.5;
    project["stages"]["remesh"] = 0;
    project["stages"]["simplify"] = "false";
    project["texture"]["procedural"] = 7;
    project["texture"]["settings"] = "wide";
    project["remesh"] = 3;
    project["exportFixes"]["maximumRounds"] = 40.5;  // a number: held as a typed one
    project["part"]["testShape"] = false;
    WriteJson(folder / "x.gfproj", project);
    ProjectData read;
    std::string error;
    ASSERT_TRUE(ReadProject(folder / "x.gfproj", read, error)) << error;
    const ProjectData fresh;
    EXPECT_EQ(read.occupancyCells, fresh.occupancyCells);
    // Numbers, if not counts: the nearest limit the fields take.
    EXPECT_EQ(read.maximumTriangles, 100000u);
    EXPECT_EQ(read.displayTriangles, 100000u);
    // Each value passed over is named, with the value in force.
    EXPECT_EQ(FormatChangedValues(read.valuesReplaced, read.valuesHeld),
        "occupancyCells \"512\" is now 256; part.testShape false is now \"\"; texture.procedural 7 is now \"\"; "
        "texture.settings \"wide\" is now the defaults; stages.remesh 0 is now true; stages.simplify \"false\" is now "
        "true; remesh 3 is now the defaults; Triangle limit -5 triangles is now 100000 triangles; Display limit 1.5 "
        "triangles is now 100000 triangles; exportFixes.maximumRounds 40.5 is now 41");
    EXPECT_TRUE(read.stageRemesh);
    EXPECT_TRUE(read.stageSimplify);
    EXPECT_TRUE(read.proceduralName.empty());
    EXPECT_TRUE(read.testShape.empty());
    ExpectTextureSettingsEqual(read.textureSettings, fresh.textureSettings);
    EXPECT_TRUE(mesh::RemeshSettingsEquals(read.remesh, fresh.remesh));
    EXPECT_EQ(read.exportFixes.maximumRounds, fresh.exportFixes.maximumRounds + 1);  // 40.5, as a typed one
}

// A member given twice keeps the last value, as the library's parser does; the first used to be
// dropped without a word.
TEST(ProjectFile, MembersGivenMoreThanOnceAreNamed)
{
    const std::string head = R"({"application": "Grainforge project", "part": {"testShape": "cube"}, )";
    const std::pair<std::string, const char*> cases[] = {
        {R"("remesh": {"rounds": 3, "rounds": 7}})",
            "The project gives some members more than once, and only the last of each is used: remesh.rounds 3 was "
            "dropped for 7."},
        {R"("myNotes": "a", "myNotes": "b", "myNotes": "c", "maskCount": 0, "maskCount": 0})",
            "The project gives some members more than once, and only the last of each is used: myNotes \"a\" and 1 "
            "more were dropped for \"c\"; maskCount 0 was dropped for 0."},
        {R"("remesh": {"rounds": 3}})", ""},
    };
    TempFolder folder;
    for (const auto& [text, said] : cases) {
        WriteAllText(folder / "x.gfproj", head + text);
        ProjectData read;
        std::string error;
        ASSERT_TRUE(ReadProject(folder / "x.gfproj", read, error)) << error;
        EXPECT_EQ(FormatRepeatedMembers(read), said);
    }
}

TEST(ProjectFile, StagesAndCountsOfTheRightTypeAreTaken)
{
    TempFolder folder;
    mesh::JsonValue project = MinimalProject("/somewhere/p.stl");
    project["stages"]["remesh"] = false;
    project["stages"]["subdivide"] = true;
    project["maximumTriangles"] = 0;
    project["displayTriangles"] = 18446744073709551615ull;
    WriteJson(folder / "x.gfproj", project);
    ProjectData read;
    std::string error;
    ASSERT_TRUE(ReadProject(folder / "x.gfproj", read, error));
    EXPECT_FALSE(read.stageRemesh);
    EXPECT_TRUE(read.stageSubdivide);
    EXPECT_EQ(read.maximumTriangles, 0u);
    // Taken as a count, then held to the largest limit the field takes.
    EXPECT_EQ(read.displayTriangles, 200000000u);
}

// A value its field would refuse, written by hand, by another program or by a damaged save,
// takes the nearest value the field takes (the default where none is nearest) and is named;
// a value the field takes, its own ends included, is read as it stands and named nowhere.
TEST(ProjectFile, ValuesOutsideTheirFieldsTakeTheNearestTheyTake)
{
    struct Case {
        const char* key;  // a JSON pointer into the project
        mesh::JsonValue given;
        std::function<double(const ProjectData&)> read;
        double taken;
        const char* said;  // empty when the value is in range
    };
    const auto f = [](double value) { return static_cast<double>(static_cast<float>(value)); };
    const Case cases[] = {
        {"/remesh/targetEdgeMillimetres", -5, [](const ProjectData& d) { return d.remesh.targetEdgeMillimetres; },
            f(0.01), "Triangle size -5 mm is now 0.01 mm"},
        {"/texture/settings/blurMillimetres", 1e9,
            [](const ProjectData& d) { return d.textureSettings.blurMillimetres; }, 100, "Blur 1000000000 mm is now 100 mm"},
        // The file holds the gamma's exponent, the reciprocal of what the levels' edit shows: held by
        // the exponent's range and named as the edit shows it. An exponent of 0 or below has no
        // reciprocal the edit shows: named as the file holds it.
        {"/texture/settings/gamma", 0, [](const ProjectData& d) { return d.textureSettings.gamma; }, 1,
            "texture.settings.gamma 0 is now 1"},
        {"/texture/settings/gamma", 50, [](const ProjectData& d) { return d.textureSettings.gamma; }, 10,
            "Gamma 0.02 is now 0.10"},
        {"/texture/settings/gamma", 0.1, [](const ProjectData& d) { return d.textureSettings.gamma; },
            f(1.0 / 9.99), "Gamma 10.00 is now 9.99"},
        // A change within the edit's two decimals is named with the digits that show it.
        {"/texture/settings/gamma", 10.1, [](const ProjectData& d) { return d.textureSettings.gamma; }, 10,
            "Gamma 0.099 is now 0.100"},
        {"/texture/settings/gamma", 0.5, [](const ProjectData& d) { return d.textureSettings.gamma; }, 0.5, ""},
        // The levels' edits take an output black above the output white: a ramp turned over.
        {"/texture/settings/outputBlackLevel", 0.8,
            [](const ProjectData& d) { return d.textureSettings.outputBlackLevel; }, f(0.8), ""},
        {"/texture/settings/widthMillimetres", -4,
            [](const ProjectData& d) { return d.textureSettings.widthMillimetres; }, f(0.1),
            "Tile width -4 mm is now 0.1 mm"},
        {"/displacement/midLevel", 7, [](const ProjectData& d) { return d.displacement.midLevel; }, 1,
            "Midlevel 7 is now 1"},
        {"/exportCleanup/maximumHoleMillimetres", 1e9,
            [](const ProjectData& d) { return d.exportCleanup.maximumHoleMillimetres; }, 1000,
            "The size before \"mm across\" 1000000000 mm is now 1000 mm"},
        {"/simplify/planarToleranceMillimetres", 0.000001,
            [](const ProjectData& d) { return d.simplify.planarToleranceMillimetres; }, f(0.000001), ""},
        {"/maximumTriangles", 5, [](const ProjectData& d) { return static_cast<double>(d.maximumTriangles); }, 100000,
            "Triangle limit 5 triangles is now 100000 triangles"},
        // A volume the program fits to a large part is kept past its fields' range.
        {"/mask0/size/2", 1e30, [](const ProjectData& d) { return d.masks.at(0).size.z; }, f(1e30), ""},
        // Black not below white makes a flat relief: held as the levels' fields hold it.
        {"/texture/settings/whiteLevel", 0, [](const ProjectData& d) { return d.textureSettings.whiteLevel; },
            static_cast<double>(1.0f / 255.0f), "White 0 is now 1"},
        {"/texture/settings/blackLevel", 1, [](const ProjectData& d) { return d.textureSettings.blackLevel; },
            static_cast<double>(1.0f - 1.0f / 255.0f), "Black 255 is now 254"},
        {"/mask0/featherMillimetres", -3, [](const ProjectData& d) { return d.masks.at(0).featherMillimetres; }, 0,
            "Mask 1: Feather -3 mm is now 0 mm"},
        // The mask fields show two decimals: 10.005 showed as "10.01" while 10.005 stayed in force and
        // was saved, said nowhere. Held to what the field shows and named; two decimals stand.
        {"/mask0/center", {1, 10.005, 3}, [](const ProjectData& d) { return d.masks.at(0).center.y; }, f(10.01),
            "Mask 1: Position Y 10.005 mm is now 10.01 mm"},
        {"/mask0/rotationDegrees", {0, 0, -12.3449}, [](const ProjectData& d) { return d.masks.at(0).rotationDegrees.z; },
            f(-12.34), "Mask 1: Turn Z -12.3449 degrees is now -12.34 degrees"},
        {"/mask0/center", {1, 10.01, 3}, [](const ProjectData& d) { return d.masks.at(0).center.y; }, f(10.01), ""},
        // A limit as a decimal is held as the same integer is; a negative one as its field holds it.
        {"/maximumTriangles", 1e30, [](const ProjectData& d) { return static_cast<double>(d.maximumTriangles); },
            200000000, "Triangle limit 1e+30 triangles is now 200000000 triangles"},
        {"/maximumTriangles", 1e12, [](const ProjectData& d) { return static_cast<double>(d.maximumTriangles); },
            200000000, "Triangle limit 1000000000000 triangles is now 200000000 triangles"},
        {"/maximumTriangles", 1000000000000,
            [](const ProjectData& d) { return static_cast<double>(d.maximumTriangles); }, 200000000,
            "Triangle limit 1000000000000 triangles is now 200000000 triangles"},
        {"/maximumTriangles", 5e6, [](const ProjectData& d) { return static_cast<double>(d.maximumTriangles); }, 5e6,
            ""},
        {"/displayTriangles", -1, [](const ProjectData& d) { return static_cast<double>(d.displayTriangles); }, 100000,
            "Display limit -1 triangles is now 100000 triangles"},
        {"/occupancyCells", -7, [](const ProjectData& d) { return d.occupancyCells; }, 128, "Test grid -7 is now 128"},
        {"/occupancyCells", 1e12, [](const ProjectData& d) { return d.occupancyCells; }, 512,
            "Test grid 1000000000000 is now 512"},
        // A value of another type keeps its field's default and is named as the file holds it.
        {"/remesh/targetEdgeMillimetres", "0.5", [](const ProjectData& d) { return d.remesh.targetEdgeMillimetres; },
            f(0.2), "remesh.targetEdgeMillimetres \"0.5\" is now 0.2"},
        {"/texture/settings/gamma", {1, 2}, [](const ProjectData& d) { return d.textureSettings.gamma; }, 1,
            "texture.settings.gamma [1,2] is now 1.0"},
        {"/displacement/midLevel", {{"value", 0.7}}, [](const ProjectData& d) { return d.displacement.midLevel; },
            0.5, "displacement.midLevel {\"value\":0.7} is now 0.5"},
        {"/stages", "yes", [](const ProjectData& d) { return d.stageDisplacement; }, 1,
            "stages \"yes\" is now the defaults"},
        {"/projection", "box", [](const ProjectData& d) { return static_cast<double>(d.projection.type); },
            static_cast<double>(mesh::InitProjection().type), "projection \"box\" is now the defaults"},
        {"/mask0/center", {1, 2}, [](const ProjectData& d) { return d.masks.at(0).center.x; }, 0,
            "Mask 1: Position [1,2] is now [0.0,0.0,0.0]"},
        {"/mask0/size", "big", [](const ProjectData& d) { return d.masks.at(0).size.x; }, 1,
            "Mask 1: Size \"big\" is now [1.0,1.0,1.0]"},
        // A number beyond what its field's type holds takes the nearest value of its range too:
        // it once kept the default, said as the nearest (remesh.relaxation 1e+30 gave 1, 1e+308 0.5).
        {"/remesh/rounds", 3000000000u, [](const ProjectData& d) { return d.remesh.rounds; }, 100,
            "remesh.rounds 3000000000 is now 100"},
        {"/remesh/rounds", 2e9, [](const ProjectData& d) { return d.remesh.rounds; }, 100,
            "remesh.rounds 2000000000 is now 100"},
        {"/texture/settings/blurMillimetres", 1e39,
            [](const ProjectData& d) { return d.textureSettings.blurMillimetres; }, 100,
            "Blur 1e+39 mm is now 100 mm"},
        {"/remesh/relaxation", 1e308, [](const ProjectData& d) { return d.remesh.relaxation; }, 1,
            "remesh.relaxation 1e+308 is now 1"},
        {"/texture/settings/widthMillimetres", 3.5e38,
            [](const ProjectData& d) { return d.textureSettings.widthMillimetres; }, 10000,
            "Tile width 3.5e+38 mm is now 10000 mm"},
        {"/mask0/size", {1, 1e39, 1}, [](const ProjectData& d) { return d.masks.at(0).size.y; }, FLT_MAX,
            "Mask 1: Size Y 1e+39 mm is now 3.4028235e+38 mm"},
        // The seamless method's parameters are held by its own table, named, and saved as in force.
        {"/texture/settings", {{"seamlessMethod", "Cross-fade"}, {"seamlessParameters", "percent=999\n"}},
            [](const ProjectData& d) { return ParameterInText(d.textureSettings.seamlessParameters, "percent"); }, 45,
            "Cross-fade: Overlap (%) 999 is now 45"},
        {"/texture/settings", {{"seamlessMethod", "Histogram blend"}, {"seamlessParameters", "patches=1e9\nseed=-5"}},
            [](const ProjectData& d) { return ParameterInText(d.textureSettings.seamlessParameters, "seed"); }, 0,
            "Histogram blend: Patches across the tile 1000000000 is now 24; Histogram blend: Seed -5 is now 0"},
        // A count is named as its field takes it typed: "1,000" is asked about there.
        {"/texture/settings", {{"seamlessMethod", "Histogram blend"}, {"seamlessParameters", "seed=1000"}},
            [](const ProjectData& d) { return ParameterInText(d.textureSettings.seamlessParameters, "seed"); }, 999,
            "Histogram blend: Seed 1000 is now 999"},
        {"/texture/settings", {{"seamlessMethod", "Cross-fade"}, {"seamlessParameters", "percent=30"}},
            [](const ProjectData& d) { return ParameterInText(d.textureSettings.seamlessParameters, "percent"); }, 30,
            ""},
        // A number no float keeps is named, not made 0 without a word.
        {"/displacement/strengthMillimetres", 1e-50,
            [](const ProjectData& d) { return d.displacement.strengthMillimetres; }, 0,
            "Strength 1e-50 mm is now 0 mm"},
        {"/exportFixes/maximumRounds", 40.5, [](const ProjectData& d) { return d.exportFixes.maximumRounds; }, 41,
            "exportFixes.maximumRounds 40.5 is now 41"},
        // A name none of its field's names is not read either; a retired one is read as its successor.
        {"/projection/type", "Boxy", [](const ProjectData& d) { return static_cast<double>(d.projection.type); },
            static_cast<double>(mesh::ProjectionKind::Box), "projection.type \"Boxy\" is now \"box\""},
        {"/mask0/shape", "cube", [](const ProjectData& d) { return static_cast<double>(d.masks.at(0).shape); },
            static_cast<double>(mesh::MaskShape::Box), "Mask 1: Shape \"cube\" is now \"box\""},
        {"/texture/settings/seamlessMethod", "Offset",
            [](const ProjectData& d) { return static_cast<double>(d.textureSettings.seamlessMethod == "Unchanged"); },
            1, "texture.settings.seamlessMethod \"Offset\" is now \"Unchanged\""},
        {"/remesh/method", "dualContouring",
            [](const ProjectData& d) { return static_cast<double>(d.remesh.method == mesh::RemeshMethod::contour); }, 1,
            ""},
        {"/texture/image", 5, [](const ProjectData& d) { return static_cast<double>(d.textureImagePath.empty()); }, 1,
            "texture.image 5 is now the defaults"},
        // Values no field shows, named by their keys: each held to what the engine can use.
        {"/remesh/rounds", 2000000000, [](const ProjectData& d) { return d.remesh.rounds; }, 100,
            "remesh.rounds 2000000000 is now 100"},
        {"/remesh/featureAngleDegrees", -400, [](const ProjectData& d) { return d.remesh.featureAngleDegrees; }, 0,
            "remesh.featureAngleDegrees -400 degrees is now 0 degrees"},
        {"/remesh/relaxation", 1e30, [](const ProjectData& d) { return d.remesh.relaxation; }, 1,
            "remesh.relaxation 1e+30 is now 1"},
        {"/displacement/maximumTiltDegrees", 1e9,
            [](const ProjectData& d) { return d.displacement.maximumTiltDegrees; }, 179,
            "displacement.maximumTiltDegrees 1000000000 degrees is now 179 degrees"},
        {"/displacement/wallThresholdMillimetres", -1,
            [](const ProjectData& d) { return d.displacement.wallThresholdMillimetres; }, 0,
            "displacement.wallThresholdMillimetres -1 mm is now 0 mm"},
        {"/displacement/base/axis", 7, [](const ProjectData& d) { return d.displacement.base.axis; }, 2,
            "displacement.base.axis 7 is now 2"},
        {"/displacement/base/bandMillimetres", -1e30,
            [](const ProjectData& d) { return d.displacement.base.bandMillimetres; }, 0,
            "displacement.base.bandMillimetres -1e+30 mm is now 0 mm"},
        {"/simplify/maximumValence", -5, [](const ProjectData& d) { return d.simplify.maximumValence; }, 3,
            "simplify.maximumValence -5 is now 3"},
        {"/simplify/maximumSweeps", 2000000000, [](const ProjectData& d) { return d.simplify.maximumSweeps; },
            10000, "simplify.maximumSweeps 2000000000 is now 10000"},
        {"/simplify/minimumTriangleHeightMillimetres", -1,
            [](const ProjectData& d) { return d.simplify.minimumTriangleHeightMillimetres; }, 0,
            "simplify.minimumTriangleHeightMillimetres -1 mm is now 0 mm"},
        {"/simplify/planarAngleDegrees", 1e30, [](const ProjectData& d) { return d.simplify.planarAngleDegrees; }, 90,
            "simplify.planarAngleDegrees 1e+30 degrees is now 90 degrees"},
        {"/exportFixes/maximumRounds", 2000000000, [](const ProjectData& d) { return d.exportFixes.maximumRounds; },
            1000, "exportFixes.maximumRounds 2000000000 is now 1000"},
        {"/exportFixes/maximumMoveMillimetres", -1,
            [](const ProjectData& d) { return d.exportFixes.maximumMoveMillimetres; }, 0,
            "exportFixes.maximumMoveMillimetres -1 mm is now 0 mm"},
        // A cage fitted to a part as large, or as far out, as a float reaches is kept as placed.
        {"/projection/cage/size", {0, -5, 1e30}, [](const ProjectData& d) { return d.projection.cage.size.z; },
            f(1e30), "projection.cage.size[0] 0 mm is now 0.01 mm; projection.cage.size[1] -5 mm is now 0.01 mm"},
        {"/projection/layer/py/image", 99, [](const ProjectData& d) { return d.projection.layers[2].image; }, 5,
            "projection.layer.py.image 99 is now 5"},
        {"/projection/layer/px/zoom", -2, [](const ProjectData& d) { return d.projection.layers[0].zoom; }, 1,
            "projection.layer.px.zoom -2 is now 1"},
        // Turns made by dragging add up past a whole turn; a value held to the end points the
        // same way as none.
        {"/projection/layer/nz/rotationDegrees", 720,
            [](const ProjectData& d) { return d.projection.layers[5].rotationDegrees; }, 720, ""},
        {"/projection/cylinder/seamDegrees", 1e30,
            [](const ProjectData& d) { return d.projection.cylinderSeamDegrees; }, 36000,
            "projection.cylinder.seamDegrees 1e+30 degrees is now 36000 degrees"},
        {"/texture/settings/offsetMillimetres", {1e30, -3},
            [](const ProjectData& d) { return d.textureSettings.offsetMillimetres[0]; }, 1e6,
            "texture.settings.offsetMillimetres[0] 1e+30 mm is now 1000000 mm"},
        {"/texture/settings/rotationDegrees", 1e30,
            [](const ProjectData& d) { return d.textureSettings.rotationDegrees; }, 36000, "texture.settings.rotationDegrees 1e+30 degrees is now 36000 degrees"},
        // A placement that is no turn leaves the part as it was loaded; a turn is kept.
        {"/part/orientation", {{"rowX", {0, 0, 0}}, {"rowY", {0, 0, 0}}, {"rowZ", {0, 0, 0}}},
            [](const ProjectData& d) { return d.partTransform.m11; }, 1,
            "part.orientation.rowX[0] 0 is now 1; part.orientation.rowY[1] 0 is now 1; "
            "part.orientation.rowZ[2] 0 is now 1"},
        {"/part/orientation/rowX", {-1, 0, 0}, [](const ProjectData& d) { return d.partTransform.m00; }, 1,
            "part.orientation.rowX[0] -1 is now 1"},
        {"/part/orientation", {{"rowX", {0, -1, 0}}, {"rowY", {1, 0, 0}}, {"rowZ", {0, 0, 1}}},
            [](const ProjectData& d) { return d.partTransform.m01; }, -1, ""},
        {"/part/orientation/translation", {0, 1e30, 0},
            [](const ProjectData& d) { return d.partTransform.translation.y; }, f(1e30), ""},
        {"/part/orientation/translation", {0, -1e39, 0},
            [](const ProjectData& d) { return d.partTransform.translation.y; }, -FLT_MAX,
            "part.orientation.translation[1] -1e+39 mm is now -3.4028235e+38 mm"},
    };
    TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " " + c.given.dump());
        mesh::JsonValue project = MinimalProject("/somewhere/p.stl");
        project["mask0"]["size"] = {1.0, 1.0, 1.0};
        project[mesh::JsonValue::json_pointer(c.key)] = c.given;
        WriteJson(folder / "x.gfproj", project);
        ProjectData read;
        std::string error;
        ASSERT_TRUE(ReadProject(folder / "x.gfproj", read, error));
        EXPECT_EQ(c.read(read), c.taken);
        EXPECT_EQ(FormatChangedValues(read.valuesReplaced, read.valuesHeld), c.said);
    }
}

// A pattern's parameters are held to their own ranges as they are read; the ones held are named
// with the project's other values, and those read as they stand, or not read, are not.
TEST(ProjectFile, PatternParametersHeldToTheirRangesAreNamed)
{
    const std::unique_ptr<mesh::procedural::ProceduralTexture> pattern =
        mesh::procedural::CreateProceduralTexture("Noise");
    ASSERT_NE(pattern, nullptr);
    const mesh::procedural::ParameterSpec& spec = pattern->GetParameters().front();
    const std::string text = spec.key + "=" + std::to_string(spec.maximum + 1000.0f) + "\nnot a key=5\nno number\n";
    mesh::procedural::ParametersFromText(*pattern, text);
    const std::vector<HeldValue> held = HeldPatternParameters(*pattern, text);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0].name, spec.label);
    EXPECT_EQ(held[0].now, spec.maximum);
    EXPECT_TRUE(HeldPatternParameters(*pattern, mesh::procedural::ParametersToText(*pattern)).empty());
}

TEST(ProjectFile, SurfaceTestCellsAreClampedToTheOfferedValues)
{
    const std::pair<std::int32_t, std::int32_t> cases[] = {{1024, 512}, {512, 512}, {400, 512}, {384, 256},
        {256, 256}, {193, 256}, {192, 128}, {128, 128}, {16, 128}, {0, 128}, {-7, 128}, {2147483647, 512}};
    TempFolder folder;
    for (const auto& [given, taken] : cases) {
        mesh::JsonValue project = MinimalProject("/somewhere/p.stl");
        project["occupancyCells"] = given;
        WriteJson(folder / "x.gfproj", project);
        ProjectData read;
        std::string error;
        ASSERT_TRUE(ReadProject(folder / "x.gfproj", read, error));
        EXPECT_EQ(read.occupancyCells, taken) << given;
    }
}

TEST(ProjectFile, FailedWriteSaysSoAndKeepsTheOldFile)
{
    TempFolder folder;
    ProjectData data;
    data.testShape = "cube";
    std::string error;
    EXPECT_FALSE(WriteProject(folder / "missing" / "x.gfproj", data, error));
    EXPECT_EQ(error, "the file could not be written: the folder " + (folder / "missing").string() + " is not there");

    ASSERT_TRUE(WriteProject(folder / "x.gfproj", data, error));
    const std::vector<std::uint8_t> before = test::ReadAllBytes(folder / "x.gfproj");
    data.testShape = "sphere";
    data.proceduralName = "\xff\xfe not UTF-8";
    error.clear();
    EXPECT_FALSE(WriteProject(folder / "x.gfproj", data, error));
    EXPECT_EQ(error, "the file could not be written: Invalid or incomplete multibyte or wide character");
    EXPECT_EQ(test::ReadAllBytes(folder / "x.gfproj"), before);
    EXPECT_EQ(folder.List(), std::vector<std::string>{"x.gfproj"});  // no temporary file left
}

// Each way a save fails names its reason after the sentence, and leaves the old file and no
// temporary file. Root may write anywhere: a size limit stands in for a full disk, and the
// read-only folder needs an unprivileged child.
TEST(ProjectFile, FailedWriteSaysWhy)
{
    enum class Run { Here, SizeLimit, Unprivileged };
    const struct {
        const char* target;
        Run run;
        const char* reason;
        std::size_t keptNumbers = 0;  // a newer version's array kept with the project
    } cases[] = {
        {"folder.gfproj", Run::Here, "Is a directory"},
        // 17.5 MB even without the indent: it was written, failed its read-back and was said to
        // be an input/output error.
        {"old.gfproj", Run::Here, "the project would be larger than 16 MiB, the most a project may hold", 3500000},
        // "@" stands for the temporary folder: what is in the way is named.
        {"old.gfproj/x.gfproj", Run::Here, "@/old.gfproj on its way is not a folder"},
        {"old.gfproj", Run::SizeLimit, "File too large"},
        {"locked/x.gfproj", Run::Unprivileged, "its folder @/locked cannot be written (Permission denied)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        TempFolder folder;
        fs::permissions(folder.Path(), fs::perms(0755));
        fs::create_directories(folder / "folder.gfproj" / "inside");
        fs::create_directories(folder / "locked");
        fs::permissions(folder / "locked", fs::perms(0555));
        ProjectData data;
        data.testShape = "cube";
        std::string error;
        ASSERT_TRUE(WriteProject(folder / "old.gfproj", data, error)) << error;
        const std::vector<std::uint8_t> before = test::ReadAllBytes(folder / "old.gfproj");
        if (c.keptNumbers > 0)
            data.membersKept = std::make_shared<const mesh::JsonValue>(
                mesh::JsonValue{{"futureMesh", std::vector<double>(c.keptNumbers, 1.25)}});
        const auto save = [&] {
            std::string text;
            return WriteProject(folder / c.target, data, text) ? std::string("saved") : text;
        };
        std::optional<std::string> result;
        if (c.run == Run::Here) {
            result = save();
        } else if (c.run == Run::SizeLimit) {
            result = test::RunInChild([&] {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{100, 100};
                return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? save() : "setrlimit failed";
            });
        } else if (!(result = test::RunUnprivileged(save))) {
            continue;  // could not drop root privileges, so the folder's permissions would not apply
        }
        std::string reason = c.reason;
        for (std::size_t at = reason.find('@'); at != std::string::npos; at = reason.find('@'))
            reason.replace(at, 1, folder.Path().string());
        EXPECT_EQ(*result, "the file could not be written: " + reason);
        EXPECT_EQ(test::ReadAllBytes(folder / "old.gfproj"), before);
        EXPECT_EQ(folder.List(), (std::vector<std::string>{"folder.gfproj", "locked", "old.gfproj"}));
        EXPECT_TRUE(fs::is_empty(folder / "locked"));
        fs::permissions(folder / "locked", fs::perms(0755));
    }
}

// Files of the user's named like the old fixed temporary names stay as they are.
TEST(ProjectFile, SaveLeavesTheUsersFilesNamedLikeTemporaryFiles)
{
    TempFolder folder;
    WriteAllText(folder / "x.gfproj.tmp", "mine");
    WriteAllText(folder / "x.gfproj.part", "mine too");
    ProjectData data;
    data.testShape = "cube";
    std::string error;
    for (int twice = 0; twice < 2; ++twice)
        ASSERT_TRUE(WriteProject(folder / "x.gfproj", data, error)) << error;
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"x.gfproj", "x.gfproj.part", "x.gfproj.tmp"}));
    EXPECT_EQ(test::ReadAllBytes(folder / "x.gfproj.tmp").size(), 4u);
    ProjectData read;
    EXPECT_TRUE(ReadProject(folder / "x.gfproj", read, error)) << error;
}

// The new file takes the old one's read, write and execute bits, never set-user-id,
// set-group-id or sticky.
TEST(ProjectFile, SaveKeepsTheOldPermissionBitsWithoutTheSpecialOnes)
{
    const std::pair<fs::perms, fs::perms> cases[] = {{fs::perms(04755), fs::perms(0755)},
        {fs::perms(02750), fs::perms(0750)}, {fs::perms(01644), fs::perms(0644)}, {fs::perms(0600), fs::perms(0600)}};
    for (const auto& [old, expected] : cases) {
        TempFolder folder;
        ProjectData data;
        data.testShape = "cube";
        std::string error;
        ASSERT_TRUE(WriteProject(folder / "x.gfproj", data, error)) << error;
        fs::permissions(folder / "x.gfproj", old);
        ASSERT_TRUE(WriteProject(folder / "x.gfproj", data, error)) << error;
        EXPECT_EQ(fs::status(folder / "x.gfproj").permissions(), expected) << static_cast<int>(old);
    }
}

TEST(ProjectFile, RelativePathsAndProjectNames)
{
    struct Relative {
        const char* path;
        const char* base;
        const char* expected;
    };
    const Relative relatives[] = {{"/a/b/c.stl", "/a", "b/c.stl"}, {"/a/c.stl", "/a/b", "../c.stl"},
        {"/x/c.stl", "/a/b", "../../x/c.stl"}, {"rel/c.stl", "/a", ""}, {"/a/c.stl", "rel", ""}};
    for (const Relative& r : relatives)
        EXPECT_EQ(MakeProjectRelativePath(r.path, r.base).generic_string(), r.expected) << r.path << " " << r.base;

    const std::pair<const char*, bool> names[] = {{"a.gfproj", true}, {"/x/A.GFPROJ", true}, {"b.GfProj", true},
        {"a.gfproj.stl", false}, {"gfproj", false}, {".gfproj", false}, {"a.gfpro", false}, {"a.gfprojx", false}};
    for (const auto& [name, expected] : names)
        EXPECT_EQ(IsProjectPath(name), expected) << name;
}

// ---- The part beside the project ----

TEST(BesidePart, SourceNamedLikeTheFirstCandidateGivesPartTwo)
{
    TempFolder folder;
    WriteAllText(folder / "job part.stl", "source");
    const BesidePartChoice choice = PartBesideProject(folder / "job.gfproj", folder / "job part.stl");
    EXPECT_EQ(choice.chosen, folder / "job part 2.stl");
    EXPECT_TRUE(choice.replacedPart.empty());
}

TEST(BesidePart, UnrelatedFilesOfTheCandidateNamesAreSkipped)
{
    TempFolder folder;
    WriteAllText(folder / "job part.stl", "someone's part");
    WriteAllText(folder / "job part 2.stl", "another");
    WriteAllText(folder / "job part 3.stl", "and another");
    const BesidePartChoice choice = PartBesideProject(folder / "job.gfproj", folder / "bracket.stl");
    EXPECT_EQ(choice.chosen, folder / "job part 4.stl");

    std::string error;
    ASSERT_TRUE(WritePartBesideProject(choice.chosen, mesh::MakeTestCube(10.0f), error)) << error;
    WriteAllText(folder / "job.gfproj", "not a project");
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"job part 2.stl", "job part 3.stl", "job part 4.stl",
                                 "job part.stl", "job.gfproj"}));
    EXPECT_EQ(test::ReadAllBytes(folder / "job part.stl").size(), 14u);
}

// The replaced project's part stays: copies of that project may still name it.
TEST(BesidePart, ReplacedProjectsPartIsKept)
{
    TempFolder folder;
    std::string error;
    ASSERT_TRUE(WritePartBesideProject(folder / "job part.stl", mesh::MakeTestCube(10.0f), error));
    ProjectData old;
    old.partPath = folder / "job part.stl";
    ASSERT_TRUE(WriteProject(folder / "job.gfproj", old, error));

    const BesidePartChoice choice = PartBesideProject(folder / "job.gfproj", folder / "job part.stl");
    EXPECT_EQ(choice.replacedPart, folder / "job part.stl");
    EXPECT_EQ(choice.chosen, folder / "job part 2.stl");
    ASSERT_TRUE(WritePartBesideProject(choice.chosen, mesh::MakeTestCube(12.0f), error));
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"job part 2.stl", "job part.stl", "job.gfproj"}));

    // The written part reads back as the part that was meant.
    const mesh::StlReadResult read = mesh::ReadStlFile(choice.chosen, mesh::StlReadOptions{});
    ASSERT_TRUE(read.ok) << read.error;
    EXPECT_EQ(read.mesh.TriangleCount(), 12u);
}

// Names that only look like the beside names take none of them, and stay.
TEST(BesidePart, OnlyThisProjectsBesideNamesAreCandidates)
{
    TempFolder folder;
    const char* kept[] = {"bracket.stl", "job part 0.stl", "job part 02.stl", "job part x.stl", "job partial.stl",
        "other part.stl", "job part 12.stl"};
    for (const char* name : kept)
        WriteAllText(folder / name, "x");
    EXPECT_EQ(PartBesideProject(folder / "job.gfproj", folder / "job part 12.stl").chosen, folder / "job part.stl");
    EXPECT_EQ(folder.List().size(), std::size(kept));
}

// Older projects recorded "part.writtenBeside" for the part they wrote; whatever it holds,
// they read as before, and a save no longer writes the key.
TEST(BesidePart, OlderProjectsWithTheWrittenBesideKeyStillRead)
{
    TempFolder folder;
    fs::create_directory(folder / "elsewhere");
    const struct {
        const char* part;
        const char* writtenBeside;  // null: no key
    } cases[] = {
        {"job part.stl", "job part.stl"},
        {"job part.stl", nullptr},
        {"job part.stl", "job part 2.stl"},
        {"job part.stl", ""},
        {"elsewhere/job part.stl", "job part.stl"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.part);
        ProjectData data;
        data.partPath = folder / c.part;
        std::string error;
        ASSERT_TRUE(WriteProject(folder / "job.gfproj", data, error)) << error;
        mesh::JsonValue project = ReadJson(folder / "job.gfproj");
        if (c.writtenBeside)
            project["part"]["writtenBeside"] = c.writtenBeside;
        WriteJson(folder / "job.gfproj", project);
        ProjectData read;
        ASSERT_TRUE(ReadProject(folder / "job.gfproj", read, error)) << error;
        EXPECT_EQ(read.partPath, folder / c.part);
        EXPECT_EQ(PartBesideProject(folder / "job.gfproj", fs::path()).replacedPart, folder / c.part);
        ASSERT_TRUE(WriteProject(folder / "job.gfproj", read, error)) << error;
        EXPECT_FALSE(ReadJson(folder / "job.gfproj")["part"].contains("writtenBeside"));
    }
}

// Another program takes the chosen name in the moment after it was chosen: its file stays, and
// the part goes to the next free name.
TEST(BesidePart, NameTakenAfterItsChoiceMovesToTheNextFreeName)
{
    TempFolder folder;
    int choices = 0;
    const auto choose = [&] {
        const fs::path chosen = PartBesideProject(folder / "job.gfproj", fs::path()).chosen;
        if (choices++ == 0)
            WriteAllText(chosen, "another program's");
        return chosen;
    };
    std::string error;
    const fs::path written = detail::WriteUnderFreeName(choose, mesh::MakeTestCube(10.0f), error);
    EXPECT_EQ(written, folder / "job part 2.stl") << error;
    EXPECT_EQ(test::ReadAllBytes(folder / "job part.stl").size(), 17u);
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"job part 2.stl", "job part.stl"}));
    EXPECT_TRUE(mesh::ReadStlFile(written, mesh::StlReadOptions{}).ok);
}

TEST(BesidePart, FailedWriteKeepsTheOldFileAndSaysWhy)
{
    TempFolder folder;
    WriteAllText(folder / "job part.stl", "old");
    std::string error;
    EXPECT_FALSE(WritePartBesideProject(folder / "job part.stl", mesh::TriangleMesh{}, error));
    EXPECT_EQ(error, "There is no geometry to export.");
    EXPECT_EQ(test::ReadAllBytes(folder / "job part.stl").size(), 3u);
    EXPECT_FALSE(WritePartBesideProject(folder / "missing" / "p.stl", mesh::MakeTestCube(5.0f), error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace grainforge::app
