#include "engine/files/mesh_json_sections.h"

#include <string_view>

namespace grainforge::mesh {

void WriteTransformJson(const JsonNode& section, const Transform3x4& t)
{
    SetJsonPathVec3(section, "rowX", t.m00, t.m01, t.m02);
    SetJsonPathVec3(section, "rowY", t.m10, t.m11, t.m12);
    SetJsonPathVec3(section, "rowZ", t.m20, t.m21, t.m22);
    SetJsonPathVec3(section, "translation", t.translation.x, t.translation.y, t.translation.z);
}

void ReadTransformJson(const JsonView& section, Transform3x4& t)
{
    GetJsonPathVec3(section, "rowX", t.m00, t.m01, t.m02);
    GetJsonPathVec3(section, "rowY", t.m10, t.m11, t.m12);
    GetJsonPathVec3(section, "rowZ", t.m20, t.m21, t.m22);
    GetJsonPathVec3(section, "translation", t.translation.x, t.translation.y, t.translation.z);
}

void ExportCleanupOptionsToJson(const JsonNode& section, const ExportCleanupOptions& options)
{
    const auto putBool = [&](std::string_view key, bool value) {
        const JsonWriteTarget target = ResolveJsonPathForWrite(section, key);
        target.node.PutBool(target.member, value);
    };
    const auto putFloat = [&](std::string_view key, float value) {
        const JsonWriteTarget target = ResolveJsonPathForWrite(section, key);
        target.node.PutFloat(target.member, value);
    };
    putBool("weldCollapsedTriangles", options.weldCollapsedTriangles);
    putBool("fillHoles", options.fillHoles);
    putFloat("maximumHoleMillimetres", options.maximumHoleMillimetres);
    putFloat("maximumSlitWidthMillimetres", options.maximumSlitWidthMillimetres);
}

void ExportCleanupOptionsFromJson(const JsonView& section, ExportCleanupOptions& options)
{
    GetJsonPathBool(section, "weldCollapsedTriangles", options.weldCollapsedTriangles);
    GetJsonPathBool(section, "fillHoles", options.fillHoles);
    GetJsonPathFloat(section, "maximumHoleMillimetres", options.maximumHoleMillimetres);
    GetJsonPathFloat(section, "maximumSlitWidthMillimetres", options.maximumSlitWidthMillimetres);
}

}  // namespace grainforge::mesh
