#include "app/document/log_text.h"

#include "engine/mesh/report_text.h"
#include "platform/shown_text.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace grainforge::app {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendWide(std::wstring& out, char32_t c)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

// Decodes one UTF-8 sequence at `i` into `c`, moving `i` past it. False for a byte that does
// not start a valid sequence (truncated, overlong, a surrogate, past U+10FFFF): `i` has then
// moved past the bytes looked at, at least one.
bool DecodeUtf8(std::string_view s, std::size_t& i, char32_t& c)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i++);
    if (lead < 0x80) {
        c = lead;
        return true;
    }
    int extra = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
        return false;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= s.size() || (byte(i) & 0xC0) != 0x80)
            return false;
        c = (c << 6) | (byte(i++) & 0x3F);
    }
    return c >= least && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

// A byte outside UTF-8 kept in a file name's wide text.
constexpr char32_t kEscapeBase = 0xDC00;
bool IsEscapedByte(char32_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

// The code point at `i` of wide text, moving `i` past it; pairs are joined where wchar_t is
// 16 bits, a lone surrogate is returned as it is.
char32_t NextWide(std::wstring_view wide, std::size_t& i)
{
    char32_t c = static_cast<char32_t>(wide[i++]);
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0xD800 && c <= 0xDBFF && i < wide.size()) {
            const char32_t low = static_cast<char32_t>(wide[i]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
    }
    return c;
}

bool IsScalarValue(char32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

}  // namespace

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}


std::string FormatThousands(std::uint64_t n)
{
    return grainforge::mesh::FormatCountGrouped(n);
}

namespace {

// One conversion as printf writes it; `spec` is a whole conversion ("%-8.3f").
template <class Value>
std::string PrintedConversion(const std::string& spec, Value value)
{
    const int length = std::snprintf(nullptr, 0, spec.c_str(), value);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), spec.c_str(), value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// A floating conversion, written as zero when printf would show a signed zero ("-0.000").
template <class Value>
std::string PrintedFloating(const std::string& spec, Value value)
{
    std::string text = PrintedConversion(spec, value);
    return mesh::IsNegativeZeroText(text) ? PrintedConversion(spec, static_cast<Value>(0)) : text;
}

// The width or precision digits at `p`, or a '*' read from the arguments.
void CopyCount(const char*& p, std::string& spec, va_list* args)
{
    if (*p == '*') {
        spec += std::to_string(va_arg(*args, int));
        ++p;
        return;
    }
    while (*p >= '0' && *p <= '9')
        spec += *p++;
}

// Writes the conversion at `p` (just past its '%') with its argument and moves `p` past it.
void AppendConversion(std::string& out, const char*& p, va_list* args)
{
    std::string spec = "%";
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr)
        spec += *p++;
    CopyCount(p, spec, args);
    if (*p == '.') {
        spec += *p++;
        CopyCount(p, spec, args);
    }
    std::string length;
    while (*p != '\0' && std::strchr("hljztL", *p) != nullptr)
        length += *p++;
    const char conversion = *p;
    if (conversion == '\0')
        return;
    ++p;
    spec += length;
    spec += conversion;
    switch (conversion) {
    case 'd':
    case 'i':
        if (length == "l") out += PrintedConversion(spec, va_arg(*args, long));
        else if (length == "ll") out += PrintedConversion(spec, va_arg(*args, long long));
        else if (length == "j") out += PrintedConversion(spec, va_arg(*args, std::intmax_t));
        else if (length == "z" || length == "t") out += PrintedConversion(spec, va_arg(*args, std::ptrdiff_t));
        else out += PrintedConversion(spec, va_arg(*args, int));  // char and short arrive as int
        break;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        if (length == "l") out += PrintedConversion(spec, va_arg(*args, unsigned long));
        else if (length == "ll") out += PrintedConversion(spec, va_arg(*args, unsigned long long));
        else if (length == "j") out += PrintedConversion(spec, va_arg(*args, std::uintmax_t));
        else if (length == "z" || length == "t") out += PrintedConversion(spec, va_arg(*args, std::size_t));
        else out += PrintedConversion(spec, va_arg(*args, unsigned int));
        break;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        if (length == "L") out += PrintedFloating(spec, va_arg(*args, long double));
        else out += PrintedFloating(spec, va_arg(*args, double));
        break;
    case 'c': out += PrintedConversion(spec, va_arg(*args, int)); break;
    case 's':
        if (length == "l") out += PrintedConversion(spec, va_arg(*args, const wchar_t*));
        else out += PrintedConversion(spec, va_arg(*args, const char*));
        break;
    case 'p': out += PrintedConversion(spec, va_arg(*args, void*)); break;
    default: break;  // %n and unknown conversions write nothing
    }
}

}  // namespace

std::string FormatTextV(const char* format, va_list args)
{
    std::string out;
    if (format == nullptr)
        return out;
    va_list own;
    va_copy(own, args);
    for (const char* p = format; *p != '\0';) {
        if (*p != '%') {
            out += *p++;
        } else if (p[1] == '%') {
            out += '%';
            p += 2;
        } else {
            ++p;
            AppendConversion(out, p, &own);
        }
    }
    va_end(own);
    return out;
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string out = FormatTextV(format, args);
    va_end(args);
    return out;
}

std::string FormatFloat3(float x)
{
    return FormatText("%.3f", static_cast<double>(x));
}

std::string FormatVec3(grainforge::mesh::Vec3 v)
{
    return FormatFloat3(v.x) + ", " + FormatFloat3(v.y) + ", " + FormatFloat3(v.z);
}

std::wstring Utf8ToWide(std::string_view utf8)
{
    std::wstring out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        AppendWide(out, DecodeUtf8(utf8, i, c) ? c : kReplacement);
    }
    return out;
}

std::string WideToUtf8(std::wstring_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size();) {
        const char32_t c = NextWide(wide, i);
        AppendUtf8(out, IsScalarValue(c) ? c : kReplacement);
    }
    return out;
}

std::wstring DisplayText(std::wstring_view wide)
{
    std::wstring out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size();) {
        const char32_t c = NextWide(wide, i);
        AppendWide(out, IsScalarValue(c) ? c : kReplacement);
    }
    return out;
}

std::wstring PathToWide(const std::filesystem::path& path)
{
    const std::string_view bytes = path.native();
    std::wstring out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        char32_t c = 0;
        if (DecodeUtf8(bytes, i, c)) {
            AppendWide(out, c);
        } else {
            // Only the first byte is kept as an escape; the next ones may start a valid sequence.
            i = start + 1;
            out += static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[start]));
        }
    }
    return out;
}

std::filesystem::path PathFromWide(std::wstring_view wide)
{
    std::string bytes;
    bytes.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size();) {
        const char32_t c = NextWide(wide, i);
        if (IsEscapedByte(c))
            bytes += static_cast<char>(c - kEscapeBase);
        else
            AppendUtf8(bytes, IsScalarValue(c) ? c : kReplacement);
    }
    return std::filesystem::path(std::move(bytes));
}

std::string PathToUtf8(const std::filesystem::path& path)
{
    return platform::ShownName(path);
}

std::wstring PathToDisplay(const std::filesystem::path& path)
{
    return Utf8ToWide(platform::ShownName(path));
}

std::string PathToPlainUtf8(const std::filesystem::path& path)
{
    return WideToUtf8(PathToWide(path));
}

bool IsUtf8Path(const std::filesystem::path& path)
{
    const std::string_view bytes = path.native();
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t c = 0;
        if (!DecodeUtf8(bytes, i, c))
            return false;
    }
    return true;
}

std::vector<std::string> SplitLogLines(std::string_view text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view piece = text.substr(start, end - start);
        if (!piece.empty() && piece.back() == '\r')
            piece.remove_suffix(1);
        lines.emplace_back(piece);
        start = end + 1;
    }
    return lines;
}

std::string StripTimings(std::string_view input)
{
    std::string line(input);
    for (;;) {
        const std::size_t ms = line.find(" ms)");
        if (ms == std::string::npos)
            break;
        std::size_t open = line.rfind('(', ms);
        if (open == std::string::npos)
            break;
        const std::size_t end = ms + 4;
        while (open > 0 && line[open - 1] == ' ')
            --open;
        line.erase(open, end - open);
    }
    std::size_t p = line.find_first_not_of(" \t");
    if (p != std::string::npos && line.compare(p, 3, "in ") == 0) {
        p += 3;
        const std::size_t digits = line.find_first_not_of("0123456789.", p);
        if (digits != std::string::npos && digits > p && line.compare(digits, std::string::npos, " ms") == 0)
            return {};
    }
    return line;
}

}  // namespace grainforge::app
