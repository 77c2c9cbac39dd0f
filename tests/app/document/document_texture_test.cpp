// The document's texture: image loading with the normal-map question, failed loads, the
// hand-over to the pipeline, the procedural pattern's render size and re-render band, the
// single tile of a texture that does not repeat, and the seamless choice kept per image.
#include "tests/app/document/document_fixture.h"
#include "tests/support/image_fixtures.h"
#include "tests/support/temp_folder.h"

#include "app/document/document_commands.h"
#include "app/document/preset_files.h"
#include "app/document/texture_library.h"
#include "engine/displacement/projection.h"
#include "engine/textures/normal_map.h"
#include "engine/textures/procedural_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace grainforge::test {
namespace {

namespace procedural = mesh::procedural;

// A grey PNG whose samples rise along the rows, so that every image has some detail.
std::filesystem::path WriteGreyImage(const TempFolder& folder, const std::string& name, std::uint32_t width,
                                     std::uint32_t height)
{
    PngFixture png;
    png.width = width;
    png.height = height;
    for (std::uint32_t i = 0; i < width * height; ++i)
        png.samples.push_back(static_cast<std::uint16_t>((i * 7) % 256));
    const std::filesystem::path path = folder / name;
    WriteAllBytes(path, EncodePng(png));
    return path;
}

// A 12 x 20 normal map whose slope turns along the image's height: mostly blue, red and green
// centred. Its sides are not powers of two, so the integrated heights come on a grid of
// another size (8 x 16).
std::filesystem::path WriteNormalMap(const TempFolder& folder)
{
    BmpFixture bmp;
    bmp.width = 12;
    bmp.height = 20;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 12; ++x) {
            const double green = 0.5 + 0.3 * std::sin(6.283185307 * y / 20.0);
            bmp.samples.push_back(128);
            bmp.samples.push_back(static_cast<std::uint8_t>(std::lround(green * 255.0)));
            bmp.samples.push_back(240);
        }
    const std::filesystem::path path = folder / "normals.bmp";
    WriteAllBytes(path, EncodeBmp(bmp));
    return path;
}

bool HasLineStartingWith(const RecordingHost& host, const std::string& start)
{
    return std::any_of(host.lines.begin(), host.lines.end(),
                       [&](const LoggedLine& line) { return line.text.rfind(start, 0) == 0; });
}

TEST(DocumentTexture, LoadAfterAPatternThatDoesNotRepeatTurnsTilesOn)
{
    const TempFolder folder;
    const std::filesystem::path image = WriteGreyImage(folder, "stone.png", 8, 8);
    struct Case {
        const char* pattern;
        bool tilesBefore;  // set after the render, before the load
        bool tilesAfter;
    };
    const Case cases[] = {
        {"Penrose", false, true},  // the pattern turned tiles off; the image turns them back on
        {"Noise", false, false},   // the user turned tiles off; a repeating pattern leaves that
        {"Noise", true, true},
    };
    for (const Case& c : cases) {
        DocumentFixture f;
        f.doc->heightMap.settings.widthMillimetres = 8.0f;  // a small render
        f.doc->RenderProceduralTexture(procedural::CreateProceduralTexture(c.pattern), L"preset");
        f.doc->heightMap.settings.tiles = c.tilesBefore;

        ASSERT_TRUE(f.doc->LoadHeightMap(image));
        EXPECT_EQ(f.doc->heightMap.settings.tiles, c.tilesAfter) << c.pattern << " " << c.tilesBefore;
        EXPECT_EQ(f.doc->heightMap.settings.wrap, c.tilesAfter ? 0 : 2);
        EXPECT_FALSE(f.doc->proceduralTexture);
        EXPECT_TRUE(f.doc->proceduralPresetName.empty());
        EXPECT_EQ(f.doc->textureImagePath, image.wstring());
    }
}

TEST(DocumentTexture, NormalMapQuestionHasItsExactTextAndEachAnswerDoesItsOwnThing)
{
    const TempFolder folder;
    const std::filesystem::path normals = WriteNormalMap(folder);
    const std::wstring question =
        L"This image looks like a normal map: mostly blue, with red and green centred. A normal map stores "
        L"the surface's slope, not its height, but the height can be integrated from it.\n\nYes:  convert "
        L"it, green pointing up the image (OpenGL style, the common one)\nNo:   convert it, green pointing "
        L"down the image (DirectX style)\nCancel:  use the image as it is";

    std::vector<float> heights[3];
    const app::PromptAnswer answers[] = {app::PromptAnswer::yes, app::PromptAnswer::no, app::PromptAnswer::cancel};
    for (int i = 0; i < 3; ++i) {
        DocumentFixture f;
        f.host.answers.push_back(answers[i]);
        ASSERT_TRUE(f.doc->LoadHeightMap(normals));
        ASSERT_EQ(f.host.questions, std::vector<std::wstring>{question});
        const bool converted = answers[i] != app::PromptAnswer::cancel;
        EXPECT_EQ(HasLineStartingWith(f.host, "Normal map: "), converted) << i;
        EXPECT_FALSE(HasLineStartingWith(f.host, "Normal map: not converted")) << i;
        heights[i] = f.doc->heightMap.source;
        EXPECT_TRUE(f.doc->IsHeightMapLoaded()) << i;
        EXPECT_EQ(f.doc->heightMap.width, converted ? mesh::NormalMapGridSide(12) : 12) << i;
        EXPECT_EQ(f.doc->heightMap.height, converted ? mesh::NormalMapGridSide(20) : 20) << i;
    }
    // Integrated heights vary with the slope, and green up and down give different reliefs;
    // the unconverted image is the flat luminance of its colours.
    EXPECT_NE(heights[0], heights[1]);
    ASSERT_FALSE(heights[0].empty());
    const auto [low, high] = std::minmax_element(heights[0].begin(), heights[0].end());
    EXPECT_GT(*high - *low, 0.5f);
}

TEST(DocumentTexture, FailedLoadLeavesTheTextureAsItWas)
{
    const TempFolder folder;
    WriteAllText(folder / "broken.png", "not an image at all");
    const std::filesystem::path files[] = {folder / "broken.png", folder / "missing.png", folder.Path()};
    for (const std::filesystem::path& file : files) {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        f.doc->heightMap.settings.blackLevel = 0.25f;
        const std::vector<float> pixels = f.doc->heightMap.source;
        const std::uint32_t generation = f.doc->pixelGeneration;
        const std::uint32_t handOvers = f.doc->textureHandOvers;
        const std::size_t steps = f.doc->undoStack.size();
        f.host.information.clear();

        EXPECT_FALSE(f.doc->LoadHeightMap(file)) << file;
        EXPECT_EQ(f.doc->heightMap.source, pixels);
        EXPECT_EQ(f.doc->heightMap.settings.blackLevel, 0.25f);
        EXPECT_EQ(f.doc->pixelGeneration, generation);
        EXPECT_EQ(f.doc->textureHandOvers, handOvers);
        EXPECT_EQ(f.doc->undoStack.size(), steps);
        ASSERT_EQ(f.host.information.size(), 1u);
        EXPECT_EQ(f.host.information[0].first.rfind(L"This image could not be loaded.\n", 0), 0u);
        EXPECT_EQ(f.host.information[0].second, app::kInfoError);
        ASSERT_FALSE(f.host.Lines(app::kLogError).empty()) << "a failed load is an error in the log";
        if (file.filename() == "missing.png") {
            EXPECT_EQ(f.host.Lines(app::kLogError).back(), "Height map failed to load: The file was not found.");
        }
    }
}

TEST(DocumentTexture, DisplacementNeedsATextureUntilOneIsLoaded)
{
    const TempFolder folder;
    DocumentFixture f;
    f.WithCube();
    f.FakeRuns();
    const std::string needs = "Displacement needs a texture: load one, or turn Displacement off.";
    f.doc->RequestProcess();
    EXPECT_EQ(f.host.Lines(app::kLogWarning), std::vector<std::string>{needs});
    EXPECT_EQ(f.doc->StatusText(), L"Needs a texture");

    ASSERT_TRUE(f.doc->LoadHeightMap(WriteGreyImage(folder, "grain.png", 16, 16)));
    f.host.lines.clear();
    f.doc->RequestProcess();
    EXPECT_TRUE(f.host.Lines(app::kLogWarning).empty());
    EXPECT_EQ(f.host.Lines(), std::vector<std::string>{"Processing..."});
    f.PollUntilReported();
}

TEST(DocumentTexture, IdenticalSettingsAreHandedToThePipelineOnce)
{
    DocumentFixture f;
    f.WithCube();
    f.GiveTexture();
    const std::uint32_t handOvers = f.doc->textureHandOvers;
    const std::size_t steps = f.doc->undoStack.size();
    mesh::TextureSettings edited = f.doc->heightMap.settings;
    edited.widthMillimetres = 12.5f;
    edited.invert = true;
    f.doc->ApplyTextureSettings(edited);
    f.doc->ApplyTextureSettings(edited);
    EXPECT_EQ(f.doc->textureHandOvers, handOvers + 1);
    EXPECT_EQ(f.doc->undoStack.size(), steps + 1);
    EXPECT_EQ(f.doc->heightMap.settings.widthMillimetres, 12.5f);
}

TEST(DocumentTexture, RenderSizeFollowsTheTileAndAPreviewRendersAgainOnlyOutsideTheBand)
{
    for (const auto& [millimetres, side] : {std::pair{30.0f, 960}, {5.0f, 256}, {200.0f, 4096}}) {
        DocumentFixture f;
        f.doc->heightMap.settings.widthMillimetres = f.doc->heightMap.settings.heightMillimetres = millimetres;
        EXPECT_EQ(f.doc->ProceduralRenderSize(), (app::ProceduralImageSize{side, side})) << millimetres;
    }
    // A 10 mm tile renders at 320 pixels; x1.4 needs 448 (kept), x1.6 needs 512.
    for (const auto& [zoom, side] : {std::pair{1.4f, 320}, {1.6f, 512}, {0.7f, 320}}) {
        DocumentFixture f;
        f.doc->heightMap.settings.widthMillimetres = f.doc->heightMap.settings.heightMillimetres = 10.0f;
        f.doc->RenderProceduralTexture(procedural::CreateProceduralTexture("Noise"), L"");
        ASSERT_EQ(f.doc->heightMap.width, 320);
        const std::uint32_t generation = f.doc->pixelGeneration;
        for (mesh::ProjectionLayer& layer : f.doc->projection.layers)
            layer.zoom *= zoom;
        f.doc->UpdatePreview();
        EXPECT_EQ(f.doc->heightMap.width, side) << "zoom x" << zoom;
        EXPECT_EQ(f.doc->heightMap.height, side);
        EXPECT_EQ(f.doc->pixelGeneration, side == 320 ? generation : generation + 1);
    }
}

TEST(DocumentTexture, ATextureThatDoesNotRepeatLaysOneCentredTileOverThePart)
{
    const TempFolder folder;
    const std::filesystem::path wide = WriteGreyImage(folder, "wide.png", 32, 16);
    for (const bool pattern : {true, false}) {
        DocumentFixture f;
        f.WithCube();
        if (pattern) {
            // Fitted before its first render: there were no pixels to gate on yet.
            f.doc->heightMap.settings.widthMillimetres = f.doc->heightMap.settings.heightMillimetres = 4.0f;
            f.doc->RenderProceduralTexture(procedural::CreateProceduralTexture("Penrose"), L"");
            EXPECT_TRUE(HasLineStartingWith(f.host, "  this pattern does not repeat, so one tile is laid over "));
        } else {
            // A 2:1 image keeps its aspect: the tile, half as tall as wide, must still reach the
            // top of every side.
            ASSERT_TRUE(f.doc->LoadHeightMap(wide));
            mesh::TextureSettings off = f.doc->heightMap.settings;
            off.tiles = false;
            f.doc->ApplyTextureSettings(off);
        }
        ASSERT_FALSE(f.doc->heightMap.settings.tiles);
        EXPECT_EQ(f.doc->heightMap.settings.wrap, 2);
        const mesh::ProjectionLayer first = f.doc->projection.layers[0];
        EXPECT_GT(first.zoom, 1.0f);
        for (const mesh::ProjectionLayer& layer : f.doc->projection.layers) {
            EXPECT_EQ(layer.zoom, first.zoom);
            EXPECT_EQ(layer.rotationDegrees, 0.0f);
        }
        // Every sample of every cube vertex lies inside the one tile.
        for (const mesh::MeshVertex& v : f.doc->workingPart.vertices) {
            const mesh::ProjectionSamples samples = mesh::MapThroughProjection(f.doc->projection, v.position, v.normal);
            for (int i = 0; i < samples.count; ++i) {
                const mesh::TileCoordinates t = f.doc->heightMap.settings.ToTile(samples.samples[i].u, samples.samples[i].v);
                EXPECT_TRUE(t.u >= 0.0f && t.u <= 1.0f && t.v >= 0.0f && t.v <= 1.0f)
                    << pattern << ": side " << samples.samples[i].side << " at (" << t.u << ", " << t.v << ")";
            }
        }
    }
}

TEST(DocumentTexture, SeamChoiceIsRememberedPerImageAndLoadFromDiskListsTheImage)
{
    const TempFolder folder;
    const std::filesystem::path image = WriteGreyImage(folder, "bark.png", 16, 16);
    DocumentFixture f;
    f.host.userFolder = folder / "user";
    f.WithCube();

    // Nothing chosen: no dialog answer loads nothing.
    f.doc->OnTextureLoadFromDisk();
    EXPECT_EQ(f.host.fileDialogTitles, std::vector<std::wstring>{L"Load Texture From Disk"});
    EXPECT_FALSE(f.doc->IsHeightMapLoaded());

    f.host.files.push_back(image);
    f.doc->OnTextureLoadFromDisk();
    ASSERT_TRUE(f.doc->IsHeightMapLoaded());
    EXPECT_EQ(app::ReadCustomImages(f.doc->LibraryRootsOfHost()), std::vector<std::filesystem::path>{image});
    EXPECT_FALSE(HasLineStartingWith(f.host, "Seams: "));

    mesh::TextureSettings mirror = f.doc->heightMap.settings;
    mirror.seamlessMethod = "Mirror";
    f.doc->ApplyTextureSettings(mirror);
    EXPECT_EQ(f.doc->heightMap.settings.wrap, 1);
    EXPECT_EQ(app::SeamSettingForImage(f.doc->LibraryRootsOfHost(), image).method, "Mirror");

    // Another texture, then the same image again: its seam choice comes back.
    f.GiveTexture();
    f.host.lines.clear();
    ASSERT_TRUE(f.doc->LoadHeightMap(image));
    EXPECT_EQ(f.doc->heightMap.settings.seamlessMethod, "Mirror");
    EXPECT_EQ(f.doc->heightMap.settings.wrap, 1);
    EXPECT_TRUE(HasLineStartingWith(f.host, "Seams: Mirror, as chosen for this image before."));

    // A list that no longer reads (nested past what is read) is kept as it is, and said so each
    // time a write leaves it so, for the images loaded and for the seam choices alike.
    const std::string nested = std::string("{\"images\": ").append(100000, '[').append(100000, ']').append("}");
    for (const char* name : {"images.json", "seams.json"})
        WriteAllText(folder / "user" / "custom" / name, nested);
    f.host.lines.clear();
    f.host.files.push_back(image);
    f.doc->OnTextureLoadFromDisk();
    mirror.seamlessMethod = "Cross-fade";
    f.doc->ApplyTextureSettings(mirror);
    for (const char* list : {"The list of loaded images ", "The list of seam choices "})
        EXPECT_TRUE(HasLineStartingWith(f.host, list)) << list;
    const std::vector<std::uint8_t> kept = ReadAllBytes(folder / "user" / "custom" / "images.json");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), nested);
}

TEST(DocumentTexture, EveryNewPixelSetIsItsOwnMapInTheHistoryAndADragStaysOneStep)
{
    const TempFolder folder;
    {
        DocumentFixture f;
        f.WithCube();
        f.GiveTexture();
        const std::shared_ptr<const mesh::HeightMap> ramp = f.doc->undoBase.heightMap;
        ASSERT_TRUE(ramp);
        ASSERT_TRUE(f.doc->LoadHeightMap(WriteGreyImage(folder, "b.png", 8, 8)));
        EXPECT_NE(f.doc->undoBase.heightMap, ramp);
        EXPECT_EQ(ramp->width, 4);  // the earlier snapshot's map is untouched
        f.doc->OnEditUndo();
        EXPECT_EQ(f.doc->heightMap.width, 4);
        EXPECT_TRUE(f.doc->textureImagePath.empty());
        f.doc->OnEditRedo();
        EXPECT_EQ(f.doc->heightMap.sourceName, "b.png");
    }
    // A zoom drag that crosses the render band renders the pattern again mid-drag.
    DocumentFixture f;
    f.WithCube();
    f.doc->heightMap.settings.widthMillimetres = f.doc->heightMap.settings.heightMillimetres = 10.0f;
    f.doc->RenderProceduralTexture(procedural::CreateProceduralTexture("Noise"), L"");
    ASSERT_EQ(f.doc->heightMap.width, 320);
    const std::size_t steps = f.doc->undoStack.size();
    const std::uint32_t generation = f.doc->pixelGeneration;

    std::copy(std::begin(f.doc->projection.layers), std::end(f.doc->projection.layers), f.doc->dragBaseLayers);
    f.doc->BeginEdit();
    for (const float zoom : {1.2f, 1.6f, 1.8f, 2.0f}) {
        mesh::ProjectionLayer moved = f.doc->dragBaseLayers[0];
        moved.zoom *= zoom;
        f.doc->SetSidePlacement(0, moved);
    }
    f.doc->CommitPendingEdit();
    EXPECT_GT(f.doc->pixelGeneration, generation);
    EXPECT_EQ(f.doc->undoStack.size(), steps + 1);

    f.doc->OnEditUndo();
    EXPECT_EQ(f.doc->projection.layers[0].zoom, f.doc->dragBaseLayers[0].zoom);
    EXPECT_EQ(f.doc->heightMap.width, 320);
    EXPECT_EQ(f.doc->pixelGeneration, generation);
}

TEST(DocumentTexture, PatternSettingsNeedAPatternAndAnUnchangedDialogChangesNothing)
{
    const TempFolder folder;
    DocumentFixture f;
    f.host.programFolder = folder / "program";
    f.host.userFolder = folder / "user";
    f.WithCube();
    f.doc->heightMap.settings.widthMillimetres = f.doc->heightMap.settings.heightMillimetres = 8.0f;
    const auto settingsEnabled = [&] {
        for (const app::CommandEntry& e : f.doc->Commands())
            if (e.id == app::kCmdProceduralSettings) {
                app::CommandState state;
                e.update(state);
                return state.enabled;
            }
        return false;
    };
    EXPECT_FALSE(settingsEnabled());
    f.doc->OnProceduralPattern(app::kCmdProceduralFirst + 2);
    ASSERT_TRUE(f.doc->proceduralTexture);
    EXPECT_EQ(f.doc->proceduralTexture->Name(), "Bricks");
    EXPECT_TRUE(settingsEnabled());
    ASSERT_EQ(f.host.dialogRoots.size(), 2u);  // the presets' folders: factory, then the user's
    EXPECT_EQ(f.host.dialogRoots[1].path, folder / "user");

    const std::uint32_t generation = f.doc->pixelGeneration;
    const std::size_t steps = f.doc->undoStack.size();
    f.doc->OnProceduralPattern(app::kCmdProceduralFirst + 2);
    f.doc->OnProceduralSettings();
    EXPECT_EQ(f.host.patternsOffered, (std::vector<std::string>{"Bricks", "Bricks", "Bricks"}));
    EXPECT_EQ(f.doc->pixelGeneration, generation);
    EXPECT_EQ(f.doc->undoStack.size(), steps);
}

// A preset's members this version does not read belong to the values they came with: loaded
// in the pattern dialog they were not logged, an edit's copy lost them, a reset kept them with
// defaults they were never saved beside, and Undo did not bring them back.
TEST(DocumentTexture, APresetsMembersNotReadAreLoggedAndGoWithTheValuesTheyCameWith)
{
    const TempFolder folder;
    DocumentFixture f;
    f.WithCube();
    WriteAllText(folder / "Grainy.gfpreset", R"({"format": "Grainforge preset", "version": 2, "texture": "Noise",
                                                 "parameters": {"scale": 12, "grain": 3}})");
    using Step = std::function<void(procedural::ProceduralTexture&, const app::PresetReadNote&)>;
    const mesh::JsonValue grain = {{"grain", 3}}, none;
    const std::tuple<Step, mesh::JsonValue> steps[] = {
        {[&](auto& p, auto& note) { note(app::ReadPreset(folder / "Grainy.gfpreset", p), "Grainy"); }, grain},
        {[](auto& p, auto&) { p.SetValue("scale", 9.0f); }, grain},
        {[](auto& p, auto&) { p.ResetToDefaults(); }, none},
    };
    const auto kept = [&] {
        const auto& members = f.doc->proceduralTexture->membersNotRead;
        return members ? *members : none;
    };
    f.doc->OnProceduralPattern(app::kCmdProceduralFirst);  // Noise
    for (const auto& [step, keptAfter] : steps) {
        f.host.inPatternDialog = step;
        f.doc->OnProceduralSettings();
        EXPECT_EQ(kept(), keptAfter);
    }
    EXPECT_TRUE(HasLineStartingWith(f.host, "The preset \"Grainy\" holds parameters this version does not read: grain."));
    f.doc->OnEditUndo();
    EXPECT_EQ(std::tuple(kept(), f.doc->proceduralTexture->GetValue("scale")), std::tuple(grain, 9.0f));
}

}  // namespace
}  // namespace grainforge::test
