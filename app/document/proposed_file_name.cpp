#include "app/document/proposed_file_name.h"

#include <string>

namespace grainforge::app {
namespace {

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// Whether the UTF-8 character starting at `at` is a combining mark of the blocks a name is
// likely to hold (U+0300..U+036F, U+1AB0..U+1AFF, U+1DC0..U+1DFF, U+20D0..U+20FF,
// U+FE20..U+FE2F): cutting before it would leave it behind its letter.
bool StartsCombiningMark(const std::string& text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    if (at + 1 < text.size() && (byte(at) == 0xCC || byte(at) == 0xCD) &&
        (byte(at) == 0xCC || byte(at + 1) <= 0xAF))
        return true;  // U+0300..U+036F
    if (at + 2 >= text.size() || (byte(at) & 0xF0U) != 0xE0U)
        return false;
    const unsigned code = ((byte(at) & 0x0FU) << 12U) | ((byte(at + 1) & 0x3FU) << 6U) | (byte(at + 2) & 0x3FU);
    return (code >= 0x1AB0 && code <= 0x1AFF) || (code >= 0x1DC0 && code <= 0x1DFF) ||
           (code >= 0x20D0 && code <= 0x20FF) || (code >= 0xFE20 && code <= 0xFE2F);
}

}  // namespace

std::filesystem::path ProposedFileName(const std::filesystem::path& stem, std::string_view ending)
{
    std::string name = stem.native();
    const std::size_t room = ending.size() < kLongestFileNameBytes ? kLongestFileNameBytes - ending.size() : 0;
    if (name.size() > room) {
        const auto continues = [&name](std::size_t i) { return IsContinuationByte(static_cast<unsigned char>(name[i])); };
        std::size_t boundary = room;
        while (boundary > 0 && continues(boundary))
            --boundary;
        // A stem that is not UTF-8 has no character start to find: it is cut where the room ends.
        if (boundary == 0 && continues(0))
            boundary = room;
        std::size_t letter = boundary;
        while (letter > 0 && StartsCombiningMark(name, letter)) {
            --letter;
            while (letter > 0 && continues(letter))
                --letter;
        }
        name.resize(letter > 0 ? letter : boundary);
    }
    name += ending;
    return std::filesystem::path(std::move(name));
}

}  // namespace grainforge::app
