#include "app/document/preset_files.h"

#include "app/document/grey_bmp.h"
#include "engine/textures/procedural_registry.h"
#include "engine/files/json_settings.h"
#include "tests/support/child_process.h"
#include "tests/support/non_regular_files.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using mesh::procedural::CreateProceduralTexture;
using mesh::procedural::ProceduralTexture;
using test::TempFolder;
using test::WriteAllText;

struct PresetLibrary {
    TempFolder folder;
    fs::path program = folder / "program";
    fs::path user = folder / "user";
    LibraryRoots roots{{program, false}, {user, true}};
};

std::unique_ptr<ProceduralTexture> Noise() { return CreateProceduralTexture("Noise"); }

// A Noise pattern moved away from its defaults, so that a reset or an applied preset shows.
std::unique_ptr<ProceduralTexture> ChangedNoise()
{
    std::unique_ptr<ProceduralTexture> noise = Noise();
    noise->SetValue("scale", 40.0f);
    noise->SetValue("detail", 1.5f);
    noise->SetValue("invert", 1.0f);
    return noise;
}

TEST(PresetFileStem, DoesNotDoubleTheExtension)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Rough", "Rough"},         {"Rough.gfpreset", "Rough"}, {"Rough.GFPRESET", "Rough"},
        {"Rough .gfpreset", "Rough"}, {".gfpreset", ".gfpreset"}, {"...", "untitled"},
        {"a/b?", "a_b_"},           {"x.gfpreset.gfpreset", "x.gfpreset"},
    };
    for (const auto& [name, stem] : cases)
        EXPECT_EQ(PresetFileStem(name), stem) << name;
}

TEST(SavePreset, WritesTheJsonFileAndItsThumbnailAndReadsBack)
{
    PresetLibrary library;
    const auto saved = ChangedNoise();
    const PresetResult result = SavePreset(library.roots, *saved, "Rough.gfpreset");
    EXPECT_EQ(std::tuple(result.ok, result.error, result.storedName), std::tuple(true, "", "Rough"));

    const fs::path folder = library.user / "procedural/Noise";
    const std::vector<std::uint8_t> file = test::ReadAllBytes(folder / "Rough.gfpreset");
    ASSERT_GT(file.size(), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin(), file.begin() + 3), (std::vector<std::uint8_t>{0xEF, 0xBB, 0xBF}));
    const nlohmann::json json = nlohmann::json::parse(file.begin() + 3, file.end());
    EXPECT_EQ(json["format"], "Grainforge preset");
    EXPECT_EQ(json["version"], 2);
    EXPECT_EQ(json["texture"], "Noise");
    EXPECT_EQ(json["parameters"]["scale"], 40);  // an integer kind as a whole number
    EXPECT_EQ(json["parameters"]["invert"], true);

    const std::optional<GreyImage> thumbnail = ReadGreyBmp(folder / "Rough.bmp");
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->pixels, RenderThumbnail(*saved));
    EXPECT_EQ(fs::file_size(folder / "Rough.bmp"), 43254u);

    const auto loaded = Noise();
    const PresetResult read = ReadPreset(folder / "Rough.gfpreset", *loaded);
    EXPECT_EQ(std::tuple(read.ok, read.error), std::tuple(true, ""));
    EXPECT_EQ(loaded->values, saved->values);
}

TEST(SavePreset, ANameOfDotsIsSavedAsUntitled)
{
    PresetLibrary library;
    const PresetResult result = SavePreset(library.roots, *Noise(), "...");
    EXPECT_EQ(std::tuple(result.ok, result.storedName), std::tuple(true, "untitled"));
    EXPECT_TRUE(fs::exists(library.user / "procedural/Noise/untitled.gfpreset"));
    EXPECT_TRUE(fs::exists(library.user / "procedural/Noise/untitled.bmp"));
}

TEST(SavePreset, ReportsEachFailure)
{
    PresetLibrary library;
    const PresetResult nowhere = SavePreset(LibraryRoots{{library.program, false}}, *Noise(), "A");
    EXPECT_EQ(std::tuple(nowhere.ok, nowhere.error), std::tuple(false, "there is nowhere to save presets"));

    fs::create_directories(library.user / "procedural/Noise/Blocked.gfpreset");
    const PresetResult blocked = SavePreset(library.roots, *Noise(), "Blocked");
    EXPECT_EQ(std::tuple(blocked.ok, blocked.error), std::tuple(false, "could not write the preset"));

    // A preset the user made read-only is kept, and the answer says why.
    WriteAllText(library.user / "procedural/Noise/Kept.gfpreset", "mine");
    fs::permissions(library.user / "procedural/Noise/Kept.gfpreset", fs::perms(0444));
    const PresetResult kept = SavePreset(library.roots, *Noise(), "Kept");
    EXPECT_EQ(std::tuple(kept.ok, kept.error),
              std::tuple(false, "could not write the preset: it is write-protected (you may not write to it)"));
    EXPECT_EQ(test::ReadAllBytes(library.user / "procedural/Noise/Kept.gfpreset"), (std::vector<std::uint8_t>{'m', 'i', 'n', 'e'}));

    // Saved without its picture is saved: the preset is there and is listed.
    fs::create_directories(library.user / "procedural/Noise/Pictured.bmp");
    const PresetResult noPicture = SavePreset(library.roots, *Noise(), "Pictured");
    EXPECT_EQ(std::tuple(noPicture.ok, noPicture.withoutPicture, noPicture.error, noPicture.storedName),
              std::tuple(true, true, "", "Pictured"));
    EXPECT_TRUE(fs::is_regular_file(library.user / "procedural/Noise/Pictured.gfpreset"));
}

// A name whose file name would pass the system's 255 bytes says so, not only that the write
// failed; one that just fits is saved.
TEST(SavePreset, ANameTooLongForAFileNameSaysSo)
{
    std::string threeByteNames;
    for (int i = 0; i < 100; ++i)
        threeByteNames.append("\xE6\x9C\xA8");
    const std::pair<std::string, std::string> cases[] = {
        {std::string(246, 'a'), ""},
        {std::string(246, 'a').append(".gfpreset"), ""},  // the extension typed is not doubled
        {std::string(247, 'a'), "its file name would take 256 bytes; at most 255 fit"},
        {threeByteNames, "its file name would take 309 bytes; at most 255 fit"},
    };
    for (const auto& [name, reason] : cases) {
        PresetLibrary library;
        const PresetResult result = SavePreset(library.roots, *Noise(), name);
        EXPECT_EQ(result.error, reason.empty() ? "" : "could not write the preset: the name is too long (" + reason + ")");
        EXPECT_EQ(result.ok, reason.empty());
    }
}

TEST(ReadPreset, AcceptsVersionTwoAndOlderRefusesNewer)
{
    TempFolder folder;
    const std::pair<const char*, bool> versions[] = {
        {"2", true}, {"2.0", true}, {"\"3\"", true},  // only an integer counts; anything else is 0
        {"3", false}, {"10000000000", false}, {"18446744073709551615", false},  // beyond 32 and 63 bits
    };
    for (const auto& [version, accepted] : versions) {
        WriteAllText(folder / "p.gfpreset", std::string("{\"format\": \"Grainforge preset\", \"version\": ") + version +
                                                ", \"texture\": \"Noise\", \"parameters\": {\"scale\": 12}}");
        const auto noise = Noise();
        const PresetResult result = ReadPreset(folder / "p.gfpreset", *noise);
        EXPECT_EQ(result.ok, accepted) << version;
        EXPECT_EQ(result.error, accepted ? "" : "a preset from a newer Tessary") << version;
        EXPECT_EQ(noise->GetValue("scale"), accepted ? 12.0f : 6.0f) << version;
    }
}

TEST(ReadPreset, RefusesWhatIsNotAPresetOfThisPatternAndLeavesItUnchanged)
{
    TempFolder folder;
    const std::pair<const char*, const char*> cases[] = {
        {"{\"format\": \"Other\", \"version\": 2, \"texture\": \"Noise\"}", "not a Tessary preset"},
        {"{\"format\": \"Grainforge preset\", \"version\": 2}", "no texture"},
        {"{\"format\": \"Grainforge preset\", \"texture\": 5}", "no texture"},
        {"{\"format\": \"Grainforge preset\", \"version\": 2, \"texture\": \"Wood\", \"parameters\": {}}",
         "a preset for Wood, not Noise"},
        {"", "not a Tessary preset"},
        {"Grainforge preset 2\ntexture=Noise\n", "not a Tessary preset"},
        {"Grainforge preset 1\nscale=3\n", "no texture"},
        {"Grainforge preset 1\r\ntexture=Wood\r\nscale=3\r\n", "a preset for Wood, not Noise"},
        // A user's file nested past what is read says why it is not taken.
        {"nested", "not a Tessary preset (its values are nested more than 256 deep)"},
    };
    const std::string nested = std::string(100000, '[') + std::string(100000, ']');
    for (const auto& [given, error] : cases) {
        const std::string text = std::string(given) == "nested" ? nested : std::string(given);
        WriteAllText(folder / "p.gfpreset", text);
        const auto noise = ChangedNoise();
        const std::vector<float> before = noise->values;
        const PresetResult result = ReadPreset(folder / "p.gfpreset", *noise);
        EXPECT_EQ(std::tuple(result.ok, result.error), std::tuple(false, error)) << text;
        EXPECT_EQ(noise->values, before) << text;
    }
}

TEST(ReadPreset, APresetWithoutParametersLeavesTheDefaults)
{
    TempFolder folder;
    WriteAllText(folder / "p.gfpreset", "{\"format\": \"Grainforge preset\", \"version\": 2, \"texture\": \"Noise\", "
                                        "\"parameters\": [1]}");
    const auto noise = ChangedNoise();
    ASSERT_TRUE(ReadPreset(folder / "p.gfpreset", *noise).ok);
    EXPECT_EQ(noise->values, Noise()->values);
}

TEST(ReadPreset, ReadsTheOlderTextForm)
{
    TempFolder folder;
    WriteAllText(folder / "old.gfpreset", "Grainforge preset 1\r\nname=Old\r\ntexture=Noise\r\nscale=20\r\n"
                                          "detail=2.5\r\nunknown=4\r\n");
    const auto noise = ChangedNoise();
    const PresetResult result = ReadPreset(folder / "old.gfpreset", *noise);
    EXPECT_EQ(std::tuple(result.ok, result.error), std::tuple(true, ""));
    EXPECT_EQ(std::tuple(noise->GetValue("scale"), noise->GetValue("detail"), noise->GetValue("invert")),
              std::tuple(20.0f, 2.5f, 0.0f));  // invert back to its default
}

// What a preset holds that this version does not use was dropped without a word, and a save of
// the preset lost it: it is named as a project's members are (not read, given twice, not a
// number), and the members not read go back into the preset when it is saved again.
TEST(ReadPreset, NamesWhatItDoesNotUseAndASaveWritesTheMembersNotReadAgain)
{
    const std::string json = "{\"format\": \"Grainforge preset\", \"version\": 2, \"texture\": \"Noise\", "
                             "\"parameters\": ";
    const std::string kept = ". They are kept, and saving the preset writes them again.";
    const struct {
        std::string text;
        std::string said;
        float scale;
        nlohmann::json keptMembers;  // what a save writes besides the pattern's own
    } cases[] = {
        {json + "{\"scale\": 12}}", "", 12.0f, nlohmann::json::object()},
        {json + "{\"scale\": 12, \"grain\": 3, \"notes\": {\"a\": [1]}}}",
         "The preset \"p\" holds parameters this version does not read: grain, notes" + kept, 12.0f,
         {{"grain", 3}, {"notes", {{"a", {1}}}}}},
        {json + "{\"scale\": 12, \"scale\": 14}}",
         "The preset \"p\" gives some members more than once, and only the last of each is used: parameters.scale "
         "12 was dropped for 14.",
         14.0f, nlohmann::json::object()},
        {json + "{\"scale\": \"big\", \"invert\": 1}}",
         "The preset \"p\" holds values its parameters cannot take as they are; each is now its default: Cells per "
         "tile \"big\" is now 6; Invert 1 is now 0.",
         6.0f, nlohmann::json::object()},
        {"Grainforge preset 1\r\nname=Old\r\ntexture=Noise\r\nscale=20\r\nscale=21\r\ndetail=lots\r\nnote\r\n",
         "The preset \"p\" holds parameters this version does not read: name, note" + kept +
             " The preset \"p\" gives some members more than once, and only the last of each is used: scale 20 was "
             "dropped for 21. The preset \"p\" holds values its parameters cannot take as they are; each is now its "
             "default: Detail \"lots\" is now 3.",
         21.0f, {{"name", "Old"}, {"note", nullptr}}},
    };
    for (const auto& [text, said, scale, keptMembers] : cases) {
        SCOPED_TRACE(text);
        PresetLibrary library;
        const fs::path file = library.user / "procedural/Noise/p.gfpreset";
        fs::create_directories(file.parent_path());
        WriteAllText(file, text);
        const auto noise = ChangedNoise();
        const PresetResult result = ReadPreset(file, *noise);
        ASSERT_TRUE(result.ok) << result.error;
        EXPECT_EQ(PresetWordsNotUsedText(result, "p"), said);
        EXPECT_EQ(noise->GetValue("scale"), scale);

        // Saved over itself, the preset keeps what it held; the pattern's own values are its.
        ASSERT_TRUE(SavePreset(library.roots, *noise, "p").ok);
        const std::vector<std::uint8_t> bytes = test::ReadAllBytes(file);
        const nlohmann::json parameters = nlohmann::json::parse(bytes.begin() + 3, bytes.end())["parameters"];
        nlohmann::json others = nlohmann::json::object();
        for (const auto& item : parameters.items()) {
            const std::string key = item.key();
            if (noise->GetParameters().end() == std::find_if(noise->GetParameters().begin(), noise->GetParameters().end(),
                                                     [&](const auto& spec) { return spec.key == key; }))
                others[key] = item.value();
        }
        EXPECT_EQ(others, keptMembers);
        EXPECT_EQ(parameters["scale"], scale);
        const auto again = Noise();
        const PresetResult reread = ReadPreset(file, *again);
        EXPECT_EQ(again->values, noise->values);
        EXPECT_EQ(reread.membersNotReadCount, keptMembers.size());

        // Reset to its defaults, the pattern no longer holds them: they came with other values.
        again->ResetToDefaults();
        ASSERT_TRUE(SavePreset(library.roots, *again, "p").ok);
        EXPECT_EQ(ReadPreset(file, *again).membersNotReadCount, 0u);

        // A preset read after it takes the place of all it held, its members not read included.
        WriteAllText(file, json + "{}}");
        ASSERT_TRUE(ReadPreset(file, *noise).ok);
        EXPECT_EQ(noise->membersNotRead, nullptr);
    }
}

TEST(ReadPreset, AFileThatCannotBeLookedAtGivesCouldNotOpenNotAnException)
{
    // Anything but "missing" from the file-system check used to escape as an exception: here
    // a name longer than the system allows. A pipe used to be opened as a text preset and
    // waited on for ever.
    TempFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe.gfpreset").c_str(), 0600), 0);
    const fs::path cases[] = {folder / "missing.gfpreset", folder.Path(), folder / std::string(300, 'n'),
                              folder / "pipe.gfpreset"};
    for (const fs::path& path : cases) {
        const auto noise = ChangedNoise();
        PresetResult result;
        EXPECT_NO_THROW(result = ReadPreset(path, *noise));
        EXPECT_EQ(std::tuple(result.ok, result.error), std::tuple(false, "could not open the preset"));
        EXPECT_EQ(ReadLegacyPreset(path, *noise).error, "could not open the preset");
    }
}

TEST(ReadPreset, AFileInAFolderThatMayNotBeSearchedGivesCouldNotOpen)
{
    TempFolder folder;
    fs::permissions(folder.Path(), fs::perms(0755));
    fs::create_directories(folder / "locked");
    WriteAllText(folder / "locked/p.gfpreset", "Grainforge preset 1\ntexture=Noise\n");
    fs::permissions(folder / "locked", fs::perms::none);
    const auto text = test::RunUnprivileged([&] {
        const auto noise = Noise();
        return ReadPreset(folder / "locked/p.gfpreset", *noise).error;
    });
    if (!text)
        GTEST_SKIP() << "could not drop root privileges, so the folder's permissions would not apply";
    EXPECT_EQ(*text, "could not open the preset");
}

TEST(ReadPreset, AHugeFileIsRefusedBeforeItIsRead)
{
    TempFolder folder;
    WriteAllText(folder / "big.gfpreset", "Grainforge preset 1\ntexture=Noise\n");
    fs::resize_file(folder / "big.gfpreset", kMaxPresetFileBytes + 1);
    const auto noise = Noise();
    const std::string tooLarge =
        "the file is too large to be a preset: it holds 16,777,217 bytes, and a preset is at most 16 MiB";
    EXPECT_EQ(ReadPreset(folder / "big.gfpreset", *noise).error, tooLarge);
    EXPECT_EQ(ReadLegacyPreset(folder / "big.gfpreset", *noise).error, tooLarge);
}

// Presets, their thumbnails and the JSON files under them may be named by the user: a pipe,
// folder or device of such a name is refused at once, never waited on.
TEST(ReadPreset, NamedPipeFolderAndDeviceAreRefusedAtOnce)
{
    const test::TempFolder folder;
    const std::pair<const char*, std::function<std::string(const std::filesystem::path&)>> readers[] = {
        {"ReadPreset", [](const std::filesystem::path& p) { return ReadPreset(p, *Noise()).error; }},
        {"ReadLegacyPreset", [](const std::filesystem::path& p) { return ReadLegacyPreset(p, *Noise()).error; }},
        {"ReadGreyBmp", [](const std::filesystem::path& p) { return std::string(ReadGreyBmp(p) ? "read" : "none"); }},
        {"LoadJsonFile", [](const std::filesystem::path& p) {
             return std::string(mesh::LoadJsonFile(p).IsEmpty() ? "none" : "read");
         }},
    };
    for (const test::NonRegularFile& file : test::MakeNonRegularFiles(folder.Path(), "preset.json")) {
        for (const auto& [name, read] : readers) {
            SCOPED_TRACE(std::string(name) + " on a " + file.kind);
            const auto text = test::CallWithin<std::string>([read = read, path = file.path] { return read(path); });
            ASSERT_TRUE(text) << "still waiting";
            EXPECT_TRUE(*text == "could not open the preset" || *text == "none") << *text;
        }
    }
}

TEST(ListPresets, ListsBothRootsWithOriginsAndThumbnails)
{
    PresetLibrary library;
    const fs::path factory = library.program / "procedural/Noise";
    fs::create_directories(factory);
    WriteAllText(factory / "Fine.gfpreset", "{}");
    WriteAllText(factory / "Fine.bmp", "");
    WriteAllText(factory / "Both.gfpreset", "{}");
    WriteAllText(factory / "Hidden.gfpreset", "{}");
    ASSERT_TRUE(MarkFactoryItemDeleted(library.roots, "procedural/Noise", "Hidden.gfpreset"));
    WriteAllText(library.user / "procedural/Noise/Both.gfpreset", "{}");
    WriteAllText(library.user / "procedural/Noise/Mine.gfpreset", "{}");
    WriteAllText(library.user / "procedural/Noise/Mine.bmp", "");

    const std::vector<PresetFileEntry> entries = ListPresets(library.roots, "Noise");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(std::tuple(entries[0].name, entries[0].origin, entries[0].file, entries[0].thumbnail, entries[0].userFile),
              std::tuple("Both", LibraryItemOrigin::UserOverFactory, library.user / "procedural/Noise/Both.gfpreset",
                         fs::path(), true));
    EXPECT_EQ(std::tuple(entries[1].name, entries[1].origin, entries[1].thumbnail, entries[1].userFile),
              std::tuple("Fine", LibraryItemOrigin::FactoryOnly, factory / "Fine.bmp", false));
    EXPECT_EQ(std::tuple(entries[2].name, entries[2].origin, entries[2].thumbnail, entries[2].userFile),
              std::tuple("Mine", LibraryItemOrigin::UserOnly, library.user / "procedural/Noise/Mine.bmp", true));
}

// The program's presets "Rock", "Coarse_1" and "Stone" (with their pictures) and presets copied in
// as "Rock .gfpreset", "Coarse:1.gfpreset" and "Stone.GFPRESET", whose shown names lead through
// PresetFileStem to the program's files.
struct CopiedInPresets : PresetLibrary {
    fs::path folder = user / "procedural/Noise";
    CopiedInPresets()
    {
        for (const char* name : {"Rock", "Coarse_1", "Stone"})
            EXPECT_TRUE(SavePreset(roots, *Noise(), name).ok) << name;
        for (const char* name : {"Rock .gfpreset", "Coarse:1.gfpreset", "Stone.GFPRESET"})
            fs::copy_file(folder / "Rock.gfpreset", folder / name);
    }
    // Every file of the folder with its bytes.
    std::map<std::string, std::vector<std::uint8_t>> Files() const
    {
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            files[entry.path().filename().string()] = test::ReadAllBytes(entry.path());
        return files;
    }
    PresetFileEntry Listed(const std::string& fileName) const
    {
        for (const PresetFileEntry& entry : ListPresets(roots, "Noise"))
            if (entry.file.filename() == fileName)
                return entry;
        ADD_FAILURE() << fileName << " is not listed";
        return {};
    }
};

// Deleting or saving over a chosen preset acts on its own file: deleting "Rock " used to remove
// "Rock.gfpreset" and "Rock.bmp", and saving over it to replace "Rock.gfpreset". A picture two
// presets' files share ("Stone.bmp") stays with the program's file.
TEST(DeletePreset, AndSavingOverItActOnTheChosenEntrysOwnFile)
{
    using Names = std::set<std::string>;
    const struct {
        const char* file;
        bool save;  // save over it under its shown name, else delete it
        Names gone, changed;
    } cases[] = {
        {"Rock .gfpreset", false, {"Rock .gfpreset"}, {}},
        {"Coarse:1.gfpreset", false, {"Coarse:1.gfpreset"}, {}},
        {"Stone.GFPRESET", false, {"Stone.GFPRESET"}, {}},
        {"Rock.gfpreset", false, {"Rock.gfpreset", "Rock.bmp"}, {}},
        {"Rock .gfpreset", true, {}, {"Rock .gfpreset", "Rock .bmp"}},
        {"Coarse:1.gfpreset", true, {}, {"Coarse:1.gfpreset", "Coarse:1.bmp"}},
        {"Stone.GFPRESET", true, {}, {"Stone.GFPRESET"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.save ? "save over " : "delete ") + c.file);
        CopiedInPresets library;
        const auto before = library.Files();
        const PresetFileEntry entry = library.Listed(c.file);
        if (c.save) {
            const PresetTarget target = ChoosePresetTarget(library.roots, "Noise", entry.name, &entry);
            EXPECT_EQ(std::tuple(target.file, target.existing), std::tuple(entry.file, LibraryItemOrigin::UserOnly));
            EXPECT_EQ(SavePresetTo(library.roots, *ChangedNoise(), target).storedName, entry.name);
        } else {
            EXPECT_TRUE(DeletePreset(library.roots, "Noise", entry).ok);
        }
        const auto after = library.Files();
        Names gone, changed;
        for (const auto& [name, bytes] : before)
            if (!after.contains(name))
                gone.insert(name);
        for (const auto& [name, bytes] : after)
            if (!before.contains(name) || before.at(name) != bytes)
                changed.insert(name);
        EXPECT_EQ(gone, c.gone);
        EXPECT_EQ(changed, c.changed);
    }
}

}  // namespace
}  // namespace grainforge::app
