#include "app/document/texture_library.h"

#include "app/document/file_identity.h"
#include "app/document/log_text.h"
#include "app/document/name_case.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/report_text.h"
#include "engine/textures/image_loading.h"
#include "engine/textures/seamless_method.h"
#include "platform/file_system.h"
#include "platform/image_file_types.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace grainforge::app {
namespace fs = std::filesystem;

namespace {

// Windows file times count 100-nanosecond ticks from 1 January 1601, 11644473600 s before
// the Unix epoch; cache names use them so that their meaning is the same everywhere.
using FileTicks = std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>;
constexpr std::int64_t kTicksFrom1601To1970 = 116444736000000000;
constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};
constexpr std::uint64_t kUnknownWriteTicks = std::uint64_t{1} << 63;

constexpr std::uint64_t kHashStart = 0xcbf29ce484222325ull;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ull;
constexpr std::uint64_t kUnitMixer = 0xc5527b8a51d3d2dbull;

fs::path CustomFolder() { return fs::path(std::string(kCustomLibraryFolder)); }

fs::path ThumbnailFolder() { return fs::path(std::string(kThumbnailFolder)); }

// The "images" array of a library list file; null when the file or the array is missing.
const mesh::JsonValue* ImagesArray(const mesh::JsonView& root)
{
    const mesh::JsonView images = root.FindMember("images");
    return images.IsArray() ? images.value : nullptr;
}

// Why a loaded list does not read as a list; empty when it does.
std::string ListLoadProblem(const mesh::JsonLoadResult& load)
{
    switch (load.status) {
    case mesh::JsonLoadStatus::Ok:
        return ImagesArray(load.view) != nullptr ? std::string() : "it holds no \"images\" list";
    case mesh::JsonLoadStatus::NotJson:
        return "it is not JSON";
    case mesh::JsonLoadStatus::TooDeep:
        return "its values are nested more than " + std::to_string(mesh::kMaxJsonDepth) + " deep";
    case mesh::JsonLoadStatus::TooLarge:
        return "it is too large to be a list: it holds " + mesh::FormatCountGrouped(load.size) + " bytes";
    case mesh::JsonLoadStatus::OpenFailed:
    case mesh::JsonLoadStatus::NotRegularFile:
    case mesh::JsonLoadStatus::ReadFailed:
    case mesh::JsonLoadStatus::OutOfMemory:
        break;
    }
    return "it could not be read";
}

// The sentence naming a list that was read and could not be, or empty.
std::string ListNotReadText(std::string_view fileName, const fs::path& file, const std::string& problem)
{
    if (problem.empty())
        return {};
    const bool images = fileName == kCustomImagesFile;
    return std::string(images ? "The list of loaded images " : "The list of seam choices ") + file.string() +
        " could not be read: " + problem;
}

std::string MemberString(const mesh::JsonValue& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// The list file's document to edit, so that what the program does not know (other members of
// the root object, entries of other kinds, other members of an entry) is written back as it was:
// the user root's copy when it is a regular file; else the copy a factory root holds, as the
// readers find it; else {"images": []}. Nothing when the user's copy is there but does not read
// as a list (damaged, too large): writing would put one entry in the place of all it holds, so
// it is left for the user to see to. A link at the user's name is not read through: the
// program's own list replaces it.
std::optional<mesh::JsonNode> ListToEdit(const LibraryRoots& roots, const fs::path& target, std::string_view fileName)
{
    std::error_code error;
    fs::path source;
    if (fs::symlink_status(target, error).type() == fs::file_type::regular)
        source = target;
    else if (const fs::path found = ResolveLibraryItem(roots, CustomFolder(), fileName);
             !found.empty() && !IsSameFile(found, target))
        source = found;
    if (!source.empty()) {
        mesh::JsonNode document{mesh::ReadJsonFile(source), {}};
        if (document.root != nullptr && ImagesArray(mesh::JsonView{document.root, document.root.get()}) != nullptr)
            return document;
        if (source == target)
            return std::nullopt;
    }
    mesh::JsonNode document = mesh::NewJsonDocument();
    (void)document.ArrayChild("images");
    return document;
}

// Edits the "images" array of the list file in place (ListToEdit) and saves it to the user
// root's copy; false without a user root, when the user's copy does not read as a list or when
// the write fails.
template <typename EditItems>
bool EditImagesList(const LibraryRoots& roots, std::string_view fileName, EditItems editItems)
{
    const fs::path target = UserLibraryPath(roots, CustomFolder(), fileName);
    if (target.empty())
        return false;
    const std::optional<mesh::JsonNode> document = ListToEdit(roots, target, fileName);
    if (!document)
        return false;
    mesh::JsonValue* images = document->ArrayChild("images").Resolve();
    if (images == nullptr)
        return false;
    editItems(*images);
    // The program's own list: a link planted at its name is replaced, never written through.
    mesh::JsonSaveOptions options;
    options.links = platform::LinkHandling::ReplaceLink;
    return mesh::SaveJsonFile(*document, target, options, nullptr);
}

// Whether an entry of the loaded images' list is the image's own: a string naming it. Entries
// of any other kind are never the program's to remove.
bool IsImageEntry(const mesh::JsonValue& element, const fs::path& image)
{
    return element.is_string() && PathsEqualNoCase(fs::path(element.get<std::string>()), image);
}

// The same for the seam choices: an object whose "image" names it.
bool IsSeamEntry(const mesh::JsonValue& element, const fs::path& image)
{
    return element.is_object() && PathsEqualNoCase(fs::path(MemberString(element, "image")), image);
}

// Removes the entries `isEntry` finds the image's own, keeping the others in their order.
template <typename IsEntry>
void RemoveEntries(mesh::JsonValue& list, const fs::path& image, IsEntry isEntry)
{
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const mesh::JsonValue& element) { return isEntry(element, image); }),
               list.end());
}

std::uint64_t WriteTicks(const fs::directory_entry& image)
{
    std::error_code error;
    const fs::file_time_type written = image.last_write_time(error);
    if (error)
        return kUnknownWriteTicks;
    const auto since1970 = std::chrono::floor<FileTicks>(std::chrono::file_clock::to_sys(written).time_since_epoch());
    return static_cast<std::uint64_t>(since1970.count()) + static_cast<std::uint64_t>(kTicksFrom1601To1970);
}

std::uint64_t HashBytes(std::uint64_t hash, std::uint64_t value)
{
    for (int byte = 0; byte < 8; ++byte)
        hash = (hash ^ ((value >> (8 * byte)) & 0xFF)) * kFnvPrime;
    return hash;
}

bool IsSquareOfSide(const GreyImage& image, std::int32_t side)
{
    return image.width == side && image.height == side &&
           image.pixels.size() == static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
}

// Mean of the box of source pixels as a byte; the box is never empty.
std::uint8_t BoxMean(std::span<const float> pixels, std::int64_t width, std::int64_t x0, std::int64_t x1,
                     std::int64_t y0, std::int64_t y1)
{
    double sum = 0.0;
    for (std::int64_t y = y0; y < y1; ++y)
        for (std::int64_t x = x0; x < x1; ++x)
            sum += pixels[static_cast<std::size_t>(y * width + x)];
    const double mean = sum / static_cast<double>((x1 - x0) * (y1 - y0));
    if (!std::isfinite(mean))
        return 0;
    return static_cast<std::uint8_t>(std::clamp(mean, 0.0, 1.0) * 255.0 + 0.5);
}

// A thumbnail made as the image's rows arrive, in any order. The rows of each output row's
// band are gathered, and once the band is complete its boxes are averaged by BoxMean over
// them, in the same order MakeThumbnailPixels sums the whole image, so the bytes are the same.
class ThumbnailFromRows {
public:
    void Begin(std::int32_t width, std::int32_t height)
    {
        square_ = std::min(width, height);
        x0_ = (width - square_) / 2;
        y0_ = (height - square_) / 2;
        side_ = std::min({kLibraryThumbnailSide, width, height});
        pixels_.assign(static_cast<std::size_t>(side_) * static_cast<std::size_t>(side_), 0);
        bands_.assign(static_cast<std::size_t>(side_), Band{});
        for (std::int64_t row = 0; row < side_; ++row) {
            bands_[static_cast<std::size_t>(row)].top = y0_ + row * square_ / side_;
            bands_[static_cast<std::size_t>(row)].bottom = y0_ + (row + 1) * square_ / side_;
        }
    }

    void TakeRow(std::int32_t y, std::span<const float> heights)
    {
        if (y < y0_ || y >= y0_ + square_)
            return;
        // The band whose rows hold y: the last one starting at or above it.
        const auto found = std::upper_bound(bands_.begin(), bands_.end(), std::int64_t{y},
                                            [](std::int64_t value, const Band& band) { return value < band.top; });
        const auto row = static_cast<std::int64_t>(found - bands_.begin()) - 1;
        Band& band = bands_[static_cast<std::size_t>(row)];
        if (band.values.empty())
            band.values.resize(static_cast<std::size_t>((band.bottom - band.top) * square_));
        std::copy_n(heights.begin() + x0_, square_, band.values.begin() + (y - band.top) * square_);
        if (++band.received == band.bottom - band.top)
            AverageBand(row, band);
    }

    // The thumbnail once every band arrived; nothing otherwise.
    std::optional<GreyImage> Finish()
    {
        if (side_ < 1 || completed_ != side_)
            return std::nullopt;
        GreyImage thumbnail;
        thumbnail.width = thumbnail.height = side_;
        thumbnail.pixels = std::move(pixels_);
        return thumbnail;
    }

private:
    struct Band {
        std::int64_t top = 0;
        std::int64_t bottom = 0;  // the square is at least as large as the thumbnail: never empty
        std::int64_t received = 0;
        std::vector<float> values;  // its rows of the square, while they are being gathered
    };

    void AverageBand(std::int64_t row, Band& band)
    {
        const std::int64_t rows = band.bottom - band.top;
        for (std::int64_t column = 0; column < side_; ++column) {
            const std::int64_t left = column * square_ / side_;
            const std::int64_t right = (column + 1) * square_ / side_;
            pixels_[static_cast<std::size_t>(row * side_ + column)] = BoxMean(band.values, square_, left, right, 0, rows);
        }
        band.values = {};
        ++completed_;
    }

    std::int64_t square_ = 0;
    std::int64_t x0_ = 0;
    std::int64_t y0_ = 0;
    std::int32_t side_ = 0;
    std::int32_t completed_ = 0;
    std::vector<Band> bands_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace

const std::vector<std::string>& ImageExtensions()
{
    static const std::vector<std::string> extensions = [] {
        std::vector<std::string> list;
        for (const platform::ImageFileType& type : platform::ImageFileTypes())
            list.emplace_back(type.extension);
        return list;
    }();
    return extensions;
}

std::vector<TextureLibraryItem> ScanTextureLibrary(const LibraryRoots& roots, std::string_view category)
{
    fs::path folder = fs::path(std::string(kTexturesLibraryFolder));
    if (!category.empty())
        folder /= fs::path(std::string(category));
    std::vector<TextureLibraryItem> items;
    for (LibraryEntry& entry : ListLibraryEntries(roots, folder, ImageExtensions())) {
        if (!entry.path.empty())
            items.push_back({std::move(entry.name), std::move(entry.path), entry.origin});
    }
    return items;
}

// ---- Images loaded from disk -------------------------------------------------------------

std::vector<fs::path> ReadCustomImages(const LibraryRoots& roots, std::string* notRead)
{
    std::vector<fs::path> images;
    const fs::path file = ResolveLibraryItem(roots, CustomFolder(), kCustomImagesFile);
    if (file.empty())
        return images;
    const mesh::JsonLoadResult load = mesh::LoadJsonFileWithStatus(file);
    const mesh::JsonValue* list = ImagesArray(load.view);
    if (list == nullptr) {
        // Shown as an empty list, which says nothing of the file the user keeps: named here.
        if (notRead != nullptr)
            *notRead = ListNotReadText(kCustomImagesFile, file, ListLoadProblem(load)) +
                ". It is kept as it is; the Custom tab shows none of its images.";
        return images;
    }
    for (const mesh::JsonValue& element : *list) {
        if (element.is_string() && !element.get_ref<const std::string&>().empty())
            images.emplace_back(element.get<std::string>());
    }
    return images;
}

bool WriteCustomImages(const LibraryRoots& roots, const std::vector<fs::path>& images)
{
    // A JSON file holds only UTF-8: an image whose name is not UTF-8 is left out of the list
    // (it still loads) rather than failing the whole list.
    return EditImagesList(roots, kCustomImagesFile, [&](mesh::JsonValue& list) {
        list = mesh::JsonValue::array();
        for (const fs::path& image : images)
            if (IsUtf8Path(image))
                list.push_back(image.string());
    });
}

bool PutCustomImageFirst(const LibraryRoots& roots, const fs::path& image)
{
    return EditImagesList(roots, kCustomImagesFile, [&](mesh::JsonValue& list) {
        RemoveEntries(list, image, IsImageEntry);
        if (IsUtf8Path(image))
            list.insert(list.begin(), image.string());
    });
}

bool RemoveCustomImage(const LibraryRoots& roots, const fs::path& image)
{
    return EditImagesList(roots, kCustomImagesFile,
                          [&](mesh::JsonValue& list) { RemoveEntries(list, image, IsImageEntry); });
}

std::string LibraryListProblem(const LibraryRoots& roots, std::string_view fileName)
{
    const fs::path target = UserLibraryPath(roots, CustomFolder(), fileName);
    std::error_code error;
    if (target.empty() || fs::symlink_status(target, error).type() != fs::file_type::regular)
        return {};
    return ListLoadProblem(mesh::LoadJsonFileWithStatus(target));
}

std::string LibraryListKeptText(const LibraryRoots& roots, std::string_view fileName)
{
    const std::string said =
        ListNotReadText(fileName, UserLibraryPath(roots, CustomFolder(), fileName), LibraryListProblem(roots, fileName));
    return said.empty() ? said : said + ". It is kept as it is, and nothing was added to it or taken from it.";
}

// ---- Seam choices ------------------------------------------------------------------------

std::vector<SeamSetting> ReadSeamSettings(const LibraryRoots& roots)
{
    std::vector<SeamSetting> settings;
    const fs::path file = ResolveLibraryItem(roots, CustomFolder(), kSeamSettingsFile);
    if (file.empty())
        return settings;
    const mesh::JsonView root = mesh::LoadJsonFile(file);
    const mesh::JsonValue* list = ImagesArray(root);
    if (list == nullptr)
        return settings;
    for (const mesh::JsonValue& element : *list) {
        if (!element.is_object())
            continue;
        SeamSetting setting{MemberString(element, "image"), MemberString(element, "method"),
                            MemberString(element, "parameters")};
        if (!setting.image.empty() && !setting.method.empty())
            settings.push_back(std::move(setting));
    }
    return settings;
}

SeamChoice SeamSettingForImage(const LibraryRoots& roots, const fs::path& image)
{
    for (SeamSetting& setting : ReadSeamSettings(roots)) {
        if (!PathsEqualNoCase(setting.image, image))
            continue;
        // A hand-edited name no method has would be applied as "Unchanged" yet named in the
        // image's settings and the log.
        if (mesh::seamless::CanonicalSeamlessMethodName(setting.method) != setting.method)
            return {};
        return {std::move(setting.method), std::move(setting.parameters)};
    }
    return {};
}

bool WriteSeamSettings(const LibraryRoots& roots, const fs::path& image, std::string_view method,
                       std::string_view parameters)
{
    if (image.empty())
        return false;
    return EditImagesList(roots, kSeamSettingsFile, [&](mesh::JsonValue& list) {
        // The image's new entry starts from its old one, so members the program does not
        // know stay with it.
        mesh::JsonValue entry = mesh::JsonValue::object();
        const auto old = std::find_if(list.begin(), list.end(),
                                      [&](const mesh::JsonValue& element) { return IsSeamEntry(element, image); });
        if (old != list.end())
            entry = *old;
        RemoveEntries(list, image, IsSeamEntry);
        if (method.empty() || method == kUnchangedSeamMethod || !IsUtf8Path(image))
            return;
        entry["image"] = image.string();
        entry["method"] = std::string(method);
        entry["parameters"] = std::string(parameters);
        list.push_back(std::move(entry));
    });
}

bool PathsEqualNoCase(const fs::path& a, const fs::path& b) { return a == b; }

// ---- Thumbnails --------------------------------------------------------------------------

std::string ThumbnailFileName(const fs::directory_entry& image)
{
    std::error_code error;
    const std::uintmax_t size = image.file_size(error);
    return ThumbnailFileNameFor(image.path().string(), error ? kUnknownSize : size, WriteTicks(image));
}

std::string ThumbnailFileNameFor(std::string_view pathUtf8, std::uint64_t size, std::uint64_t writeTicks)
{
    std::uint64_t hash = kHashStart;
    for (const char16_t unit : ToUtf16Units(pathUtf8))
        hash = ((hash ^ (unit & 0xFFu)) * kFnvPrime ^ (unit >> 8)) * kUnitMixer;
    hash = HashBytes(hash, size);
    hash = HashBytes(hash, writeTicks);
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.bmp", static_cast<unsigned long long>(hash));
    return name;
}

bool IsCachedThumbnailFile(const fs::path& file)
{
    // "%016llx.bmp": sixteen lower-case hexadecimal digits.
    const std::string name = file.filename().string();
    constexpr std::size_t kDigits = 16;
    if (name.size() != kDigits + 4 || !name.ends_with(".bmp") ||
        !std::all_of(name.begin(), name.begin() + kDigits,
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return false;
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(file, error)))
        return false;
    const std::uint64_t largest =
        kGreyBmpHeaderBytes + GreyBmpRowStride(kLibraryThumbnailSide) * static_cast<std::uint64_t>(kLibraryThumbnailSide);
    const platform::ReadResult read = platform::ReadWholeFile(file, largest);
    if (read.status != platform::ReadStatus::Ok)
        return false;
    const std::optional<GreyImage> picture = DecodeGreyBmp(read.bytes);
    return picture && picture->width == picture->height && picture->width <= kLibraryThumbnailSide &&
           EncodeGreyBmp(picture->pixels, picture->width) == read.bytes;
}

std::vector<std::uint8_t> MakeThumbnailPixels(std::span<const float> pixels, std::int32_t width,
                                              std::int32_t height, std::int32_t side)
{
    if (width < 1 || height < 1 || side < 1 ||
        pixels.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return {};
    const std::int64_t square = std::min(width, height);
    const std::int64_t x0 = (width - square) / 2;
    const std::int64_t y0 = (height - square) / 2;
    const std::int64_t n = side;
    std::vector<std::uint8_t> thumbnail(static_cast<std::size_t>(n * n));
    for (std::int64_t row = 0; row < n; ++row) {
        const std::int64_t top = y0 + row * square / n;
        const std::int64_t bottom = std::max(top + 1, y0 + (row + 1) * square / n);
        for (std::int64_t column = 0; column < n; ++column) {
            const std::int64_t left = x0 + column * square / n;
            const std::int64_t right = std::max(left + 1, x0 + (column + 1) * square / n);
            thumbnail[static_cast<std::size_t>(row * n + column)] = BoxMean(pixels, width, left, right, top, bottom);
        }
    }
    return thumbnail;
}

// A cached thumbnail: the cache's own, else one shipped in a factory root's "thumbnails".
fs::path FindCachedThumbnail(const LibraryRoots& roots, const fs::path& cacheFolder, const std::string& name)
{
    std::error_code error;
    if (!cacheFolder.empty() && fs::is_regular_file(cacheFolder / name, error))
        return cacheFolder / name;
    for (auto root = roots.rbegin(); root != roots.rend(); ++root)
        if (!root->user && fs::is_regular_file(LibraryItemPath(root->path, ThumbnailFolder(), name), error))
            return LibraryItemPath(root->path, ThumbnailFolder(), name);
    return {};
}

// Where a new thumbnail goes, its folder made; empty without a cache or when it cannot be made.
fs::path ThumbnailCachePath(const fs::path& cacheFolder, const std::string& name)
{
    if (cacheFolder.empty())
        return {};
    std::error_code error;
    fs::create_directories(cacheFolder, error);
    return fs::is_directory(cacheFolder, error) ? cacheFolder / name : fs::path();
}

std::optional<GreyImage> GetThumbnail(const LibraryRoots& roots, const fs::path& cacheFolder, const fs::path& image)
{
    std::error_code error;
    const fs::directory_entry entry(image, error);
    if (error || !entry.is_regular_file(error))
        return std::nullopt;
    const std::string name = ThumbnailFileName(entry);
    const fs::path cached = FindCachedThumbnail(roots, cacheFolder, name);
    // Only a full-size square is right for any image unseen; a smaller one is right only for
    // an image that small, which the load below tells (and small images load quickly).
    const std::optional<GreyImage> cachedThumbnail = cached.empty() ? std::nullopt : ReadGreyBmp(cached);
    if (cachedThumbnail && IsSquareOfSide(*cachedThumbnail, kLibraryThumbnailSide))
        return cachedThumbnail;

    ThumbnailFromRows builder;
    const mesh::ImageLoadResult loaded = mesh::ReadHeightImageRows(
        image, {},
        {.begin = [&](std::int32_t width, std::int32_t height) { builder.Begin(width, height); },
         .takeRow = [&](std::int32_t y, std::span<const float> heights) { builder.TakeRow(y, heights); }});
    std::optional<GreyImage> thumbnail = builder.Finish();
    if (!loaded.ok || !thumbnail)
        return std::nullopt;
    const bool cachedFits = cachedThumbnail && IsSquareOfSide(*cachedThumbnail, thumbnail->width);
    const fs::path target = cachedFits ? fs::path() : ThumbnailCachePath(cacheFolder, name);
    if (!target.empty())
        (void)WriteGreyBmp(target, thumbnail->pixels, thumbnail->width);  // the cache is only a saving
    return thumbnail;
}

}  // namespace grainforge::app
