// The texture library: the height-map images the user picks from. Images lie in category
// folders under "textures" in the library roots (user_folders.h); the images the user loaded
// from disk are remembered in "custom/images.json" (most recent first), the seamless method
// chosen per image in "custom/seams.json", and small grey thumbnails are cached in
// "thumbnails" so that the picker need not decode every image each time. The picker belongs
// to the workflow dialogs; this is the data behind it.
//
// The lists are JSON files of the JSON settings layer (written durably, read leniently: an
// element of the wrong type is skipped, and a list is rewritten by editing it in place, so that
// members, entries and entry members the program does not know are kept as they were). Image paths are compared exactly, as the file system
// tells files apart. Missing or unreadable files give empty lists or false, never an exception
// (except on allocation failure).
#pragma once

#include "app/document/grey_bmp.h"
#include "app/document/user_folders.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

inline constexpr std::string_view kTexturesLibraryFolder = "textures";
inline constexpr std::string_view kCustomLibraryFolder = "custom";
inline constexpr std::string_view kCustomImagesFile = "images.json";
inline constexpr std::string_view kSeamSettingsFile = "seams.json";
inline constexpr std::string_view kThumbnailFolder = "thumbnails";
// Thumbnails are at most this many pixels a side (smaller for smaller images).
inline constexpr std::int32_t kLibraryThumbnailSide = 120;
// The seamless method that leaves an image as it is; images with it are not remembered.
inline constexpr std::string_view kUnchangedSeamMethod = "Unchanged";

// The extensions of the images the decoders read (platform/image_file_types.h), lower case, in
// the order the library lists them: ".png", ".jpg", ".jpeg", ".tif", ".tiff", ".bmp", ".gif".
// Every road that takes a file as an image by its name goes by this list. Built once; safe
// from any thread.
const std::vector<std::string>& ImageExtensions();

struct TextureLibraryItem {
    std::string name;  // file name
    std::filesystem::path path;
    LibraryItemOrigin origin = LibraryItemOrigin::None;
};

// The images of "textures/<category>" over all roots (ListLibraryEntries: one per name, two
// names that differ in case being two files; hidden factory ones left out), each with its
// resolved path and origin, sorted by name with LibraryNameLess. The folders are walked once
// and the deleted index read once, however many images there are.
std::vector<TextureLibraryItem> ScanTextureLibrary(const LibraryRoots& roots, std::string_view category);

// ---- Images loaded from disk -------------------------------------------------------------

// The remembered images, most recent first: the non-empty strings of the "images" array. When
// the list's file (the user's copy, else the factory one) is there but does not read as a list,
// `notRead` (when given) receives a sentence naming it and why: "The list of loaded images
// <path> could not be read: it is not JSON. It is kept as it is; the Custom tab shows none of
// its images." It is left as it is otherwise.
std::vector<std::filesystem::path> ReadCustomImages(const LibraryRoots& roots, std::string* notRead = nullptr);

// Replaces the "images" array in the user root's "custom/images.json", keeping the file's other
// members; false without a user root, when the user's copy is there but does not read as a
// list, or when the write fails (a path that is not valid UTF-8 cannot be stored in JSON).
[[nodiscard]] bool WriteCustomImages(const LibraryRoots& roots, const std::vector<std::filesystem::path>& images);

// Moves the image to the front of the list (adding it when new), leaving no other string entry
// for the same path; entries that are not strings and the file's other members stay as they
// were. The write's result (false as for WriteCustomImages).
[[nodiscard]] bool PutCustomImageFirst(const LibraryRoots& roots, const std::filesystem::path& image);

// Takes the image's string entries out of the list, keeping everything else as it was; the
// write's result (false as for WriteCustomImages).
[[nodiscard]] bool RemoveCustomImage(const LibraryRoots& roots, const std::filesystem::path& image);

// Why the user's copy of a library list ("images.json", "seams.json" in "custom") is kept as it
// is rather than written, as a sentence's end: "it is not JSON", "it holds no \"images\" list",
// "its values are nested more than 256 deep", "it is too large to be a list: it holds N bytes",
// "it could not be read". Empty when it reads as a list or is not there.
std::string LibraryListProblem(const LibraryRoots& roots, std::string_view fileName);

// What to say when a write of a library list was refused (a write of it gave false): the list,
// where it is, why it is kept as it is. Empty when its copy reads (then the write itself failed).
std::string LibraryListKeptText(const LibraryRoots& roots, std::string_view fileName);

// ---- Seam choices ------------------------------------------------------------------------

struct SeamSetting {
    std::filesystem::path image;
    std::string method;      // seamless method name
    std::string parameters;  // the method's parameter text (ParametersToText)
};

// The remembered choices: the objects of "images" whose "image" and "method" are non-empty
// strings ("parameters" reads as empty when missing or not a string).
std::vector<SeamSetting> ReadSeamSettings(const LibraryRoots& roots);

struct SeamChoice {
    std::string method{kUnchangedSeamMethod};
    std::string parameters;
};

// The choice remembered for the image (the first entry for its path), else "Unchanged" with
// no parameters.
SeamChoice SeamSettingForImage(const LibraryRoots& roots, const std::filesystem::path& image);

// Remembers the choice for the image, replacing any earlier one (its new entry, put last, keeps
// the members of the old one the program does not know); "Unchanged" or an empty method forgets
// the image instead. Other entries, of any kind, and the file's other members stay as they were.
// False for an empty path, without a user root, when the user's copy is there but does not read
// as a list, or when the write fails.
[[nodiscard]] bool WriteSeamSettings(const LibraryRoots& roots, const std::filesystem::path& image,
                                     std::string_view method, std::string_view parameters);

// Whether two image paths are the same entry of the lists. Exact: two paths that differ only
// in case name different files here.
bool PathsEqualNoCase(const std::filesystem::path& a, const std::filesystem::path& b);

// ---- Thumbnails --------------------------------------------------------------------------

// The cache file name of an image: 16 lower-case hex digits of a 64-bit hash, then ".bmp".
// The hash runs over the path's UTF-16 units as given (not made canonical, and with its case
// kept, since two files differing only in case are different files here), the file size
// (all ones when unknown) and the modification time in 100-nanosecond ticks since 1601
// (0x8000000000000000 when unknown), so a changed file gets a new name. Old cache files are
// never removed.
std::string ThumbnailFileName(const std::filesystem::directory_entry& image);

// The hash behind ThumbnailFileName, from the path's UTF-8 text and the two numbers.
std::string ThumbnailFileNameFor(std::string_view pathUtf8, std::uint64_t size, std::uint64_t writeTicks);

// Whether the file is a thumbnail this program cached: a regular file (a link is not), named as
// ThumbnailFileName names them, whose bytes are exactly those WriteGreyBmp writes for a square
// of side 1 to 120. Files of the user's that merely sit among the thumbnails are not.
bool IsCachedThumbnailFile(const std::filesystem::path& file);

// An N x N thumbnail of the centred square of a width x height image (values 0..1, row-major):
// each byte the mean of its box of source pixels (at least one), clamped to 0..1, times 255,
// rounded half up; non-finite means give 0. Empty when a size is below 1 or `pixels` holds
// fewer than width x height values.
std::vector<std::uint8_t> MakeThumbnailPixels(std::span<const float> pixels, std::int32_t width,
                                              std::int32_t height, std::int32_t side);

// The image's thumbnail (side min(120, width, height)): the cached one when `cacheFolder`
// (ThumbnailCacheFolder in the program), or else a factory root's "thumbnails" folder, has one
// of that size under ThumbnailFileName, otherwise made from the loaded image and cached in
// `cacheFolder` (made when missing; a failed cache write is ignored, an empty folder caches
// nothing). A cached square
// of 120 is taken without loading the image; a smaller one only once the loaded image shows
// it is that small, and one of any other size is made afresh and replaced. The image is read
// row by row into the boxes, so making a thumbnail holds a band of rows rather than the whole
// image (all of it only for an interlaced GIF), with the same bytes MakeThumbnailPixels gives.
// Nothing when the image is not a regular file or does not load, which includes an image over
// the height-map pixel limit: the picker shows its placeholder for it. Any number of threads
// may call it at once.
std::optional<GreyImage> GetThumbnail(const LibraryRoots& roots, const std::filesystem::path& cacheFolder,
                                      const std::filesystem::path& image);

}  // namespace grainforge::app
