#include "platform/shown_text.h"

#include <cstdint>

namespace grainforge::platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at `at` and its character; 0 when the byte there
// starts none (a continuation byte, a cut sequence, an overlong form, a surrogate, past
// U+10FFFF).
std::size_t DecodeAt(std::string_view text, std::size_t at, char32_t& c)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    const std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4                                ? 4
                                                                                             : 0;
    if (length == 0 || text.size() - at < length)
        return 0;
    c = lead & (0x7F >> length);
    for (std::size_t i = at + 1; i < at + length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    return c >= kLeast[length] && c <= 0x10FFFF && !surrogate ? length : 0;
}

void AppendEscaped(std::string& out, std::string_view bytes)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char b : bytes) {
        const auto byte = static_cast<std::uint8_t>(b);
        out.append("\\x").append(1, kHex[byte >> 4]).append(1, kHex[byte & 15]);
    }
}

}  // namespace

bool IsActingCharacter(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

std::string ShownText(std::string_view bytes, BrokenUtf8 broken)
{
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c = 0;
        const std::size_t length = DecodeAt(bytes, i, c);
        if (length == 0) {
            // Only this byte is taken: the next may start a valid sequence.
            if (broken == BrokenUtf8::Replaced)
                out += kReplacement;
            else
                AppendEscaped(out, bytes.substr(i, 1));
            ++i;
        } else if (IsActingCharacter(c)) {
            AppendEscaped(out, bytes.substr(i, length));
            i += length;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string ShownName(const std::filesystem::path& path)
{
    return ShownText(path.native());
}

}  // namespace grainforge::platform
