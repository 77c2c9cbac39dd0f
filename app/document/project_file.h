// The project file (".gfproj"): one JSON object that names the part (a file, or a test shape)
// with its placement, the texture (a procedural pattern with its parameters and preset, or an
// image file) with its settings, the projection, the mask volumes, the stage switches and
// settings, the surface-test cells, the triangle and display limits and the export options.
//
// Paths are stored twice: as given, and relative to the project's folder, so that a project
// moved together with its part (also from Windows, where the separators are "\") still finds
// it. A part changed after it was opened is written beside the project under the first free
// name of "<stem> part.stl", " part 2.stl", ...: never over a file that exists, not even one
// that took the name after it was chosen, and no save removes one, since project files are copied and saved under new names and any of them may
// still name an older part.
//
// Every file goes through the durable replace (temporary file, flush, rename), so a failed
// save leaves the old file as it was. Plain functions on plain records; the document calls
// them on the user-interface thread, and nothing here throws.
#pragma once

#include "app/document/edit_state.h"
#include "app/document/file_identity.h"
#include "app/document/no_window_system.h"

#include "engine/displacement/displacement_settings.h"
#include "engine/displacement/mask_volume.h"
#include "engine/displacement/projection.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/files/json_settings.h"
#include "engine/mesh/placement.h"
#include "engine/repair/repair_driver.h"
#include "engine/mesh/triangle_mesh.h"
#include "engine/remesh/flat_simplify.h"
#include "engine/remesh/remesh_settings.h"
#include "engine/textures/height_map.h"
#include "engine/textures/parameter_set.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::app {

// A value of a project that its field does not take, and the value it was given instead.
// How a held tile height is named: with the aspect locked the height in force follows the
// width, which the opening says in its place.
inline constexpr const char* kHeldTileHeightName = "Tile height";

struct HeldValue {
    std::string name;  // the field's label: "Triangle size", "Mask 2: Size X"
    double was = 0.0;  // in the unit the field shows (a level from 0 to 255), a limit in triangles
    double now = 0.0;
    std::string unit;  // "mm", "triangles", or empty
    // No value the field takes was nearest (0 for a zoom, a placement that is no turn, a pattern
    // parameter that is not a number): it took its default.
    bool toDefault = false;
    // The digits after the point its field shows (the gamma's two), or -1 for the shortest text.
    int decimals = -1;
};

// The unit a triangle limit is named in: the file's own count.
inline constexpr const char* kTrianglesUnit = "triangles";

// A member of a project that the reader could not take as its field's value (another JSON type,
// an integer beyond 32 bits, a number no float holds, a name none of a choice's names), and
// what its field holds instead.
struct ReplacedValue {
    std::string key;    // where the file holds it, dotted: "remesh.targetEdgeMillimetres", "mask7.size"
    std::string given;  // the file's own text of it, shortened when long: "\"0.5\"", "[1,2]"
    std::string now;    // the value in force, as the project writes it ("1.0"), or "the defaults"
};

// Everything a project stores. A fresh record holds the values a reader starts from.
struct ProjectData {
    // Empty for a test shape. (Older projects may also carry "part.writtenBeside", from when a
    // save removed the part it had written before; it is read past.)
    std::filesystem::path partPath;
    // Read only: the part and image the project was saved with, when the files of those names
    // beside the project were opened instead while these still exist (see ReadPathEntry).
    std::filesystem::path partSavedElsewhere;
    std::filesystem::path textureSavedElsewhere;
    std::string testShape;           // "cube", "cylinder", "sphere" or empty
    grainforge::mesh::Transform3x4 partTransform;
    grainforge::mesh::Projection projection = grainforge::mesh::InitProjection();
    // At most kMaximumMaskVolumes. Read from the mask objects the file holds ("mask0",
    // "mask1", "mask500", ...) in the order of their numbers, whatever "maskCount" claims.
    std::vector<grainforge::mesh::MaskVolume> masks;
    // Read only: how many mask entries were not opened: the objects past the limit, and every
    // "mask..." key that is not a mask object of a plain number ("mask007", "mask-1", a "mask2"
    // that is an array), which the next save would drop.
    std::uint64_t masksLeftOut = 0;
    // Read only: how many of those are keys that could not be read, and the first few of them
    // (kMaskKeysUnreadNamed) in the file's order, to name.
    std::uint64_t masksUnread = 0;
    std::vector<std::string> maskKeysUnread;
    grainforge::mesh::RemeshSettings remesh;
    grainforge::mesh::DisplacementSettings displacement;
    grainforge::mesh::SimplifySettings simplify;
    bool stageRemesh = true;
    bool stageSubdivide = false;  // read from older projects only, never written
    bool stageDisplacement = true;
    bool stageSimplify = true;
    std::int32_t occupancyCells = 256;  // 128, 256 or 512 after reading
    std::uint64_t maximumTriangles = 18000000;
    std::uint64_t displayTriangles = 4000000;
    grainforge::mesh::ExportCleanupOptions exportCleanup;
    grainforge::mesh::RepairOptions exportFixes;
    grainforge::mesh::TextureSettings textureSettings;
    std::filesystem::path textureImagePath;
    std::string proceduralName;        // empty without a pattern
    std::string proceduralParameters;  // "key=value" lines
    std::string proceduralPreset;
    // Read only: each value the file holds outside its rule's range (ListProjectNumbers), in
    // the order listed. Such a value takes the nearest the rule takes, or the default where none
    // is nearest (not a number, a gamma of 0), as a typed one would; a placement that is no turn
    // takes the part as it was loaded.
    std::vector<HeldValue> valuesHeld;
    // Read only: each member the reader could not take, in the order the project writes its
    // keys; its field keeps the default. A triangle limit or test grid given as any number is
    // held instead (valuesHeld).
    std::vector<ReplacedValue> valuesReplaced;
    // Read only (ReadProject): the first members the file gives more than once, whose earlier
    // values were dropped for the last, and how many there are.
    std::vector<grainforge::mesh::JsonRepeatedMember> membersRepeated;
    std::size_t membersRepeatedCount = 0;
    // The members of the file no reader takes (a misspelt key, notes, sections of a newer
    // version), at their places: the writer puts them back after its own, as they were. A mask
    // volume's own are kept on the volume (MaskVolume::keptMembers). Null when there are none.
    std::shared_ptr<const grainforge::mesh::JsonValue> membersKept;
    // Read only: their keys for the warning, the first kMembersNotReadNamed, and how many.
    std::vector<std::string> membersNotRead;
    std::size_t membersNotReadCount = 0;
    // Read only: the "version" the file gives when it is newer than kProjectVersion, else 0.
    std::int64_t newerVersion = 0;
    // Read only: the entry of a part file beside a test shape this program makes, and of an
    // image beside a pattern, which the opening does not use: kept with membersKept and
    // saved back, and their keys, for the warning (FormatEntriesNotUsed).
    std::vector<std::string> partEntryNotUsed;
    std::vector<std::string> imageEntryNotUsed;
};

// The test shapes this program makes: "cube", "cylinder", "sphere".
bool IsMadeTestShape(std::string_view name);

// How many of the members not read the opening names.
inline constexpr std::size_t kMembersNotReadNamed = 8;

// How many of the mask keys that could not be read the opening names.
inline constexpr std::size_t kMaskKeysUnreadNamed = 3;

// The value of "application"; anything else (a trailing blank too) is another program's file.
inline constexpr std::string_view kProjectApplication = "Grainforge project";
inline constexpr std::int32_t kProjectVersion = 1;
// The surface-test resolutions the program offers.
inline constexpr std::int32_t kSurfaceTestCellChoices[3] = {128, 256, 512};
// " part.stl", " part 2.stl" ... up to this number; past it no name is free.
inline constexpr int kMaximumBesidePartNumber = 9999;

// Writes the project to a new temporary file beside it, reads that back and only when it
// holds the document meant renames it over `projectPath`; false with `error` = "the file could
// not be written" followed by ": " and the system's reason (no space left, read-only file
// system, a folder in the way, ...) when any step fails, or by ": the project would be larger
// than 16 MiB, the most a project may hold" when even its text without indent would be more
// than a reader takes (one only its indent takes past that is written without). The old file
// is then untouched and the temporary file removed; no other file is touched.
bool WriteProject(const std::filesystem::path& projectPath, const ProjectData& data, std::string& error);

// Whether WriteProject could put a project at `projectPath` as far as can be told before
// anything is made: false, with the text WriteProject would give, when a folder, a pipe, a
// device or a socket is there. A save that writes the changed part first asks this before.
bool CanWriteProjectAt(const std::filesystem::path& projectPath, std::string& error);

// Said when memory ran out while a project was read.
inline constexpr const char* kProjectMemoryError = "there was not enough memory to read the project";

// Reads a project into `data`, which is replaced only on success. Errors: "the file was not
// found", "the file could not be opened: " + the system's reason (such as "Permission
// denied"), "the file is not a regular file: it is a folder" (or a named pipe, a device, a
// socket), "the file is too large to be a project: it holds N bytes, and a project is at most
// 16 MiB", "the file could not be read: " + the system's reason, "the file is not a project
// (it could not be read as one)" for a file that is there but is not JSON, "the file is not a
// project (its values are nested more than 256 deep)" for JSON nested past kMaxJsonDepth, "the file is not a
// Tessary project", "the project names no part", and kProjectMemoryError. A key that is
// missing keeps the field's default; one of the wrong type does too and is named in
// valuesReplaced. Never throws.
bool ReadProject(const std::filesystem::path& projectPath, ProjectData& data, std::string& error);

// ReadProject on a document already parsed; `projectFolder` is where relative entries start.
bool ReadProjectJson(const grainforge::mesh::JsonView& root, const std::filesystem::path& projectFolder,
    ProjectData& data, std::string& error);

// `key` + ".path" (the path as given) and `key` + ".relative" (relative to `projectFolder`,
// with "/" separators, only when one exists). Nothing for an empty path. Both are UTF-8 for
// people; a name whose bytes are not UTF-8 also gets ".pathEscaped" and ".relativeEscaped",
// its bytes with each one outside UTF-8 (and "%") written as "%" and two hex digits, which the
// reader prefers, so such a name reopens exactly.
void WritePathEntry(const grainforge::mesh::JsonNode& node, std::string_view key,
    const std::filesystem::path& path, const std::filesystem::path& projectFolder);

// The ".relative" entry joined to `projectFolder` when something exists there ("\" separators
// of a project written on Windows are tried as "/" too); otherwise the ".path" entry as it
// stands or, when there is none, the ".relative" one joined to the folder: a name not found,
// to ask for. Empty when neither is there. A name holding a NUL byte is looked up nowhere and
// comes back whole, so that it is a name that is not found (see ProjectFileExists). When the
// name beside the project wins while the ".path" entry still names another file that exists
// (a project copied to where a different file of that name lies), that entry goes to
// `*passedOver`.
std::filesystem::path ReadPathEntry(const grainforge::mesh::JsonView& node, std::string_view key,
    const std::filesystem::path& projectFolder, std::filesystem::path* passedOver = nullptr);

// The lexical relative path from `base` to `path`, empty when there is none (different roots,
// one absolute and the other not). A "\\?\X:" prefix on both is taken off first.
std::filesystem::path MakeProjectRelativePath(const std::filesystem::path& path, const std::filesystem::path& base);

// The extension, lower-cased letter by letter, is ".gfproj".
bool IsProjectPath(const std::filesystem::path& path);

// Whether a part or image named by a project can be opened here: an absolute path of this
// system at which something exists. A path written on Windows ("C:\parts\a.stl") is relative
// here and would otherwise be looked up in the current folder. A name holding a NUL byte is
// never found: the system would read it only up to that byte, which is another file.
bool ProjectFileExists(const std::filesystem::path& path);

// The name holds a NUL byte (a project may carry one as "%00" or "\u0000"): it names no file.
bool NameHoldsNul(const std::filesystem::path& path);

// The pattern parameters of `text` ("key=value" lines, as a project stores them) that
// `pattern` holds at another value than the text gives, having read them (ParametersFromText
// holds each to its parameter's range), named by their labels. Lines it does not read count
// for nothing.
std::vector<HeldValue> HeldPatternParameters(const grainforge::mesh::procedural::ParameterSet& pattern,
    std::string_view text);

// The words of a pattern's or seamless method's parameter text `text`, which `set` has read
// (ParametersFromText), that are no value held, noted in `data` as a project's members are: a
// line naming no parameter among the members not read (kept by the set), a key given more than
// once among the repeated members, a value that is no number among the values replaced, named by
// `labelPrefix` and the parameter's label.
void NoteParameterWords(const grainforge::mesh::procedural::ParameterSet& set, std::string_view text,
    const std::string& labelPrefix, ProjectData& data);

// A member's key as a sentence names it: as it is, or, when it holds a control character or is
// long, as its JSON text shortened.
std::string MemberNameForSentence(const std::string& key);

// A parameter's value as its field takes it: a whole number for a count, a choice or a switch,
// else the shortest text that reads back as the float.
std::string ParameterValueText(const grainforge::mesh::procedural::ParameterSpec& spec, float value);

// "Triangle size -5 mm is now 0.01 mm; Gamma 0 is now 1": the values held, for the opening's
// warning.
std::string FormatHeldValues(const std::vector<HeldValue>& held);

// The values the reader replaced and then those it held, for the opening's warning:
// "remesh.targetEdgeMillimetres \"0.5\" is now 0.2; Gamma 0 is now 1". Empty when none was.
std::string FormatChangedValues(const std::vector<ReplacedValue>& replaced, const std::vector<HeldValue>& held);

// The opening's warning about the values changed: the sentence on those that took the nearest
// value their fields take, and the one on those that took their fields' defaults (replaced
// values, and held ones with no value nearest). Empty when none was.
std::string FormatChangedValuesWarning(const std::vector<ReplacedValue>& replaced, const std::vector<HeldValue>& held);

// The members no reader takes, for the opening's warning; empty when there are none: "The project
// holds members this version does not read: myNotes, remesh.targetEdgeMillimeters. They are kept
// as they are and saved with the project."
std::string FormatMembersNotRead(const ProjectData& data);

// The entries the opening did not use, for its warning; empty when there are none: "The project
// names both the test shape \"cube\" and a part file; the test shape was opened, and the part
// file's entry is kept as it is and saved with the project: part.path, part.relative."
std::string FormatEntriesNotUsed(const ProjectData& data);

// That the project comes from a newer version, and how a save writes it; empty when it does not.
// Saved as this version's: what this version writes follows its own meanings, which a newer
// program must not take for its own; the members it does not read go along unchanged.
std::string FormatNewerVersion(const ProjectData& data);

// The members given more than once, for the opening's warning; empty when none was: "The project
// gives some members more than once, and only the last of each is used: remesh.rounds 3 was
// dropped for 7."
std::string FormatRepeatedMembers(const ProjectData& data);

// What became of the mask entries not opened, for the opening's warning; empty when none was
// left out: "The project holds 300 mask volumes, more than a part takes; the first 256 were
// opened and 44 left out." or "...; 2 were opened and 1 left out: \"mask007\" could not be read."
std::string FormatMasksLeftOut(const ProjectData& data);

// Nearest offered resolution (128, 256, 512); a hand-edited 1024 would cost gigabytes.
std::int32_t ClampSurfaceTestCells(std::int32_t cells);

// ---- The part written beside a project ----------------------------------------------------

struct BesidePartChoice {
    std::filesystem::path chosen;        // empty when no name is free
    std::filesystem::path replacedPart;  // part of the project being overwritten, or empty
};

// The name for a changed part beside the project: the first of "<stem> part.stl",
// "<stem> part 2.stl", "<stem> part 3.stl", ... in the project's folder that is neither the
// part of the project at `projectPath` (when a readable project is there) nor
// `partSourcePath`, and at which nothing exists yet. The older part files stay as they are.
BesidePartChoice PartBesideProject(const std::filesystem::path& projectPath,
    const std::filesystem::path& partSourcePath);

// Writes the part as binary STL (header "Tessary") to a temporary file, reads it back and puts
// it in place under `path` only while nothing holds that name (a name chosen because it was
// free): whatever took the name in the meantime, a file, a link or a folder, is never
// replaced. False with the writer's text in `error`, and `*taken` set when the name was taken.
bool WritePartBesideProject(const std::filesystem::path& path, const grainforge::mesh::TriangleMesh& part,
    std::string& error, bool* taken = nullptr);

// The changed part written beside the project under the first free name (PartBesideProject).
// A name that another save or program takes between its choice and the placing stays theirs,
// and the next free name is taken instead. The name written; empty when no name was free or
// the write failed, with the reason in `error`, the name tried last in `*tried` (empty when
// none was free), and nothing of this write left behind.
std::filesystem::path WritePartUnderFreeBesideName(const std::filesystem::path& projectPath,
    const std::filesystem::path& partSourcePath, const grainforge::mesh::TriangleMesh& part, std::string& error,
    std::filesystem::path* tried = nullptr);

// Said when no beside name is free.
inline constexpr const char* kNoFreeBesideNameError = "no free name for it was found beside the project";

namespace detail {

// WritePartUnderFreeBesideName's tries, with the choice of a name given: `choose` is asked
// again after each name found taken, and gives an empty name when none is free.
std::filesystem::path WriteUnderFreeName(const std::function<std::filesystem::path()>& choose,
    const grainforge::mesh::TriangleMesh& part, std::string& error, std::filesystem::path* tried = nullptr);

}  // namespace detail

}  // namespace grainforge::app
