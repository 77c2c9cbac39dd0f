// Feeds arbitrary bytes to the project reader, parsed by the JSON layer as it parses a file (a
// byte-order mark skipped, strict JSON; the document built and freed without the library's
// own parser and destructor). Any input gives a project or an error text; a project
// always names a part and keeps its limits (256 masks, the offered surface-test cells, every
// number within its rule's range by its own meaning, the seamless parameters within their
// method's), and names every value it passed over.
#include "app/document/field_ranges.h"
#include "app/document/project_file.h"
#include "app/document/project_values.h"
#include "engine/textures/seamless_method.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace grainforge;
    const mesh::JsonLoadResult parsed = mesh::ParseJsonBytes(data, size);
    if (parsed.status != mesh::JsonLoadStatus::Ok && parsed.status != mesh::JsonLoadStatus::NotJson &&
        parsed.status != mesh::JsonLoadStatus::TooDeep)
        __builtin_trap();
    // Nested past the layer's depth, a file is refused with its reason whatever else it holds.
    if (parsed.status == mesh::JsonLoadStatus::TooDeep)
        return 0;
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
        // Every number the project holds lies in its rule's range, the placement is a turn,
        // and black stays below white.
        for (const app::ProjectNumber& number : app::ListProjectNumbers(project))
            if (!app::HoldsAsItStands(number))
                __builtin_trap();
        // The seamless parameters lie in their method's ranges, as the height map takes them.
        if (const auto method = mesh::seamless::CreateSeamlessMethod(project.textureSettings.seamlessMethod)) {
            mesh::procedural::ParametersFromText(*method, project.textureSettings.seamlessParameters);
            if (!app::HeldPatternParameters(*method, project.textureSettings.seamlessParameters).empty())
                __builtin_trap();
        }
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
        if (!app::IsPlacementTurn(project.partTransform) ||
            !(project.textureSettings.blackLevel < project.textureSettings.whiteLevel))
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
