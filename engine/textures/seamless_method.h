// Seamless methods: ways to turn a source image into one whose opposite edges continue each
// other, so no step in height runs round the part where one tile meets the next. There are
// four, chosen by display name: "Unchanged", "Mirror", "Cross-fade" and "Histogram blend".
// Each is a parameter set with its own table, a description for the dialog and an apply
// operation that reports what it did. "Mirror" leaves the pixels alone: its flipping is done
// by mirror addressing when the height map is sampled.
//
// Methods never throw for bad input: a size that does not match the pixel count gives the
// source back unchanged.
#pragma once

#include "engine/textures/parameter_set.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace grainforge::mesh::seamless {

// What one seamless step did. An empty report (empty strings, zeros) means nothing changed.
struct SeamlessReport {
    std::string methodName;  // display name; empty when nothing was changed
    std::int32_t inputWidth = 0;
    std::int32_t inputHeight = 0;
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    float inputDeviation = 0.0f;   // population standard deviation of the source
    float outputDeviation = 0.0f;  // the result's spread, as each method defines it
    double milliseconds = 0.0;     // time the method took
    std::string description;       // one short phrase on what was done
};

class Method : public procedural::ParameterSet {
public:
    // A fixed paragraph for the seamless dialog.
    virtual const std::string& Description() const = 0;
    // False only for "Unchanged".
    virtual bool ChangesImage() const = 0;
    // True only for "Mirror", which works by flipping every other tile when sampled.
    virtual bool MirrorsTiles() const = 0;
    // The new pixels (row by row) for `source` of width x height; the new size goes to
    // outWidth and outHeight (a method may shrink the image). The report, when given, is
    // filled. Methods with a parallel step run it on the standard thread pool.
    virtual std::vector<float> Apply(const std::vector<float>& source, std::int32_t width,
                                     std::int32_t height, std::int32_t& outWidth,
                                     std::int32_t& outHeight, SeamlessReport* report) const = 0;
};

// "Unchanged", "Mirror", "Cross-fade", "Histogram blend", in the dialog's order.
std::vector<std::string> SeamlessMethodNames();

// The name itself when it is one of the four (byte for byte), else "Unchanged".
std::string CanonicalSeamlessMethodName(const std::string& name);

// A new method by exact display name; any other name (including a differently cased one)
// gives "Unchanged". The methods with parameters come reset to their defaults.
std::unique_ptr<Method> CreateSeamlessMethod(const std::string& name);

// The one-line summary shown under the preview, e.g.
// "Seamless: Cross-fade, 20% of each edge faded into the opposite one; 100 x 50 -> 80 x 40
// pixels, contrast 0.97 of the image's, 3 ms."
std::string SeamlessSummaryText(const SeamlessReport& report);

// Population standard deviation (dividing by the count), mean in double; 0 for no values.
float ImageStandardDeviation(const std::vector<float>& values);

}  // namespace grainforge::mesh::seamless
