// The browser's library cells: preset order, pictures made for presets without one, and lists
// kept once read.
#include "app/workflow/library_items.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <set>
#include <utility>

#include "app/document/preset_files.h"
#include "engine/textures/procedural_registry.h"

namespace grainforge::app {
namespace {

namespace fs = std::filesystem;

struct TempRoots {
  fs::path root = fs::temp_directory_path() / ("tessary_library_items_" + std::to_string(std::random_device{}()));
  LibraryRoots roots{{root / "factory", false}, {root / "user", true}};
  ~TempRoots() {
    std::error_code error;
    fs::remove_all(root, error);
  }
};

TEST(LibraryItemCache, FactoryPresetsComeFirstEachByNameWithoutCase) {
  TempRoots temp;
  auto noise = mesh::procedural::CreateProceduralTexture("Noise");
  ASSERT_TRUE(noise);
  for (const char* name : {"zeta", "Alpha"})
    ASSERT_TRUE(SavePreset(LibraryRoots{{temp.root / "factory", true}}, *noise, name).ok);
  for (const char* name : {"beta", "Mine"}) ASSERT_TRUE(SavePreset(temp.roots, *noise, name).ok);
  fs::remove(temp.root / "factory" / "procedural" / "Noise" / "zeta.bmp");

  LibraryItemCache cache(temp.roots);
  const std::vector<ThumbnailItem>& items = cache.PresetItems("Noise");
  std::vector<std::string> labels;
  for (const ThumbnailItem& item : items) labels.push_back(item.label);
  EXPECT_EQ(labels, (std::vector<std::string>{"Alpha", "zeta", "beta", "Mine"}));
  EXPECT_EQ(items[1].key, "Noise|zeta");
  EXPECT_EQ(items[1].size, kPresetThumbnailSide);  // rendered: its picture is gone
  EXPECT_FALSE(items[0].highlight);
  EXPECT_TRUE(items[2].highlight);  // only the user has it

  // Kept once read: a preset saved later shows after ClearPresets only.
  ASSERT_TRUE(SavePreset(temp.roots, *noise, "Later").ok);
  EXPECT_EQ(cache.PresetItems("Noise").size(), 4u);
  cache.ClearPresets();
  EXPECT_EQ(cache.PresetItems("Noise").size(), 5u);
  EXPECT_TRUE(cache.PresetItems("No such pattern").empty());
  EXPECT_TRUE(cache.ImageItems("No such category").empty());
  EXPECT_TRUE(cache.Listing("never shown").empty());
}

// A click on a preset loads the cell's own file: the browser used to load the file named
// again from the label, "Rock.gfpreset" for "Rock ".
TEST(LibraryItemCache, EachPresetCellCarriesItsOwnFile) {
  TempRoots temp;
  auto noise = mesh::procedural::CreateProceduralTexture("Noise");
  ASSERT_TRUE(noise);
  const fs::path folder = temp.root / "user" / "procedural" / "Noise";
  for (const char* name : {"Rock", "Coarse_1", "Stone"}) ASSERT_TRUE(SavePreset(temp.roots, *noise, name).ok);
  for (const char* name : {"Rock .gfpreset", "Coarse:1.gfpreset", "Stone.GFPRESET"})
    fs::copy_file(folder / "Rock.gfpreset", folder / name);

  LibraryItemCache cache(temp.roots);
  std::set<std::pair<std::string, fs::path>> cells;
  for (const ThumbnailItem& item : cache.PresetItems("Noise")) cells.emplace(item.label, item.file);
  const std::set<std::pair<std::string, fs::path>> expected = {
      {"Rock", folder / "Rock.gfpreset"},   {"Rock ", folder / "Rock .gfpreset"},
      {"Coarse_1", folder / "Coarse_1.gfpreset"}, {"Coarse:1", folder / "Coarse:1.gfpreset"},
      {"Stone", folder / "Stone.gfpreset"}, {"Stone", folder / "Stone.GFPRESET"},
  };
  EXPECT_EQ(cells, expected);
}

}  // namespace
}  // namespace grainforge::app
