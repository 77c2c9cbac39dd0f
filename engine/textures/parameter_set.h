// Parameter sets: a short list of named, typed numeric settings described by a table. The
// procedural patterns and the seamless methods are parameter sets, so the dialogs, the
// document, the project file and the preset files edit, store and show their settings through
// this header without knowing the concrete class.
//
// Every value is a 32-bit float whatever its kind: an Integer holds a whole number, a Choice
// the 0-based index of its text, a Switch 0 or 1. Values are clamped to their entry's limits
// whenever they are set. Nothing here throws except on allocation failure.
#pragma once

#include "engine/files/json_settings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace grainforge::mesh::procedural {

enum class ParameterKind : std::int32_t {
    Real = 0,
    Integer = 1,
    Choice = 2,
    Switch = 3,
};

// One entry of a parameter table.
struct ParameterSpec {
    std::string key;    // lookups, text form and JSON; compared byte for byte
    std::string label;  // display label
    std::string help;   // one help sentence shown with the control
    ParameterKind kind = ParameterKind::Real;
    float minimum = 0.0f;
    float maximum = 1.0f;
    float defaultValue = 0.0f;  // stored as given; clamped only when values are reset or set
    float step = 0.01f;         // editing increment
    std::vector<std::string> choices;  // the texts of a Choice in index order; empty otherwise
};

ParameterSpec MakeFloatParameter(std::string key, std::string label, float minimum, float maximum,
                                 float defaultValue, std::string help, float step);
// Step 1.
ParameterSpec MakeIntParameter(std::string key, std::string label, std::int32_t minimum,
                               std::int32_t maximum, std::int32_t defaultValue, std::string help);
// Limits 0 to the number of choices - 1, step 1.
ParameterSpec MakeChoiceParameter(std::string key, std::string label, std::vector<std::string> choices,
                                  std::int32_t defaultIndex, std::string help);
// The "seed" entry shared by every seeded pattern and by "Histogram blend": 0 to 999.
ParameterSpec MakeSeedParameter();
// The "contrast" entry most patterns end with: 0 to 2, step 0.01, 1 leaving the heights as they come.
ParameterSpec MakeContrastParameter(float defaultValue = 1.0f);
// A table of the one "invert" switch that ends every pattern's combined table. Built once.
const std::vector<ParameterSpec>& MakeInvertParameter();

// The value made legal for the entry: a non-finite value gives the stored default; otherwise
// it is limited to the maximum, else to the minimum (so with a minimum above the maximum a
// value above the maximum gives the maximum), then Integer and Choice round halves away from
// zero and Switch gives 1 from 0.5 up, else 0.
float ClampParameterValue(const ParameterSpec& spec, float value);

// Base of the patterns and the seamless methods. Does not own its table: each concrete class
// returns one that lives for the whole run (or, for patterns, for the object's life).
class ParameterSet {
public:
    virtual ~ParameterSet() = default;
    // Display name, as shown in lists and stored in files.
    virtual const std::string& Name() const = 0;
    virtual const std::vector<ParameterSpec>& GetParameters() const = 0;

    // The value of the first entry with this key; the entry's default (as stored) where
    // `values` is too short; 0 for a key that is not in the table.
    float GetValue(std::string_view key) const;
    // Stores the clamped value; false, with nothing changed, for a key not in the table. When
    // `values` does not hold one value per entry, every value is reset to its default first.
    bool SetValue(std::string_view key, float value);
    // One value per entry, each its entry's clamped default. The words kept unread (below) are
    // dropped with the values they came with.
    void ResetToDefaults();

    // One value per table entry in table order once reset; empty for a new set.
    std::vector<float> values;
    // The lines of the text form last read (ParametersFromText) that name no entry of the table
    // (a newer version's parameter, a note), as they were, each ending with "\n": written back
    // after the entries (ParametersToText), so a save or an undo keeps them.
    std::string linesNotRead;
    // The members of the object last read (ReadParameters) that name no entry (a newer
    // version's parameter, a note), as they were: written back after the entries
    // (WriteParameters), so a preset saved again keeps them. Null when there were none.
    std::shared_ptr<const JsonValue> membersNotRead;
};

// Whether two sets' kept members (ParameterSet::membersNotRead) are the same: both none, or
// equal JSON.
[[nodiscard]] bool SameMembersNotRead(const std::shared_ptr<const JsonValue>& a, const std::shared_ptr<const JsonValue>& b);

// "Name: Label value, Label value" for the log.
std::string DescribeParameters(const ParameterSet& set);

// "key=value\n" per entry in table order, each value with 9 significant digits so it reads
// back as the same float (0.7 is written as 0.699999988).
std::string ParametersToText(const ParameterSet& set);
// One readable "key=value" line of a parameter text: the key as written (a view into the text)
// and the number read.
struct ParameterTextEntry {
    std::string_view key;
    double value = 0.0;
};
// The readable lines of a parameter text in order; lines without "=" or without a readable
// number are skipped. ParametersFromText takes these, and so does the project's note on the
// values a pattern held to its ranges.
std::vector<ParameterTextEntry> ReadParameterText(std::string_view text);
// Sets every entry named by a "key=value" line; other entries keep their values, lines
// without "=" or without a readable number and keys not in the table are skipped. The lines
// that name no entry become the set's linesNotRead.
void ParametersFromText(ParameterSet& set, std::string_view text);

// An entry named by more than one line with a number: the last one is used.
struct RepeatedParameterWord {
    std::string_view key;
    std::string_view dropped;  // the first value text given
    std::string_view kept;     // the last, which the set holds
    std::size_t times = 0;
};
// A line of a text form that names an entry with no number: its key and value text.
struct ParameterWordNotNumber {
    std::string_view key;
    std::string_view text;
};
// What each line of a text form comes to for a set, read as ParametersFromText reads it. Views
// into the text; value texts without white space round them. Blank lines count for nothing.
struct ParameterWords {
    // Lines that name no entry: the key, or the whole line where it has no "=".
    std::vector<std::string_view> notRead;
    std::vector<std::string_view> notReadLines;  // those lines as written
    std::vector<ParameterWordNotNumber> notNumbers;
    std::vector<RepeatedParameterWord> repeated;
};
ParameterWords SortParameterWords(const ParameterSet& set, std::string_view text);

// The values as members of the given object: Real as the shortest float, Integer and Choice
// as rounded integers, Switch as a boolean.
void WriteParameters(const ParameterSet& set, JsonNode object);
// What ReadParameters did not use of an object, in the object's order.
struct ParameterMembersNotUsed {
    std::vector<std::string> notRead;  // the keys of members that name no entry
    struct NotTaken {
        std::string key;    // the entry's key
        std::string given;  // the member's value as ShortJsonText says it
    };
    std::vector<NotTaken> notTaken;  // members naming an entry with a value it does not take
};
// Reads the members that WriteParameters writes: a Switch takes only a boolean, the other
// kinds only a number a float can hold (then clamped and rounded). Entries without a usable
// member keep their values. Members not in the table are kept as the set's membersNotRead
// (null when there are none); they and the members whose values were not taken are returned.
ParameterMembersNotUsed ReadParameters(ParameterSet& set, const JsonView& object);

}  // namespace grainforge::mesh::procedural
