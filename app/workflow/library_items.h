#pragma once

// The thumbnail cells of the Texture section's browser, read from the library and kept: the
// images of a category (their thumbnails from the library's cache on disk), the presets of a
// pattern (their pictures, or one rendered from the preset when the picture is missing), and a
// cell per image path. Every list is read once and kept until Clear, so showing a category
// again, and the pane's 150 ms refresh, read nothing. No window system: tests and benchmarks
// use it directly.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/document/texture_library.h"
#include "app/document/user_folders.h"
#include "app/workflow/browser_geometry.h"

namespace grainforge::app {

class LibraryItemCache {
public:
  // Thumbnails are cached in `thumbnailCache` (none when empty).
  explicit LibraryItemCache(LibraryRoots roots = {}, std::filesystem::path thumbnailCache = {})
      : roots_(std::move(roots)), thumbnailCache_(std::move(thumbnailCache)) {}

  const LibraryRoots& Roots() const { return roots_; }
  // New roots empty every list.
  void SetRoots(LibraryRoots roots, std::filesystem::path thumbnailCache);

  // The category's images, by name; highlighted when only the user's folder has them.
  const std::vector<ThumbnailItem>& ImageItems(const std::string& category);
  // The listing behind ImageItems (empty until the category was shown).
  const std::vector<TextureLibraryItem>& Listing(const std::string& category) const;
  // The pattern's presets: factory ones first, each group by name without regard to case; each
  // cell carries its preset's own file.
  const std::vector<ThumbnailItem>& PresetItems(const std::string& pattern);
  // The cell of one image, its thumbnail read once per path.
  ThumbnailItem ImageItem(const std::filesystem::path& path, const std::string& label, bool highlight);

  // Presets change when the procedural dialog saves or deletes one.
  void ClearPresets() { presetItems_.clear(); }

private:
  LibraryRoots roots_;
  std::filesystem::path thumbnailCache_;
  std::map<std::string, std::vector<ThumbnailItem>> presetItems_;
  std::map<std::string, std::vector<ThumbnailItem>> categoryItems_;
  std::map<std::string, std::vector<TextureLibraryItem>> listings_;
  std::map<std::string, ThumbnailItem> thumbnails_;
};

}  // namespace grainforge::app
