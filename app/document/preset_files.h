// Presets of the procedural patterns: a pattern's parameter values stored under a name, with
// a 120 x 120 grey picture of the result beside them. A pattern's presets live in the library
// folder "procedural/<pattern name>" (user_folders.h), so factory presets ship with the
// program and the user's own go to the user folder; the procedural texture dialog lists,
// loads, saves and deletes them through this header.
//
// A preset file "<stem>.gfpreset" is a JSON object written through the JSON settings layer:
//   "format": "Grainforge preset", "version": 2, "texture": the pattern's name,
//   "parameters": the pattern's values (WriteParameters; integer kinds as whole numbers).
// Files of the older text form are still read: a first line "Grainforge preset 1", a line
// "texture=<pattern name>" and "key=value" lines for the parameters. The picture is
// "<stem>.bmp" in the same folder (grey_bmp.h).
//
// Any file may be given to the readers: a file that is missing, unreadable, damaged, too new
// or for another pattern gives a false result with a short reason, leaves the pattern as it
// was and never throws (except on allocation failure).
#pragma once

#include "app/document/project_file.h"
#include "app/document/user_folders.h"
#include "engine/files/json_settings.h"
#include "engine/textures/procedural_texture.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

inline constexpr std::string_view kPresetExtension = ".gfpreset";
inline constexpr std::string_view kPresetThumbnailExtension = ".bmp";
inline constexpr std::string_view kProceduralLibraryFolder = "procedural";
inline constexpr std::string_view kPresetFormat = "Grainforge preset";
inline constexpr std::string_view kLegacyPresetFirstLine = "Grainforge preset 1";
// Written into new presets; files of a higher version are refused.
inline constexpr std::int32_t kPresetVersion = 2;
inline constexpr std::int32_t kPresetThumbnailSide = 120;
// A preset is a few hundred bytes; files above the JSON layer's limit, in either form, are
// refused as not being presets before they are read.
inline constexpr std::uint64_t kMaxPresetFileBytes = mesh::kMaxJsonFileBytes;

struct PresetFileEntry {
    std::string name;  // the file's stem, as listed
    LibraryItemOrigin origin = LibraryItemOrigin::None;
    std::filesystem::path file;
    std::filesystem::path thumbnail;  // empty when neither root has one
    bool userFile = false;            // the user folder holds the file (origin UserOnly or UserOverFactory)
};

// Outcome of reading or saving a preset.
struct [[nodiscard]] PresetResult {
    bool ok = false;
    // Empty on success; otherwise one of "could not open the preset", "not a Tessary preset",
    // "the file is too large to be a preset: it holds N bytes, and a preset is at most 16 MiB",
    // "a preset from a newer Tessary", "no texture", "a preset for <texture>, not <pattern>",
    // "there is nowhere to save presets", "could not write the preset", "could not write the
    // preset: it is write-protected (you may not write to it)",
    // "only your own presets can be deleted", "could not delete the preset",
    // "could not write the preset: the name is too long (its file name would take N bytes;
    // at most 255 fit)".
    std::string error;
    // SavePreset: the stem the preset was stored under, set once the preset file is written.
    std::string storedName;
    // SavePreset: the preset is saved (ok) but its picture could not be written.
    bool withoutPicture = false;
    // A preset read (ok): what it holds that was not used, named as a project's members are.
    // The members of "parameters" (lines of the older form) naming no parameter, the first
    // kMembersNotReadNamed of them, and how many; the pattern keeps those of "parameters"
    // (ParameterSet::membersNotRead), so that saving it writes them again.
    std::vector<std::string> membersNotRead;
    std::size_t membersNotReadCount = 0;
    // The first members given more than once (key "parameters.scale"), and how many.
    std::vector<mesh::JsonRepeatedMember> membersRepeated;
    std::size_t membersRepeatedCount = 0;
    // Parameters given a value they do not take, now at their defaults: the label, the value as
    // given and the value in force.
    std::vector<ReplacedValue> valuesReplaced;
};

// What a preset read held that was not used, for the log and the message box, with the name it
// is listed under; empty when all of it was used: "The preset \"Rough\" holds parameters this
// version does not read: grain. They are kept, and saving the preset writes them again." and
// the sentences on members given twice and values not taken, as a project's opening says them.
std::string PresetWordsNotUsedText(const PresetResult& result, std::string_view presetName);

// The file stem for a preset name: MakeSafeFileName of it, and when that is longer than
// ".gfpreset" and ends with it (any case) the ending is dropped and the rest made safe again,
// so a name typed with the extension does not get it twice.
std::string PresetFileStem(std::string_view presetName);

// "procedural/" + MakeSafeFileName(pattern name): the library folder of a pattern's presets.
std::filesystem::path ProceduralFolder(std::string_view patternName);

// The pattern's presets over both roots, sorted and with hidden factory presets left out
// (ListLibraryItems), each with its origin, its file and its picture when either root has one
// and the file owns it (see below).
std::vector<PresetFileEntry> ListPresets(const LibraryRoots& roots, std::string_view patternName);

// Every preset file of every pattern in every root: the entries of the folders inside
// "procedural" whose extension is ".gfpreset" in any case. No save of anything else may write
// over one of them. Folders that cannot be read give what was read of them.
std::vector<std::filesystem::path> AllPresetFiles(const LibraryRoots& roots);

// Reads the preset into `pattern`. A JSON object must have the preset format, a version of at
// most 2 (an integer; any other value counts as 0) and the pattern's name as "texture"; the
// pattern is then reset to its defaults and the "parameters" object (when there is one)
// applied. A file that is not a JSON object is read as the older text form. A missing or
// unreadable file gives "could not open the preset".
PresetResult ReadPreset(const std::filesystem::path& path, mesh::procedural::ProceduralTexture& pattern);

// Reads the older text form from a file ("could not open the preset" when it cannot be read).
PresetResult ReadLegacyPreset(const std::filesystem::path& path, mesh::procedural::ProceduralTexture& pattern);

// The older text form from text: the first line (CR and LF endings dropped) must be
// "Grainforge preset 1", a later line "texture=<name>" must name the pattern; then the pattern
// is reset to its defaults and every "key=value" line of the text applied (ParametersFromText).
PresetResult ReadLegacyPresetText(std::string_view text, mesh::procedural::ProceduralTexture& pattern);

// Saves the pattern's values as a preset of the user folder under PresetFileStem(presetName),
// replacing one of that name, then its picture (RenderThumbnail) beside it; both are written
// durably. A preset written without its picture is saved, and the result says so.
// SavePresetTo with ChoosePresetTarget's target for no chosen entry.
PresetResult SavePreset(const LibraryRoots& roots, const mesh::procedural::ProceduralTexture& pattern,
                        std::string_view presetName);

// ---- Acting on a listed preset -------------------------------------------------------------
// A listed preset is acted on through its own file, as ListPresets found it, never through a
// file name made again from its shown name: a preset copied in as "Rock .gfpreset",
// "Coarse:1.gfpreset" or "Stone.GFPRESET" shows as "Rock ", "Coarse:1" or "Stone", whose
// PresetFileStem names other presets' files ("Rock.gfpreset", "Coarse_1.gfpreset",
// "Stone.gfpreset").
//
// A preset's picture is "<stem>.bmp" beside it. It belongs to "<stem>.gfpreset", the name the
// program gives; a file of another spelling of the extension has it only when no other preset
// of the folder, in any root, has its stem, and is shown, saved and deleted without it
// otherwise.

// Where saving under a typed name goes.
struct PresetTarget {
    std::filesystem::path file;  // the preset file to write; empty when there is nowhere to save
    std::string name;            // the name the list shows for it
    // What the library holds under the file's name already (None: the save makes a new preset).
    LibraryItemOrigin existing = LibraryItemOrigin::None;
};

// The chosen entry's own file when `presetName` is its shown name unchanged and the user folder
// holds it; otherwise the user folder's PresetFileStem(presetName) + ".gfpreset". `chosen` may be
// null. Nothing is made on disk.
PresetTarget ChoosePresetTarget(const LibraryRoots& roots, std::string_view patternName, std::string_view presetName,
                                const PresetFileEntry* chosen);

// Writes the pattern's values to the target's file, replacing what is there, then its picture
// when the file owns it (a file that does not own its picture is saved without one). Errors as
// SavePreset's; the stored name is the target's name.
PresetResult SavePresetTo(const LibraryRoots& roots, const mesh::procedural::ProceduralTexture& pattern,
                          const PresetTarget& target);

// Deletes the user's preset file the entry lists, and its picture when the file owns it: a
// user-only preset is removed (MarkFactoryItemDeleted); the user's version of a factory preset
// is removed and the factory one shown again should it have been hidden. Only a file of the
// user folder is deleted: "only your own presets can be deleted" for any other entry (a factory
// preset, a file that is not the one the user folder holds under its name); "could not delete
// the preset" when the removal fails.
PresetResult DeletePreset(const LibraryRoots& roots, std::string_view patternName, const PresetFileEntry& entry);

// The pattern rendered at 120 x 120, each value clamped to 0..1 and scaled to the nearest of
// 0..255 (halves away from zero), row by row from the top.
std::vector<std::uint8_t> RenderThumbnail(const mesh::procedural::ProceduralTexture& pattern);

}  // namespace grainforge::app
