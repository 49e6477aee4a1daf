#include "toolkit/image_decode.h"

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include "toolkit/text.h"

namespace kelto {

// Both libraries report errors by longjmp. Every call into them that can fail
// therefore runs inside a small function that does its own setjmp and holds
// nothing with a destructor; the objects that must be released (the library
// state, the pixel buffer) live in the caller, which sees a plain false.

namespace {

// Ancillary PNG chunks (text, ICC profiles) are skipped past this size.
constexpr png_alloc_size_t kMaxPngChunk = 4u << 20;
// Progressive JPEG scans each walk the whole picture; a file of thousands of
// tiny scans costs minutes of CPU for nothing.
constexpr int kMaxJpegScans = 500;
// Enough for the coefficient buffers of any progressive JPEG within the pixel
// limits (CMYK 4:4:4 at 16 Mpixel).
constexpr long kMaxJpegWorkMemory = 160L << 20;

bool FitsLimits(uint64_t width, uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxImageSide && height <= kMaxImageSide &&
           width * height <= static_cast<uint64_t>(kMaxImagePixels);
}

[[nodiscard]] bool AllocatePixels(Image* image, int width, int height) {
    try {
        image->bgra.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    image->width = width;
    image->height = height;
    return true;
}

// --- PNG ---

struct PngSource {
    const uint8_t* data;
    size_t size;
    size_t pos;
};

[[noreturn]] void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

void ReadPngBytes(png_structp png, png_bytep out, size_t count) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->size - source->pos) {
        png_error(png, "truncated");
    }
    memcpy(out, source->data + source->pos, count);
    source->pos += count;
}

class PngReader {
public:
    PngReader() {
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnPngError, OnPngWarning);
        if (png_) {
            info_ = png_create_info_struct(png_);
        }
    }
    ~PngReader() { Close(); }
    PngReader(const PngReader&) = delete;
    PngReader& operator=(const PngReader&) = delete;

    bool IsValid() const { return png_ && info_; }
    void Close() {
        if (png_) {
            png_destroy_read_struct(&png_, &info_, nullptr);
        }
        png_ = nullptr;
        info_ = nullptr;
    }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// Reads up to the first image data and sets up the conversion of any PNG
// (palette, grey, 1 to 16 bits, interlaced, with or without alpha or tRNS)
// into 8-bit B G R A rows.
[[nodiscard]] bool ReadPngHeader(png_structp png, png_infop info, PngSource* source,
                                 png_uint_32* width, png_uint_32* height) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_set_read_fn(png, source, ReadPngBytes);
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_set_chunk_malloc_max(png, kMaxPngChunk);
    png_read_info(png, info);

    int colorType = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    *width = png_get_image_width(png, info);
    *height = png_get_image_height(png, info);
    return png_get_bit_depth(png, info) == 8 && png_get_channels(png, info) == 4 &&
           png_get_rowbytes(png, info) == static_cast<size_t>(*width) * 4;
}

// Reads all rows and the chunks after them: a file cut short anywhere fails.
[[nodiscard]] bool ReadPngPixels(png_structp png, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

// --- JPEG ---

struct JpegState {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    jpeg_progress_mgr progress;
    jmp_buf jump;
};

[[noreturn]] void FailJpeg(j_common_ptr cinfo) {
    longjmp(static_cast<JpegState*>(cinfo->client_data)->jump, 1);
}

// libjpeg reports damaged data (cut short, bad entropy codes) as warnings and
// fills in grey; a skin showing half a picture is worse than none. Only
// header quirks that leave the pixels whole are let through.
void OnJpegMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return;
    }
    switch (cinfo->err->msg_code) {
        case JWRN_ADOBE_XFORM:
        case JWRN_BOGUS_ICC:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_JFIF_MAJOR:
            return;
        default:
            FailJpeg(cinfo);
    }
}

void OnJpegOutput(j_common_ptr) {}

void OnJpegProgress(j_common_ptr cinfo) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > kMaxJpegScans) {
        FailJpeg(cinfo);
    }
}

[[nodiscard]] bool CreateJpeg(JpegState* state) {
    state->cinfo.err = jpeg_std_error(&state->err);
    state->err.error_exit = FailJpeg;
    state->err.emit_message = OnJpegMessage;
    state->err.output_message = OnJpegOutput;
    state->cinfo.client_data = state;
    if (setjmp(state->jump)) {
        return false;
    }
    jpeg_create_decompress(&state->cinfo);
    state->cinfo.mem->max_memory_to_use = kMaxJpegWorkMemory;
    state->progress.progress_monitor = OnJpegProgress;
    state->cinfo.progress = &state->progress;
    return true;
}

class JpegReader {
public:
    JpegReader() : state_{} { valid_ = CreateJpeg(&state_); }
    ~JpegReader() { Close(); }
    JpegReader(const JpegReader&) = delete;
    JpegReader& operator=(const JpegReader&) = delete;

    bool IsValid() const { return valid_; }
    // Also right after a failed creation: libjpeg releases what exists.
    void Close() {
        if (state_.cinfo.err) {
            jpeg_destroy_decompress(&state_.cinfo);
            state_.cinfo.err = nullptr;
        }
        valid_ = false;
    }
    JpegState* state() { return &state_; }

private:
    JpegState state_;
    bool valid_ = false;
};

[[nodiscard]] bool ReadJpegHeader(JpegState* state, const uint8_t* data, unsigned long size) {
    if (setjmp(state->jump)) {
        return false;
    }
    jpeg_mem_src(&state->cinfo, data, size);
    return jpeg_read_header(&state->cinfo, TRUE) == JPEG_HEADER_OK;
}

// Decodes into rows of 4 bytes per pixel (B G R A, or C M Y K when asked) and
// reads on to the end-of-image marker, so that a file cut short fails.
[[nodiscard]] bool ReadJpegPixels(JpegState* state, uint8_t* pixels, JDIMENSION width,
                                  JDIMENSION height) {
    j_decompress_ptr cinfo = &state->cinfo;
    if (setjmp(state->jump)) {
        return false;
    }
    if (!jpeg_start_decompress(cinfo)) {
        return false;
    }
    if (cinfo->output_width != width || cinfo->output_height != height ||
        cinfo->output_components != 4) {
        return false;
    }
    while (cinfo->output_scanline < height) {
        JSAMPROW row = pixels + static_cast<size_t>(cinfo->output_scanline) * width * 4;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            return false;
        }
    }
    return jpeg_finish_decompress(cinfo) != 0;
}

uint8_t MixInk(unsigned ink, unsigned black) {
    return static_cast<uint8_t>((ink * black + 127) / 255);
}

// Adobe applications write CMYK JPEGs inverted (0 is full ink) and mark them
// with their APP14 segment; others store plain ink amounts.
void CmykToBgra(Image* image, bool inverted) {
    for (size_t i = 0; i + 3 < image->bgra.size(); i += 4) {
        uint8_t* p = &image->bgra[i];
        unsigned c = inverted ? p[0] : 255u - p[0];
        unsigned m = inverted ? p[1] : 255u - p[1];
        unsigned y = inverted ? p[2] : 255u - p[2];
        unsigned k = inverted ? p[3] : 255u - p[3];
        p[0] = MixInk(y, k);
        p[1] = MixInk(m, k);
        p[2] = MixInk(c, k);
        p[3] = 255;
    }
}

}  // namespace

bool IsEmpty(const Image& image) {
    return image.width == 0 || image.height == 0 || image.bgra.empty();
}

Image DecodePng(std::span<const uint8_t> bytes) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0) {
        return {};
    }
    PngReader reader;
    if (!reader.IsValid()) {
        return {};
    }
    PngSource source{bytes.data(), bytes.size(), 0};
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    if (!ReadPngHeader(reader.png(), reader.info(), &source, &width, &height) ||
        !FitsLimits(width, height)) {
        return {};
    }
    Image image;
    std::vector<png_bytep> rows;
    if (!AllocatePixels(&image, static_cast<int>(width), static_cast<int>(height))) {
        return {};
    }
    try {
        rows.resize(height);
    } catch (const std::bad_alloc&) {
        return {};
    }
    for (png_uint_32 y = 0; y < height; ++y) {
        rows[y] = image.bgra.data() + static_cast<size_t>(y) * width * 4;
    }
    if (!ReadPngPixels(reader.png(), rows.data())) {
        return {};
    }
    return image;
}

Image DecodeJpeg(std::span<const uint8_t> bytes) {
    if (bytes.empty() || bytes.size() > ULONG_MAX) {
        return {};
    }
    JpegReader reader;
    if (!reader.IsValid() ||
        !ReadJpegHeader(reader.state(), bytes.data(), static_cast<unsigned long>(bytes.size()))) {
        return {};
    }
    jpeg_decompress_struct& cinfo = reader.state()->cinfo;
    if (!FitsLimits(cinfo.image_width, cinfo.image_height)) {
        return {};
    }
    bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
    Image image;
    if (!AllocatePixels(&image, static_cast<int>(cinfo.image_width),
                        static_cast<int>(cinfo.image_height)) ||
        !ReadJpegPixels(reader.state(), image.bgra.data(), cinfo.image_width, cinfo.image_height)) {
        return {};
    }
    if (cmyk) {
        CmykToBgra(&image, cinfo.saw_Adobe_marker != 0);
    }
    return image;
}

std::string_view UrlExtension(std::string_view url) {
    size_t dot = url.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : url.substr(dot);
}

ImageFormat ImageFormatForExtension(std::string_view extension) {
    for (const ImageExtension& known : kImageExtensions) {
        if (EqualsIgnoreAsciiCase(known.extension, extension)) {
            return known.format;
        }
    }
    return ImageFormat::Unknown;
}

Image DecodeImage(ImageFormat format, std::span<const uint8_t> bytes) {
    switch (format) {
        case ImageFormat::Jpeg:
            return DecodeJpeg(bytes);
        case ImageFormat::Png:
            return DecodePng(bytes);
        case ImageFormat::Unknown:
            break;
    }
    return {};
}

Image DecodeImageByExtension(std::string_view url, std::span<const uint8_t> bytes) {
    return DecodeImage(ImageFormatForExtension(UrlExtension(url)), bytes);
}

}  // namespace kelto
