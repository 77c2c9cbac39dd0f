#include "engine/mesh/report_text.h"

#include "platform/shown_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace grainforge::mesh {

namespace {

// std::to_chars formats as printf does in the C locale, whatever the process locale is. A
// value written as a signed zero is written again as zero.
std::string FormatWithPrecision(double value, std::chars_format format, int precision)
{
    char buffer[400];  // "%.2f" of the largest double needs 312 characters
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    if (result.ec != std::errc())
        return "?";
    std::string text(buffer, result.ptr);
    if (IsNegativeZeroText(text))
        return FormatWithPrecision(0.0, format, precision);
    return text;
}

}  // namespace

bool IsNegativeZeroText(std::string_view text)
{
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos || text[i] != '-')
        return false;
    bool zeroDigit = false;
    bool point = false;
    for (++i; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '0') {
            zeroDigit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else if ((c == 'e' || c == 'E') && zeroDigit) {
            return true;  // the exponent of a zero changes nothing
        } else if (c == ' ') {
            return zeroDigit && text.find_first_not_of(' ', i) == std::string_view::npos;
        } else {
            return false;
        }
    }
    return zeroDigit;
}

std::string FormatFixed(double value, int decimals)
{
    return FormatWithPrecision(value, std::chars_format::fixed, decimals);
}

std::string FormatCountGrouped(std::uint64_t count)
{
    const std::string digits = std::to_string(count);
    std::string text;
    text.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text.push_back(',');
        text.push_back(digits[i]);
    }
    return text;
}

std::string_view PluralWord(std::uint64_t count, std::string_view one, std::string_view many)
{
    return count == 1 ? one : many;
}

std::string FormatCountOf(std::uint64_t count, std::string_view one, std::string_view many)
{
    return FormatCountGrouped(count) + " " + std::string(PluralWord(count, one, many));
}

std::string FormatMillimetres2(float value)
{
    return FormatFixed(value, 2);
}

namespace {

int LengthDecimals(double magnitude, int mostDecimals = kMostLengthDecimals)
{
    // Two significant digits: the first sits at -floor(log10) decimals, the second one later.
    if (std::isfinite(magnitude) && magnitude > 0.0 && magnitude < 0.1)
        return std::clamp(static_cast<int>(-std::floor(std::log10(magnitude))) + 1, 2, mostDecimals);
    return 2;
}

// Two decimals, or as many more as the first two significant digits need (at most
// `mostDecimals`), trailing zeros past the second decimal dropped.
std::string FormatTwoDecimalsOrDigits(double value, int mostDecimals)
{
    const int decimals = LengthDecimals(std::fabs(value), mostDecimals);
    std::string text = FormatFixed(value, decimals);
    const std::size_t point = text.find('.');
    if (point == std::string::npos)
        return text;
    std::size_t end = text.size();
    while (end > point + 3 && text[end - 1] == '0')
        --end;
    return text.substr(0, end);
}

}  // namespace

std::string FormatLength(double millimetres)
{
    return FormatTwoDecimalsOrDigits(millimetres, kMostLengthDecimals);
}

std::string FormatVolume(double cubicMillimetres)
{
    return FormatTwoDecimalsOrDigits(cubicMillimetres, kMostVolumeDecimals);
}

float RoundLengthUp(float millimetres)
{
    if (!(millimetres > 0.0f) || !std::isfinite(millimetres))
        return millimetres;
    const double scale = std::pow(10.0, LengthDecimals(millimetres));
    // Rounding up may reach the next power of ten, which FormatLength writes with fewer decimals.
    // The float's own rounding (a part in ten million) does not count as a digit to round up.
    const double up = std::ceil(static_cast<double>(millimetres) * scale * (1.0 - 1e-6)) / scale;
    float value = static_cast<float>(up);
    if (value < millimetres)
        value = std::nextafter(value, std::numeric_limits<float>::infinity());
    return value;
}

float SearchAdvisedLength(float start, double excess, const std::function<bool(float)>& fits)
{
    constexpr double kStep = 1.05;  // upward from the first guess while it does not fit
    constexpr double kMostFactor = 1000.0;
    constexpr int kMostBisections = 64;
    if (!(start > 0.0f) || !std::isfinite(start))
        return 0.0f;
    double size = start * std::sqrt(std::isfinite(excess) ? std::max(excess, 1.0) : kMostFactor);
    float fitting = 0.0f;
    while (size < start * kMostFactor) {
        const float written = RoundLengthUp(static_cast<float>(size));
        if (fits(written)) {
            fitting = written;
            break;
        }
        size = std::max<double>(size * kStep, written);
    }
    if (fitting == 0.0f)
        return 0.0f;
    // The guess may have overshot (memory that falls with the cube of the size): halve the gap
    // between the start, which does not fit, and the size that does, among written sizes only.
    float failing = start;
    for (int step = 0; step < kMostBisections; ++step) {
        float middle = RoundLengthUp(static_cast<float>(0.5 * (static_cast<double>(failing) + fitting)));
        // No written size from the middle up to the fitting one: the one just above the failing
        // size is the last left to try.
        const bool last = !(middle < fitting);
        if (last)
            middle = RoundLengthUp(std::nextafter(failing, std::numeric_limits<float>::infinity()));
        if (!(middle > failing) || !(middle < fitting))
            break;
        if (fits(middle))
            fitting = middle;
        else
            failing = middle;
        if (last)
            break;
    }
    return fitting;
}

float SearchAdvisedLengthDown(float start, double shortfall, const std::function<bool(float)>& fits)
{
    constexpr double kStep = 1.05;  // upward again from the first size that fits
    // A size typed a thousand times too large (metres for millimetres) still finds its advice.
    constexpr double kMostFactor = 1.0e6;
    constexpr int kMostSteps = 64;
    if (!(start > 0.0f) || !std::isfinite(start))
        return 0.0f;
    // Counts grow with the inverse square of the size; without a count to go by, halves.
    double size = start / std::sqrt(std::isfinite(shortfall) ? std::max(shortfall, 1.0) : 4.0);
    float found = 0.0f;
    while (size > start / kMostFactor) {
        const float written = RoundLengthUp(static_cast<float>(size));
        if (written < start && fits(written)) {
            found = written;
            break;
        }
        size /= 2.0;
    }
    if (found == 0.0f)
        return 0.0f;
    // The guess may have gone further down than it needed: climb back while the next fits.
    for (int step = 0; step < kMostSteps; ++step) {
        size = std::max<double>(size * kStep, std::nextafter(found, std::numeric_limits<float>::infinity()));
        const float written = RoundLengthUp(static_cast<float>(size));
        if (!(written < start) || !fits(written))
            break;
        found = written;
    }
    return found;
}

std::string FormatSize3(float x, float y, float z)
{
    // A side at or below 0 is a flat box's rounding: it reads 0.00.
    const auto side = [](float value) { return value > 0.0f ? FormatLength(value) : FormatMillimetres2(value); };
    return side(x) + " x " + side(y) + " x " + side(z) + " mm";
}

std::string FormatGeneral6(double value)
{
    return FormatWithPrecision(value, std::chars_format::general, 6);
}

std::string ReportFileName(const std::filesystem::path& path)
{
    const std::string& text = path.native();
    const std::size_t slash = text.find_last_of("\\/");
    return platform::ShownText(slash == std::string::npos ? text : text.substr(slash + 1));
}

}  // namespace grainforge::mesh
