#include "bench/bench_images.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace grainforge::bench {

bool WriteWavePng(const std::filesystem::path& path, int side, int compression)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> row(static_cast<std::size_t>(side) * 2);
    bool ok = false;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_compression_level(png, compression);
        png_set_IHDR(png, info, side, side, 16, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const double h = 0.5 + 0.3 * std::sin(x * 0.01) * std::cos(y * 0.013) + 0.05 * std::sin((x + 3 * y) * 0.4);
                const auto v = static_cast<std::uint16_t>(h * 65535.0);
                row[2 * x] = static_cast<png_byte>(v >> 8);
                row[2 * x + 1] = static_cast<png_byte>(v & 0xFF);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ok;
}

double StatusMebibytes(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::stod(line.substr(std::string(key).size())) / 1024.0;  // the figure is in KiB
    return 0.0;
}

bool ResetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear.flush());
}

}  // namespace grainforge::bench
