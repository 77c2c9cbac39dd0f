#include "app/document/texture_library.h"

#include "engine/textures/image_loading.h"

#include "tests/support/image_fixtures.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <functional>
#include <limits>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::WriteAllText;

struct Library {
    TempFolder folder;
    fs::path program = folder / "program";
    fs::path user = folder / "user";
    LibraryRoots roots{{program, false}, {user, true}};

    fs::path Put(const fs::path& root, const fs::path& relative, const std::vector<std::uint8_t>& bytes = {1})
    {
        fs::create_directories((root / relative).parent_path());
        test::WriteAllBytes(root / relative, bytes);
        return root / relative;
    }
};

nlohmann::json ReadJson(const fs::path& path)
{
    const std::vector<std::uint8_t> bytes = test::ReadAllBytes(path);
    return nlohmann::json::parse(bytes.begin() + 3, bytes.end());  // after the byte-order mark
}

TEST(ScanTextureLibrary, ListsTheImagesOfACategoryByNameWithTheirOrigins)
{
    EXPECT_EQ(ImageExtensions(), (std::vector<std::string>{".png", ".jpg", ".jpeg", ".tif", ".tiff", ".bmp", ".gif"}));
    Library library;
    library.Put(library.program, "textures/Stone/b.jpg");
    library.Put(library.program, "textures/Stone/A.TIFF");
    library.Put(library.program, "textures/Stone/notes.txt");
    library.Put(library.program, "textures/Stone/c.bmp");
    library.Put(library.user, "textures/Stone/c.bmp");
    library.Put(library.user, "textures/Stone/d.png");
    library.Put(library.program, "textures/Wood/e.png");

    const std::vector<TextureLibraryItem> items = ScanTextureLibrary(library.roots, "Stone");
    std::vector<std::tuple<std::string, fs::path, LibraryItemOrigin>> seen;
    for (const TextureLibraryItem& item : items)
        seen.emplace_back(item.name, item.path, item.origin);
    const std::vector<std::tuple<std::string, fs::path, LibraryItemOrigin>> expected = {
        {"A.TIFF", library.program / "textures/Stone/A.TIFF", LibraryItemOrigin::FactoryOnly},
        {"b.jpg", library.program / "textures/Stone/b.jpg", LibraryItemOrigin::FactoryOnly},
        {"c.bmp", library.user / "textures/Stone/c.bmp", LibraryItemOrigin::UserOverFactory},
        {"d.png", library.user / "textures/Stone/d.png", LibraryItemOrigin::UserOnly},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(ScanTextureLibrary(library.roots, "Glass").empty());
}

TEST(ScanTextureLibrary, ListsEveryFileWhoseNameDiffersOnlyInCase)
{
    Library library;
    const fs::path upper = library.Put(library.program, "textures/Stone/Rock.png");
    const fs::path lower = library.Put(library.program, "textures/Stone/rock.png");
    const fs::path usersUpper = library.Put(library.user, "textures/Stone/ROCK.png");
    const fs::path usersLower = library.Put(library.user, "textures/Stone/rock.png");
    library.Put(library.program, "textures/Stone/Granite.png");
    const fs::path granite = library.Put(library.user, "textures/Stone/granite.png");
    library.Put(library.user, "textures/Stone/_deleted.index", {'g', 'r', 'a', 'n', 'i', 't', 'e', '.', 'p', 'n', 'g'});
    std::vector<std::tuple<std::string, fs::path, LibraryItemOrigin>> seen;
    for (const TextureLibraryItem& item : ScanTextureLibrary(library.roots, "Stone"))
        seen.emplace_back(item.name, item.path, item.origin);
    const std::vector<std::tuple<std::string, fs::path, LibraryItemOrigin>> expected = {
        {"granite.png", granite, LibraryItemOrigin::UserOnly},  // only the factory's Granite.png is hidden
        {"ROCK.png", usersUpper, LibraryItemOrigin::UserOnly},
        {"Rock.png", upper, LibraryItemOrigin::FactoryOnly},
        {"rock.png", usersLower, LibraryItemOrigin::UserOverFactory},
    };
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(fs::exists(lower));
}

TEST(PutCustomImageFirst, MovesAnImageLoadedAgainToTheFrontWithoutASecondEntry)
{
    Library library;
    EXPECT_TRUE(ReadCustomImages(library.roots).empty());
    for (const char* image : {"/img/a.png", "/img/b.png", "/img/a.png"})
        ASSERT_TRUE(PutCustomImageFirst(library.roots, image));
    EXPECT_EQ(ReadCustomImages(library.roots), (std::vector<fs::path>{"/img/a.png", "/img/b.png"}));
    EXPECT_EQ(ReadJson(library.user / "custom/images.json"), nlohmann::json::parse(R"({"images": ["/img/a.png", "/img/b.png"]})"));

    // Case makes another file here, so another entry.
    ASSERT_TRUE(PutCustomImageFirst(library.roots, "/img/A.png"));
    EXPECT_EQ(ReadCustomImages(library.roots), (std::vector<fs::path>{"/img/A.png", "/img/a.png", "/img/b.png"}));
    EXPECT_FALSE(WriteCustomImages(LibraryRoots{{library.program, false}}, {"/x.png"}));

    // A name that is not UTF-8 cannot stand in the JSON list: it is left out, the rest is kept.
    const fs::path bytes = "/img/part\xff.png";
    EXPECT_TRUE(PutCustomImageFirst(library.roots, bytes));
    EXPECT_TRUE(WriteSeamSettings(library.roots, bytes, "Mirror", ""));
    EXPECT_EQ(ReadCustomImages(library.roots), (std::vector<fs::path>{"/img/A.png", "/img/a.png", "/img/b.png"}));
}

TEST(WriteSeamSettings, RemembersOneChoicePerImageAndForgetsUnchanged)
{
    Library library;
    EXPECT_EQ(SeamSettingForImage(library.roots, "/img/a.png").method, "Unchanged");
    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/a.png", "Mirror", ""));
    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/b.png", "Cross-fade", "width=0.2\n"));
    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/a.png", "Histogram blend", "seed=4\n"));
    const SeamChoice a = SeamSettingForImage(library.roots, "/img/a.png");
    EXPECT_EQ(std::tuple(a.method, a.parameters), std::tuple("Histogram blend", "seed=4\n"));
    EXPECT_EQ(SeamSettingForImage(library.roots, "/img/A.png").method, "Unchanged");
    EXPECT_EQ(ReadSeamSettings(library.roots).size(), 2u);
    // A name no method has, as a hand edit leaves it, is no choice.
    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/c.png", "mirror", "percent=20\n"));
    EXPECT_EQ(std::tuple(SeamSettingForImage(library.roots, "/img/c.png").method,
                  SeamSettingForImage(library.roots, "/img/c.png").parameters),
        std::tuple("Unchanged", ""));
    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/c.png", "", ""));

    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/a.png", "Unchanged", "ignored"));
    ASSERT_TRUE(WriteSeamSettings(library.roots, "/img/b.png", "", ""));
    EXPECT_EQ(ReadJson(library.user / "custom/seams.json"), nlohmann::json::parse(R"({"images": []})"));
    EXPECT_FALSE(WriteSeamSettings(library.roots, "", "Mirror", ""));
}

// A list that is there but does not read is never written over with the one new entry.
TEST(LibraryLists, OneThatDoesNotReadIsLeftAsItWas)
{
    const std::function<bool(const LibraryRoots&)> writes[] = {
        [](const LibraryRoots& roots) { return PutCustomImageFirst(roots, "/img/a.png"); },
        [](const LibraryRoots& roots) { return WriteSeamSettings(roots, "/img/a.png", "Mirror", ""); },
    };
    const struct {
        const char* what;
        std::string bytes;
        std::string problem;  // why it is kept, as the log says it
    } damaged[] = {
        {"not JSON", "{\"images\": [\"/img/b.png\"", "it is not JSON"},
        {"no list", "{\"pictures\": []}", "it holds no \"images\" list"},
        {"too large", std::string(17u << 20, ' '), "it is too large to be a list: it holds 17,825,792 bytes"},
        // Written back whole, a member nested this deep ended the program; kept, it was never named.
        {"nested too deep", std::string("{\"images\": [], \"x\": ").append(100000, '[').append(100000, ']').append("}"),
            "its values are nested more than 256 deep"},
    };
    for (const char* file : {"custom/images.json", "custom/seams.json"}) {
        for (const auto& [what, bytes, problem] : damaged) {
            SCOPED_TRACE(std::string(file) + ", " + what);
            Library library;
            const fs::path list = library.Put(library.user, file, {bytes.begin(), bytes.end()});
            EXPECT_FALSE(writes[std::string(file).find("images") != std::string::npos ? 0 : 1](library.roots));
            EXPECT_EQ(test::ReadAllBytes(list), std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
            const std::string name = fs::path(file).filename().string();
            EXPECT_EQ(LibraryListProblem(library.roots, name), problem);
            const std::string kept = LibraryListKeptText(library.roots, name);
            EXPECT_NE(kept.find(list.string() + " could not be read: " + problem + ". It is kept as it is"),
                std::string::npos) << kept;
            // Read, it showed as an empty list without a word: the reader names it and why.
            std::string notRead = "as it was";
            const std::vector<fs::path> images = ReadCustomImages(library.roots, &notRead);
            EXPECT_TRUE(images.empty());
            if (name == kCustomImagesFile)
                EXPECT_EQ(notRead, "The list of loaded images " + list.string() + " could not be read: " + problem +
                    ". It is kept as it is; the Custom tab shows none of its images.");
            else
                EXPECT_EQ(notRead, "as it was");  // no list of images there to read
        }
    }
}

// Rewriting a list keeps what is not the program's to remove: members of the file the program
// does not know (a "favourites" list), entries of other kinds and the members of an entry it does
// not know. The lists used to be written afresh from the entries the program reads.
TEST(LibraryLists, AListThatReadsOrIsNotThereHasNoProblem)
{
    Library library;
    EXPECT_EQ(LibraryListProblem(library.roots, kCustomImagesFile), "");
    ASSERT_TRUE(PutCustomImageFirst(library.roots, "/img/a.png"));
    EXPECT_EQ(LibraryListProblem(library.roots, kCustomImagesFile), "");
    EXPECT_EQ(LibraryListKeptText(library.roots, kCustomImagesFile), "");
    std::string notRead;
    EXPECT_EQ(ReadCustomImages(library.roots, &notRead), std::vector<fs::path>{"/img/a.png"});
    EXPECT_EQ(notRead, "");
}

TEST(LibraryLists, KeepWhatTheProgramDoesNotKnow)
{
    const std::string images = R"({"favourites": ["/f.png"], "images": ["/img/b.png", 7, {"note": 1}, "/img/a.png"]})";
    const std::string seams = R"({"images": [{"image": "/img/a.png", "method": "Mirror", "parameters": "", "note": "mine"},
        "stray", {"image": "/img/b.png", "method": "Cross-fade", "parameters": ""}], "favourites": ["x"]})";
    const struct {
        const char* file;
        const std::string& before;
        std::function<bool(const LibraryRoots&)> write;
        const char* after;
    } cases[] = {
        {"custom/images.json", images, [](const LibraryRoots& roots) { return PutCustomImageFirst(roots, "/img/a.png"); },
         R"({"favourites": ["/f.png"], "images": ["/img/a.png", "/img/b.png", 7, {"note": 1}]})"},
        {"custom/images.json", images, [](const LibraryRoots& roots) { return RemoveCustomImage(roots, "/img/b.png"); },
         R"({"favourites": ["/f.png"], "images": [7, {"note": 1}, "/img/a.png"]})"},
        {"custom/images.json", images, [](const LibraryRoots& roots) { return WriteCustomImages(roots, {"/x.png"}); },
         R"({"favourites": ["/f.png"], "images": ["/x.png"]})"},
        {"custom/seams.json", seams,
         [](const LibraryRoots& roots) { return WriteSeamSettings(roots, "/img/a.png", "Histogram blend", "seed=4\n"); },
         R"({"images": ["stray", {"image": "/img/b.png", "method": "Cross-fade", "parameters": ""},
             {"image": "/img/a.png", "method": "Histogram blend", "parameters": "seed=4\n", "note": "mine"}],
             "favourites": ["x"]})"},
        {"custom/seams.json", seams,
         [](const LibraryRoots& roots) { return WriteSeamSettings(roots, "/img/b.png", "Unchanged", ""); },
         R"({"images": [{"image": "/img/a.png", "method": "Mirror", "parameters": "", "note": "mine"}, "stray"],
             "favourites": ["x"]})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        Library library;
        const fs::path list = library.Put(library.user, c.file, {c.before.begin(), c.before.end()});
        ASSERT_TRUE(c.write(library.roots));
        EXPECT_EQ(ReadJson(list), nlohmann::json::parse(c.after));
    }
}

TEST(ThumbnailFileName, HashesThePathSizeAndWriteTime)
{
    // Worked out independently from the hash's definition.
    EXPECT_EQ(ThumbnailFileNameFor("/lib/Stein ä.png", 1234, 133000000000000000), "65e9af201dc3dfed.bmp");
    EXPECT_EQ(ThumbnailFileNameFor("/lib/Stein ä.png", ~std::uint64_t{0}, std::uint64_t{1} << 63),
              "bbedf01239123cec.bmp");
    EXPECT_NE(ThumbnailFileNameFor("/lib/stein ä.png", 1234, 133000000000000000), "65e9af201dc3dfed.bmp");

    // The write time in Windows ticks: 1 January 2020 is 132223104000000000.
    TempFolder folder;
    WriteAllText(folder / "a.png", "12345");
    const std::chrono::sys_seconds newYear{std::chrono::sys_days(std::chrono::year(2020) / 1 / 1)};
    fs::last_write_time(folder / "a.png", std::chrono::file_clock::from_sys(newYear));
    const std::string name = ThumbnailFileName(fs::directory_entry(folder / "a.png"));
    EXPECT_EQ(name, ThumbnailFileNameFor((folder / "a.png").string(), 5, 132223104000000000));

    fs::last_write_time(folder / "a.png", std::chrono::file_clock::from_sys(newYear + std::chrono::seconds(1)));
    EXPECT_NE(ThumbnailFileName(fs::directory_entry(folder / "a.png")), name);  // touched: a new name
}

TEST(MakeThumbnailPixels, TakesTheCentredSquare)
{
    // 100 x 60: the centred square is columns 20 to 79. Pixels outside it are 1, so any of them
    // in a box would show; inside, each pixel keeps its own value at N = 60.
    std::vector<float> image(100 * 60, 1.0f);
    for (int y = 0; y < 60; ++y)
        for (int x = 20; x < 80; ++x)
            image[y * 100 + x] = static_cast<float>((x + 2 * y) % 256) / 255.0f;
    const std::vector<std::uint8_t> thumbnail = MakeThumbnailPixels(image, 100, 60, 60);
    ASSERT_EQ(thumbnail.size(), 3600u);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 60; ++x)
            ASSERT_EQ(thumbnail[y * 60 + x], (x + 20 + 2 * y) % 256) << x << "," << y;
}

TEST(MakeThumbnailPixels, AveragesBoxesOf25PixelsFromA4000By3000Image)
{
    // A checkerboard of 25-pixel cells on the centred 3000 x 3000 square: boxes that are exactly
    // those cells give pure 0 or 255; a box off by one pixel would mix in the neighbour.
    constexpr int kWidth = 4000;
    constexpr int kHeight = 3000;
    std::vector<float> image(static_cast<std::size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            image[static_cast<std::size_t>(y) * kWidth + x] = static_cast<float>(((x - 500 + 2500) / 25 + y / 25) % 2);
    const std::vector<std::uint8_t> thumbnail = MakeThumbnailPixels(image, kWidth, kHeight, 120);
    ASSERT_EQ(thumbnail.size(), 14400u);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 120; ++x)
            ASSERT_EQ(thumbnail[y * 120 + x], (x + y) % 2 ? 255 : 0) << x << "," << y;
}

TEST(GetThumbnail, MakesCachesAndRereadsTheThumbnail)
{
    Library library;
    const fs::path image = library.folder / "wide.png";
    test::WriteAllBytes(image, test::UniformGreyPng(100, 60, 51));
    const std::optional<GreyImage> made = GetThumbnail(library.roots, library.user / "thumbnails", image);
    ASSERT_TRUE(made);
    EXPECT_EQ(std::tuple(made->width, made->height, made->pixels),
              std::tuple(60, 60, std::vector<std::uint8_t>(3600, 51)));
    const fs::path cached = library.user / "thumbnails" / ThumbnailFileName(fs::directory_entry(image));
    ASSERT_TRUE(fs::is_regular_file(cached));

    // A cached square of the wrong size is made afresh and replaced (it used to be shown as
    // it was); one of the right size is left as it is. (A square of 120 is taken unseen: the
    // image is not loaded to check it.)
    for (const std::int32_t side : {2, 59, 61, 128}) {
        ASSERT_TRUE(WriteGreyBmp(cached, std::vector<std::uint8_t>(side * side, 7), side));
        EXPECT_EQ(GetThumbnail(library.roots, library.user / "thumbnails", image)->pixels, std::vector<std::uint8_t>(3600, 51)) << side;
        EXPECT_EQ(ReadGreyBmp(cached)->width, 60) << side;
    }
    const auto written = fs::last_write_time(cached);
    fs::last_write_time(cached, written - std::chrono::seconds(10));
    EXPECT_TRUE(GetThumbnail(library.roots, library.user / "thumbnails", image));
    EXPECT_EQ(fs::last_write_time(cached), written - std::chrono::seconds(10));  // not written again

    // A full-size square is taken as it is, without loading the image.
    const fs::path large = library.folder / "large.png";
    test::WriteAllBytes(large, test::UniformGreyPng(200, 150, 51));
    const fs::path largeCached = library.user / "thumbnails" / ThumbnailFileName(fs::directory_entry(large));
    ASSERT_TRUE(WriteGreyBmp(largeCached, std::vector<std::uint8_t>(14400, 7), 120));
    EXPECT_EQ(GetThumbnail(library.roots, library.user / "thumbnails", large)->pixels, std::vector<std::uint8_t>(14400, 7));
    ASSERT_TRUE(WriteGreyBmp(largeCached, std::vector<std::uint8_t>(3600, 7), 60));
    EXPECT_EQ(GetThumbnail(library.roots, library.user / "thumbnails", large)->pixels, std::vector<std::uint8_t>(14400, 51));

    // Touching the image gives it a new cache name, so it is made afresh.
    fs::last_write_time(image, fs::last_write_time(image) + std::chrono::seconds(5));
    EXPECT_EQ(GetThumbnail(library.roots, library.user / "thumbnails", image)->pixels, std::vector<std::uint8_t>(3600, 51));

    EXPECT_FALSE(GetThumbnail(library.roots, library.user / "thumbnails", library.folder / "missing.png"));
    WriteAllText(library.folder / "broken.png", "not an image");
    EXPECT_FALSE(GetThumbnail(library.roots, library.user / "thumbnails", library.folder / "broken.png"));
}

// A thumbnail is cached where it is told, not in the user's library; one shipped in the
// program's folder is read from there, and the user's old cache in the library is not read.
TEST(GetThumbnail, CachesInTheCacheFolderAndReadsShippedOnes)
{
    Library library;
    const fs::path cache = library.folder / "cache" / "Tessary" / "thumbnails";
    const fs::path image = library.folder / "wide.png";
    test::WriteAllBytes(image, test::UniformGreyPng(200, 150, 51));
    const std::string name = ThumbnailFileName(fs::directory_entry(image));
    struct Case {
        const char* name;
        fs::path planted;
        std::uint8_t plantedValue;
        std::uint8_t expected;
    };
    const Case cases[] = {
        {"nothing cached", {}, 0, 51},
        {"in the old library cache", library.user / "thumbnails" / name, 5, 51},
        {"shipped with the program", library.program / "thumbnails" / name, 9, 9},
        {"in the cache folder", cache / name, 7, 7},
    };
    for (const Case& c : cases) {
        fs::remove_all(cache);
        fs::remove_all(library.user / "thumbnails");
        fs::remove_all(library.program / "thumbnails");
        if (!c.planted.empty()) {
            fs::create_directories(c.planted.parent_path());
            ASSERT_TRUE(WriteGreyBmp(c.planted, std::vector<std::uint8_t>(14400, c.plantedValue), 120));
        }
        const std::optional<GreyImage> thumbnail = GetThumbnail(library.roots, cache, image);
        ASSERT_TRUE(thumbnail) << c.name;
        EXPECT_EQ(thumbnail->pixels, std::vector<std::uint8_t>(14400, c.expected)) << c.name;
        EXPECT_EQ(fs::exists(cache / name), c.expected != 9) << c.name;
        EXPECT_EQ(fs::exists(library.user / "thumbnails" / name), c.planted == library.user / "thumbnails" / name)
            << c.name;
    }
}

// The program's own files (the thumbnail cache, the list of loaded images, the hidden-items
// index) are written beside their name and renamed over it: a symbolic link planted at the
// name is replaced by the new file, and the file it named keeps its contents.
TEST(ProgramsOwnFiles, ReplaceAPlantedLinkInsteadOfWritingThroughIt)
{
    Library library;
    const fs::path image = library.folder / "wide.png";
    test::WriteAllBytes(image, test::UniformGreyPng(100, 60, 51));
    const struct {
        const char* name;
        fs::path relative;
        std::function<bool()> write;
    } cases[] = {
        {"thumbnail cache", fs::path("thumbnails") / ThumbnailFileName(fs::directory_entry(image)),
            [&] { return GetThumbnail(library.roots, library.user / "thumbnails", image).has_value(); }},
        {"loaded images list", "custom/images.json", [&] { return PutCustomImageFirst(library.roots, "/img/a.png"); }},
        {"hidden items index", "textures/Stone/_deleted.index",
            [&] { return WriteDeletedIndex(library.roots, "textures/Stone", {"rock.png"}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path victim = library.folder / (std::string(c.name) + " victim");
        WriteAllText(victim, "someone's file");
        const fs::path name = library.user / c.relative;
        fs::create_directories(name.parent_path());
        fs::create_symlink(victim, name);
        EXPECT_TRUE(c.write());
        const std::vector<std::uint8_t> kept = test::ReadAllBytes(victim);
        EXPECT_EQ(std::string(kept.begin(), kept.end()), "someone's file");
        EXPECT_FALSE(fs::is_symlink(name));
        EXPECT_TRUE(fs::is_regular_file(name));
    }
}

// Thumbnails are made from the rows as they are decoded, whatever order the file stores them
// in (bottom-up BMP, interlaced GIF, tiles, interlaced PNG), with the same bytes as the box
// means of the whole loaded image; sizes that do not divide by the thumbnail's side give
// boxes of two sizes.
TEST(GetThumbnail, RowByRowThumbnailsMatchTheWholeImagesBoxMeans)
{
    const auto noise = [](std::size_t n, std::size_t channels) {
        std::vector<std::uint8_t> bytes(n * channels);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>((i * 37 + i / 7 * 11) % 251);
        return bytes;
    };
    std::vector<test::Rgb8> palette;
    for (int i = 0; i < 256; ++i)
        palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 7});
    const std::vector<std::uint8_t> rgb = noise(250 * 130, 3);
    const std::vector<std::uint16_t> grey16(rgb.begin(), rgb.begin() + 250 * 130);
    test::TiffPage tiled{.width = 250, .height = 130, .samplesPerPixel = 3, .bitsPerSample = 8, .tileSize = 32};
    tiled.samples.assign(rgb.begin(), rgb.end());
    const struct { const char* name; std::vector<std::uint8_t> bytes; } files[] = {
        {"bmp bottom-up", test::EncodeBmp({.width = 250, .height = 130, .samples = rgb})},
        {"bmp top-down", test::EncodeBmp({.width = 130, .height = 250, .topDown = true, .samples = rgb})},
        {"gif interlaced", test::EncodeGif({130, 250, palette, {noise(250 * 130, 1)}, true})},
        {"tiff tiles", test::EncodeTiff({tiled})},
        {"png interlaced", test::EncodePng({250, 130, test::PngColour::Grey, 8, grey16, {}, true})},
        {"jpeg", test::EncodeJpeg({250, 130, 3, rgb})},
        {"small png", test::EncodePng({7, 9, test::PngColour::Grey, 8, {grey16.begin(), grey16.begin() + 63}})},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        Library library;
        const fs::path image = library.folder / "image";
        test::WriteAllBytes(image, f.bytes);
        const mesh::ImageLoadResult whole = mesh::ReadHeightImage(image, {});
        ASSERT_TRUE(whole.ok) << whole.error;
        const std::int32_t side = std::min({kLibraryThumbnailSide, whole.width, whole.height});
        const std::optional<GreyImage> made = GetThumbnail(library.roots, library.user / "thumbnails", image);
        ASSERT_TRUE(made);
        EXPECT_EQ(made->width, side);
        EXPECT_EQ(made->pixels, MakeThumbnailPixels(whole.heights, whole.width, whole.height, side));
    }
}

// An image with more pixels than a height map may have gets no thumbnail (the picker shows
// its placeholder) and nothing is cached for it.
TEST(GetThumbnail, ImageOverThePixelLimitGetsNone)
{
    Library library;
    const fs::path image = library.folder / "huge.png";
    test::WriteAllBytes(image, test::LargeUniformGreyPng(8200, 8200, 51));
    EXPECT_FALSE(GetThumbnail(library.roots, library.user / "thumbnails", image));
    EXPECT_FALSE(fs::exists(library.user / "thumbnails" / ThumbnailFileName(fs::directory_entry(image))));
}

}  // namespace
}  // namespace grainforge::app
