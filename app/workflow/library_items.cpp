#include "app/workflow/library_items.h"

#include <algorithm>

#include "app/document/preset_files.h"
#include "app/workflow/texture_summary.h"
#include "engine/textures/procedural_registry.h"

namespace grainforge::app {
namespace {

namespace procedural = grainforge::mesh::procedural;

std::vector<std::uint32_t> GreyToPixels(const std::vector<std::uint8_t>& grey) {
  std::vector<std::uint32_t> pixels;
  pixels.reserve(grey.size());
  for (const std::uint8_t g : grey) pixels.push_back(0xFF000000u | (std::uint32_t{g} << 16) | (std::uint32_t{g} << 8) | g);
  return pixels;
}

}  // namespace

void LibraryItemCache::SetRoots(LibraryRoots roots, std::filesystem::path thumbnailCache) {
  roots_ = std::move(roots);
  thumbnailCache_ = std::move(thumbnailCache);
  presetItems_.clear();
  categoryItems_.clear();
  listings_.clear();
  thumbnails_.clear();
}

ThumbnailItem LibraryItemCache::ImageItem(const std::filesystem::path& path, const std::string& label, bool highlight) {
  const std::string key = ImageKey(path);
  auto found = thumbnails_.find(key);
  if (found == thumbnails_.end()) {
    ThumbnailItem item;
    item.key = key;
    if (const std::optional<GreyImage> grey = GetThumbnail(roots_, thumbnailCache_, path);
        grey && grey->width == grey->height && grey->width > 0) {
      item.pixels = GreyToPixels(grey->pixels);
      item.size = grey->width;
    }
    found = thumbnails_.emplace(key, std::move(item)).first;
  }
  ThumbnailItem item = found->second;
  item.label = label;
  item.highlight = highlight;
  return item;
}

const std::vector<ThumbnailItem>& LibraryItemCache::ImageItems(const std::string& category) {
  if (const auto cached = categoryItems_.find(category); cached != categoryItems_.end()) return cached->second;
  std::vector<TextureLibraryItem> listing = ScanTextureLibrary(roots_, category);
  std::vector<ThumbnailItem> items;
  items.reserve(listing.size());
  for (const TextureLibraryItem& image : listing)
    items.push_back(ImageItem(image.path, image.name, image.origin == LibraryItemOrigin::UserOnly));
  listings_[category] = std::move(listing);
  return categoryItems_.emplace(category, std::move(items)).first->second;
}

const std::vector<TextureLibraryItem>& LibraryItemCache::Listing(const std::string& category) const {
  static const std::vector<TextureLibraryItem> kNone;
  const auto found = listings_.find(category);
  return found == listings_.end() ? kNone : found->second;
}

const std::vector<ThumbnailItem>& LibraryItemCache::PresetItems(const std::string& pattern) {
  if (const auto cached = presetItems_.find(pattern); cached != presetItems_.end()) return cached->second;
  std::vector<std::pair<bool, ThumbnailItem>> entries;
  for (const PresetFileEntry& preset : ListPresets(roots_, pattern)) {
    ThumbnailItem item;
    item.key = PresetKey(pattern, preset.name);
    item.label = preset.name;
    item.highlight = preset.origin == LibraryItemOrigin::UserOnly;
    item.file = preset.file;
    std::optional<GreyImage> grey;
    if (!preset.thumbnail.empty()) grey = ReadGreyBmp(preset.thumbnail);
    if (grey && grey->width == grey->height && grey->width > 0) {
      item.pixels = GreyToPixels(grey->pixels);
      item.size = grey->width;
    } else if (auto made = procedural::CreateProceduralTexture(pattern)) {
      // A preset without its picture still gets one, rendered from its values.
      if (ReadPreset(preset.file, *made).ok) {
        item.pixels = GreyToPixels(RenderThumbnail(*made));
        item.size = kPresetThumbnailSide;
      }
    }
    entries.emplace_back(preset.userFile, std::move(item));
  }
  std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    if (a.first != b.first) return !a.first;
    return CaseInsensitiveLess(a.second.label, b.second.label);
  });
  std::vector<ThumbnailItem> items;
  items.reserve(entries.size());
  for (auto& entry : entries) items.push_back(std::move(entry.second));
  return presetItems_.emplace(pattern, std::move(items)).first->second;
}

}  // namespace grainforge::app
