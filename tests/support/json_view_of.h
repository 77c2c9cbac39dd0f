// A view of a JSON document parsed from text, as LoadJsonFile gives it for a file.
#pragma once

#include "engine/files/json_settings.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace grainforge::test {

inline mesh::JsonView ViewOf(const std::string& text)
{
    auto document = std::make_shared<mesh::JsonValue>(mesh::JsonValue::parse(text));
    const mesh::JsonValue* value = document.get();
    return mesh::JsonView{std::move(document), value};
}

}  // namespace grainforge::test
