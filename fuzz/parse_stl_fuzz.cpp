// Feeds arbitrary bytes to the STL reader: the whole import with the document's options, and
// the ASCII and binary parsers on their own (they are public and must refuse what they cannot
// read, whatever the detection would have said).
#include "engine/files/stl_reader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace {

// A failure text never carries a raw control byte of the file (a NUL cuts the line it is shown in).
bool HoldsControlByte(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7f;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace grainforge::mesh;
    const std::span<const std::uint8_t> bytes(data, size);

    const StlReadOptions importOptions;  // the document's import settings
    const StlReadResult result = ParseStl(bytes, "fuzz.stl", importOptions);
    if (result.ok && !result.mesh.IsConsistent())
        __builtin_trap();
    if (HoldsControlByte(result.error))
        __builtin_trap();

    std::vector<Vec3> corners;
    std::uint64_t declared = 0;
    std::string error;
    if (ParseAsciiStl(bytes, corners, declared, error) ? corners.size() % 3 != 0 : HoldsControlByte(error))
        __builtin_trap();
    if (ParseBinaryStl(bytes, corners, declared, error) && corners.size() != declared * 3)
        __builtin_trap();
    return 0;
}
