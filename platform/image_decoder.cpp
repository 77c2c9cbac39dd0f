#include "platform/image_decoder.h"

#include "platform/file_system.h"
#include "platform/image_format_decoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

namespace grainforge::platform {

namespace {

class FileByteSource final : public ByteSource {
public:
    FileByteSource(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
    ~FileByteSource() override { std::fclose(file_); }
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    std::size_t Read(void* buffer, std::size_t size) noexcept override
    {
        const std::size_t got = std::fread(buffer, 1, size, file_);
        position_ += got;
        return got;
    }
    bool Seek(std::uint64_t position) noexcept override
    {
        if (position > size_ || ::fseeko(file_, static_cast<off_t>(position), SEEK_SET) != 0)
            return false;
        position_ = position;
        return true;
    }
    std::uint64_t Position() const noexcept override { return position_; }
    std::uint64_t Size() const noexcept override { return size_; }

private:
    std::FILE* file_;
    std::uint64_t size_;
    std::uint64_t position_ = 0;
};

class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t Read(void* buffer, std::size_t size) noexcept override
    {
        const std::size_t got = std::min<std::size_t>(size, bytes_.size() - position_);
        if (got > 0)
            std::memcpy(buffer, bytes_.data() + position_, got);
        position_ += got;
        return got;
    }
    bool Seek(std::uint64_t position) noexcept override
    {
        if (position > bytes_.size())
            return false;
        position_ = static_cast<std::size_t>(position);
        return true;
    }
    std::uint64_t Position() const noexcept override { return position_; }
    std::uint64_t Size() const noexcept override { return bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// A source over the regular file at `path`, or nothing with the reason in `status` and the
// system's error in `error`.
std::unique_ptr<ByteSource> OpenFileSource(const std::filesystem::path& path, ImageDecodeStatus& status, int& error)
{
    OpenedFile opened = OpenRegularFile(path);
    error = opened.error;
    switch (opened.status) {
    case OpenStatus::Ok: status = ImageDecodeStatus::NotReadable; break;
    case OpenStatus::NotRegularFile: status = ImageDecodeStatus::NotRegularFile; break;
    case OpenStatus::Unreachable:
        status = opened.error == ENOENT || opened.error == ENOTDIR ? ImageDecodeStatus::NotFound
                                                                   : ImageDecodeStatus::NotOpened;
        break;
    case OpenStatus::OpenFailed: status = ImageDecodeStatus::NotOpened; break;
    }
    if (opened.status != OpenStatus::Ok)
        return nullptr;
    error = 0;
    const std::uint64_t size = opened.file.Size();
    const int fd = opened.file.Release();
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return nullptr;
    }
    status = ImageDecodeStatus::Ok;
    return std::make_unique<FileByteSource>(file, size);
}

// The container named by the file's first bytes (its signature).
std::optional<ImageContainer> SniffContainer(const std::uint8_t* head, std::size_t size)
{
    auto startsWith = [&](const char* signature, std::size_t length) {
        return size >= length && std::memcmp(head, signature, length) == 0;
    };
    if (startsWith("\x89PNG\r\n\x1a\n", 8))
        return ImageContainer::Png;
    if (startsWith("\xFF\xD8\xFF", 3))
        return ImageContainer::Jpeg;
    if (startsWith("II*\0", 4) || startsWith("MM\0*", 4) || startsWith("II+\0", 4) || startsWith("MM\0+", 4))
        return ImageContainer::Tiff;
    if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6))
        return ImageContainer::Gif;
    if (startsWith("BM", 2))
        return ImageContainer::Bmp;
    return std::nullopt;
}

std::unique_ptr<FormatDecoder> MakeDecoder(ImageContainer container, ByteSource& source)
{
    switch (container) {
    case ImageContainer::Png: return MakePngDecoder(source);
    case ImageContainer::Jpeg: return MakeJpegDecoder(source);
    case ImageContainer::Tiff: return MakeTiffDecoder(source);
    case ImageContainer::Gif: return MakeGifDecoder(source);
    case ImageContainer::Bmp: return MakeBmpDecoder(source);
    }
    return nullptr;
}

}  // namespace

std::size_t RgbaSampleCount(const ImageHeader& header)
{
    // Both sides are below 2^32, so their product is exact in 64 bits; the cap keeps the
    // sample count (and its bytes) far from wrapping.
    const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
    if (pixels == 0 || pixels > kMaxDecodedPixels)
        return 0;
    return static_cast<std::size_t>(pixels * 4);
}

ImageDecoder::ImageDecoder() = default;
ImageDecoder::~ImageDecoder()
{
    // The format reader may still hold the source (libtiff closes through it).
    decoder_.reset();
    source_.reset();
}

ImageDecodeStatus ImageDecoder::OpenFile(const std::filesystem::path& path)
{
    ImageDecodeStatus status = ImageDecodeStatus::NotReadable;
    int error = 0;
    std::unique_ptr<ByteSource> source = OpenFileSource(path, status, error);
    if (!source) {
        Open(nullptr);
        openError_ = error;
        return status;
    }
    return Open(std::move(source));
}

ImageDecodeStatus ImageDecoder::OpenMemory(std::span<const std::uint8_t> bytes)
{
    return Open(std::make_unique<MemoryByteSource>(bytes));
}

ImageDecodeStatus ImageDecoder::Open(std::unique_ptr<ByteSource> source)
{
    decoder_.reset();
    source_ = std::move(source);
    header_ = ImageHeader{};
    openError_ = 0;
    pixelsRead_ = false;
    if (!source_)
        return ImageDecodeStatus::NotReadable;

    std::uint8_t head[8] = {};
    const std::size_t got = source_->Read(head, sizeof head);
    const std::optional<ImageContainer> container = SniffContainer(head, got);
    if (!container || !source_->Seek(0))
        return ImageDecodeStatus::NotReadable;

    header_.container = *container;
    decoder_ = MakeDecoder(*container, *source_);
    ImageHeader header;
    header.container = *container;
    const ImageDecodeStatus status = decoder_->ReadHeader(header);
    if (status != ImageDecodeStatus::Ok) {
        decoder_.reset();
        return status;
    }
    header_ = header;
    return ImageDecodeStatus::Ok;
}

ImageDecodeStatus ImageDecoder::ReadRows(const ImageRowSink& sink)
{
    if (!decoder_ || pixelsRead_ || !header_.convertible || RgbaSampleCount(header_) == 0)
        return ImageDecodeStatus::Unconvertible;
    pixelsRead_ = true;
    return decoder_->ReadRows(sink);
}

ImageDecodeStatus ImageDecoder::ReadRgba16(std::span<std::uint16_t> pixels)
{
    const std::size_t expected = RgbaSampleCount(header_);
    if (expected == 0 || pixels.size() != expected)
        return ImageDecodeStatus::Unconvertible;
    const std::size_t rowSamples = std::size_t{header_.width} * 4;
    return ReadRows([&](std::uint32_t y, std::span<const std::uint16_t> row) {
        std::copy(row.begin(), row.end(), pixels.begin() + static_cast<std::ptrdiff_t>(y * rowSamples));
    });
}

}  // namespace grainforge::platform
