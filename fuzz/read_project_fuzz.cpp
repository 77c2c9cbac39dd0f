// Feeds arbitrary bytes to the project reader, parsed by the JSON layer as it parses a file (a
// byte-order mark skipped, strict JSON; the document built and freed without the library's
// own parser and destructor). Any input gives a project or an error text; a project
// always names a part and keeps its limits (256 masks, the offered surface-test cells, each
// value within its field's range), and names every value it passed over.
#include "app/document/field_ranges.h"
#include "app/document/project_file.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace grainforge;
    const mesh::JsonLoadResult parsed = mesh::ParseJsonBytes(data, size);
    if (parsed.status != mesh::JsonLoadStatus::Ok && parsed.status != mesh::JsonLoadStatus::NotJson)
        __builtin_trap();
    // The layer builds its documents itself; they must be the ones the library's parser makes,
    // member order and repeated keys included.
    const std::uint8_t* begin = data;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        begin += 3;
    const mesh::JsonValue reference =
        mesh::JsonValue::parse(begin, data + size, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
    if (reference.is_discarded() != (parsed.status == mesh::JsonLoadStatus::NotJson) ||
        (!reference.is_discarded() && reference != *parsed.view.value))
        __builtin_trap();
    const mesh::JsonView& root = parsed.view;
    app::ProjectData project;
    std::string error;
    // A folder that does not exist: relative entries are looked up, never found.
    if (app::ReadProjectJson(root, "/nonexistent-tessary-fuzz", project, error)) {
        if (project.partPath.empty() && project.testShape.empty())
            __builtin_trap();
        if (project.masks.size() > app::kMaximumMaskVolumes)
            __builtin_trap();
        if (project.occupancyCells != 128 && project.occupancyCells != 256 && project.occupancyCells != 512)
            __builtin_trap();
        // Each value a field shows is one the field takes (a float at the field's own end counts).
        const auto taken = [](float value, const app::NumberFieldRule& rule) {
            return static_cast<float>(app::HoldToFieldRange(value, rule, 0.0)) == value;
        };
        if (!taken(project.remesh.targetEdgeMillimetres, app::kTriangleSizeRule) ||
            !taken(project.displacement.midLevel, app::kMidlevelRule) ||
            !taken(project.textureSettings.blurMillimetres, app::kBlurRule) ||
            !taken(project.textureSettings.gamma, app::kLevelsRules[1]) ||
            !taken(project.exportCleanup.maximumHoleMillimetres, app::kLargestHoleRule))
            __builtin_trap();
        for (const mesh::MaskVolume& mask : project.masks)
            if (!taken(mask.size.x, app::kMaskFieldRules[3]) || !taken(mask.featherMillimetres, app::kMaskFieldRules[9]))
                __builtin_trap();
        // A limit of any number or type is one its field takes (0 is none), and whatever the
        // reader passed over is named and counted.
        for (const std::uint64_t limit : {project.maximumTriangles, project.displayTriangles})
            if (limit != 0 && (limit < 100000 || limit > 200000000))
                __builtin_trap();
        for (const app::ReplacedValue& replaced : project.valuesReplaced)
            if (replaced.key.empty() || replaced.given.empty() || replaced.now.empty())
                __builtin_trap();
        if (project.masksLeftOut < project.masksUnread || project.maskKeysUnread.size() > project.masksUnread ||
            project.maskKeysUnread.size() > app::kMaskKeysUnreadNamed)
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
