#include "engine/files/stl_reader.h"
#include "engine/files/stl_reader_detail.h"

#include "engine/mesh/export_cleanup.h"
#include "engine/mesh/parallel_loop.h"
#include "engine/mesh/report_text.h"
#include "engine/mesh/welding.h"
#include "platform/file_system.h"
#include "platform/shown_text.h"
#include "platform/system_error.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

namespace grainforge::mesh {

namespace {

constexpr std::uint64_t kBinaryHeaderSize = 84;
constexpr std::uint64_t kBinaryCountOffset = 80;
constexpr std::uint64_t kFacetSize = 50;
constexpr std::uint64_t kFacetCornerOffset = 12;
constexpr std::size_t kMinimumFileSize = 16;
// Vertex indices are 32-bit, so a soup of more corners than this cannot be indexed.
constexpr std::uint64_t kMaxCorners = std::numeric_limits<std::uint32_t>::max();

constexpr char kTooManyTrianglesText[] = "The file contains more triangles than one mesh can hold.";
constexpr char kNonFiniteText[] = "The file contains a coordinate that is not a number (NaN or infinity).";
// The exact weld keeps 32-bit vertex maps with a flag bit: from 2^31 corners on the soup is
// left as it is (WeldIdenticalVertices leaves it untouched too).
constexpr std::uint64_t kMaxWeldedCorners = std::uint64_t{1} << 31;

// Space, tab, line feed, vertical tab, form feed, carriage return; a table, since the ASCII
// parser asks once per byte.
constexpr auto kStlSpace = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'})
        table[c] = true;
    return table;
}();

bool IsStlSpace(std::uint8_t c) { return kStlSpace[c]; }

// A control byte that no text holds (whitespace aside); binary floats nearly always hold one.
bool IsStrayControl(std::uint8_t c) { return (c < 0x20 && !IsStlSpace(c)) || c == 0x7f; }

// What may end a text file without comment: the DOS end-of-file mark (0x1A) that older programs
// append, NUL padding, whitespace.
bool IsQuietTailByte(std::uint8_t c) { return c == 0x1a || c == 0 || IsStlSpace(c); }

std::span<const std::uint8_t> WithoutQuietTail(std::span<const std::uint8_t> bytes)
{
    std::size_t end = bytes.size();
    while (end > 0 && IsQuietTailByte(bytes[end - 1]))
        --end;
    return bytes.first(end);
}

std::uint32_t LoadU32(const std::uint8_t* p)
{
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = (value >> 24) | ((value >> 8) & 0xff00u) | ((value << 8) & 0xff0000u) | (value << 24);
    return value;
}

float LoadF32(const std::uint8_t* p) { return std::bit_cast<float>(LoadU32(p)); }

std::uint64_t BinarySizeFor(std::uint64_t count) { return kBinaryHeaderSize + kFacetSize * count; }

std::uint32_t DeclaredBinaryCount(std::span<const std::uint8_t> bytes)
{
    return LoadU32(bytes.data() + kBinaryCountOffset);
}

std::string HeaderMismatchText(std::uint64_t count, std::uint64_t size)
{
    const std::uint64_t needed = BinarySizeFor(count);
    return "The file is not a valid STL. Its header declares " + FormatCountGrouped(count) +
           " triangles, which needs " + FormatCountGrouped(needed) + " bytes, but the file is " +
           FormatCountGrouped(size) + " bytes" +
           (needed > size ? " (truncated)." : " (unexpected trailing data).");
}

bool EqualsIgnoringCase(std::string_view word, std::string_view keyword)
{
    if (word.size() != keyword.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i])
            return false;
    }
    return true;
}

bool StartsWithSolid(std::string_view word)
{
    return word.size() >= 5 && EqualsIgnoringCase(word.substr(0, 5), "solid");
}

constexpr std::size_t kSolidLength = 5;
constexpr std::size_t kEndsolidLength = 8;

// "endsolid" in any case, alone or with bytes no text holds glued to it.
bool ClosesSolid(std::string_view word)
{
    if (word.size() < kEndsolidLength || !EqualsIgnoringCase(word.substr(0, kEndsolidLength), "endsolid"))
        return false;
    return word.size() == kEndsolidLength || IsStrayControl(static_cast<std::uint8_t>(word[kEndsolidLength]));
}

// Counts lines as bytes go by: a line feed, or a carriage return not followed by one, ends a
// line. Fed in pieces, it counts as one pass over the whole would.
struct LineCounter {
    std::size_t line = 1;
    bool afterReturn = false;

    void Feed(std::span<const std::uint8_t> bytes)
    {
        for (const std::uint8_t byte : bytes) {
            if (byte == '\r' || (byte == '\n' && !afterReturn))
                ++line;
            afterReturn = byte == '\r';
        }
    }
};

// The line (from 1) that holds byte `at`.
std::size_t LineOf(std::span<const std::uint8_t> bytes, std::size_t at)
{
    LineCounter counter;
    counter.Feed(bytes.first(std::min(at, bytes.size())));
    return counter.line;
}

// Walks ASCII STL data word by word.
class WordReader {
public:
    explicit WordReader(std::span<const std::uint8_t> bytes)
        : data_(reinterpret_cast<const char*>(bytes.data())), size_(bytes.size()) {}

    // The next word, or an empty view at the end of the data.
    std::string_view Next()
    {
        while (pos_ < size_ && IsStlSpace(static_cast<std::uint8_t>(data_[pos_])))
            ++pos_;
        const std::size_t start = pos_;
        while (pos_ < size_ && !IsStlSpace(static_cast<std::uint8_t>(data_[pos_])))
            ++pos_;
        return std::string_view(data_ + start, pos_ - start);
    }

    // Skips the rest of a "solid" or "endsolid" line (the solid's name), from `from` (just after
    // the keyword) to the end of the line. With `stopAtStray`, stops on a byte no text holds and
    // returns it; null when the line holds none (or when not asked to stop).
    const char* SkipLineFrom(const char* from, bool stopAtStray)
    {
        for (pos_ = static_cast<std::size_t>(from - data_); pos_ < size_ && !IsLineEnd(data_[pos_]); ++pos_)
            if (stopAtStray && IsStrayControl(static_cast<std::uint8_t>(data_[pos_])))
                return data_ + pos_;
        return nullptr;
    }

    std::size_t Position() const { return pos_; }
    std::size_t OffsetOf(const char* p) const { return static_cast<std::size_t>(p - data_); }
    std::size_t LineAt(std::size_t offset) const
    {
        return LineOf(std::span(reinterpret_cast<const std::uint8_t*>(data_), size_), offset);
    }

private:
    static bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

    const char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Walks ASCII STL text in a file word by word, holding a chunk at a time: the bytes of a word
// that runs past the loaded chunk are kept and more are read, so a word split across two
// chunks reads as one. Positions are offsets in the file. A word stays valid until the next call.
class ChunkedWordReader {
public:
    ChunkedWordReader(const platform::ReadableFile& file, std::uint64_t textEnd, std::size_t chunkBytes)
        : file_(file), textEnd_(textEnd), chunkBytes_(std::max<std::size_t>(chunkBytes, 1)) {}

    std::string_view Next()
    {
        for (;;) {
            while (pos_ < filled_ && IsStlSpace(static_cast<std::uint8_t>(buffer_[pos_])))
                ++pos_;
            std::size_t keep = pos_;
            if (pos_ < filled_ || !Load(keep))
                break;
        }
        std::size_t start = pos_;
        for (;;) {
            while (pos_ < filled_ && !IsStlSpace(static_cast<std::uint8_t>(buffer_[pos_])))
                ++pos_;
            if (pos_ < filled_ || !Load(start))
                break;
        }
        return std::string_view(buffer_.data() + start, pos_ - start);
    }

    const char* SkipLineFrom(const char* from, bool stopAtStray)
    {
        pos_ = static_cast<std::size_t>(from - buffer_.data());
        for (;;) {
            for (; pos_ < filled_ && !IsLineEnd(buffer_[pos_]); ++pos_)
                if (stopAtStray && IsStrayControl(static_cast<std::uint8_t>(buffer_[pos_])))
                    return buffer_.data() + pos_;
            std::size_t keep = pos_;
            if (pos_ < filled_ || !Load(keep))
                return nullptr;
        }
    }

    std::size_t Position() const { return static_cast<std::size_t>(loadedFrom_ + pos_); }
    std::size_t OffsetOf(const char* p) const
    {
        return static_cast<std::size_t>(loadedFrom_ + static_cast<std::uint64_t>(p - buffer_.data()));
    }

    // The line of the byte at `offset`, counted over the file from its start a chunk at a time
    // (only asked once, when the text turns out damaged there).
    std::size_t LineAt(std::size_t offset)
    {
        LineCounter counter;
        std::vector<std::uint8_t> chunk(std::min<std::uint64_t>(chunkBytes_, offset));
        for (std::uint64_t at = 0; at < offset;) {
            const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), offset - at));
            int error = 0;
            const std::size_t got = file_.ReadAt(at, chunk.data(), wanted, &error);
            counter.Feed(std::span(chunk).first(got));
            if (got < wanted) {
                failed_ = true;
                break;
            }
            at += got;
        }
        return counter.line;
    }

    // Whether the file gave fewer bytes than it had when opened (it shrank, or a read failed).
    bool ReadFailed() const { return failed_; }

private:
    static bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

    // Drops the loaded bytes before `keep` and reads more after the rest; false at the end of
    // the text or when nothing more comes. `keep` and the position move with the bytes. The
    // buffer doubles only while one word fills it, so a long word is read in linear time.
    bool Load(std::size_t& keep)
    {
        const std::uint64_t loadedEnd = loadedFrom_ + filled_;
        if (loadedEnd >= textEnd_ || failed_)
            return false;
        if (filled_ > keep)  // an empty buffer has no storage to move within
            std::memmove(buffer_.data(), buffer_.data() + keep, filled_ - keep);
        loadedFrom_ += keep;
        filled_ -= keep;
        pos_ -= keep;
        keep = 0;
        if (buffer_.size() < chunkBytes_)
            buffer_.resize(chunkBytes_);
        else if (filled_ == buffer_.size())
            buffer_.resize(2 * buffer_.size());
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - filled_, textEnd_ - loadedEnd));
        int error = 0;
        const std::size_t got = file_.ReadAt(loadedEnd, buffer_.data() + filled_, wanted, &error);
        filled_ += got;
        failed_ = got < wanted;
        return got > 0;
    }

    const platform::ReadableFile& file_;
    std::uint64_t textEnd_;
    std::size_t chunkBytes_;
    std::vector<char> buffer_;
    std::size_t filled_ = 0;
    std::size_t pos_ = 0;
    std::uint64_t loadedFrom_ = 0;  // file offset of buffer_[0]
    bool failed_ = false;
};

// The decimal exponent of a well-formed number word, saturated far beyond any word's length so
// that adding the position of its first digit cannot overflow and the sum keeps its sign.
std::int64_t SaturatedExponent(std::string_view digits, bool negative)
{
    constexpr std::int64_t kSaturation = std::int64_t{1} << 61;
    std::int64_t exponent = 0;
    for (const char digit : digits)
        exponent = exponent >= kSaturation / 10 ? kSaturation : exponent * 10 + (digit - '0');
    return negative ? -exponent : exponent;
}

// Whether a number that from_chars found out of the float range lies below 1 in magnitude
// (an underflow) rather than above the largest float. The word is known to be a well-formed
// decimal: optional "-", digits with an optional point, an optional exponent.
bool IsBelowOne(std::string_view word)
{
    std::size_t i = word.front() == '-' ? 1 : 0;
    std::int64_t order = 0;  // the value lies in [10^(order - 1), 10^order)
    bool leading = true;     // no non-zero digit seen yet
    bool fraction = false;
    for (; i < word.size() && word[i] != 'e' && word[i] != 'E'; ++i) {
        if (word[i] == '.') {
            fraction = true;
        } else if (leading && word[i] == '0') {
            order -= fraction ? 1 : 0;
        } else {
            leading = false;
            order += fraction ? 0 : 1;
        }
    }
    if (i + 1 >= word.size())
        return order <= 0;
    std::string_view exponent = word.substr(i + 1);
    const bool negative = exponent.front() == '-';
    if (exponent.front() == '-' || exponent.front() == '+')
        exponent.remove_prefix(1);
    return order + SaturatedExponent(exponent, negative) <= 0;
}

// The whole word as a float, without any locale. A leading "+" is accepted; a value too small
// for a float reads as the nearest one (a subnormal, or zero with the word's sign), while one
// beyond the float range fails. A word from_chars does not consume whole ("0x10", "1,5",
// "2mm") fails too.
bool ParseCoordinate(std::string_view word, float& value)
{
    if (word.size() > 1 && word.front() == '+' && word[1] != '-')
        word.remove_prefix(1);
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value, std::chars_format::general);
    if (result.ptr != end)
        return false;
    if (result.ec == std::errc::result_out_of_range && IsBelowOne(word)) {
        value = word.front() == '-' ? -0.0f : 0.0f;
        return true;
    }
    return result.ec == std::errc();
}

// What reading ASCII STL text found.
struct AsciiReading {
    std::vector<Vec3> corners;
    std::uint64_t facetKeywords = 0;
    std::string error;               // empty when the text read cleanly
    std::optional<std::size_t> end;  // where bytes no text holds, after "endsolid", cut the text short
    bool damaged = false;            // the error is a byte no text holds in a word the reader reads
};

// A word as an error text shows it (platform::ShownText): printable characters as they are,
// every byte of a control character or of broken UTF-8 as "\x" and two hexadecimal digits, so
// no message carries a byte that would cut or garble the line it is shown in. A hostile file
// can hold a word of megabytes, of which the start is enough to find it.
std::string QuotedWord(std::string_view word)
{
    constexpr std::size_t kShownCharacters = 64;
    std::string text = platform::ShownText(word.substr(0, kShownCharacters), platform::BrokenUtf8::Escaped);
    if (word.size() > kShownCharacters)
        text += "... (" + std::to_string(word.size()) + " characters)";
    return text;
}

std::string DamagedTextText(std::size_t line, std::uint8_t byte)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    return "The file is a text STL that cannot be read: line " + FormatCountGrouped(line) +
           " holds a control character (byte 0x" + kHex[byte >> 4] + kHex[byte & 15] + ") that no text holds.";
}

const char* FindStrayIn(std::string_view word)
{
    const auto stray =
        std::find_if(word.begin(), word.end(), [](char c) { return IsStrayControl(static_cast<std::uint8_t>(c)); });
    return stray == word.end() ? nullptr : &*stray;
}

// Text that holds a byte no text holds, where it is not the text's end, is damaged: named at once,
// at the byte's line, before any word around it is taken for a keyword or a number.
template <class Reader>
void NoteDamagedText(Reader& reader, AsciiReading& reading, const char* stray)
{
    const auto byte = static_cast<std::uint8_t>(*stray);
    reading.error = DamagedTextText(reader.LineAt(reader.OffsetOf(stray)), byte);
    reading.damaged = true;
}

// The words whose meaning the reader acts on: a facet's normal that is cut short ends at one.
bool IsActedOnKeyword(std::string_view word)
{
    return EqualsIgnoringCase(word, "solid") || ClosesSolid(word) || EqualsIgnoringCase(word, "facet") ||
           EqualsIgnoringCase(word, "vertex");
}

// A facet's normal: three numbers the reader skips.
constexpr int kNormalWords = 3;

template <class Reader>
bool ReadVertex(Reader& reader, AsciiReading& reading)
{
    float xyz[3];
    for (float& value : xyz) {
        const std::string_view number = reader.Next();
        if (number.empty()) {
            reading.error = "The file ends in the middle of a vertex.";
            return false;
        }
        if (const char* stray = FindStrayIn(number)) {
            NoteDamagedText(reader, reading, stray);
            return false;
        }
        if (!ParseCoordinate(number, value)) {
            reading.error = "A vertex coordinate on line " +
                FormatCountGrouped(reader.LineAt(reader.OffsetOf(number.data()))) +
                " could not be read as a number: '" + QuotedWord(number) + "'.";
            return false;
        }
    }
    reading.corners.push_back(Vec3{xyz[0], xyz[1], xyz[2]});
    return true;
}

// Reads the words until the data ends, a vertex fails, or bytes no text holds follow an
// "endsolid" line (on it, or before the next solid opens): a trailer, which ends the text.
// The words the reader skips, the solid's name and a facet's normal, are skipped whatever bytes
// they hold; such a byte in a word the reader must read (a keyword, a coordinate, any word
// where a keyword may stand) makes the text damaged.
template <class Reader>
void ReadAsciiWords(Reader& reader, AsciiReading& reading)
{
    bool firstWord = true;
    // Where the last "endsolid" line ends, until a solid opens again (a plain index: GCC 12
    // warns falsely that an optional here may be used uninitialised).
    constexpr std::size_t kNoEndsolid = std::numeric_limits<std::size_t>::max();
    std::size_t endsolidLineEnd = kNoEndsolid;
    int normalWordsLeft = 0;
    for (std::string_view word = reader.Next(); !word.empty(); word = reader.Next()) {
        // The solid's name runs to the end of its line and may hold any word, "vertex" included.
        const bool opensSolid = firstWord ? StartsWithSolid(word) : EqualsIgnoringCase(word, "solid");
        firstWord = false;
        if (normalWordsLeft > 0 && endsolidLineEnd == kNoEndsolid && !IsActedOnKeyword(word)) {
            --normalWordsLeft;
            continue;
        }
        normalWordsLeft = 0;
        if (opensSolid) {
            (void)reader.SkipLineFrom(word.data() + kSolidLength, false);
            endsolidLineEnd = kNoEndsolid;
        } else if (ClosesSolid(word)) {
            if (reader.SkipLineFrom(word.data() + kEndsolidLength, true) != nullptr) {
                reading.end = reader.Position();
                return;
            }
            endsolidLineEnd = reader.Position();
        } else if (const char* stray = FindStrayIn(word)) {
            if (endsolidLineEnd != kNoEndsolid)
                reading.end = endsolidLineEnd;
            else
                NoteDamagedText(reader, reading, stray);
            return;
        } else if (EqualsIgnoringCase(word, "facet")) {
            ++reading.facetKeywords;
        } else if (EqualsIgnoringCase(word, "vertex")) {
            // The word is not looked at again: reading the numbers may move the chunk it lay in.
            if (!ReadVertex(reader, reading))
                return;
        } else if (EqualsIgnoringCase(word, "normal")) {
            normalWordsLeft = kNormalWords;
        }
    }
}

void CheckWholeTriangles(AsciiReading& reading)
{
    if (reading.error.empty() && reading.corners.size() % 3 != 0)
        reading.error = "The file ends in the middle of a facet: " + std::to_string(reading.corners.size()) +
                        " vertices is not a whole number of triangles.";
}

AsciiReading ReadAsciiSolids(std::span<const std::uint8_t> bytes)
{
    AsciiReading reading;
    WordReader reader(bytes);
    ReadAsciiWords(reader, reading);
    CheckWholeTriangles(reading);
    return reading;
}

std::optional<std::size_t> FindStrayControl(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t count)
{
    const std::size_t end = std::min(bytes.size(), from + count);
    for (std::size_t i = from; i < end; ++i)
        if (IsStrayControl(bytes[i]))
            return i;
    return std::nullopt;
}

// What the detection looks at: the file's size, its first bytes (kDetectionBytes of them,
// or all when it is shorter), whether its first word begins with "solid", and where the run
// of quiet bytes that ends it begins (only asked for when the first word does).
struct DetectionInput {
    std::span<const std::uint8_t> head;
    std::uint64_t size = 0;
    bool opensWithSolid = false;
    std::uint64_t quietTailStart = 0;
};

constexpr std::size_t kProbeBytes = 4096;
constexpr std::size_t kDetectionBytes = kBinaryCountOffset + kProbeBytes;

// Whether ASCII text reads past the byte no text holds at `at`: it lies in a word the reader
// skips (a facet's normal, the name of a solid after the first line); or, from offset 84 on, it
// starts a quiet tail or the text up to it reads as solids and stops there after "endsolid".
// Text ends there never within the count at offset 80, whatever the header says: a binary count
// below 2^24 holds a zero byte there. Nor is a byte on the first line read past, where a binary
// header that begins with "solid" runs on into its count and facets.
bool TextReadsPast(const DetectionInput& input, std::size_t at)
{
    if (at >= kBinaryHeaderSize && at >= input.quietTailStart)
        return true;
    const AsciiReading reading = ReadAsciiSolids(input.head.first(at + 1));
    if (reading.end.has_value())
        return at >= kBinaryHeaderSize;
    return !reading.damaged && LineOf(input.head, at) > 1;
}

// Many exporters write "solid" into a binary header, so a binary file of the wrong size may
// begin like an ASCII one. It is taken for binary when its count explains its size to within
// one facet, or when the bytes after the header hold a control byte that no text has (binary
// floats and attributes nearly always hold a zero byte), unless that byte is where the text
// ends. Only the first bytes are looked at, so a large ASCII file costs no extra pass.
bool LooksLikeDamagedBinary(const DetectionInput& input)
{
    if (input.size < kBinaryHeaderSize)
        return false;
    const std::uint64_t needed = BinarySizeFor(DeclaredBinaryCount(input.head));
    const std::uint64_t size = input.size;
    if ((needed > size ? needed - size : size - needed) <= kFacetSize)
        return true;
    const std::optional<std::size_t> stray = FindStrayControl(input.head, kBinaryCountOffset, kProbeBytes);
    return stray && !TextReadsPast(input, *stray);
}

StlFormat DetectFormat(const DetectionInput& input)
{
    if (input.size >= kBinaryHeaderSize && BinarySizeFor(DeclaredBinaryCount(input.head)) == input.size)
        return StlFormat::Binary;
    if (input.opensWithSolid && !LooksLikeDamagedBinary(input))
        return StlFormat::Ascii;
    return StlFormat::Unrecognised;
}

StlReadResult Failure(const std::string& fileName, StlFormat format, std::string text)
{
    StlReadResult result;
    result.error = std::move(text);
    result.report.fileName = fileName;
    result.report.format = format;
    return result;
}

// Whether the first word, read past whitespace and bytes no text holds, begins with "solid" in
// any case: text whose opening word a stray byte broke ("so\0lid", or a NUL before it).
bool OpensWithSolidPastStrays(std::span<const std::uint8_t> head)
{
    constexpr std::string_view kSolid = "solid";
    std::size_t matched = 0;
    for (std::size_t i = 0; i < head.size() && matched < kSolid.size(); ++i) {
        const std::uint8_t byte = head[i];
        if (IsStrayControl(byte) || (matched == 0 && IsStlSpace(byte)))
            continue;
        // Setting bit 5 lowers a capital; no byte but the letter's two cases lands on it.
        if ((byte | 0x20) != kSolid[matched])
            return false;
        ++matched;
    }
    return matched == kSolid.size();
}

// Why a file that opens with "solid" but holds bytes no text holds is damaged text rather than
// binary, when such bytes are rarer than one per facet's length: binary facets hold zero bytes
// in nearly every facet (float exponents, attribute bytes); a stray byte in text is a lone
// accident. Named at the first such byte in a word the reader reads, or else at the first.
// Nothing when the bytes read as binary.
std::optional<std::string> DamagedTextFailure(const DetectionInput& input)
{
    if (!input.opensWithSolid && !OpensWithSolidPastStrays(input.head))
        return std::nullopt;
    const std::size_t strays = static_cast<std::size_t>(std::count_if(input.head.begin(), input.head.end(), IsStrayControl));
    if (strays == 0 || strays * kFacetSize >= input.head.size())
        return std::nullopt;
    AsciiReading reading = ReadAsciiSolids(input.head);
    if (reading.damaged)
        return std::move(reading.error);
    const std::size_t first = *FindStrayControl(input.head, 0, input.head.size());
    return DamagedTextText(LineOf(input.head, first), input.head[first]);
}

// Why bytes of at least a header's length are no STL, and as which format they were judged.
// Text that does not open with "solid" (an OFF or OBJ file, a note) is said to be text: read as
// binary, its letters would make up a triangle count that means nothing to the user. Text that
// opens with "solid" and holds a stray byte is named as the text it is, at the byte's line.
StlReadResult UnrecognisedFailure(const std::string& fileName, const DetectionInput& input)
{
    if (std::optional<std::string> damaged = DamagedTextFailure(input))
        return Failure(fileName, StlFormat::Ascii, std::move(*damaged));
    if (input.size < kBinaryHeaderSize)
        return Failure(fileName, StlFormat::Unrecognised, "The file is not recognised as either a binary or an ASCII STL.");
    const bool text = !input.opensWithSolid && !FindStrayControl(input.head, 0, input.head.size());
    if (text)
        return Failure(fileName, StlFormat::Unrecognised,
                       "The file is not an STL: it is text that does not begin with \"solid\".");
    return Failure(fileName, StlFormat::Unrecognised, HeaderMismatchText(DeclaredBinaryCount(input.head), input.size));
}

// Whether the five bytes at `at` spell "solid" in any case.
bool SpellsSolid(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return bytes.size() - at >= 5 &&
           EqualsIgnoringCase(std::string_view(reinterpret_cast<const char*>(bytes.data() + at), 5), "solid");
}

// What one pass over the soup learns besides filling it: whether every coordinate is finite.
// (The weld's tolerances are taken from the welded pieces, never from the soup's box.)
struct SoupScan {
    bool finite = true;

    void Note(Vec3 p) { finite = finite && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }
    void Join(const SoupScan& other) { finite = finite && other.finite; }
};

// Passes cornerAt(i) for i in [0, count) to store(first + i, p) and notes it in `scan`. Blocks
// are fixed by the count alone and joined in order, so the scan is the same on any number of
// threads (minima, maxima and a conjunction do not depend on order anyway).
template <class CornerAt, class Store>
void ScanCorners(std::size_t count, std::size_t first, CornerAt&& cornerAt, Store&& store, SoupScan& scan)
{
    constexpr std::size_t kGrain = 1u << 15;
    std::vector<SoupScan> blocks((count + kGrain - 1) / kGrain);
    ParallelForBlocks(count, kGrain, [&](std::size_t begin, std::size_t end) {
        SoupScan& block = blocks[begin / kGrain];
        for (std::size_t i = begin; i < end; ++i) {
            const Vec3 p = cornerAt(i);
            store(first + i, p);
            block.Note(p);
        }
    });
    for (const SoupScan& block : blocks)
        scan.Join(block);
}

// A soup of `cornerCount` vertices (normal zero) with indices in corner order.
TriangleMesh MakeSoup(std::size_t cornerCount)
{
    TriangleMesh mesh;
    mesh.vertices.resize(cornerCount);
    mesh.indices.resize(cornerCount);
    return mesh;
}

// Stores corner i of a soup made by MakeSoup.
auto SoupStore(TriangleMesh& mesh)
{
    return [&mesh](std::size_t i, Vec3 p) {
        mesh.vertices[i].position = p;
        mesh.indices[i] = static_cast<std::uint32_t>(i);
    };
}

// The soup whose positions are cornerAt(i), scanned.
template <class CornerAt>
TriangleMesh BuildSoup(std::size_t cornerCount, CornerAt&& cornerAt, SoupScan& scan)
{
    TriangleMesh mesh = MakeSoup(cornerCount);
    ScanCorners(cornerCount, 0, cornerAt, SoupStore(mesh), scan);
    return mesh;
}

// The corner positions cornerAt(i) of [0, cornerCount), with the same scan as BuildSoup.
template <class CornerAt>
std::vector<Vec3> ReadCorners(std::size_t cornerCount, CornerAt&& cornerAt, SoupScan& scan)
{
    std::vector<Vec3> corners(cornerCount);
    ScanCorners(cornerCount, 0, cornerAt, [&](std::size_t i, Vec3 p) { corners[i] = p; }, scan);
    return corners;
}

// Corner `corner` of the facets that start at `facets`.
Vec3 FacetCorner(const std::uint8_t* facets, std::size_t corner)
{
    const std::uint8_t* p = facets + kFacetSize * (corner / 3) + kFacetCornerOffset + 12 * (corner % 3);
    return Vec3{LoadF32(p), LoadF32(p + 4), LoadF32(p + 8)};
}

Vec3 BinaryCorner(std::span<const std::uint8_t> bytes, std::size_t corner)
{
    return FacetCorner(bytes.data() + kBinaryHeaderSize, corner);
}

bool HasOpenOrNonManifoldEdges(const EdgeCounts& counts) { return counts.boundary != 0 || counts.nonManifold != 0; }

// The exact weld (unless the mesh was built welded), the first degenerate pass and, only when
// the part is still not closed, the tolerance weld (at `tolerance`, or when that is negative at
// each piece's own, LocalWeldTolerances, after the exact weld has joined the pieces) and the
// second degenerate pass, whose triangles the weld collapsed. Leaves in `edges` the edge counts
// of the mesh as it stands when they were computed and no later pass changed them.
void WeldSoup(TriangleMesh& mesh, float tolerance, const StlReadOptions& options, StlImportReport& report,
              std::optional<EdgeCounts>& edges, bool exactlyWelded)
{
    if (!exactlyWelded)
        WeldIdenticalVertices(mesh);
    // Zero-area facets collapse rather than go: a closed file stays closed.
    const auto removeDegenerate = [&] {
        return options.removeZeroArea ? RemoveZeroAreaTriangles(mesh) : RemoveDegenerateTriangles(mesh, true);
    };
    if (options.removeDegenerate)
        report.degenerateRemoved = removeDegenerate();
    if (tolerance == 0.0f || std::isnan(tolerance))
        return;
    edges = CountEdges(mesh);
    if (!HasOpenOrNonManifoldEdges(*edges))
        return;
    if (tolerance > 0.0f) {
        report.weldTolerance = tolerance;
        WeldVerticesWithin(mesh, tolerance);
    } else {
        const std::vector<float> tolerances = LocalWeldTolerances(mesh);
        report.weldTolerance = LargestTolerance(tolerances);
        WeldVerticesWithin(mesh, tolerances);
    }
    edges.reset();
    if (options.removeDegenerate)
        report.weldCollapsedRemoved = removeDegenerate();
}

// What ASCII text said besides its corners (nothing for a binary file).
struct AsciiFacts {
    std::uint64_t facetKeywords = 0;
    std::uint64_t ignoredBytes = 0;  // from the end of the text, cut short after "endsolid"
};

// "It was" after a count of one, "They were" after any other.
std::string TheyWere(std::uint64_t count)
{
    return std::string(PluralWord(count, "It was", "They were"));
}

void AddWarnings(StlImportReport& report, const AsciiFacts& ascii)
{
    auto& warnings = report.warnings;
    if (report.format == StlFormat::Ascii && ascii.facetKeywords != report.trianglesRead)
        warnings.push_back("The file contains " + FormatCountOf(ascii.facetKeywords, "facet keyword", "facet keywords") +
                           " but " + FormatCountOf(report.trianglesRead, "triangle", "triangles") + " of vertex data.");
    if (ascii.ignoredBytes != 0)
        warnings.push_back("The file contains " + FormatCountOf(ascii.ignoredBytes, "byte", "bytes") +
                           " of other data after \"endsolid\". " + TheyWere(ascii.ignoredBytes) + " ignored.");
    if (report.degenerateRemoved != 0)
        warnings.push_back("Removed " +
                           FormatCountOf(report.degenerateRemoved, "degenerate triangle", "degenerate triangles") +
                           " that enclosed no area.");
    if (report.weldCollapsedRemoved != 0)
        warnings.push_back("Welding corners within " + FormatGeneral6(report.weldTolerance) + " mm to close seams collapsed " +
                           FormatCountOf(report.weldCollapsedRemoved, "triangle", "triangles") + ". " +
                           TheyWere(report.weldCollapsedRemoved) + " removed.");
    if (report.duplicateTriangles != 0 && report.duplicatesRemoved == 0)
        warnings.push_back("The file contains " +
                           FormatCountOf(report.duplicateTriangles, "duplicate triangle", "duplicate triangles") + ". " +
                           TheyWere(report.duplicateTriangles) + " kept; removing " +
                           std::string(PluralWord(report.duplicateTriangles, "it", "them")) + " is a repair operation.");
    if (report.openBoundaryEdges != 0)
        warnings.push_back("The mesh is not closed: " +
                           FormatCountOf(report.openBoundaryEdges, "open boundary edge", "open boundary edges") + ".");
    if (report.nonManifoldEdges != 0)
        warnings.push_back("The mesh has " +
                           FormatCountOf(report.nonManifoldEdges, "non-manifold edge", "non-manifold edges") +
                           " shared by more than two triangles.");
    if (report.components >= 2)
        warnings.push_back("The file contains " + FormatCountGrouped(report.components) + " disconnected components.");
    const float largest = std::max({report.dimensions.x, report.dimensions.y, report.dimensions.z});
    if (largest < 1.0f)
        warnings.push_back("The model is only " + FormatLength(largest) +
                           " mm across. It may not have been authored in millimetres.");
    else if (largest > 1000.0f)
        warnings.push_back("The model is " + FormatMillimetres2(largest) +
                           " mm across. It may not have been authored in millimetres.");
}

// Turns the soup into the indexed mesh and fills the report (the steps after parsing).
// `weldedCorners`, when not 0, says the mesh was built exactly welded from that many corners.
StlReadResult BuildMesh(TriangleMesh mesh, const SoupScan& scan, const AsciiFacts& ascii,
                        const std::string& fileName, StlFormat format, const StlReadOptions& options,
                        std::uint64_t weldedCorners = 0)
{
    if (!scan.finite)
        return Failure(fileName, format, kNonFiniteText);
    StlReadResult result;
    StlImportReport& report = result.report;
    report.fileName = fileName;
    report.format = format;
    report.trianglesRead = mesh.TriangleCount();
    report.verticesBeforeWelding = weldedCorners != 0 ? weldedCorners : mesh.vertices.size();

    std::optional<EdgeCounts> edges;
    const bool indicesOnly = !options.removeZeroArea;
    if (options.mergeVertices)
        WeldSoup(mesh, options.weldTolerance, options, report, edges, weldedCorners != 0);
    else if (options.removeDegenerate)
        report.degenerateRemoved = RemoveDegenerateTriangles(mesh, indicesOnly);

    report.duplicateTriangles = CountDuplicateTriangles(mesh);
    if (options.removeDuplicates) {
        report.duplicatesRemoved = RemoveDuplicateTriangles(mesh);
        if (report.duplicatesRemoved != 0)
            edges.reset();
    }
    // Renumbering the used vertices keeps every edge, so edge counts taken before stay right.
    RemoveUnusedVertices(mesh);
    if (mesh.vertices.empty() || mesh.indices.empty())
        return Failure(fileName, format, "Every triangle in the file was removed as degenerate, leaving no geometry.");

    mesh.ComputeBounds();
    if (options.computeNormals)
        mesh.ComputeVertexNormals();
    if (!edges)
        edges = CountEdges(mesh);

    report.trianglesKept = mesh.TriangleCount();
    report.verticesAfterWelding = mesh.vertices.size();
    if (mesh.boundsValid)
        report.dimensions = mesh.boundsMax - mesh.boundsMin;
    report.openBoundaryEdges = edges->boundary;
    report.nonManifoldEdges = edges->nonManifold;
    report.components = CountBodies(mesh);
    AddWarnings(report, ascii);

    result.ok = true;
    result.mesh = std::move(mesh);
    return result;
}

// The binary form read straight into the soup: the corner list of ParseBinaryStl would be one
// more copy of the whole file. The detection has checked the size against the count.
StlReadResult ParseBinaryIntoMesh(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                  const StlReadOptions& options)
{
    const std::uint64_t corners = std::uint64_t{DeclaredBinaryCount(bytes)} * 3;
    if (corners == 0)
        return Failure(fileName, StlFormat::Binary, "The file contains no triangles.");
    if (corners > kMaxCorners)
        return Failure(fileName, StlFormat::Binary, kTooManyTrianglesText);
    SoupScan scan;
    if (options.mergeVertices && corners < kMaxWeldedCorners) {
        // Welded straight from the corners: the soup of one vertex per corner is twice their
        // size and would only be compacted again.
        std::vector<Vec3> positions = ReadCorners(static_cast<std::size_t>(corners),
                                                  [&](std::size_t i) { return BinaryCorner(bytes, i); }, scan);
        if (!scan.finite)
            return Failure(fileName, StlFormat::Binary, kNonFiniteText);
        TriangleMesh welded = WeldCorners(positions);
        positions = std::vector<Vec3>();
        return BuildMesh(std::move(welded), scan, {}, fileName, StlFormat::Binary, options, corners);
    }
    TriangleMesh soup = BuildSoup(static_cast<std::size_t>(corners),
                                  [&](std::size_t i) { return BinaryCorner(bytes, i); }, scan);
    return BuildMesh(std::move(soup), scan, {}, fileName, StlFormat::Binary, options);
}

// A quiet tail is dropped without comment; bytes no text holds after "endsolid" are dropped
// with a warning.
StlReadResult AsciiReadingToMesh(AsciiReading reading, std::uint64_t size, const std::string& fileName,
                                 const StlReadOptions& options)
{
    if (!reading.error.empty())
        return Failure(fileName, StlFormat::Ascii, reading.error);
    if (reading.corners.empty())
        return Failure(fileName, StlFormat::Ascii, "The file contains no triangles.");
    if (reading.corners.size() > kMaxCorners)
        return Failure(fileName, StlFormat::Ascii, kTooManyTrianglesText);
    const AsciiFacts facts{reading.facetKeywords, reading.end ? size - *reading.end : 0};
    SoupScan scan;
    TriangleMesh soup = BuildSoup(reading.corners.size(), [&](std::size_t i) { return reading.corners[i]; }, scan);
    reading.corners = std::vector<Vec3>();
    return BuildMesh(std::move(soup), scan, facts, fileName, StlFormat::Ascii, options);
}

StlReadResult ParseAsciiIntoMesh(std::span<const std::uint8_t> bytes, const std::string& fileName,
                                 const StlReadOptions& options)
{
    return AsciiReadingToMesh(ReadAsciiSolids(WithoutQuietTail(bytes)), bytes.size(), fileName, options);
}

// ---- Reading from a file a chunk at a time ----------------------------------------------

StlReadResult EndedEarly(const std::string& fileName, std::uint64_t size)
{
    return Failure(fileName, StlFormat::Unrecognised,
                   "The file ended earlier than its reported size of " + FormatCountGrouped(size) + " bytes.");
}

// The open STL file, read through one chunk buffer; any read that comes up short sets `failed`.
struct StlFile {
    const platform::ReadableFile& file;
    std::size_t chunkBytes;
    std::vector<std::uint8_t> chunk;
    bool failed = false;

    std::uint64_t Size() const { return file.Size(); }

    // The bytes [offset, offset + count), count at most chunkBytes; empty after a short read.
    std::span<const std::uint8_t> Read(std::uint64_t offset, std::size_t count)
    {
        chunk.resize(std::max(chunk.size(), count));
        int error = 0;
        if (file.ReadAt(offset, chunk.data(), count, &error) != count) {
            failed = true;
            return {};
        }
        return std::span<const std::uint8_t>(chunk).first(count);
    }
};

// Whether the first word, after any run of whitespace, begins with "solid".
bool OpensWithSolid(StlFile& file)
{
    for (std::uint64_t offset = 0; offset < file.Size();) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(file.chunkBytes, file.Size() - offset));
        const std::span<const std::uint8_t> bytes = file.Read(offset, count);
        const auto word = std::find_if_not(bytes.begin(), bytes.end(), IsStlSpace);
        if (word != bytes.end()) {
            const std::uint64_t at = offset + static_cast<std::uint64_t>(word - bytes.begin());
            const std::size_t available = static_cast<std::size_t>(std::min<std::uint64_t>(5, file.Size() - at));
            const std::span<const std::uint8_t> five = file.Read(at, available);
            return SpellsSolid(five, 0);
        }
        if (bytes.empty())
            return false;
        offset += count;
    }
    return false;
}

// Where the run of quiet bytes that ends the file begins, read backwards from the end.
std::uint64_t FindQuietTailStart(StlFile& file)
{
    for (std::uint64_t end = file.Size(); end > 0;) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(file.chunkBytes, end));
        const std::span<const std::uint8_t> bytes = file.Read(end - count, count);
        if (bytes.empty())
            return end;
        const auto last = std::find_if_not(bytes.rbegin(), bytes.rend(), IsQuietTailByte);
        if (last != bytes.rend())
            return end - static_cast<std::uint64_t>(last - bytes.rbegin());
        end -= count;
    }
    return 0;
}

// Reads `count` facets after the header, a chunk at a time, handing every corner to store.
template <class Store>
void ReadBinaryFacets(StlFile& file, std::uint64_t count, Store&& store, SoupScan& scan)
{
    const std::uint64_t perChunk = std::max<std::uint64_t>(1, file.chunkBytes / kFacetSize);
    for (std::uint64_t first = 0; first < count && !file.failed; first += perChunk) {
        const std::uint64_t facets = std::min(perChunk, count - first);
        const std::span<const std::uint8_t> bytes =
            file.Read(kBinaryHeaderSize + kFacetSize * first, static_cast<std::size_t>(facets * kFacetSize));
        if (bytes.empty())
            return;
        ScanCorners(static_cast<std::size_t>(facets * 3), static_cast<std::size_t>(first * 3),
                    [&](std::size_t i) { return FacetCorner(bytes.data(), i); }, store, scan);
    }
}

// The binary form read into the mesh's arrays straight from the file, as ParseBinaryIntoMesh
// reads it from memory.
StlReadResult ReadBinaryFile(StlFile& file, std::uint32_t count, const std::string& fileName,
                             const StlReadOptions& options)
{
    const std::uint64_t corners = std::uint64_t{count} * 3;
    if (corners == 0)
        return Failure(fileName, StlFormat::Binary, "The file contains no triangles.");
    if (corners > kMaxCorners)
        return Failure(fileName, StlFormat::Binary, kTooManyTrianglesText);
    SoupScan scan;
    if (options.mergeVertices && corners < kMaxWeldedCorners) {
        std::vector<Vec3> positions(static_cast<std::size_t>(corners));
        ReadBinaryFacets(file, count, [&](std::size_t i, Vec3 p) { positions[i] = p; }, scan);
        if (file.failed)
            return EndedEarly(fileName, file.Size());
        if (!scan.finite)
            return Failure(fileName, StlFormat::Binary, kNonFiniteText);
        TriangleMesh welded = WeldCorners(positions);
        positions = std::vector<Vec3>();
        return BuildMesh(std::move(welded), scan, {}, fileName, StlFormat::Binary, options, corners);
    }
    TriangleMesh soup = MakeSoup(static_cast<std::size_t>(corners));
    ReadBinaryFacets(file, count, SoupStore(soup), scan);
    if (file.failed)
        return EndedEarly(fileName, file.Size());
    return BuildMesh(std::move(soup), scan, {}, fileName, StlFormat::Binary, options);
}

StlReadResult ReadAsciiFile(StlFile& file, std::uint64_t textEnd, const std::string& fileName,
                            const StlReadOptions& options)
{
    ChunkedWordReader reader(file.file, textEnd, file.chunkBytes);
    AsciiReading reading;
    ReadAsciiWords(reader, reading);
    if (reader.ReadFailed())
        return EndedEarly(fileName, file.Size());
    CheckWholeTriangles(reading);
    return AsciiReadingToMesh(std::move(reading), file.Size(), fileName, options);
}

// ParseStl's steps on a file too large to hold twice: only the first bytes are read before
// the form is known, and a header that cannot match the size is refused at once.
StlReadResult ReadLargeStl(StlFile& file, const std::string& fileName, const StlReadOptions& options)
{
    const std::span<const std::uint8_t> first = file.Read(0, kDetectionBytes);
    if (file.failed)
        return EndedEarly(fileName, file.Size());
    const std::vector<std::uint8_t> head(first.begin(), first.end());
    DetectionInput input{.head = head, .size = file.Size()};
    const std::uint32_t count = DeclaredBinaryCount(input.head);
    if (BinarySizeFor(count) != input.size) {
        input.opensWithSolid = OpensWithSolid(file);
        if (input.opensWithSolid)
            input.quietTailStart = FindQuietTailStart(file);
        if (file.failed)
            return EndedEarly(fileName, file.Size());
    }
    switch (DetectFormat(input)) {
    case StlFormat::Binary:
        return ReadBinaryFile(file, count, fileName, options);
    case StlFormat::Ascii:
        return ReadAsciiFile(file, input.quietTailStart, fileName, options);
    case StlFormat::Unrecognised:
        break;
    }
    return UnrecognisedFailure(fileName, input);
}

StlReadResult ReadStlFrom(const std::filesystem::path& path, const StlReadOptions& options, std::size_t chunkBytes)
{
    const std::string fileName = ReportFileName(path);
    const platform::OpenedFile opened = platform::OpenRegularFile(path);
    switch (opened.status) {
    case platform::OpenStatus::Ok:
        break;
    case platform::OpenStatus::Unreachable:
        return Failure(fileName, StlFormat::Unrecognised,
                       "The file could not be opened: " +
                           platform::FileErrorCauseText(path, opened.error, platform::FileUse::read));
    case platform::OpenStatus::NotRegularFile:
        return Failure(fileName, StlFormat::Unrecognised,
                       std::string("The file could not be opened: it is not a regular file (it is ") +
                           platform::FileKindText(path) + ").");
    case platform::OpenStatus::OpenFailed:
        return Failure(fileName, StlFormat::Unrecognised,
                       "The file could not be opened for reading: " +
                           platform::FileErrorCauseText(path, opened.error, platform::FileUse::read));
    }
    StlFile file{opened.file, std::max<std::size_t>(chunkBytes, 1), {}};
    if (file.Size() > kDetectionBytes)
        return ReadLargeStl(file, fileName, options);
    const std::span<const std::uint8_t> bytes = file.Read(0, static_cast<std::size_t>(file.Size()));
    if (file.failed)
        return EndedEarly(fileName, file.Size());
    return ParseStl(bytes, fileName, options);
}

}  // namespace

StlFormat DetectStlFormat(std::span<const std::uint8_t> bytes)
{
    DetectionInput input{.head = bytes.first(std::min(bytes.size(), kDetectionBytes)), .size = bytes.size()};
    const auto word = std::find_if_not(bytes.begin(), bytes.end(), IsStlSpace);
    input.opensWithSolid = SpellsSolid(bytes, static_cast<std::size_t>(word - bytes.begin()));
    if (input.opensWithSolid)
        input.quietTailStart = WithoutQuietTail(bytes).size();
    return DetectFormat(input);
}

bool ParseBinaryStl(std::span<const std::uint8_t> bytes, std::vector<Vec3>& corners, std::uint64_t& declaredCount,
                    std::string& error)
{
    corners.clear();
    declaredCount = 0;
    // Callers normally come through the detection, but the count must never be trusted
    // beyond the bytes that are there.
    if (bytes.size() < kBinaryHeaderSize) {
        error = "The file is not recognised as either a binary or an ASCII STL.";
        return false;
    }
    const std::uint64_t count = DeclaredBinaryCount(bytes);
    if (BinarySizeFor(count) != bytes.size()) {
        error = HeaderMismatchText(count, bytes.size());
        return false;
    }
    if (count * 3 > kMaxCorners) {
        error = kTooManyTrianglesText;
        return false;
    }
    corners.resize(static_cast<std::size_t>(count * 3));
    // Each corner has a fixed place in both the bytes and the corner list.
    ParallelFor(corners.size(), [&](std::size_t i) { corners[i] = BinaryCorner(bytes, i); }, 1u << 15);
    declaredCount = count;
    return true;
}

bool ParseAsciiStl(std::span<const std::uint8_t> bytes, std::vector<Vec3>& corners, std::uint64_t& declaredCount,
                   std::string& error)
{
    AsciiReading reading = ReadAsciiSolids(WithoutQuietTail(bytes));
    corners = std::move(reading.corners);
    declaredCount = reading.facetKeywords;
    if (!reading.error.empty()) {
        error = std::move(reading.error);
        return false;
    }
    return true;
}

StlReadResult ParseStl(std::span<const std::uint8_t> bytes, const std::string& fileName, const StlReadOptions& options)
{
    if (bytes.size() < kMinimumFileSize)
        return Failure(fileName, StlFormat::Unrecognised,
                       "The file is too small to be an STL: " + std::to_string(bytes.size()) + " bytes.");
    const StlFormat format = DetectStlFormat(bytes);
    if (format == StlFormat::Unrecognised) {
        DetectionInput input{.head = bytes.first(std::min(bytes.size(), kDetectionBytes)), .size = bytes.size()};
        const auto word = std::find_if_not(bytes.begin(), bytes.end(), IsStlSpace);
        input.opensWithSolid = SpellsSolid(bytes, static_cast<std::size_t>(word - bytes.begin()));
        return UnrecognisedFailure(fileName, input);
    }

    if (format == StlFormat::Binary)
        return ParseBinaryIntoMesh(bytes, fileName, options);
    return ParseAsciiIntoMesh(bytes, fileName, options);
}

StlReadResult ReadStlFile(const std::filesystem::path& path, const StlReadOptions& options)
{
    return ReadStlFrom(path, options, detail::kStlReadChunkBytes);
}

namespace detail {

StlReadResult ReadStlFileInChunks(const std::filesystem::path& path, const StlReadOptions& options,
                                  std::size_t chunkBytes)
{
    return ReadStlFrom(path, options, chunkBytes);
}

}  // namespace detail

std::string FormatImportReport(const StlImportReport& report)
{
    const char* formatName = report.format == StlFormat::Binary ? "Binary STL"
                             : report.format == StlFormat::Ascii ? "ASCII STL"
                                                                 : "Unrecognised";
    std::string text;
    text += "File: " + report.fileName + "\n";
    text += std::string("Format: ") + formatName + "\n";
    text += "Units: Assumed millimetres\n";
    text += "Triangles read: " + FormatCountGrouped(report.trianglesRead) + "\n";
    text += "Triangles kept: " + FormatCountGrouped(report.trianglesKept) + "\n";
    text += "Degenerate triangles removed: " + FormatCountGrouped(report.degenerateRemoved) + "\n";
    text += "Duplicate triangles: " + FormatCountGrouped(report.duplicateTriangles);
    if (report.duplicatesRemoved != 0)
        text += " (" + FormatCountGrouped(report.duplicatesRemoved) + " removed)";
    text += "\nWelding: exact";
    if (report.weldTolerance > 0.0f)
        text += ", then " + FormatGeneral6(report.weldTolerance) + " mm to close remaining seams";
    text += "\nVertices before welding: " + FormatCountGrouped(report.verticesBeforeWelding) + "\n";
    text += "Vertices after welding: " + FormatCountGrouped(report.verticesAfterWelding) + "\n";
    text += "Dimensions: " + FormatSize3(report.dimensions.x, report.dimensions.y, report.dimensions.z) + "\n";
    text += "Open boundary edges: " + FormatCountGrouped(report.openBoundaryEdges) + "\n";
    text += "Non-manifold edges: " + FormatCountGrouped(report.nonManifoldEdges) + "\n";
    text += "Components: " + FormatCountGrouped(report.components) + "\n";
    for (const std::string& warning : report.warnings)
        text += "Warning: " + warning + "\n";
    return text;
}

}  // namespace grainforge::mesh
