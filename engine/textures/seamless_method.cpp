#include "engine/textures/seamless_method.h"
#include "engine/mesh/report_text.h"

#include "engine/textures/cross_fade_edges.h"
#include "engine/textures/histogram_blend.h"
#include "engine/textures/pixel_sums.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

namespace grainforge::mesh::seamless {

namespace {

using procedural::MakeFloatParameter;
using procedural::MakeIntParameter;
using procedural::ParameterSpec;

const std::string kUnchangedName = "Unchanged";
const std::string kMirrorName = "Mirror";
const std::string kCrossFadeName = "Cross-fade";
const std::string kHistogramName = "Histogram blend";

const std::vector<ParameterSpec>& NoParameters()
{
    static const std::vector<ParameterSpec> table;
    return table;
}

template <class Number>
std::string FormatFixed(Number value, int decimals)
{
    return mesh::FormatFixed(static_cast<double>(value), decimals);
}

// Rounded half away from zero within the 32-bit range, NaN as 0: option values come from a
// clamped table, but `values` is open to anyone.
std::int32_t RoundedOption(float value)
{
    const double rounded = std::round(static_cast<double>(value));
    if (!(rounded > std::numeric_limits<std::int32_t>::min()))
        return std::isnan(rounded) ? 0 : std::numeric_limits<std::int32_t>::min();
    if (rounded >= std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(rounded);
}

class NoneMethod : public Method {
public:
    const std::string& Name() const override { return kUnchangedName; }
    const std::vector<ParameterSpec>& GetParameters() const override { return NoParameters(); }
    const std::string& Description() const override
    {
        static const std::string text =
            "The image is used exactly as it was loaded. If it does not already tile, a step in height "
            "falls at every join, which prints as a raised line running round the part.";
        return text;
    }
    bool ChangesImage() const override { return false; }
    bool MirrorsTiles() const override { return false; }
    std::vector<float> Apply(const std::vector<float>& source, std::int32_t width, std::int32_t height,
                             std::int32_t& outWidth, std::int32_t& outHeight, SeamlessReport* report) const override
    {
        outWidth = width;
        outHeight = height;
        if (report != nullptr)
            *report = SeamlessReport();
        return source;
    }
};

class MirrorMethod : public Method {
public:
    const std::string& Name() const override { return kMirrorName; }
    const std::vector<ParameterSpec>& GetParameters() const override { return NoParameters(); }
    const std::string& Description() const override
    {
        static const std::string text =
            "Every other tile is flipped, so each edge meets itself. Nothing of the image is lost and "
            "nothing ghosts; the price is a mirror symmetry along every join, which the eye finds in a "
            "pattern with direction or lettering.";
        return text;
    }
    bool ChangesImage() const override { return true; }
    bool MirrorsTiles() const override { return true; }
    std::vector<float> Apply(const std::vector<float>& source, std::int32_t width, std::int32_t height,
                             std::int32_t& outWidth, std::int32_t& outHeight, SeamlessReport* report) const override
    {
        outWidth = width;
        outHeight = height;
        if (report != nullptr) {
            *report = SeamlessReport();
            report->methodName = kMirrorName;
            report->inputWidth = report->outputWidth = width;
            report->inputHeight = report->outputHeight = height;
            report->inputDeviation = report->outputDeviation = ImageStandardDeviation(source);
            report->description = "every other tile flipped, so neighbouring edges match";
        }
        return source;
    }
};

class CrossFadeMethod : public Method {
public:
    const std::string& Name() const override { return kCrossFadeName; }
    const std::vector<ParameterSpec>& GetParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeFloatParameter("percent", "Overlap (%)", 0.0f, 45.0f, 20.0f,
                               "How much of each edge is faded into the opposite one", 0.5f),
        };
        return table;
    }
    const std::string& Description() const override
    {
        static const std::string text =
            "Fades each edge into the opposite one, so the left continues the right. Certain and instant, "
            "and it costs two things: the overlap is a band where two parts of the image are shown at "
            "once, and the image loses that share of its size.";
        return text;
    }
    bool ChangesImage() const override { return true; }
    bool MirrorsTiles() const override { return false; }
    std::vector<float> Apply(const std::vector<float>& source, std::int32_t width, std::int32_t height,
                             std::int32_t& outWidth, std::int32_t& outHeight, SeamlessReport* report) const override
    {
        const auto start = std::chrono::steady_clock::now();
        const float percent = GetValue("percent");
        std::vector<float> result = CrossFadeEdges(source, width, height, percent, outWidth, outHeight);
        if (report != nullptr) {
            const auto elapsed = std::chrono::steady_clock::now() - start;
            *report = SeamlessReport();
            report->methodName = kCrossFadeName;
            report->inputWidth = width;
            report->inputHeight = height;
            report->outputWidth = outWidth;
            report->outputHeight = outHeight;
            report->inputDeviation = ImageStandardDeviation(source);
            report->outputDeviation = ImageStandardDeviation(result);
            report->milliseconds =
                static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / 1000000.0;
            // The share as stored: a step of the table is half a percent, which no decimals hid.
            report->description = FormatGeneral6(percent) + "% of each edge faded into the opposite one";
        }
        return result;
    }
};

class HistogramMethod : public Method {
public:
    const std::string& Name() const override { return kHistogramName; }
    const std::vector<ParameterSpec>& GetParameters() const override
    {
        static const std::vector<ParameterSpec> table = {
            MakeIntParameter("patches", "Patches across the tile", 2, 24, 4,
                             "Few keeps the image's larger shapes whole; many mixes more and repeats less"),
            procedural::MakeSeedParameter(),
        };
        return table;
    }
    const std::string& Description() const override
    {
        static const std::string text =
            "Cuts the image into patches and blends them so the result keeps the original's contrast "
            "instead of averaging it away. No ghosting band, no size lost, and the tile does not repeat "
            "within itself. It suits stone, bark, plaster, grain; brickwork or lettering come back cut "
            "up. A feature appears about once per patch, so few patches keep the structure and many "
            "turn it to mush.";
        return text;
    }
    bool ChangesImage() const override { return true; }
    bool MirrorsTiles() const override { return false; }
    std::vector<float> Apply(const std::vector<float>& source, std::int32_t width, std::int32_t height,
                             std::int32_t& outWidth, std::int32_t& outHeight, SeamlessReport* report) const override
    {
        HistogramBlendOptions options;
        options.patches = RoundedOption(GetValue("patches"));
        options.seed = RoundedOption(GetValue("seed"));
        HistogramBlendStatistics statistics;
        std::vector<float> result = HistogramBlendTile(source, width, height, width, height, options, &statistics);
        outWidth = width;
        outHeight = height;
        if (report != nullptr)
            *report = SeamlessReport();
        if (result.empty())
            return source;
        if (report != nullptr) {
            report->methodName = kHistogramName;
            report->inputWidth = report->outputWidth = width;
            report->inputHeight = report->outputHeight = height;
            report->inputDeviation = statistics.inputDeviation;
            report->outputDeviation = statistics.outputDeviation;
            report->milliseconds = statistics.milliseconds;
            report->description = std::to_string(statistics.patches) + " patches across the tile, seed " +
                                  std::to_string(options.seed);
        }
        return result;
    }
};

}  // namespace

std::vector<std::string> SeamlessMethodNames()
{
    return {kUnchangedName, kMirrorName, kCrossFadeName, kHistogramName};
}

std::string CanonicalSeamlessMethodName(const std::string& name)
{
    for (const std::string& known : {kUnchangedName, kMirrorName, kCrossFadeName, kHistogramName}) {
        if (name == known)
            return name;
    }
    return kUnchangedName;
}

std::unique_ptr<Method> CreateSeamlessMethod(const std::string& name)
{
    std::unique_ptr<Method> method;
    if (name == kMirrorName)
        method = std::make_unique<MirrorMethod>();
    else if (name == kCrossFadeName)
        method = std::make_unique<CrossFadeMethod>();
    else if (name == kHistogramName)
        method = std::make_unique<HistogramMethod>();
    else
        return std::make_unique<NoneMethod>();
    method->ResetToDefaults();
    return method;
}

std::string SeamlessSummaryText(const SeamlessReport& report)
{
    if (report.methodName.empty())
        return "Seamless: unchanged, the image is as loaded.";
    std::string text = "Seamless: " + report.methodName;
    if (!report.description.empty())
        text += ", " + report.description;
    text += "; " + std::to_string(report.inputWidth) + " x " + std::to_string(report.inputHeight) + " -> " +
            std::to_string(report.outputWidth) + " x " + std::to_string(report.outputHeight) + " pixels";
    if (report.inputDeviation > 0.0f)
        text += ", contrast " + FormatFixed(report.outputDeviation / report.inputDeviation, 2) + " of the image's";
    text += ", " + FormatFixed(report.milliseconds, 0) + " ms.";
    return text;
}

float ImageStandardDeviation(const std::vector<float>& values)
{
    if (values.empty())
        return 0.0f;
    const double count = static_cast<double>(values.size());
    const double mean = detail::SumOverPixels(values, [](float value) { return static_cast<double>(value); }) / count;
    const double squares = detail::SumOverPixels(values, [mean](float value) {
        const double d = static_cast<double>(value) - mean;
        return d * d;
    });
    return static_cast<float>(std::sqrt(squares / count));
}

}  // namespace grainforge::mesh::seamless
