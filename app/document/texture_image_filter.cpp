#include "app/document/texture_image_filter.h"

#include "platform/image_file_types.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace grainforge::app {

std::wstring TextureImageDialogFilter()
{
    const auto wide = [](std::string_view ascii) { return std::wstring(ascii.begin(), ascii.end()); };
    const auto patterns = [&](auto wanted) {
        std::wstring list;
        for (const platform::ImageFileType& type : platform::ImageFileTypes())
            if (wanted(type))
                list += (list.empty() ? L"*" : L";*") + wide(type.extension);
        return list;
    };
    const auto entry = [](const std::wstring& name, const std::wstring& list) {
        return name + L" (" + list + L")|" + list + L"|";
    };
    std::wstring filter = entry(L"Images", patterns([](const platform::ImageFileType&) { return true; }));
    std::vector<std::string_view> formats;
    for (const platform::ImageFileType& type : platform::ImageFileTypes()) {
        if (std::find(formats.begin(), formats.end(), type.formatName) != formats.end())
            continue;
        formats.push_back(type.formatName);
        filter += entry(wide(type.formatName), patterns([&](const platform::ImageFileType& other) {
                            return other.formatName == type.formatName;
                        }));
    }
    return filter + L"All Files (*.*)|*.*||";
}

}  // namespace grainforge::app
