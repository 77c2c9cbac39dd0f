// PNG files through the height-image loader (see image_loader_fuzz.h).
#include "fuzz/image_loader_fuzz.h"

using namespace std::string_view_literals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return grainforge::fuzz::FuzzImageFamily(data, size, {"\x89PNG\r\n\x1a\n"sv});
}
