// The JSON sections of the mesh core's values in the project file: the part's placement
// ("part.orientation") and the export cleanup's options ("exportCleanup"). They live beside the
// JSON layer so that the core itself never reads or writes JSON.
#pragma once

#include "engine/files/json_settings.h"
#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/placement.h"

namespace grainforge::mesh {

// The "rowX", "rowY", "rowZ" and "translation" keys of the section.
void WriteTransformJson(const JsonNode& section, const Transform3x4& t);

// Reads the four keys; a key missing or not an array of exactly three numbers leaves that row
// (or the translation) as it was.
void ReadTransformJson(const JsonView& section, Transform3x4& t);

void ExportCleanupOptionsToJson(const JsonNode& section, const ExportCleanupOptions& options);
void ExportCleanupOptionsFromJson(const JsonView& section, ExportCleanupOptions& options);

}  // namespace grainforge::mesh
