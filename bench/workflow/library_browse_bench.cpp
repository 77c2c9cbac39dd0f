// Browsing a texture library of 500 images in the Texture section: the cells of a category as
// the browser first shows them, once the library's thumbnail cache on disk is built (the cache
// is made the first time an image is seen and kept across runs). The goal is under a second
// for the first view of a category; a second view reads nothing.
//
// The library is 500 grey 512 x 512 PNG files in one category (the worst case: everything at
// once) in a temporary folder, written once per run of the program.
#include "app/workflow/library_items.h"

#include <benchmark/benchmark.h>

#include <png.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using grainforge::app::LibraryItemCache;
using grainforge::app::LibraryRoots;

constexpr int kImages = 500;
constexpr int kSide = 512;

bool WritePng(const fs::path& path, int seed) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_byte> row(kSide);
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, kSide, kSide, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kSide; ++y) {
      for (int x = 0; x < kSide; ++x) row[static_cast<std::size_t>(x)] = static_cast<png_byte>((x * 3 + y * seed) & 0xFF);
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

// The library with its thumbnail cache built, made once for the whole program.
const LibraryRoots& Library() {
  static const LibraryRoots roots = [] {
    std::random_device seed;
    const fs::path root = fs::temp_directory_path() / ("tessary_browse_bench_" + std::to_string(seed()));
    const fs::path category = root / "program" / "textures" / "Many";
    fs::create_directories(category);
    for (int i = 0; i < kImages; ++i) WritePng(category / ("image " + std::to_string(1000 + i) + ".png"), i);
    LibraryRoots made{{root / "program", false}, {root / "user", true}};
    LibraryItemCache warm(made);
    if (warm.ImageItems("Many").size() != kImages) std::fprintf(stderr, "library incomplete\n");
    return made;
  }();
  return roots;
}

void BM_FirstViewOfCategory(benchmark::State& state) {
  const LibraryRoots& roots = Library();
  std::size_t withPictures = 0;
  for (auto _ : state) {
    LibraryItemCache cache(roots);
    const auto& items = cache.ImageItems("Many");
    withPictures = 0;
    for (const auto& item : items) withPictures += item.pixels.empty() ? 0 : 1;
    benchmark::DoNotOptimize(items.data());
  }
  state.counters["images"] = static_cast<double>(withPictures);
  state.counters["images/s"] = benchmark::Counter(static_cast<double>(kImages), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FirstViewOfCategory)->Unit(benchmark::kMillisecond);

void BM_SecondViewOfCategory(benchmark::State& state) {
  LibraryItemCache cache(Library());
  (void)cache.ImageItems("Many");
  for (auto _ : state) benchmark::DoNotOptimize(cache.ImageItems("Many").data());
}
BENCHMARK(BM_SecondViewOfCategory)->Unit(benchmark::kMicrosecond);

}  // namespace
