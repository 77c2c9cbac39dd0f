#pragma once

// Icons are PNG files in the folder "resources" beside the program. They are decoded once per
// name and kept for the life of the process (or of the window that asked), so painting code may
// ask for them on every paint.

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <wx/image.h>

namespace grainforge::app {

// The folder of the running program.
std::filesystem::path ProgramFolder();
// ProgramFolder()/resources: where the icons and the splash are.
std::filesystem::path ResourcesFolder();

// Decodes a PNG file with its alpha. Empty when the file cannot be opened, is empty or larger
// than 2 GiB, cannot be read whole, or does not decode. The file is read into memory first, so
// it is closed before decoding, and nothing is logged or shown to the user.
std::optional<wxImage> LoadPngFromFile(const std::filesystem::path& path);

// The file an icon name stands for: folder/<name>.png (the name used as it is).
std::filesystem::path IconFilePath(const std::filesystem::path& folder, const std::wstring& name);
// The toolbars' rule: the name trimmed of white space, and ".png" appended only when the name
// holds no ".". An empty name has no file.
std::filesystem::path ToolbarIconFilePath(const std::filesystem::path& folder,
                                          const std::wstring& name);

// Decoded icons by name (case-sensitive). A missing or broken file is either remembered as
// missing, so the file is not looked for again (the interface kit's rule), or tried again on the
// next request (the toolbars' rule, so that an icon added later turns up). A decoded icon is
// kept even when its file goes away.
class IconFileCache {
public:
  enum class Misses { Remember, Retry };
  using PathForName =
      std::function<std::filesystem::path(const std::filesystem::path&, const std::wstring&)>;

  IconFileCache(std::filesystem::path folder, Misses misses, PathForName pathForName = IconFilePath);

  // The icon, or null when it is missing; valid until Clear or the cache's end.
  const wxImage* Find(const std::wstring& name);
  void Clear() { entries_.clear(); }
  const std::filesystem::path& Folder() const { return folder_; }

private:
  std::filesystem::path folder_;
  Misses misses_;
  PathForName pathForName_;
  std::map<std::wstring, std::optional<wxImage>> entries_;
};

// The process-wide icon cache of the interface kit (resources beside the program, misses
// remembered). Interface thread only.
const wxImage* GetIconImage(const std::wstring& name);

}  // namespace grainforge::app
