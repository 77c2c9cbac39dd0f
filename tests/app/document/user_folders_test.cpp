#include "app/document/user_folders.h"

#include "app/document/grey_bmp.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>

#include <stdlib.h>
#include <sys/stat.h>

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::WriteAllText;

// A program folder and a user folder in one temporary folder: the two roots of a library.
struct TwoRoots {
    TempFolder folder;
    fs::path program = folder / "program";
    fs::path user = folder / "user";
    LibraryRoots roots{{program, false}, {user, true}};

    // Writes `text` to root / relative, making its folders.
    static fs::path Put(const fs::path& root, const fs::path& relative, const std::string& text = "x")
    {
        fs::create_directories((root / relative).parent_path());
        WriteAllText(root / relative, text);
        return root / relative;
    }
};

// Sets an environment variable for one test and puts the old value back.
struct ScopedEnvironment {
    const char* name;
    std::optional<std::string> old;
    ScopedEnvironment(const char* variable, const std::string& value) : name(variable)
    {
        if (const char* current = std::getenv(name))
            old = current;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment() { old ? (void)setenv(name, old->c_str(), 1) : (void)unsetenv(name); }
};

TEST(MakeSafeFileName, ReplacesUnsafeCharactersAndFallsBackToUntitled)
{
    const std::pair<std::string, std::string> cases[] = {
        {"a/b:c?d. ", "a_b_c_d"},  // one underscore each, trailing dot and space gone
        {"...", "untitled"},
        {". . ", "untitled"},
        {"/:*", "untitled"},  // nothing but replaced characters
        {"x<>|\"\\\t", "x______"},
        {"CON", "CON"},  // reserved names mean nothing here
        {"Flußkiesel", "Flußkiesel"},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(MakeSafeFileName(name), expected) << name;
}

TEST(CaseInsensitiveLess, OrdersLowerCasedUnitsShorterFirst)
{
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"apple", "Banana", true},  {"Banana", "apple", false}, {"abc", "ABCD", true},
        {"ABC", "abc", false},      {"abc", "ABC", false},      {"Éclair", "éclair", false},
        {"zebra", "Ökonom", true},  // ö (U+00F6) sorts after z
        {"Яблоко", "арбуз", false}, // я after а in Cyrillic
        {"\xFE", "\xFF", true},     // bytes that are not UTF-8 stay apart
    };
    for (const auto& [a, b, expected] : cases)
        EXPECT_EQ(CaseInsensitiveLess(a, b), expected) << a << " < " << b;
}

TEST(LibraryRoots, FactoryDataBesideTheProgramComesBeforeTheInstalledCopy)
{
    TempFolder folder;
    const fs::path bin = folder / "prefix/bin";
    const fs::path share = folder / "prefix/share/tessary";
    fs::create_directories(bin);
    fs::create_directories(share);
    const LibraryRoots roots = MakeLibraryRoots(bin, folder / "docs");
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(std::tuple(roots[0].path, roots[0].user), std::tuple(share, false));
    EXPECT_EQ(std::tuple(roots[1].path, roots[1].user), std::tuple(bin, false));
    EXPECT_EQ(std::tuple(roots[2].path, roots[2].user), std::tuple(folder / "docs/Tessary", true));

    TwoRoots::Put(share, "help/intro.md");
    TwoRoots::Put(bin, "help/intro.md");
    TwoRoots::Put(share, "help/only.md");
    EXPECT_EQ(ResolveLibraryItem(roots, "help", "intro.md"), bin / "help/intro.md");
    EXPECT_EQ(ResolveLibraryItem(roots, "help", "only.md"), share / "help/only.md");
    EXPECT_FALSE(UserRootIsFactoryRoot(roots));

    const LibraryRoots noDocuments = MakeLibraryRoots(folder / "lone", {});
    ASSERT_EQ(noDocuments.size(), 2u);
    EXPECT_TRUE(noDocuments[1].user);
    EXPECT_TRUE(UserRootIsFactoryRoot(noDocuments));
}

TEST(GetDocumentsFolder, ReadsTheUserDirsFileAndFallsBackToDocumentsInHome)
{
    TempFolder folder;
    const fs::path home = folder / "home";
    const fs::path config = folder / "config";
    fs::create_directories(config);
    ScopedEnvironment homeVariable("HOME", home.string());
    ScopedEnvironment configVariable("XDG_CONFIG_HOME", config.string());

    EXPECT_EQ(GetDocumentsFolder(), home / "Documents");  // no dirs file
    const std::pair<std::string, fs::path> cases[] = {
        {"# comment\nXDG_DOCUMENTS_DIR=\"$HOME/A\"\nXDG_DOCUMENTS_DIR=\"$HOME/B\"\n", home / "B"},  // the last counts
        {"XDG_DOCUMENTS_DIR=\"/srv/My \\\"Docs\\\"\"\n", "/srv/My \"Docs\""},
        {"XDG_DOCUMENTS_DIR=\"relative/path\"\n", home / "Documents"},  // not usable
    };
    for (const auto& [file, expected] : cases) {
        WriteAllText(config / "user-dirs.dirs", file);
        EXPECT_EQ(GetDocumentsFolder(), expected) << file;
    }
}

// Thumbnails are a cache: they go to the XDG cache folder, never into the user's documents.
TEST(ThumbnailCacheFolder, FollowsXdgCacheHomeElseTheHomeCache)
{
    TempFolder folder;
    const fs::path home = folder / "home";
    ScopedEnvironment homeVariable("HOME", home.string());
    const std::pair<std::string, fs::path> cases[] = {
        {(folder / "cache").string(), folder / "cache" / "Tessary" / "thumbnails"},
        {"relative/cache", home / ".cache" / "Tessary" / "thumbnails"},  // not usable
        {"", home / ".cache" / "Tessary" / "thumbnails"},
    };
    for (const auto& [cacheHome, expected] : cases) {
        ScopedEnvironment cacheVariable("XDG_CACHE_HOME", cacheHome);
        EXPECT_EQ(ThumbnailCacheFolder(), expected) << cacheHome;
        EXPECT_EQ(ThumbnailCacheFolder().string().find(GetDocumentsFolder().string()), std::string::npos);
    }
}

TEST(ResolveLibraryItem, FindsTheUsersFileBeforeTheFactorys)
{
    TwoRoots library;
    TwoRoots::Put(library.program, "textures/Stone/rock.png");
    const fs::path users = TwoRoots::Put(library.user, "textures/Stone/rock.png");
    const fs::path onlyFactory = TwoRoots::Put(library.program, "textures/Stone/sand.png");
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", "rock.png"), users);
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", "sand.png"), onlyFactory);
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", "none.png"), fs::path());
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", ""), fs::path());
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", "/any/where.png"), fs::path("/any/where.png"));
    EXPECT_EQ(UserLibraryPath(library.roots, "textures/New", "/any/where.png"), fs::path("/any/where.png"));

    const fs::path target = UserLibraryPath(library.roots, "textures/New", "made.png");
    EXPECT_EQ(target, library.user / "textures/New/made.png");
    EXPECT_TRUE(fs::is_directory(target.parent_path()));
    EXPECT_EQ(UserLibraryPath(LibraryRoots{{library.program, false}}, "x", "y"), fs::path());

    const std::tuple<const char*, LibraryItemOrigin> origins[] = {
        {"rock.png", LibraryItemOrigin::UserOverFactory},
        {"sand.png", LibraryItemOrigin::FactoryOnly},
        {"none.png", LibraryItemOrigin::None},
        {"", LibraryItemOrigin::None},
    };
    for (const auto& [name, origin] : origins)
        EXPECT_EQ(LibraryItemExists(library.roots, "textures/Stone", name), origin) << name;
}

TEST(MarkFactoryItemDeleted, HidesTheFactoryItemUntilRestored)
{
    TwoRoots library;
    const fs::path factory = TwoRoots::Put(library.program, "textures/Stone/Rock.png");
    const fs::path users = TwoRoots::Put(library.user, "textures/Stone/Rock.png");
    TwoRoots::Put(library.program, "textures/Stone/sand.png");

    ASSERT_TRUE(MarkFactoryItemDeleted(library.roots, "textures/Stone", "Rock.png"));
    EXPECT_FALSE(fs::exists(users));
    EXPECT_TRUE(fs::exists(factory));
    EXPECT_EQ(test::ReadAllBytes(library.user / "textures/Stone/_deleted.index"),
              (std::vector<std::uint8_t>{'r', 'o', 'c', 'k', '.', 'p', 'n', 'g', '\r', '\n'}));
    EXPECT_EQ(ListLibraryItems(library.roots, "textures/Stone", ".png"), std::vector<std::string>{"sand.png"});
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", "ROCK.PNG"), fs::path());
    EXPECT_EQ(LibraryItemExists(library.roots, "textures/Stone", "Rock.png"), LibraryItemOrigin::None);

    ASSERT_TRUE(RestoreFactoryItem(library.roots, "textures/Stone", "Rock.png"));
    EXPECT_EQ(ListLibraryItems(library.roots, "textures/Stone", ".png"),
              (std::vector<std::string>{"Rock.png", "sand.png"}));
    EXPECT_EQ(ResolveLibraryItem(library.roots, "textures/Stone", "Rock.png"), factory);
    EXPECT_FALSE(fs::exists(library.user / "textures/Stone/_deleted.index"));  // an empty index is removed
    EXPECT_FALSE(RestoreFactoryItem(library.roots, "textures/Stone", "Rock.png"));  // no longer listed
    EXPECT_FALSE(RestoreFactoryItem(library.roots, "textures/Stone", "user-only.png"));
    EXPECT_FALSE(MarkFactoryItemDeleted(library.roots, "textures/Stone", ""));
}

TEST(MarkFactoryItemDeleted, WithoutADocumentsFolderRemovesTheFileAndWritesNoIndex)
{
    TempFolder folder;
    const LibraryRoots roots = MakeLibraryRoots(folder.Path(), {});
    const fs::path item = TwoRoots::Put(folder.Path(), "procedural/Noise/Fine.gfpreset");
    EXPECT_EQ(LibraryItemExists(roots, "procedural/Noise", "Fine.gfpreset"), LibraryItemOrigin::UserOnly);
    EXPECT_TRUE(MarkFactoryItemDeleted(roots, "procedural/Noise", "Fine.gfpreset"));
    EXPECT_FALSE(fs::exists(item));
    EXPECT_FALSE(fs::exists(folder / "procedural/Noise/_deleted.index"));
    EXPECT_FALSE(RestoreFactoryItem(roots, "procedural/Noise", "Fine.gfpreset"));
}

// An index that is there but cannot be read whole is left as it is, and so is the user's copy:
// the deletion used to replace a 17 MiB index with one line, and a mode-000 one too while
// saying it had worked. The mode-000 case runs as an ordinary user (root reads any file).
TEST(MarkFactoryItemDeleted, LeavesAnIndexItCannotReadAsItIs)
{
    const struct {
        const char* what;
        std::function<void(const fs::path& index)> put;
        bool unprivileged = false;
    } cases[] = {
        {"larger than 16 MiB", [](const fs::path& index) { WriteAllText(index, std::string(17 << 20, 'a')); }},
        {"a folder", [](const fs::path& index) { fs::create_directory(index); }},
        {"a pipe", [](const fs::path& index) { ASSERT_EQ(mkfifo(index.c_str(), 0600), 0); }},
        {"not readable",
         [](const fs::path& index) {
             WriteAllText(index, "sand.png\r\n");
             fs::permissions(index, fs::perms::none);
         },
         true},
    };
    // What the index is: its kind, size and permissions, none of which may change.
    const auto state = [](const fs::path& index) {
        std::error_code error;
        const fs::file_status status = fs::symlink_status(index, error);
        const bool regular = fs::is_regular_file(status);
        return std::tuple(status.type(), regular ? fs::file_size(index) : 0, status.permissions());
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TwoRoots library;
        TwoRoots::Put(library.program, "textures/Stone/Rock.png");
        const fs::path copy = TwoRoots::Put(library.user, "textures/Stone/Rock.png");
        for (const fs::path& folder : {library.folder.Path(), library.user, library.user / "textures",
                                       library.user / "textures/Stone"})
            fs::permissions(folder, fs::perms::all);
        fs::permissions(copy, fs::perms(0666));
        const fs::path index = library.user / "textures/Stone/_deleted.index";
        c.put(index);
        const auto before = state(index);
        const auto run = [&] {
            return std::string(MarkFactoryItemDeleted(library.roots, "textures/Stone", "Rock.png") ? "true" : "false");
        };
        const std::optional<std::string> answer = c.unprivileged ? test::RunUnprivileged(run) : run();
        if (!answer)  // the last case: the ones before it have run
            GTEST_SKIP() << "could not drop root privileges, so the index's permissions would not apply";
        EXPECT_EQ(*answer, "false");
        EXPECT_EQ(state(index), before);
        EXPECT_TRUE(fs::exists(copy));
    }
}

TEST(ListLibraryItems, ListsNamesThatDifferInCaseAsTheTwoFilesTheyAre)
{
    TwoRoots library;
    TwoRoots::Put(library.program, "textures/Stone/rock.png");
    TwoRoots::Put(library.user, "textures/Stone/ROCK.png");
    TwoRoots::Put(library.program, "textures/Stone/bark.PNG");
    TwoRoots::Put(library.program, "textures/Stone/notes.txt");
    TwoRoots::Put(library.user, "textures/Stone/_deleted.index", "gone.png\r\n\r\n");
    TwoRoots::Put(library.program, "textures/Stone/_DELETED.INDEX");  // never listed, whatever its case
    TwoRoots::Put(library.program, "textures/Stone/Gone.png");
    fs::create_directories(library.program / "textures/Stone/folder.png");
    EXPECT_EQ(ListLibraryItems(library.roots, "textures/Stone", ".png"),
              (std::vector<std::string>{"bark.PNG", "ROCK.png", "rock.png"}));
    EXPECT_EQ(ListLibraryItems(library.roots, "textures/Stone", ""),
              (std::vector<std::string>{"bark.PNG", "notes.txt", "ROCK.png", "rock.png"}));
    EXPECT_EQ(ListLibraryItems(library.roots, "textures/Missing", ".png"), std::vector<std::string>{});

    fs::create_directories(library.program / "textures/wood");
    fs::create_directories(library.user / "textures/Wood");
    fs::create_directories(library.user / "textures/Metal");
    EXPECT_EQ(ListLibraryCategories(library.roots, "textures"),
              (std::vector<std::string>{"Metal", "Stone", "Wood", "wood"}));
}

TEST(ListLibraryEntries, TheDeletedIndexHidesOnlyTheFactoryFileItNames)
{
    // Each case: the files of one folder ("u/" in the user root, "f/" in the factory root),
    // the index, and what each name resolves to ("" for nothing) with its origin.
    struct Case {
        std::vector<std::string> files;
        std::string index;
        std::vector<std::tuple<std::string, std::string, LibraryItemOrigin>> listed;
    };
    using enum LibraryItemOrigin;
    const Case cases[] = {
        // The user's own file differing in case from the deleted factory one.
        {{"f/Granite.png", "u/granite.png"}, "granite.png\r\n", {{"granite.png", "u/granite.png", UserOnly}}},
        // The user's file of the very name a deleted factory file had.
        {{"f/rock.png", "u/rock.png"}, "rock.png\r\n", {{"rock.png", "u/rock.png", UserOnly}}},
        // Only the factory file, hidden whatever the case of its name.
        {{"f/Sand.png", "f/clay.png"}, "sand.png\r\n", {{"clay.png", "f/clay.png", FactoryOnly}}},
        // Two factory files differing in case, neither hidden.
        {{"f/Rock.png", "f/rock.png"},
         "",
         {{"Rock.png", "f/Rock.png", FactoryOnly}, {"rock.png", "f/rock.png", FactoryOnly}}},
        // One in each root differing in case: two files, neither over the other.
        {{"f/bark.png", "u/Bark.png"},
         "",
         {{"Bark.png", "u/Bark.png", UserOnly}, {"bark.png", "f/bark.png", FactoryOnly}}},
    };
    for (const Case& c : cases) {
        TwoRoots library;
        for (const std::string& file : c.files)
            TwoRoots::Put(file[0] == 'u' ? library.user : library.program, "textures/Stone/" + file.substr(2));
        if (!c.index.empty())
            TwoRoots::Put(library.user, "textures/Stone/_deleted.index", c.index);
        const auto where = [&](const std::string& file) {
            return file.empty() ? fs::path() : (file[0] == 'u' ? library.user : library.program) / "textures/Stone" /
                                                   file.substr(2);
        };
        std::vector<std::tuple<std::string, fs::path, LibraryItemOrigin>> expected, listed, lookedUp;
        for (const auto& [name, file, origin] : c.listed)
            expected.emplace_back(name, where(file), origin);
        for (const LibraryEntry& entry : ListLibraryEntries(library.roots, "textures/Stone", {".png"}))
            listed.emplace_back(entry.name, entry.path, entry.origin);
        for (const auto& [name, file, origin] : c.listed)
            lookedUp.emplace_back(name, ResolveLibraryItem(library.roots, "textures/Stone", name),
                                  LibraryItemExists(library.roots, "textures/Stone", name));
        EXPECT_EQ(listed, expected) << c.files.front() << " " << c.index;
        EXPECT_EQ(lookedUp, expected) << c.files.front() << " " << c.index;
    }
}

// ---- Moving an older user folder ---------------------------------------------------------

// A thumbnail as the program caches it: a grey square under a hash name.
fs::path PutThumbnail(const fs::path& folder, const std::string& name = "0123456789abcdef.bmp")
{
    fs::create_directories(folder);
    EXPECT_TRUE(WriteGreyBmp(folder / name, std::vector<std::uint8_t>(16, 200), 4));
    return folder / name;
}

TEST(MigrateUserFolder, AFileAlreadyInTheNewFolderStaysInTheOldOne)
{
    TempFolder documents;
    TwoRoots::Put(documents / "Grainforge", "procedural/Noise/Fine.gfpreset", "old fine");
    TwoRoots::Put(documents / "Grainforge", "procedural/Noise/Coarse.gfpreset", "old coarse");
    TwoRoots::Put(documents / "Tessary", "procedural/Noise/Fine.gfpreset", "new fine");
    PutThumbnail(documents / "Grainforge/thumbnails");

    const std::string message = MigrateUserFolder(documents.Path());
    EXPECT_EQ(message, "Your files moved from " + (documents / "Grainforge").string() + " to " +
                           (documents / "Tessary").string() +
                           " (1 file). 1 stayed in the old folder (1 whose name the new folder already has); it can "
                           "be deleted once you have checked it.");
    EXPECT_EQ(test::ReadAllBytes(documents / "Tessary/procedural/Noise/Coarse.gfpreset").size(), 10u);
    EXPECT_EQ(test::ReadAllBytes(documents / "Tessary/procedural/Noise/Fine.gfpreset").size(), 8u);  // kept
    EXPECT_TRUE(fs::exists(documents / "Grainforge/procedural/Noise/Fine.gfpreset"));
    EXPECT_FALSE(fs::exists(documents / "Grainforge/thumbnails"));
    EXPECT_FALSE(fs::exists(documents / "Tessary/thumbnails"));  // the cache is not moved into documents
}

TEST(MigrateUserFolder, SaysHowManyStayedWhenEveryNameIsTaken)
{
    TempFolder documents;
    TwoRoots::Put(documents / "Grainforge", "procedural/Noise/Fine.gfpreset", "old fine");
    TwoRoots::Put(documents / "Grainforge", "textures/Stone/rock.png", "old rock");
    PutThumbnail(documents / "Grainforge/thumbnails");  // a cache: dropped, not counted
    PutThumbnail(documents / "Tessary/thumbnails");
    TwoRoots::Put(documents / "Tessary", "procedural/Noise/Fine.gfpreset", "new fine");
    TwoRoots::Put(documents / "Tessary", "textures/Stone/rock.png", "new rock");
    const std::string expected = "Nothing moved from " + (documents / "Grainforge").string() + " to " +
                                 (documents / "Tessary").string() +
                                 ". 2 stayed in the old folder (2 whose names the new folder already has); it can be "
                                 "deleted once you have checked it.";
    EXPECT_EQ(MigrateUserFolder(documents.Path()), expected);
    EXPECT_EQ(test::ReadAllBytes(documents / "Tessary/textures/Stone/rock.png").size(), 8u);
    EXPECT_TRUE(fs::exists(documents / "Grainforge/textures/Stone/rock.png"));
    EXPECT_EQ(MigrateUserFolder(documents.Path()), expected);  // still there on the next start
}

TEST(MigrateUserFolder, OneFolderUnderBothNamesIsLeftAlone)
{
    // Either folder a link to the other: moving it into itself used to remove its empty
    // category folders and its thumbnail cache on every start.
    for (const bool oldIsLink : {true, false}) {
        TempFolder documents;
        const fs::path real = documents / (oldIsLink ? "Tessary" : "Grainforge");
        const fs::path link = documents / (oldIsLink ? "Grainforge" : "Tessary");
        TwoRoots::Put(real, "thumbnails/0123.bmp");
        TwoRoots::Put(real, "textures/Stone/rock.png");
        fs::create_directories(real / "textures/Empty");
        fs::create_directory_symlink(real, link);
        EXPECT_EQ(MigrateUserFolder(documents.Path()), "") << oldIsLink;
        EXPECT_TRUE(fs::exists(real / "thumbnails/0123.bmp")) << oldIsLink;
        EXPECT_TRUE(fs::is_directory(real / "textures/Empty")) << oldIsLink;
        EXPECT_TRUE(fs::is_symlink(link)) << oldIsLink;
        const MoveCounts counts = MoveFolderContents(link, real);
        EXPECT_EQ(std::tuple(counts.moved, counts.failed), std::tuple(0, 0));
        EXPECT_TRUE(fs::is_directory(real / "textures/Empty")) << oldIsLink;
    }
}

TEST(MigrateUserFolder, MovesEverythingOnceAndThenSaysNothing)
{
    TempFolder documents;
    TwoRoots::Put(documents / "Grainforge", "textures/Stone/rock.png");
    TwoRoots::Put(documents / "Grainforge", "custom/images.json");
    fs::create_directory_symlink("/nonexistent", documents / "Grainforge/link");
    EXPECT_EQ(MigrateUserFolder(documents.Path()), "Your files moved from " + (documents / "Grainforge").string() +
                                                       " to " + (documents / "Tessary").string() + " (3 files).");
    EXPECT_FALSE(fs::exists(documents / "Grainforge"));
    EXPECT_TRUE(fs::is_regular_file(documents / "Tessary/textures/Stone/rock.png"));
    EXPECT_TRUE(fs::is_symlink(documents / "Tessary/link"));
    EXPECT_EQ(MigrateUserFolder(documents.Path()), "");
    EXPECT_EQ(MigrateUserFolder({}), "");
}

TEST(MigrateUserFolder, AnUnreadableFolderIsCountedNotThrown)
{
    // Grainforge/textures exists in the new folder too, so it must be read to be merged; the
    // walk of an unreadable folder used to end start-up with an exception.
    TempFolder documents;
    fs::permissions(documents.Path(), fs::perms(0777));
    for (const char* folder : {"Grainforge", "Grainforge/textures", "Tessary", "Tessary/textures"}) {
        fs::create_directories(documents / folder);
        fs::permissions(documents / folder, fs::perms(0777));
    }
    TwoRoots::Put(documents / "Grainforge", "textures/rock.png");
    TwoRoots::Put(documents / "Grainforge", "notes.txt");
    fs::permissions(documents / "Grainforge/notes.txt", fs::perms(0666));
    fs::permissions(documents / "Grainforge/textures", fs::perms::none);
    const auto message = test::RunUnprivileged([&] { return MigrateUserFolder(documents.Path()); });
    if (!message)
        GTEST_SKIP() << "could not drop root privileges, so the folder's permissions would not apply";
    EXPECT_EQ(*message, "Your files moved from " + (documents / "Grainforge").string() + " to " +
                            (documents / "Tessary").string() +
                            " (1 file). 1 stayed in the old folder (1 could not be moved, as " +
                            (documents / "Grainforge/textures").string() +
                            " could not be read: Permission denied); they are kept there, and those that could not "
                            "be moved are moved at the next start.");
    EXPECT_TRUE(fs::exists(documents / "Tessary/notes.txt"));
}

// Across file systems the originals were kept, and the next start copied them all again.
TEST(MoveFolderContents, CopiesAcrossFileSystemsAndRemovesEachOriginalCopiedWhole)
{
    std::string pattern = "/dev/shm/tessary-test-XXXXXX";
    if (!fs::is_directory("/dev/shm") || !mkdtemp(pattern.data()))
        GTEST_SKIP() << "no second file system to move across";
    const fs::path source = pattern;
    struct Cleanup {
        fs::path path;
        ~Cleanup() { fs::remove_all(path); }
    } cleanup{source};
    TempFolder destination;
    TwoRoots::Put(source, "a.png", "abc");
    TwoRoots::Put(source, "sub/b.png", "defg");
    const MoveCounts counts = MoveFolderContents(source, destination / "new");
    EXPECT_EQ(std::tuple(counts.moved, counts.copied, counts.failed), std::tuple(2, 2, 0));
    EXPECT_EQ(test::ReadAllBytes(destination / "new/a.png").size(), 3u);
    EXPECT_EQ(test::ReadAllBytes(destination / "new/sub/b.png").size(), 4u);
    EXPECT_FALSE(fs::exists(source));  // moved, as a rename would
    EXPECT_EQ(destination.List(), std::vector<std::string>{"new"});  // no temporary files

    // An original that may not be removed stays, and so its copy goes: a file in both folders
    // would be copied again at the next start, and come back once its copy was deleted.
    TwoRoots::Put(source, "kept/c.png", "hij");
    fs::permissions(source, fs::perms(0777));
    fs::permissions(source / "kept", fs::perms(0555));
    fs::permissions(destination.Path(), fs::perms(0777));
    const auto text = test::RunUnprivileged([&] {
        const MoveCounts kept = MoveFolderContents(source, destination / "other");
        return std::to_string(kept.moved) + " " + std::to_string(kept.failed) + " " + kept.failure;
    });
    fs::permissions(source / "kept", fs::perms(0755));
    if (!text)
        GTEST_SKIP() << "could not drop root privileges, so the folder's permissions would not apply";
    EXPECT_EQ(*text, "0 1 " + (source / "kept/c.png").string() + " could not be removed: Permission denied");
    EXPECT_TRUE(fs::exists(source / "kept/c.png"));
    EXPECT_FALSE(fs::exists(destination / "other/kept"));

    const MoveCounts missing = MoveFolderContents(destination / "missing", destination / "other");
    EXPECT_EQ(std::tuple(missing.moved, missing.failed), std::tuple(0, 1));
}

// Across file systems each entry is copied to a name found free a moment before; a file, a
// folder or a link that another program put there meanwhile is kept and the entry counted as
// taken. The copy used to rename over a file and merge into a folder.
TEST(MoveFolderContents, TheCopyRoadNeverReplacesOrMergesIntoANameTakenMeanwhile)
{
    for (const fs::path entry : {"entry", "entry/b.png"}) {
        for (const fs::path theirs : {"entry", "entry/a.png", "link"}) {
            SCOPED_TRACE(entry.string() + " over " + theirs.string());
            TempFolder folder;
            TwoRoots::Put(folder / "old", entry, "old");
            fs::create_directories(folder / "new");
            if (theirs == "link")
                fs::create_symlink("elsewhere", folder / "new/entry");
            else
                TwoRoots::Put(folder / "new", theirs, "theirs");
            const MoveCounts counts = MoveByCopyToFreeName(folder / "old/entry", folder / "new/entry");
            EXPECT_EQ(std::tuple(counts.moved, counts.taken, counts.failed), std::tuple(0, 1, 0));
            if (theirs == "link")
                EXPECT_TRUE(fs::is_symlink(folder / "new/entry"));
            else
                EXPECT_EQ(test::ReadAllBytes(folder / "new" / theirs).size(), 6u);
            EXPECT_FALSE(fs::exists(folder / "new/entry/b.png"));  // never merged
        }
    }
}

// One start-up's move of the older user folder: `setUp` makes the folders, then the message and
// the entries present and absent afterwards are checked. {old}, {new} and {outside} (a folder of
// the user's elsewhere) stand for the folders in messages and lists, {place} for where the new
// folder's name leads; the entries listed present or absent are not followed.
struct MigrationCase {
    std::function<void(const fs::path& old, const fs::path& young, const fs::path& outside)> setUp;
    std::string message;
    std::vector<std::string> present, absent;
};

void CheckMigration(const MigrationCase& c)
{
    SCOPED_TRACE(c.message);
    TempFolder root;
    const fs::path old = root / "Documents/Grainforge", young = root / "Documents/Tessary";
    fs::create_directories(root / "Documents");
    c.setUp(old, young, root / "outside");
    const fs::path place = fs::weakly_canonical(young);
    const auto named = [&](std::string text) {
        for (const auto& [key, path] :
             {std::pair{"{old}", old}, {"{new}", young}, {"{outside}", root / "outside"}, {"{place}", place}})
            for (std::size_t at; (at = text.find(key)) != std::string::npos;)
                text.replace(at, std::string(key).size(), path.string());
        return text;
    };
    EXPECT_EQ(MigrateUserFolder(root / "Documents"), named(c.message));
    for (const std::string& path : c.present)
        EXPECT_TRUE(fs::exists(fs::symlink_status(named(path)))) << path;
    for (const std::string& path : c.absent)
        EXPECT_FALSE(fs::exists(fs::symlink_status(named(path)))) << path;
}

// The move never reaches through a link, removes only the program's own thumbnails and says what
// moved and what stayed.
TEST(MigrateUserFolder, NeverFollowsALinkAndRemovesOnlyTheProgramsThumbnails)
{
    const MigrationCase cases[] = {
        {[](const fs::path& old, const fs::path&, const fs::path& outside) {
             TwoRoots::Put(outside, "thumbnails/2024/img1.jpg");
             PutThumbnail(outside / "thumbnails");
             fs::create_directory_symlink(outside, old);
         },
         "Nothing moved from {old} to {new}: the old folder is a link to {outside}, and links are not followed; its "
         "files stay there.",
         {"{outside}/thumbnails/2024/img1.jpg", "{outside}/thumbnails/0123456789abcdef.bmp", "{old}"}, {"{new}"}},
        {[](const fs::path& old, const fs::path& young, const fs::path&) {
             TwoRoots::Put(old, "textures/a.png");
             TwoRoots::Put(young.parent_path(), young.filename().string(), "a file");
         },
         "Nothing moved from {old} to {new}. 1 stayed in the old folder (1 could not be moved, as {new} is a regular "
         "file, not a folder); they are kept there, and those that could not be moved are moved at the next start.",
         {"{old}/textures/a.png"}, {}},
        {[](const fs::path& old, const fs::path& young, const fs::path& outside) {
             TwoRoots::Put(old, "textures/a.png");
             fs::create_directories(outside);
             fs::create_directories(young);
             fs::create_directory_symlink(outside, young / "textures");
         },
         "Nothing moved from {old} to {new}. 1 stayed in the old folder (1 whose name the new folder already has); "
         "it can be deleted once you have checked it.",
         {"{old}/textures/a.png"}, {"{outside}/a.png"}},
        {[](const fs::path& old, const fs::path&, const fs::path& outside) {
             TwoRoots::Put(old, "thumbnails/2024/img1.jpg");
             TwoRoots::Put(old, "thumbnails/fedcba9876543210.bmp", "not a thumbnail");
             fs::create_symlink(PutThumbnail(outside), old / "thumbnails/1111111111111111.bmp");
             PutThumbnail(old / "thumbnails");
         },
         "Nothing moved from {old} to {new}. 3 stayed in the old folder (3 in its thumbnails folder that the program "
         "did not make); it can be deleted once you have checked it.",
         {"{old}/thumbnails/2024/img1.jpg", "{old}/thumbnails/fedcba9876543210.bmp",
          "{old}/thumbnails/1111111111111111.bmp", "{outside}/0123456789abcdef.bmp"},
         {"{old}/thumbnails/0123456789abcdef.bmp", "{new}/thumbnails"}},
    };
    for (const MigrationCase& c : cases)
        CheckMigration(c);
}

// A new folder whose name leads into the old one, or to a folder holding it: nothing is moved or
// removed (the move used to copy the old folder into itself until names grew too long), and the
// message never calls the old folder one to delete.
TEST(MigrateUserFolder, NeverMovesAFolderIntoItself)
{
    const auto oldWithLibrary = [](const fs::path& old) {
        TwoRoots::Put(old, "keep/textures/Stone/rock.png");
        TwoRoots::Put(old, "textures/a.png");
        PutThumbnail(old / "thumbnails");
    };
    const std::string inside = "Nothing moved from {old} to {new}: the new folder leads to {place}, inside the old "
                               "one, and a folder cannot be moved into itself; keep the old folder, since it holds "
                               "the new one.";
    const std::vector<std::string> untouched = {"{old}/keep/textures/Stone/rock.png", "{old}/textures/a.png",
                                                "{old}/thumbnails/0123456789abcdef.bmp"};
    const MigrationCase cases[] = {
        {[&](const fs::path& old, const fs::path& young, const fs::path&) {
             oldWithLibrary(old);
             fs::create_directory_symlink(old / "keep", young);
         },
         inside, untouched, {"{old}/keep/keep", "{old}/keep/textures/a.png"}},
        {[&](const fs::path& old, const fs::path& young, const fs::path& outside) {  // through a second link
             oldWithLibrary(old);
             fs::create_directories(outside);
             fs::create_directory_symlink(old / "keep/textures", outside / "hop");
             fs::create_directory_symlink(outside / "hop", young);
         },
         inside, untouched, {"{old}/keep/textures/keep", "{old}/keep/textures/textures"}},
        {[&](const fs::path& old, const fs::path& young, const fs::path&) {
             oldWithLibrary(old);
             fs::create_directory_symlink(old.parent_path(), young);
         },
         "Nothing moved from {old} to {new}: the new folder leads to {place}, which holds the old one, and a folder "
         "cannot be moved into itself; its files stay where they are.",
         untouched, {"{new}/keep", "{new}/textures"}},
    };
    for (const MigrationCase& c : cases)
        CheckMigration(c);

    TempFolder root;
    oldWithLibrary(root / "old");
    fs::create_directory_symlink(root / "old/keep", root / "new");
    const MoveCounts counts = MoveFolderContents(root / "old", root / "new");
    EXPECT_EQ(std::tuple(counts.moved, counts.failed), std::tuple(0, 3));
    EXPECT_FALSE(fs::exists(root / "old/keep/keep"));
}

}  // namespace
}  // namespace grainforge::app
