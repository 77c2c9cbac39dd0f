#include "engine/textures/parameter_set.h"
#include "engine/mesh/report_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace grainforge::mesh::procedural {

namespace {

// Doubles below this magnitude narrow to a finite float; above it the IEEE result is an
// infinity, produced here explicitly rather than by an out-of-range conversion.
constexpr double kFloatRoundingLimit = 0x1.ffffffp+127;

float NarrowToFloat(double value)
{
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    if (std::fabs(value) < kFloatRoundingLimit)
        return static_cast<float>(value);
    return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
}

// Rounded half away from zero and limited to the 32-bit range (NaN gives 0), so a value
// outside the table's limits can never make the conversion undefined.
std::int32_t RoundToInt32(float value)
{
    const double rounded = std::round(static_cast<double>(value));
    if (std::isnan(rounded))
        return 0;
    if (rounded <= std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (rounded >= std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(rounded);
}

std::string FormatFloat(float value, std::chars_format format, int precision)
{
    char text[128];
    const std::to_chars_result written = std::to_chars(text, text + sizeof text, value, format, precision);
    return std::string(text, written.ptr);
}

// The rounded value as a decimal integer; values beyond 64 bits are printed without a
// conversion.
std::string FormatRoundedInteger(float value)
{
    const float rounded = std::round(value);
    if (std::fabs(rounded) < 1e18f)
        return std::to_string(static_cast<long long>(rounded));
    return FormatFloat(rounded, std::chars_format::fixed, 0);
}

std::string FormatValueForLog(const ParameterSpec& spec, float value)
{
    switch (spec.kind) {
    case ParameterKind::Integer:
        return FormatRoundedInteger(value);
    case ParameterKind::Choice: {
        const float rounded = std::round(value);
        const float index = rounded > 0.0f ? rounded : 0.0f;  // NaN counts as 0 too
        if (index < static_cast<float>(spec.choices.size()))
            return spec.choices[static_cast<std::size_t>(index)];
        return FormatRoundedInteger(index);
    }
    case ParameterKind::Switch:
        return value >= 0.5f ? "on" : "off";
    case ParameterKind::Real:
        break;
    }
    return mesh::FormatFixed(value, 2);
}

// The C library's white-space characters in the C locale.
bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A decimal number at the start of `text` after white space, read in the C locale whatever
// the process locale is; reading stops at the first character that cannot continue it.
bool ReadLeadingNumber(std::string_view text, double& value)
{
    std::size_t at = 0;
    while (at < text.size() && IsCSpace(text[at]))
        ++at;
    if (at < text.size() && text[at] == '+') {
        ++at;
        if (at < text.size() && text[at] == '-')
            return false;
    }
    const char* begin = text.data() + at;
    // A number beyond the double range counts as unreadable: its line is skipped.
    const std::from_chars_result read = std::from_chars(begin, text.data() + text.size(), value);
    return read.ec == std::errc() && read.ptr != begin;
}

// One value per entry, each its entry's clamped default.
std::vector<float> DefaultValues(const std::vector<ParameterSpec>& table)
{
    std::vector<float> values(table.size());
    for (std::size_t i = 0; i < table.size(); ++i)
        values[i] = ClampParameterValue(table[i], table[i].defaultValue);
    return values;
}

}  // namespace

ParameterSpec MakeFloatParameter(std::string key, std::string label, float minimum, float maximum,
                                 float defaultValue, std::string help, float step)
{
    ParameterSpec spec;
    spec.key = std::move(key);
    spec.label = std::move(label);
    spec.help = std::move(help);
    spec.kind = ParameterKind::Real;
    spec.minimum = minimum;
    spec.maximum = maximum;
    spec.defaultValue = defaultValue;
    spec.step = step;
    return spec;
}

ParameterSpec MakeIntParameter(std::string key, std::string label, std::int32_t minimum,
                               std::int32_t maximum, std::int32_t defaultValue, std::string help)
{
    ParameterSpec spec;
    spec.key = std::move(key);
    spec.label = std::move(label);
    spec.help = std::move(help);
    spec.kind = ParameterKind::Integer;
    spec.minimum = static_cast<float>(minimum);
    spec.maximum = static_cast<float>(maximum);
    spec.defaultValue = static_cast<float>(defaultValue);
    spec.step = 1.0f;
    return spec;
}

ParameterSpec MakeChoiceParameter(std::string key, std::string label, std::vector<std::string> choices,
                                  std::int32_t defaultIndex, std::string help)
{
    ParameterSpec spec;
    spec.key = std::move(key);
    spec.label = std::move(label);
    spec.help = std::move(help);
    spec.kind = ParameterKind::Choice;
    spec.minimum = 0.0f;
    spec.maximum = static_cast<float>(static_cast<std::int64_t>(choices.size()) - 1);
    spec.defaultValue = static_cast<float>(defaultIndex);
    spec.step = 1.0f;
    spec.choices = std::move(choices);
    return spec;
}

ParameterSpec MakeSeedParameter()
{
    return MakeIntParameter("seed", "Seed", 0, 999, 0, "Another seed is another pattern with the same look");
}

ParameterSpec MakeContrastParameter(float defaultValue)
{
    return MakeFloatParameter("contrast", "Contrast", 0.0f, 2.0f, defaultValue,
                              "1 as it comes; more spreads the heights apart", 0.01f);
}

const std::vector<ParameterSpec>& MakeInvertParameter()
{
    static const std::vector<ParameterSpec> table = [] {
        ParameterSpec spec;
        spec.key = "invert";
        spec.label = "Invert";
        spec.help = "Turn the pattern inside out: what stood proud is cut in, and what was cut in stands proud";
        spec.kind = ParameterKind::Switch;
        spec.minimum = 0.0f;
        spec.maximum = 1.0f;
        spec.defaultValue = 0.0f;
        spec.step = 1.0f;
        return std::vector<ParameterSpec>{std::move(spec)};
    }();
    return table;
}

float ClampParameterValue(const ParameterSpec& spec, float value)
{
    if (!std::isfinite(value))
        return spec.defaultValue;
    if (value > spec.maximum)
        value = spec.maximum;
    else if (value < spec.minimum)
        value = spec.minimum;
    switch (spec.kind) {
    case ParameterKind::Integer:
    case ParameterKind::Choice:
        return std::round(value);
    case ParameterKind::Switch:
        return value >= 0.5f ? 1.0f : 0.0f;
    case ParameterKind::Real:
        break;
    }
    return value;
}

float ParameterSet::GetValue(std::string_view key) const
{
    const std::vector<ParameterSpec>& table = GetParameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].key == key)
            return i < values.size() ? values[i] : table[i].defaultValue;
    }
    return 0.0f;
}

bool ParameterSet::SetValue(std::string_view key, float value)
{
    const std::vector<ParameterSpec>& table = GetParameters();
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i].key != key)
            continue;
        // Only the values are filled in: the words kept unread stay with the set being read.
        if (values.size() != table.size())
            values = DefaultValues(table);
        values[i] = ClampParameterValue(table[i], value);
        return true;
    }
    return false;
}

void ParameterSet::ResetToDefaults()
{
    values = DefaultValues(GetParameters());
    // They came with the values now replaced; kept, a save would write them with values they
    // were never given beside.
    linesNotRead.clear();
    membersNotRead.reset();
}

bool SameMembersNotRead(const std::shared_ptr<const JsonValue>& a, const std::shared_ptr<const JsonValue>& b)
{
    if (a == nullptr || b == nullptr)
        return a == b;
    return *a == *b;
}

std::string DescribeParameters(const ParameterSet& set)
{
    std::string text = set.Name() + ":";
    bool first = true;
    for (const ParameterSpec& spec : set.GetParameters()) {
        text += first ? " " : ", ";
        first = false;
        text += spec.label;
        text += ' ';
        text += FormatValueForLog(spec, set.GetValue(spec.key));
    }
    return text;
}

std::string ParametersToText(const ParameterSet& set)
{
    std::string text;
    for (const ParameterSpec& spec : set.GetParameters()) {
        text += spec.key;
        text += '=';
        text += FormatFloat(set.GetValue(spec.key), std::chars_format::general, 9);
        text += '\n';
    }
    return text + set.linesNotRead;
}

std::vector<ParameterTextEntry> ReadParameterText(std::string_view text)
{
    std::vector<ParameterTextEntry> entries;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos)
            continue;
        double number = 0.0;
        if (ReadLeadingNumber(line.substr(equals + 1), number))
            entries.push_back({line.substr(0, equals), number});
    }
    return entries;
}

void ParametersFromText(ParameterSet& set, std::string_view text)
{
    for (const ParameterTextEntry& entry : ReadParameterText(text))
        set.SetValue(entry.key, NarrowToFloat(entry.value));
    std::string notRead;
    for (const std::string_view line : SortParameterWords(set, text).notReadLines)
        notRead.append(line).push_back('\n');
    set.linesNotRead = std::move(notRead);
}

ParameterWords SortParameterWords(const ParameterSet& set, std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\v\f";
    const auto trim = [&](std::string_view part) {
        const std::size_t first = part.find_first_not_of(kBlanks);
        if (first == std::string_view::npos)
            return std::string_view();
        return part.substr(first, part.find_last_not_of(kBlanks) - first + 1);
    };
    const std::vector<ParameterSpec>& table = set.GetParameters();
    ParameterWords words;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (trim(line).empty())
            continue;
        const std::size_t equals = line.find('=');
        const std::string_view key = line.substr(0, equals);
        const bool known = equals != std::string_view::npos &&
            std::any_of(table.begin(), table.end(), [&](const ParameterSpec& spec) { return spec.key == key; });
        if (!known) {
            words.notRead.push_back(equals == std::string_view::npos ? trim(line) : key);
            words.notReadLines.push_back(line);
            continue;
        }
        const std::string_view value = trim(line.substr(equals + 1));
        double number = 0.0;
        if (!ReadLeadingNumber(value, number)) {
            words.notNumbers.push_back({key, value});
            continue;
        }
        const auto repeated = std::find_if(words.repeated.begin(), words.repeated.end(),
            [&](const RepeatedParameterWord& word) { return word.key == key; });
        if (repeated == words.repeated.end())
            words.repeated.push_back({key, value, value, 1});
        else
            repeated->kept = value, ++repeated->times;
    }
    std::erase_if(words.repeated, [](const RepeatedParameterWord& word) { return word.times < 2; });
    return words;
}

void WriteParameters(const ParameterSet& set, JsonNode object)
{
    for (const ParameterSpec& spec : set.GetParameters()) {
        const float value = set.GetValue(spec.key);
        switch (spec.kind) {
        case ParameterKind::Real:
            object.PutFloat(spec.key, value);
            break;
        case ParameterKind::Integer:
        case ParameterKind::Choice:
            object.PutInt(spec.key, RoundToInt32(value));
            break;
        case ParameterKind::Switch:
            object.PutBool(spec.key, value >= 0.5f);
            break;
        }
    }
    // Kept members go back after the entries, as they were; a key the table now names is the
    // entry's own.
    JsonValue* written = object.Resolve();
    if (set.membersNotRead == nullptr || written == nullptr || !written->is_object() || !set.membersNotRead->is_object())
        return;
    for (const auto& member : set.membersNotRead->items())
        if (!written->contains(member.key()))
            (*written)[member.key()] = member.value();
}

ParameterMembersNotUsed ReadParameters(ParameterSet& set, const JsonView& object)
{
    ParameterMembersNotUsed notUsed;
    for (const ParameterSpec& spec : set.GetParameters()) {
        const JsonView member = object.FindMember(spec.key);
        bool taken = member.IsEmpty();
        if (spec.kind == ParameterKind::Switch) {
            bool on = false;
            if (member.TakeBool(on)) {
                set.SetValue(spec.key, on ? 1.0f : 0.0f);
                taken = true;
            }
        } else if (float number = 0.0f; member.TakeFloat(number)) {
            set.SetValue(spec.key, number);
            taken = true;
        }
        if (!taken)
            notUsed.notTaken.push_back({spec.key, ShortJsonText(*member.value)});
    }
    set.membersNotRead.reset();
    if (object.value == nullptr || !object.value->is_object())
        return notUsed;
    const std::vector<ParameterSpec>& table = set.GetParameters();
    auto kept = std::make_shared<JsonValue>(JsonValue::object());
    for (const auto& member : object.value->items()) {
        const bool known = std::any_of(table.begin(), table.end(),
            [&](const ParameterSpec& spec) { return spec.key == member.key(); });
        if (known)
            continue;
        notUsed.notRead.push_back(member.key());
        (*kept)[member.key()] = member.value();
    }
    if (!kept->empty())
        set.membersNotRead = std::move(kept);
    return notUsed;
}

}  // namespace grainforge::mesh::procedural
