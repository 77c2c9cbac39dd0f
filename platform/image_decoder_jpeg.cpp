// JPEG through libjpeg-turbo (8-bit). The library's default error exit ends the process; ours
// jumps back to the setjmp of the step that called into the library, which holds nothing
// that needs destruction. Corrupt-data warnings (a premature end, a bad entropy code) count
// as failures: the library would otherwise fill the rest of the image with grey and call it
// a success. CMYK and YCCK images come out as RGB.
#include "platform/image_format_decoder.h"

#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>
#include <jerror.h>

#include <array>
#include <csetjmp>
#include <vector>

namespace grainforge::platform {

namespace {

// Memory the library may take for one image (progressive images keep every coefficient:
// about 1.5 GiB for 16384 x 16384 in full colour). Beyond it the library stops with an error
// rather than spill to a backing store.
constexpr long kJpegMemoryLimit = 2048L << 20;
// Progressive files with more scans than this are refused: each scan costs a pass over the
// coefficients, and a crafted file can hold thousands of tiny ones.
constexpr int kJpegScanLimit = 1000;
constexpr std::size_t kJpegInputBufferSize = 64 * 1024;

struct JpegContext {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr input{};
    jpeg_progress_mgr progress{};
    ByteSource* source = nullptr;
    bool created = false;
    bool anyInput = false;
    std::jmp_buf jump;
    std::array<JOCTET, kJpegInputBufferSize> buffer;
};

JpegContext* ContextOf(j_common_ptr info) { return static_cast<JpegContext*>(info->client_data); }

[[noreturn]] void OnJpegError(j_common_ptr info) { std::longjmp(ContextOf(info)->jump, 1); }

bool IsCorruptDataWarning(int code)
{
    switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION:
        return true;
    default:
        return false;
    }
}

// Level -1 is a warning; higher levels are trace messages. Nothing is printed.
void OnJpegMessage(j_common_ptr info, int level)
{
    if (level < 0 && IsCorruptDataWarning(info->err->msg_code))
        std::longjmp(ContextOf(info)->jump, 1);
}

void OnJpegOutputMessage(j_common_ptr) {}

void OnJpegProgress(j_common_ptr info)
{
    if (info->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kJpegScanLimit)
        std::longjmp(ContextOf(info)->jump, 1);
}

void InitJpegSource(j_decompress_ptr) {}
void TermJpegSource(j_decompress_ptr) {}

boolean FillJpegBuffer(j_decompress_ptr info)
{
    JpegContext* context = ContextOf(reinterpret_cast<j_common_ptr>(info));
    std::size_t got = context->source->Read(context->buffer.data(), context->buffer.size());
    if (got == 0) {
        if (!context->anyInput)
            ERREXIT(info, JERR_INPUT_EMPTY);
        // Warns (which fails the read, above) and ends the stream cleanly if it goes on.
        WARNMS(info, JWRN_JPEG_EOF);
        context->buffer[0] = 0xFF;
        context->buffer[1] = JPEG_EOI;
        got = 2;
    }
    context->anyInput = true;
    info->src->next_input_byte = context->buffer.data();
    info->src->bytes_in_buffer = got;
    return TRUE;
}

void SkipJpegInput(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr* input = info->src;
    while (count > static_cast<long>(input->bytes_in_buffer)) {
        count -= static_cast<long>(input->bytes_in_buffer);
        FillJpegBuffer(info);
    }
    input->next_input_byte += count;
    input->bytes_in_buffer -= static_cast<std::size_t>(count);
}

void SetUpHandlers(JpegContext* context)
{
    context->info.err = jpeg_std_error(&context->errors);
    context->errors.error_exit = OnJpegError;
    context->errors.emit_message = OnJpegMessage;
    context->errors.output_message = OnJpegOutputMessage;
    context->info.client_data = context;
    context->input.init_source = InitJpegSource;
    context->input.fill_input_buffer = FillJpegBuffer;
    context->input.skip_input_data = SkipJpegInput;
    context->input.resync_to_restart = jpeg_resync_to_restart;
    context->input.term_source = TermJpegSource;
    context->progress.progress_monitor = OnJpegProgress;
}

bool ReadJpegHeader(JpegContext* context)
{
    SetUpHandlers(context);
    if (setjmp(context->jump) != 0)
        return false;
    jpeg_create_decompress(&context->info);
    context->created = true;
    // jpeg_create_decompress clears the record, client data included.
    context->info.client_data = context;
    context->info.src = &context->input;
    context->info.progress = &context->progress;
    context->info.mem->max_memory_to_use = kJpegMemoryLimit;
    return jpeg_read_header(&context->info, TRUE) == JPEG_HEADER_OK;
}

// CMYK to RGB. Adobe's files (which carry its marker) store the inks inverted.
std::uint16_t InkToChannel(unsigned ink, unsigned black, bool inverted)
{
    if (!inverted) {
        ink = 255 - ink;
        black = 255 - black;
    }
    return static_cast<std::uint16_t>((ink * black * 65535u + 32512u) / 65025u);
}

void ConvertJpegRow(const JSAMPLE* row, J_COLOR_SPACE space, bool adobe, std::uint32_t width, std::uint16_t* out)
{
    for (std::uint32_t x = 0; x < width; ++x, out += 4) {
        if (space == JCS_GRAYSCALE) {
            const std::uint16_t v = Widen8(row[x]);
            PutRgb16(out, v, v, v);
        } else if (space == JCS_CMYK) {
            const JSAMPLE* p = row + std::size_t{x} * 4;
            PutRgb16(out, InkToChannel(p[0], p[3], adobe), InkToChannel(p[1], p[3], adobe),
                     InkToChannel(p[2], p[3], adobe));
        } else {
            const JSAMPLE* p = row + std::size_t{x} * 3;
            PutRgb16(out, Widen8(p[0]), Widen8(p[1]), Widen8(p[2]));
        }
    }
}

// `row` holds one decoded row and `rgba` its converted samples; each row goes to the sink as
// soon as it is converted.
bool DecodeJpegRows(JpegContext* context, J_COLOR_SPACE space, JSAMPLE* row, std::uint16_t* rgba,
                    const ImageRowSink* sink)
{
    if (setjmp(context->jump) != 0)
        return false;
    j_decompress_ptr info = &context->info;
    info->out_color_space = space;
    jpeg_start_decompress(info);
    const int components = space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
    if (info->output_width != info->image_width || info->output_height != info->image_height ||
        info->output_components != components)
        return false;
    const std::size_t rowSamples = std::size_t{info->output_width} * 4;
    while (info->output_scanline < info->output_height) {
        const auto y = static_cast<std::uint32_t>(info->output_scanline);
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(info, rows, 1) != 1)
            return false;
        ConvertJpegRow(row, space, info->saw_Adobe_marker != 0, info->output_width, rgba);
        (*sink)(y, {rgba, rowSamples});
    }
    return true;
}

class JpegDecoder final : public FormatDecoder {
public:
    explicit JpegDecoder(ByteSource& source) : context_(std::make_unique<JpegContext>())
    {
        context_->source = &source;
    }
    ~JpegDecoder() override
    {
        if (context_->created)
            jpeg_destroy_decompress(&context_->info);
    }
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    ImageDecodeStatus ReadHeader(ImageHeader& header) override
    {
        if (!ReadJpegHeader(context_.get()))
            return ImageDecodeStatus::NotReadable;
        const jpeg_decompress_struct& info = context_->info;
        header.width = info.image_width;
        header.height = info.image_height;
        header.pixelFormat.bitsPerSample = info.data_precision;
        header.convertible = info.data_precision == 8;
        switch (info.jpeg_color_space) {
        case JCS_GRAYSCALE:
            header.pixelFormat.channels = ImageChannels::Grey;
            outputSpace_ = JCS_GRAYSCALE;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            header.pixelFormat.channels = ImageChannels::Cmyk;
            outputSpace_ = JCS_CMYK;
            break;
        case JCS_RGB:
        case JCS_YCbCr:
            header.pixelFormat.channels = ImageChannels::Rgb;
            outputSpace_ = JCS_RGB;
            break;
        default:
            header.pixelFormat.channels = ImageChannels::Rgb;
            header.convertible = false;
            break;
        }
        width_ = info.image_width;
        return ImageDecodeStatus::Ok;
    }

    ImageDecodeStatus ReadRows(const ImageRowSink& sink) override
    {
        std::vector<JSAMPLE> row(std::size_t{width_} * 4);
        std::vector<std::uint16_t> rgba(std::size_t{width_} * 4);
        return DecodeJpegRows(context_.get(), outputSpace_, row.data(), rgba.data(), &sink)
                   ? ImageDecodeStatus::Ok
                   : ImageDecodeStatus::PixelsUnreadable;
    }

private:
    std::unique_ptr<JpegContext> context_;
    J_COLOR_SPACE outputSpace_ = JCS_RGB;
    std::uint32_t width_ = 0;
};

}  // namespace

std::unique_ptr<FormatDecoder> MakeJpegDecoder(ByteSource& source)
{
    return std::make_unique<JpegDecoder>(source);
}

}  // namespace grainforge::platform
