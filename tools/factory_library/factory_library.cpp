// Renders the factory library that ships beside the program: the texture images of every
// category and the procedural presets with their pictures, all from the program's own
// patterns, as the recipe file (textures/factory_library.txt) lists them.
//
//   factory_library <recipe file> <output folder>
//
// Images go to <output>/textures/<category>/<name>.png (16-bit grey, 512 x 512); presets and
// their pictures to <output>/procedural/<pattern>/ through the preset writer. Exits non-zero,
// naming the line, on anything it cannot do, so a broken recipe fails the build.
#include "app/document/preset_files.h"
#include "app/document/user_folders.h"
#include "engine/textures/procedural_registry.h"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace procedural = grainforge::mesh::procedural;

constexpr int kImageSide = 512;

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> SplitFields(const std::string& text, char separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    fields.push_back(Trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

// The pattern of that name with the "key=value;..." parameters applied; null for an unknown name.
std::unique_ptr<procedural::ProceduralTexture> MakePattern(const std::string& name, const std::string& parameters) {
  std::unique_ptr<procedural::ProceduralTexture> pattern = procedural::CreateProceduralTexture(name);
  if (!pattern) return nullptr;
  std::string lines;
  for (const std::string& pair : SplitFields(parameters, ';'))
    if (!pair.empty()) lines += pair + "\n";
  procedural::ParametersFromText(*pattern, lines);
  return pattern;
}

bool WriteGreyPng16(const std::filesystem::path& path, const std::vector<float>& heights, int side) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  std::vector<png_byte> row(static_cast<std::size_t>(side) * 2);
  if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 16, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) {
        const float h = heights[static_cast<std::size_t>(y) * side + x];
        const auto value = static_cast<unsigned>(std::lround((std::isfinite(h) ? std::fmin(std::fmax(h, 0.0f), 1.0f) : 0.0f) * 65535.0f));
        row[static_cast<std::size_t>(x) * 2] = static_cast<png_byte>(value >> 8);
        row[static_cast<std::size_t>(x) * 2 + 1] = static_cast<png_byte>(value & 0xFF);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

bool RenderImage(const std::filesystem::path& output, const std::vector<std::string>& f) {
  if (f.size() < 3 || f[0].empty() || f[1].empty()) return false;
  const auto pattern = MakePattern(f[2], f.size() > 3 ? f[3] : std::string());
  if (!pattern) return false;
  const std::filesystem::path folder = output / "textures" / f[0];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  return WriteGreyPng16(folder / (f[1] + ".png"), pattern->RenderImage(kImageSide, kImageSide), kImageSide);
}

bool SaveFactoryPreset(const std::filesystem::path& output, const std::vector<std::string>& f) {
  if (f.size() < 2 || f[1].empty()) return false;
  const auto pattern = MakePattern(f[0], f.size() > 2 ? f[2] : std::string());
  if (!pattern) return false;
  // The preset writer saves into the user root of the roots it is given: here, the output.
  const grainforge::app::LibraryRoots roots{{output, true}};
  const grainforge::app::PresetResult result = grainforge::app::SavePreset(roots, *pattern, f[1]);
  if (!result.ok) std::fprintf(stderr, "factory_library: %s\n", result.error.c_str());
  return result.ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: factory_library <recipe file> <output folder>\n");
    return 2;
  }
  std::ifstream recipe(argv[1]);
  if (!recipe) {
    std::fprintf(stderr, "factory_library: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::filesystem::path output(argv[2]);
  std::string line;
  int number = 0;
  int made = 0;
  while (std::getline(recipe, line)) {
    ++number;
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    const std::size_t space = text.find_first_of(" \t");
    const std::string kind = text.substr(0, space);
    const std::vector<std::string> fields = SplitFields(space == std::string::npos ? std::string() : text.substr(space + 1), '|');
    const bool ok = kind == "image" ? RenderImage(output, fields) : kind == "preset" ? SaveFactoryPreset(output, fields) : false;
    if (!ok) {
      std::fprintf(stderr, "%s:%d: cannot make \"%s\"\n", argv[1], number, text.c_str());
      return 1;
    }
    ++made;
  }
  std::printf("factory_library: %d items in %s\n", made, output.c_str());
  return 0;
}
