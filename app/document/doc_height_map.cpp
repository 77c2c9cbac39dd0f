// Height-map loading and the texture settings: an image file becomes the document's texture
// (through the normal-map question when it looks like one), edited settings are applied with
// the wrap the tiling and seamless method call for, and the seamless choice made for an image
// is remembered in the library so that loading it again brings it back.
#include "app/document/document_commands.h"
#include "app/document/field_ranges.h"
#include "app/document/grainforge_doc.h"
#include "app/document/log_text.h"
#include "app/document/texture_library.h"

#include "engine/textures/image_loading.h"
#include "engine/textures/normal_map.h"
#include "engine/textures/seamless_method.h"

#include <system_error>
#include <utility>

namespace grainforge::app {

namespace mesh = grainforge::mesh;

namespace {

const wchar_t* const kLoadTextureTitle = L"Load Texture From Disk";

void ResetLevels(mesh::TextureSettings& settings)
{
    settings.blackLevel = 0.0f;
    settings.whiteLevel = 1.0f;
    settings.gamma = 1.0f;
    settings.outputBlackLevel = 0.0f;
    settings.outputWhiteLevel = 1.0f;
}

}  // namespace

void ApplyWrapRule(mesh::TextureSettings& settings)
{
    if (!settings.tiles)
        settings.wrap = static_cast<std::int32_t>(mesh::WrapMode::Clamp);
    else if (settings.seamlessMethod == "Mirror")
        settings.wrap = static_cast<std::int32_t>(mesh::WrapMode::Mirror);
    else
        settings.wrap = static_cast<std::int32_t>(mesh::WrapMode::Repeat);
}

mesh::HeightMap CopyTextureRecord(const mesh::HeightMap& map)
{
    return mesh::HeightMap(map);
}

LibraryRoots CGrainforgeDoc::LibraryRootsOfHost() const
{
    LibraryRoots roots;
    if (host.folders == nullptr)
        return roots;
    const std::filesystem::path program = host.folders->ProgramFolder();
    const std::filesystem::path user = host.folders->UserFolder();
    if (!program.empty()) {
        std::error_code error;
        const std::filesystem::path installed = program / ".." / "share" / "tessary";
        if (std::filesystem::is_directory(installed, error))
            roots.push_back({installed.lexically_normal(), false});
        roots.push_back({program, false});
    }
    if (!user.empty())
        roots.push_back({user, true});
    return roots;
}

ProgramPlaces CGrainforgeDoc::ProgramPlacesOfHost() const
{
    ProgramPlaces places = LibraryPlaces(LibraryRootsOfHost());
    if (host.folders != nullptr) {
        ProgramPlaces own = host.folders->OwnPlaces();
        places.files.insert(places.files.end(), own.files.begin(), own.files.end());
        places.folders.insert(places.folders.end(), own.folders.begin(), own.folders.end());
        places.logs = std::move(own.logs);
    }
    return places;
}

bool CGrainforgeDoc::LoadHeightMap(const std::filesystem::path& path, bool logSettings)
{
    const BusyScope busy(host.busy);
    LogMessage("Loading height map " + PathToUtf8(path), kLogPlain);

    mesh::ImageLoadResult image = mesh::ReadHeightImage(path, mesh::ImageLoadOptions{});
    if (!image.ok) {
        // A failure is an error in the log as well, not a line among the image's facts.
        LogMessage("Height map failed to load: " + image.error, kLogError);
        ShowInformation(L"This image could not be loaded.\n" + Utf8ToWide(image.error), kInfoError, InfoEvent::texture);
        return false;
    }
    LogUtf8Lines(mesh::LogHeightMapLoad(image));

    std::int32_t width = image.width;
    std::int32_t height = image.height;
    std::vector<float> pixels = std::move(image.heights);
    if (image.looksLikeNormalMap) {
        const PromptAnswer answer = host.prompts != nullptr
                                        ? host.prompts->AskYesNoCancel(kNormalMapQuestion, L"", L"", L"")
                                        : PromptAnswer::cancel;
        if (answer != PromptAnswer::cancel) {
            mesh::NormalMapResult normal = mesh::HeightFromNormalMap(
                image.normalRgb, image.width, image.height, answer == PromptAnswer::yes);
            if (normal.ok) {
                // The integration grid is a power of two a side, so the size may change too.
                width = normal.width;
                height = normal.height;
                pixels = std::move(normal.heights);
                LogMessage("Normal map: " + normal.message + ".", kLogPlain);
            } else {
                LogMessage("Normal map: not converted - " + normal.message + ".", kLogPlain);
            }
        }
        // Three floats a pixel, needed no more: gone before the map's images are made.
        image.normalRgb = std::vector<float>();
    }

    mesh::TextureSettings settings = heightMap.settings;
    ResetLevels(settings);
    const LibraryRoots roots = LibraryRootsOfHost();
    const SeamChoice seam = SeamSettingForImage(roots, path);
    settings.seamlessMethod = seam.method;
    settings.seamlessParameters = seam.parameters;

    const bool tilesBefore = heightMap.settings.tiles;
    if (proceduralTexture) {
        // A pattern that does not repeat had tiles turned off for it; an image starts tiled.
        if (!proceduralTexture->repeats)
            settings.tiles = true;
        proceduralTexture.reset();
    }
    proceduralPresetName.clear();

    // The new settings go in before the pixels, so the seamless step and the blur run once,
    // for the new image with its own seamless method, not the previous texture's.
    ApplyWrapRule(settings);
    heightMap.settings = settings;
    heightMap.SetImage(width, height, std::move(pixels));
    ++pixelGeneration;
    ++pipelinePixelGeneration;
    heightMap.sourceName = PathToUtf8(path.filename());
    textureImagePath = PathToWide(path);

    if (!heightMap.settings.tiles)
        FitSingleTile();
    if (logSettings)
        LogImageTexture(false);

    NoteEvent(InfoEvent::texture);
    SyncTextureToPipeline();
    if (tilesBefore && heightMap.settings.tiles)
        UpdateAllViews(kHintFullRefresh);
    else
        UpdatePreview();
    return true;
}

void CGrainforgeDoc::LogImageTexture(bool asProjectHasIt) const
{
    const mesh::TextureSettings& settings = heightMap.settings;
    if (settings.seamlessMethod != kUnchangedSeamMethod) {
        if (!asProjectHasIt) {
            LogMessage("Seams: " + settings.seamlessMethod + ", as chosen for this image before.", kLogPlain);
        } else {
            // The project's own seams may differ from those remembered for the image, in method
            // or in overlap: the line says what was applied.
            const std::string& done = heightMap.seamlessReport.description;
            LogMessage("Seams: " + settings.seamlessMethod + (done.empty() ? std::string() : " (" + done + ")") +
                           ", as the project has it.",
                kLogPlain);
        }
    }
    if (settings.autoLevels)
        LogMessage(FormatText("Auto levels: black %.3f, white %.3f (the image's 1st and 99th percentiles).",
                       static_cast<double>(settings.blackLevel), static_cast<double>(settings.whiteLevel)),
            kLogPlain);
    // A load starts the levels neutral; a project may have set them by hand, or inverted.
    const bool handLevels = !settings.autoLevels && (settings.blackLevel != 0.0f || settings.whiteLevel != 1.0f);
    if (asProjectHasIt &&
        (handLevels || settings.gamma != 1.0f || settings.outputBlackLevel != 0.0f ||
            settings.outputWhiteLevel != 1.0f || settings.invert))
        LogMessage(FormatText("Levels: black %.3f, white %.3f, gamma %.2f, output %.3f to %.3f, invert %s, as the "
                              "project has them.",
                       static_cast<double>(settings.blackLevel), static_cast<double>(settings.whiteLevel),
                       GammaAsShown(settings.gamma), static_cast<double>(settings.outputBlackLevel),
                       static_cast<double>(settings.outputWhiteLevel), settings.invert ? "on" : "off"),
            kLogPlain);
}

void CGrainforgeDoc::ApplyTextureSettings(const mesh::TextureSettings& newSettings)
{
    const std::string oldMethod = heightMap.settings.seamlessMethod;
    const std::string oldParameters = heightMap.settings.seamlessParameters;
    const bool tilesBefore = heightMap.settings.tiles;

    mesh::TextureSettings settings = newSettings;
    // Turning auto levels off without touching the levels starts them neutral again, rather
    // than freezing the automatic ones.
    if (heightMap.settings.autoLevels && !settings.autoLevels &&
        settings.blackLevel == heightMap.settings.blackLevel &&
        settings.whiteLevel == heightMap.settings.whiteLevel) {
        settings.blackLevel = 0.0f;
        settings.whiteLevel = 1.0f;
    }
    // A pattern is rendered seamless already.
    if (proceduralTexture) {
        settings.seamlessMethod = std::string(kUnchangedSeamMethod);
        settings.seamlessParameters.clear();
    }
    ApplyWrapRule(settings);
    heightMap.ApplySettings(settings);
    if (tilesBefore && !heightMap.settings.tiles)
        FitSingleTile();

    RefreshProceduralTexture(false);

    const bool seamChanged = heightMap.settings.seamlessMethod != oldMethod ||
                             heightMap.settings.seamlessParameters != oldParameters;
    if (IsHeightMapLoaded() && seamChanged) {
        LogMessage(mesh::seamless::SeamlessSummaryText(heightMap.seamlessReport), kLogPlain);
        if (!proceduralTexture && !textureImagePath.empty())
            NoteLibraryListWrite(WriteSeamSettings(LibraryRootsOfHost(), PathFromWide(textureImagePath),
                                     heightMap.settings.seamlessMethod, heightMap.settings.seamlessParameters),
                kSeamSettingsFile);
    }

    NoteEvent(InfoEvent::placement);
    SyncTextureToPipeline();
    if (tilesBefore && heightMap.settings.tiles)
        UpdateAllViews(kHintFullRefresh);
    else
        UpdatePreview();
}

void CGrainforgeDoc::OnTextureLoadFromDisk()
{
    if (host.prompts == nullptr)
        return;
    const std::optional<std::filesystem::path> file =
        host.prompts->AskOpenFile(FileDialogRequest{kLoadTextureTitle, kTextureImageFilter, L"", L""});
    if (!file || file->empty())
        return;
    // Only an image that loaded joins the list of images loaded from disk.
    if (LoadHeightMap(*file))
        NoteLibraryListWrite(PutCustomImageFirst(LibraryRootsOfHost(), *file), kCustomImagesFile);
}

void CGrainforgeDoc::NoteLibraryListWrite(bool written, std::string_view fileName) const
{
    if (written)
        return;
    if (const std::string kept = LibraryListKeptText(LibraryRootsOfHost(), fileName); !kept.empty())
        LogMessage(kept, kLogWarning);
}

}  // namespace grainforge::app
