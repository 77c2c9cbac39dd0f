#include "app/document/name_case.h"

#include "app/document/log_text.h"

namespace grainforge::app {
namespace {

// Marks a byte that does not start a valid UTF-8 sequence.
constexpr char32_t kInvalidByte = 0xFFFFFFFFu;

struct Decoded {
    char32_t codePoint = kInvalidByte;
    std::size_t length = 1;
};

// The code point starting at `at`; overlong forms, encoded surrogates and values beyond
// U+10FFFF are invalid, and then only the first byte is consumed.
Decoded DecodeAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = 0;
    char32_t value = 0;
    char32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1Fu, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0Fu, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07u, smallest = 0x10000;
    } else {
        return {};
    }
    if (text.size() - at < length)
        return {};
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {};
        value = (value << 6) | (byte(at + i) & 0x3Fu);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {};
    return {value, length};
}

bool InRange(char16_t unit, char16_t first, char16_t last) { return unit >= first && unit <= last; }

// Blocks where an upper-case letter is followed by its lower-case partner.
bool IsEvenUpperOfPair(char16_t unit)
{
    return ((InRange(unit, 0x0100, 0x012F) || InRange(unit, 0x0132, 0x0137) || InRange(unit, 0x014A, 0x0177) ||
             InRange(unit, 0x0460, 0x0481) || InRange(unit, 0x048A, 0x04BF) || InRange(unit, 0x04D0, 0x052F) ||
             InRange(unit, 0x1E00, 0x1E95) || InRange(unit, 0x1EA0, 0x1EFF)) &&
            unit % 2 == 0) ||
           ((InRange(unit, 0x0139, 0x0148) || InRange(unit, 0x0179, 0x017E) || InRange(unit, 0x04C1, 0x04CE)) &&
            unit % 2 == 1);
}

}  // namespace

char16_t LowerCaseUnit(char16_t unit)
{
    const auto plus = [unit](int offset) { return static_cast<char16_t>(unit + offset); };
    if (InRange(unit, u'A', u'Z') || (InRange(unit, 0x00C0, 0x00DE) && unit != 0x00D7))
        return plus(32);
    if (IsEvenUpperOfPair(unit))
        return plus(1);
    if (InRange(unit, 0x0391, 0x03AB) && unit != 0x03A2)  // Greek; 0x03A2 is unassigned
        return plus(32);
    if (InRange(unit, 0x0410, 0x042F) || InRange(unit, 0xFF21, 0xFF3A))
        return plus(32);
    if (InRange(unit, 0x0400, 0x040F))
        return plus(80);
    if (InRange(unit, 0x0531, 0x0556))
        return plus(48);
    if (InRange(unit, 0x0388, 0x038A))
        return plus(37);
    if (InRange(unit, 0x038E, 0x038F))
        return plus(63);
    switch (unit) {
    case 0x0130: return u'i';  // capital I with dot above
    case 0x0178: return 0x00FF;
    case 0x0386: return 0x03AC;
    case 0x038C: return 0x03CC;
    case 0x04C0: return 0x04CF;
    default: return unit;
    }
}

std::u16string ToUtf16Units(std::string_view utf8)
{
    std::u16string units;
    units.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const Decoded decoded = DecodeAt(utf8, at);
        if (decoded.codePoint == kInvalidByte) {
            units += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(utf8[at]));
        } else if (decoded.codePoint >= 0x10000) {
            const char32_t offset = decoded.codePoint - 0x10000;
            units += static_cast<char16_t>(0xD800 + (offset >> 10));
            units += static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
        } else {
            units += static_cast<char16_t>(decoded.codePoint);
        }
        at += decoded.length;
    }
    return units;
}

std::string LowerCaseName(std::string_view utf8)
{
    std::string lower;
    lower.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const Decoded decoded = DecodeAt(utf8, at);
        if (decoded.codePoint == kInvalidByte)
            lower += utf8[at];
        else if (decoded.codePoint < 0x10000)
            AppendUtf8(lower, LowerCaseUnit(static_cast<char16_t>(decoded.codePoint)));
        else
            AppendUtf8(lower, decoded.codePoint);
        at += decoded.length;
    }
    return lower;
}

}  // namespace grainforge::app
