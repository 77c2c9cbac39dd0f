// Listing a category of 10,000 images, as the Texture section does on the interface thread
// before it shows any thumbnail: the names over both roots, each with its file and origin.
// Run without a deleted index and with one of 2,000 lines; the goal is that the index costs
// no more than the listing itself (within 2 x of no index).
//
// The images are empty files (the listing never opens them) in the factory root; the user
// root holds only the index, whose names are of items that are not in the category, so both
// runs list the same 10,000 items. Written once per program run in a temporary folder.
#include "app/document/texture_library.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using grainforge::app::LibraryRoots;

constexpr int kImages = 10000;

// The libraries made so far, by index length; their folders go when the program ends.
struct Libraries {
  std::map<int, LibraryRoots> roots;
  ~Libraries() {
    std::error_code error;
    for (const auto& [lines, library] : roots) fs::remove_all(library.front().path.parent_path(), error);
  }
};

// The library for an index of `indexLines` names, made on first use and kept.
const LibraryRoots& Library(int indexLines) {
  static Libraries made;
  if (const auto found = made.roots.find(indexLines); found != made.roots.end()) return found->second;
  std::random_device seed;
  const fs::path root = fs::temp_directory_path() / ("tessary_scan_bench_" + std::to_string(seed()));
  const fs::path category = root / "program" / "textures" / "Many";
  fs::create_directories(category);
  for (int i = 0; i < kImages; ++i) std::ofstream(category / ("image " + std::to_string(10000 + i) + ".png"));
  if (indexLines > 0) {
    const fs::path userCategory = root / "user" / "textures" / "Many";
    fs::create_directories(userCategory);
    std::ofstream index(userCategory / "_deleted.index", std::ios::binary);
    for (int i = 0; i < indexLines; ++i) index << "gone " << i << ".png\r\n";
  }
  return made.roots.emplace(indexLines, LibraryRoots{{root / "program", false}, {root / "user", true}}).first->second;
}

void BM_ScanCategoryOf10000Images(benchmark::State& state) {
  const LibraryRoots& roots = Library(static_cast<int>(state.range(0)));
  std::size_t listed = 0;
  for (auto _ : state) {
    const auto items = grainforge::app::ScanTextureLibrary(roots, "Many");
    listed = items.size();
    benchmark::DoNotOptimize(items.data());
  }
  if (listed != kImages) std::fprintf(stderr, "listed %zu of %d images\n", listed, kImages);
  state.counters["images"] = static_cast<double>(listed);
}
BENCHMARK(BM_ScanCategoryOf10000Images)->ArgName("index_lines")->Arg(0)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace
