#include "toolkit/image_decode.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

using namespace kelto;

namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<unsigned>;
using Bgra = std::array<int, 4>;

Bgra PixelAt(const Image& image, int x, int y) {
    const uint8_t* p = &image.bgra[(static_cast<size_t>(y) * image.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

Bgra FromRgba(unsigned r, unsigned g, unsigned b, unsigned a) {
    return {static_cast<int>(b), static_cast<int>(g), static_cast<int>(r), static_cast<int>(a)};
}

void ExpectEmpty(const Image& image) {
    EXPECT_TRUE(IsEmpty(image));
    EXPECT_EQ(image.width, 0);
    EXPECT_EQ(image.height, 0);
    EXPECT_TRUE(image.bgra.empty());
}

// Compares every pixel; stops at the first that differs by more than tolerance.
void ExpectPixels(const Image& image, int width, int height,
                  const std::function<Bgra(int, int)>& expected, int tolerance = 0) {
    ASSERT_EQ(image.width, width);
    ASSERT_EQ(image.height, height);
    ASSERT_EQ(image.bgra.size(), static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            Bgra got = PixelAt(image, x, y);
            Bgra want = expected(x, y);
            for (int c = 0; c < 4; ++c) {
                ASSERT_LE(std::abs(got[c] - want[c]), tolerance)
                    << "pixel (" << x << "," << y << ") channel "
                    << "BGRA"[c];
            }
        }
    }
}

// --- PNG, written with libpng ---

struct PngFormat {
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<png_color> palette{};
    std::vector<uint8_t> paletteAlpha{};
    std::optional<png_color_16> transparent{};
};

int PngChannels(int colorType) {
    switch (colorType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;
    }
}

// Packs samples the way PNG stores them: below 8 bits most significant bits
// first, 16 bits big-endian.
Bytes PackRow(const Samples& samples, int bitDepth) {
    Bytes row;
    if (bitDepth >= 8) {
        for (unsigned s : samples) {
            if (bitDepth == 16) {
                row.push_back(static_cast<uint8_t>(s >> 8));
            }
            row.push_back(static_cast<uint8_t>(s));
        }
        return row;
    }
    row.assign((samples.size() * bitDepth + 7) / 8, 0);
    for (size_t i = 0; i < samples.size(); ++i) {
        size_t bit = i * bitDepth;
        row[bit / 8] |= static_cast<uint8_t>(samples[i] << (8 - bitDepth - bit % 8));
    }
    return row;
}

void AppendToBytes(png_structp png, png_bytep data, size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

void FlushNothing(png_structp) {}

// rows[y] is row y packed as PNG stores it; rows may share their storage.
Bytes EncodePngRows(const PngFormat& f, int width, int height, std::vector<png_bytep> rows) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendToBytes, FlushNothing);
    png_set_IHDR(png, info, width, height, f.bitDepth, f.colorType,
                 f.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!f.palette.empty()) {
        png_set_PLTE(png, info, f.palette.data(), static_cast<int>(f.palette.size()));
    }
    if (!f.paletteAlpha.empty()) {
        png_set_tRNS(png, info, f.paletteAlpha.data(), static_cast<int>(f.paletteAlpha.size()),
                     nullptr);
    }
    if (f.transparent) {
        png_color_16 colour = *f.transparent;
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    png_write_info(png, info);
    if (f.interlaced) {
        png_set_interlace_handling(png);
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// sample(x, y) gives the pixel's samples in PNG's channel order.
Bytes EncodePng(const PngFormat& f, int width, int height,
                const std::function<Samples(int, int)>& sample) {
    std::vector<Bytes> rows(height);
    for (int y = 0; y < height; ++y) {
        Samples samples;
        for (int x = 0; x < width; ++x) {
            Samples s = sample(x, y);
            EXPECT_EQ(s.size(), static_cast<size_t>(PngChannels(f.colorType)));
            samples.insert(samples.end(), s.begin(), s.end());
        }
        rows[y] = PackRow(samples, f.bitDepth);
    }
    std::vector<png_bytep> rowPointers;
    for (Bytes& row : rows) {
        rowPointers.push_back(row.data());
    }
    return EncodePngRows(f, width, height, rowPointers);
}

// A 1-bit grey checkerboard, cheap to make at any size.
Bytes CheckerPng(int width, int height) {
    Samples even(width);
    Samples odd(width);
    for (int x = 0; x < width; ++x) {
        even[x] = x & 1;
        odd[x] = even[x] ^ 1;
    }
    Bytes evenRow = PackRow(even, 1);
    Bytes oddRow = PackRow(odd, 1);
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; ++y) {
        rows[y] = (y & 1) ? oddRow.data() : evenRow.data();
    }
    return EncodePngRows({PNG_COLOR_TYPE_GRAY, 1}, width, height, rows);
}

Bytes SmallPng(bool interlaced = false) {
    PngFormat f{PNG_COLOR_TYPE_RGB, 8, interlaced};
    return EncodePng(f, 9, 6, [](int x, int y) {
        return Samples{static_cast<unsigned>(x * 25), static_cast<unsigned>(y * 40), 77};
    });
}

uint32_t ReadBigEndian(const Bytes& b, size_t at) {
    return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
           b[at + 3];
}

void WriteBigEndian(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
}

// Offset of the length field of the first chunk of the given type.
size_t FindPngChunk(const Bytes& png, const char* type) {
    for (size_t at = 8; at + 12 <= png.size(); at += 12 + ReadBigEndian(png, at)) {
        if (memcmp(&png[at + 4], type, 4) == 0) {
            return at;
        }
    }
    ADD_FAILURE() << "no chunk " << type;
    return 0;
}

void FixPngChunkCrc(Bytes& png, size_t chunk) {
    uint32_t length = ReadBigEndian(png, chunk);
    uint32_t crc = static_cast<uint32_t>(crc32(0, &png[chunk + 4], length + 4));
    WriteBigEndian(png, chunk + 8 + length, crc);
}

Bytes WithPngSize(Bytes png, uint32_t width, uint32_t height) {
    size_t ihdr = FindPngChunk(png, "IHDR");
    WriteBigEndian(png, ihdr + 8, width);
    WriteBigEndian(png, ihdr + 12, height);
    FixPngChunkCrc(png, ihdr);
    return png;
}

// --- JPEG, written with libjpeg ---

struct JpegFormat {
    J_COLOR_SPACE input = JCS_RGB;
    int components = 3;
    J_COLOR_SPACE stored = JCS_YCbCr;
    bool fullChroma = true;
    bool progressive = false;
    std::vector<jpeg_scan_info> scans{};
};

// fillRow(y, row) writes row y's samples, components interleaved.
Bytes EncodeJpegRows(const JpegFormat& f, int width, int height,
                     const std::function<void(int, uint8_t*)>& fillRow) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = f.components;
    c.in_color_space = f.input;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, f.stored);
    jpeg_set_quality(&c, 100, TRUE);
    if (f.fullChroma) {
        for (int i = 0; i < c.num_components; ++i) {
            c.comp_info[i].h_samp_factor = 1;
            c.comp_info[i].v_samp_factor = 1;
        }
    }
    if (f.progressive) {
        jpeg_simple_progression(&c);
    }
    if (!f.scans.empty()) {
        c.scan_info = f.scans.data();
        c.num_scans = static_cast<int>(f.scans.size());
    }
    jpeg_start_compress(&c, TRUE);
    Bytes row(static_cast<size_t>(width) * f.components);
    while (c.next_scanline < c.image_height) {
        fillRow(static_cast<int>(c.next_scanline), row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    Bytes out(buffer, buffer + size);
    free(buffer);
    jpeg_destroy_compress(&c);
    return out;
}

Bytes EncodeJpeg(const JpegFormat& f, int width, int height,
                 const std::function<Samples(int, int)>& sample) {
    return EncodeJpegRows(f, width, height, [&](int y, uint8_t* row) {
        for (int x = 0; x < width; ++x) {
            Samples s = sample(x, y);
            for (int i = 0; i < f.components; ++i) {
                row[static_cast<size_t>(x) * f.components + i] = static_cast<uint8_t>(s[i]);
            }
        }
    });
}

// Flat 16 by 16 blocks survive the DCT and chroma subsampling almost exactly.
unsigned BlockLevel(int x, int y, int channel) {
    int bx = x / 16;
    int by = y / 16;
    return static_cast<unsigned>((bx * 70 + by * 110 + channel * 50 + 20) % 256);
}

Samples RgbBlocks(int x, int y) {
    return {BlockLevel(x, y, 0), BlockLevel(x, y, 1), BlockLevel(x, y, 2)};
}

Bytes SmallJpeg(bool progressive = false) {
    JpegFormat f;
    f.progressive = progressive;
    return EncodeJpeg(f, 37, 21, RgbBlocks);
}

// A grey progressive JPEG whose script refines each of the first acCoefficients
// AC coefficients bit by bit: 1 + 11 * acCoefficients scans, all valid.
Bytes ManyScanJpeg(int acCoefficients) {
    JpegFormat f{JCS_GRAYSCALE, 1, JCS_GRAYSCALE};
    f.scans.push_back({1, {0}, 0, 0, 0, 0});
    for (int k = 1; k <= acCoefficients; ++k) {
        f.scans.push_back({1, {0}, k, k, 0, 10});
        for (int al = 9; al >= 0; --al) {
            f.scans.push_back({1, {0}, k, k, al + 1, al});
        }
    }
    return EncodeJpeg(f, 16, 16, [](int x, int y) { return Samples{BlockLevel(x, y, 0)}; });
}

size_t FindJpegMarker(const Bytes& jpeg, uint8_t marker) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) {
            return i;
        }
    }
    ADD_FAILURE() << "no marker " << int{marker};
    return 0;
}

Bytes WithJpegSize(Bytes jpeg, uint16_t width, uint16_t height) {
    size_t sof = FindJpegMarker(jpeg, 0xC0);
    jpeg[sof + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[sof + 6] = static_cast<uint8_t>(height);
    jpeg[sof + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[sof + 8] = static_cast<uint8_t>(width);
    return jpeg;
}

// --- PNG decoding ---

const std::vector<png_color> kPalette = {
    {255, 0, 0},  {0, 200, 0},   {10, 20, 250}, {90, 90, 90}, {255, 255, 255}, {1, 2, 3},
    {77, 0, 77},  {0, 128, 255}, {200, 100, 0}, {4, 4, 4},    {9, 8, 7},       {50, 60, 70},
    {180, 0, 30}, {0, 0, 0},     {33, 66, 99},  {128, 128, 1}};

Bgra PaletteEntry(unsigned index, unsigned alpha) {
    const png_color& c = kPalette[index];
    return FromRgba(c.red, c.green, c.blue, alpha);
}

struct PngCase {
    const char* name;
    PngFormat format;
    int width;
    int height;
    std::function<Samples(int, int)> sample;
    std::function<Bgra(const Samples&)> expected;
};

unsigned U(int v) {
    return static_cast<unsigned>(v);
}

TEST(DecodePng, EveryPixelFormatBecomesTopDownBgra) {
    const std::vector<PngCase> cases = {
        {"rgb 8",
         {PNG_COLOR_TYPE_RGB, 8},
         11,
         7,
         [](int x, int y) {
             return Samples{U(x * 20), U(y * 30), U((x + y) * 7)};
         },
         [](const Samples& s) { return FromRgba(s[0], s[1], s[2], 255); }},
        {"rgba 8",
         {PNG_COLOR_TYPE_RGB_ALPHA, 8},
         11,
         7,
         [](int x, int y) {
             return Samples{U(x * 20), U(y * 30), 200, U(x * y * 13 % 256)};
         },
         [](const Samples& s) { return FromRgba(s[0], s[1], s[2], s[3]); }},
        {"grey 1",
         {PNG_COLOR_TYPE_GRAY, 1},
         13,
         5,
         [](int x, int y) { return Samples{U((x + y) % 2)}; },
         [](const Samples& s) { return FromRgba(s[0] * 255, s[0] * 255, s[0] * 255, 255); }},
        {"grey 2",
         {PNG_COLOR_TYPE_GRAY, 2},
         13,
         5,
         [](int x, int y) { return Samples{U(x * y % 4)}; },
         [](const Samples& s) { return FromRgba(s[0] * 85, s[0] * 85, s[0] * 85, 255); }},
        {"grey 4",
         {PNG_COLOR_TYPE_GRAY, 4},
         13,
         5,
         [](int x, int y) { return Samples{U((x + 2 * y) % 16)}; },
         [](const Samples& s) { return FromRgba(s[0] * 17, s[0] * 17, s[0] * 17, 255); }},
        {"grey 8 with a transparent level",
         {PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, png_color_16{0, 0, 0, 0, 46}},
         10,
         4,
         [](int x, int y) { return Samples{U((x * 23 + y) % 256)}; },
         [](const Samples& s) { return FromRgba(s[0], s[0], s[0], s[0] == 46 ? 0 : 255); }},
        {"grey 16",
         {PNG_COLOR_TYPE_GRAY, 16},
         10,
         4,
         [](int x, int y) { return Samples{U(x * 6500 + y * 37)}; },
         [](const Samples& s) { return FromRgba(s[0] >> 8, s[0] >> 8, s[0] >> 8, 255); }},
        {"grey alpha 8",
         {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
         9,
         6,
         [](int x, int y) {
             return Samples{U(x * 20), U(y * 35)};
         },
         [](const Samples& s) { return FromRgba(s[0], s[0], s[0], s[1]); }},
        {"grey alpha 16",
         {PNG_COLOR_TYPE_GRAY_ALPHA, 16},
         9,
         6,
         [](int x, int y) {
             return Samples{U(x * 7000 + 255), U(y * 9000 + 1)};
         },
         [](const Samples& s) { return FromRgba(s[0] >> 8, s[0] >> 8, s[0] >> 8, s[1] >> 8); }},
        {"palette 8 with alpha for some entries",
         {PNG_COLOR_TYPE_PALETTE, 8, false, kPalette, {0, 128, 255}},
         12,
         5,
         [](int x, int y) { return Samples{U((x + y) % 16)}; },
         [](const Samples& s) {
             return PaletteEntry(s[0], s[0] == 0 ? 0 : s[0] == 1 ? 128 : 255);
         }},
        {"palette 4",
         {PNG_COLOR_TYPE_PALETTE, 4, false, kPalette},
         12,
         5,
         [](int x, int y) { return Samples{U((x * 3 + y) % 16)}; },
         [](const Samples& s) { return PaletteEntry(s[0], 255); }},
        {"palette 1",
         {PNG_COLOR_TYPE_PALETTE, 1, false, {kPalette[0], kPalette[1]}},
         17,
         3,
         [](int x, int y) { return Samples{U((x ^ y) & 1)}; },
         [](const Samples& s) { return PaletteEntry(s[0], 255); }},
        {"rgb 16",
         {PNG_COLOR_TYPE_RGB, 16},
         10,
         4,
         [](int x, int y) {
             return Samples{U(x * 6000 + y), U(y * 9000 + x * 3), U(0xFFFF - x * 100)};
         },
         [](const Samples& s) { return FromRgba(s[0] >> 8, s[1] >> 8, s[2] >> 8, 255); }},
        {"rgb 8 with a transparent colour",
         {PNG_COLOR_TYPE_RGB, 8, false, {}, {}, png_color_16{0, 40, 60, 80, 0}},
         8,
         8,
         [](int x, int y) {
             return Samples{U(x * 20), U(y * 20 + 20), 80};
         },
         [](const Samples& s) {
             return FromRgba(s[0], s[1], s[2], s[0] == 40 && s[1] == 60 ? 0 : 255);
         }},
        {"rgb 8 interlaced",
         {PNG_COLOR_TYPE_RGB, 8, true},
         13,
         11,
         [](int x, int y) {
             return Samples{U(x * 19), U(y * 23), U(x * y)};
         },
         [](const Samples& s) { return FromRgba(s[0], s[1], s[2], 255); }},
        {"rgba 16 interlaced",
         {PNG_COLOR_TYPE_RGB_ALPHA, 16, true},
         9,
         10,
         [](int x, int y) {
             return Samples{U(x * 7000), U(y * 6000), U(x * y * 800), U(60000 - x * y * 500)};
         },
         [](const Samples& s) { return FromRgba(s[0] >> 8, s[1] >> 8, s[2] >> 8, s[3] >> 8); }},
        {"palette 2 interlaced",
         {PNG_COLOR_TYPE_PALETTE, 2, true, {kPalette[3], kPalette[4], kPalette[5], kPalette[6]}},
         3,
         9,
         [](int x, int y) { return Samples{U((x + y) % 4)}; },
         [](const Samples& s) { return PaletteEntry(s[0] + 3, 255); }},
        {"one pixel",
         {PNG_COLOR_TYPE_RGB_ALPHA, 8},
         1,
         1,
         [](int, int) {
             return Samples{1, 2, 3, 4};
         },
         [](const Samples& s) { return FromRgba(1, 2, 3, 4); }},
    };
    for (const PngCase& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = DecodePng(EncodePng(c.format, c.width, c.height, c.sample));
        ExpectPixels(image, c.width, c.height,
                     [&](int x, int y) { return c.expected(c.sample(x, y)); });
    }
}

TEST(DecodePng, SizeLimitsAreInclusive) {
    struct Case {
        uint32_t width;
        uint32_t height;
        bool decodes;
    };
    const Case cases[] = {
        {8192, 1, true},  {1, 8192, true},    {8193, 1, false},
        {1, 8193, false}, {4096, 4096, true}, {4097, 4096, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Image image = DecodePng(CheckerPng(c.width, c.height));
        if (c.decodes) {
            ASSERT_EQ(image.width, static_cast<int>(c.width));
            ASSERT_EQ(image.height, static_cast<int>(c.height));
            for (auto [x, y] : {std::pair<int, int>{0, 0},
                                {image.width - 1, 0},
                                {0, image.height - 1},
                                {image.width - 1, image.height - 1}}) {
                unsigned level = ((x + y) & 1) ? 255 : 0;
                EXPECT_EQ(PixelAt(image, x, y), FromRgba(level, level, level, 255))
                    << x << "," << y;
            }
        } else {
            ExpectEmpty(image);
        }
    }
}

TEST(DecodePng, BrokenFilesGiveEmptyImage) {
    const Bytes good = SmallPng();
    ASSERT_FALSE(IsEmpty(DecodePng(good)));

    auto flipped = [&](size_t at) {
        Bytes b = good;
        b[at] ^= 0x5A;
        return b;
    };
    size_t ihdr = FindPngChunk(good, "IHDR");
    size_t idat = FindPngChunk(good, "IDAT");
    uint32_t idatLength = ReadBigEndian(good, idat);
    Bytes badZlib = good;
    badZlib[idat + 8] = 0xFF;  // zlib header
    badZlib[idat + 9] = 0xFF;
    FixPngChunkCrc(badZlib, idat);
    Bytes idatOnlyHalf = good;
    idatOnlyHalf.erase(idatOnlyHalf.begin() + idat + 8 + idatLength / 2,
                       idatOnlyHalf.begin() + idat + 8 + idatLength);
    WriteBigEndian(idatOnlyHalf, idat, idatLength - idatLength / 2);
    FixPngChunkCrc(idatOnlyHalf, idat);

    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"zero length", {}},
        {"signature only", Bytes(good.begin(), good.begin() + 8)},
        {"wrong signature", flipped(1)},
        {"bad IHDR CRC", flipped(ihdr + 8 + 13)},
        {"bad IHDR data", flipped(ihdr + 8 + 9)},
        {"bad IDAT CRC", flipped(idat + 8 + idatLength + 3)},
        {"IDAT not a zlib stream", badZlib},
        {"IDAT stream cut short, chunk consistent", idatOnlyHalf},
        {"declares 100000 by 100000", WithPngSize(good, 100000, 100000)},
        {"declares 0 by 6", WithPngSize(good, 0, 6)},
        {"declares 2^31 by 1", WithPngSize(good, 0x80000000u, 1)},
        {"a JPEG", SmallJpeg()},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ExpectEmpty(DecodePng(bytes));
    }
}

TEST(DecodePng, EveryTruncationGivesEmptyImage) {
    for (bool interlaced : {false, true}) {
        const Bytes good = SmallPng(interlaced);
        ASSERT_FALSE(IsEmpty(DecodePng(good)));
        for (size_t size = 0; size < good.size(); ++size) {
            SCOPED_TRACE(std::to_string(size) + " of " + std::to_string(good.size()) +
                         (interlaced ? " interlaced" : ""));
            ExpectEmpty(DecodePng(Bytes(good.begin(), good.begin() + size)));
            if (HasFailure()) {
                return;
            }
        }
    }
}

// --- JPEG decoding ---

struct JpegCase {
    const char* name;
    JpegFormat format;
    std::function<Samples(int, int)> sample;
    std::function<Bgra(const Samples&)> expected;
};

TEST(DecodeJpeg, ColourSpacesBecomeTopDownBgra) {
    auto rgb = [](const Samples& s) { return FromRgba(s[0], s[1], s[2], 255); };
    auto grey = [](int x, int y) { return Samples{BlockLevel(x, y, 0)}; };
    auto cmyk = [](int x, int y) {
        return Samples{BlockLevel(x, y, 0), BlockLevel(x, y, 1), BlockLevel(x, y, 2),
                       255 - BlockLevel(x, y, 1) / 2};
    };
    // Adobe CMYK is stored inverted: the sample is the share of light kept.
    auto adobeInk = [](const Samples& s) {
        auto mix = [&](unsigned v) { return (v * s[3] + 127) / 255; };
        return FromRgba(mix(s[0]), mix(s[1]), mix(s[2]), 255);
    };
    JpegFormat progressive;
    progressive.progressive = true;
    JpegFormat subsampled;
    subsampled.fullChroma = false;
    const std::vector<JpegCase> cases = {
        {"YCbCr 4:4:4", {}, RgbBlocks, rgb},
        // Chroma is interpolated across blocks here, so one flat colour.
        {"YCbCr 4:2:0", subsampled,
         [](int, int) {
             return Samples{200, 90, 30};
         },
         rgb},
        {"YCbCr progressive", progressive, RgbBlocks, rgb},
        {"RGB stored as RGB", {JCS_RGB, 3, JCS_RGB}, RgbBlocks, rgb},
        {"greyscale",
         {JCS_GRAYSCALE, 1, JCS_GRAYSCALE},
         grey,
         [](const Samples& s) { return FromRgba(s[0], s[0], s[0], 255); }},
        {"CMYK", {JCS_CMYK, 4, JCS_CMYK}, cmyk, adobeInk},
        {"YCCK", {JCS_CMYK, 4, JCS_YCCK}, cmyk, adobeInk},
    };
    for (const JpegCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int width = 37;
        const int height = 21;
        Image image = DecodeJpeg(EncodeJpeg(c.format, width, height, c.sample));
        ExpectPixels(
            image, width, height, [&](int x, int y) { return c.expected(c.sample(x, y)); }, 4);
    }
}

TEST(DecodeJpeg, SizeLimitsAreInclusive) {
    struct Case {
        int width;
        int height;
        bool decodes;
    };
    const Case cases[] = {
        {8192, 1, true},
        {8193, 1, false},
        {1, 8193, false},
        {4097, 4096, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        Bytes jpeg = EncodeJpegRows({JCS_GRAYSCALE, 1, JCS_GRAYSCALE}, c.width, c.height,
                                    [&](int, uint8_t* row) { memset(row, 200, c.width); });
        Image image = DecodeJpeg(jpeg);
        if (c.decodes) {
            ExpectPixels(
                image, c.width, c.height, [](int, int) { return FromRgba(200, 200, 200, 255); }, 1);
        } else {
            ExpectEmpty(image);
        }
    }
}

TEST(DecodeJpeg, ScanCountIsBounded) {
    Image within = DecodeJpeg(ManyScanJpeg(40));  // 441 scans
    ExpectPixels(
        within, 16, 16,
        [](int x, int y) {
            unsigned v = BlockLevel(x, y, 0);
            return FromRgba(v, v, v, 255);
        },
        2);
    ExpectEmpty(DecodeJpeg(ManyScanJpeg(50)));  // 551 scans
}

TEST(DecodeJpeg, BrokenFilesGiveEmptyImage) {
    const Bytes good = SmallJpeg();
    ASSERT_FALSE(IsEmpty(DecodeJpeg(good)));
    size_t sos = FindJpegMarker(good, 0xDA);
    Bytes cutMidScan(good.begin(), good.begin() + (sos + good.size()) / 2);
    Bytes withoutEnd(good.begin(), good.end() - 2);
    Bytes badSofLength = good;
    badSofLength[FindJpegMarker(good, 0xC0) + 3] = 0x40;
    Bytes wrongSignature = good;
    wrongSignature[1] = 0xD9;

    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"zero length", {}},
        {"start marker only", Bytes(good.begin(), good.begin() + 2)},
        {"wrong signature", wrongSignature},
        {"cut mid-scan", cutMidScan},
        {"cut before the end marker", withoutEnd},
        {"cut right after the scan header", Bytes(good.begin(), good.begin() + sos + 14)},
        {"bad frame header length", badSofLength},
        {"declares 60000 by 60000", WithJpegSize(good, 60000, 60000)},
        {"declares 0 by 21", WithJpegSize(good, 0, 21)},
        {"a PNG", SmallPng()},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ExpectEmpty(DecodeJpeg(bytes));
    }
}

TEST(DecodeJpeg, EveryTruncationGivesEmptyImage) {
    for (bool progressive : {false, true}) {
        const Bytes good = SmallJpeg(progressive);
        ASSERT_FALSE(IsEmpty(DecodeJpeg(good)));
        for (size_t size = 0; size < good.size(); ++size) {
            SCOPED_TRACE(std::to_string(size) + " of " + std::to_string(good.size()) +
                         (progressive ? " progressive" : ""));
            ExpectEmpty(DecodeJpeg(Bytes(good.begin(), good.begin() + size)));
            if (HasFailure()) {
                return;
            }
        }
    }
}

// --- Choice of decoder by the URL ---

TEST(UrlExtension, RunsFromLastDotToEnd) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://h/skin/bg.png", ".png"},
        {"http://h/skin/a.b.JPEG", ".JPEG"},
        {"http://h/bg.png?v=2", ".png?v=2"},
        {"http://dl.example/skin", ".example/skin"},
        {"noextension", ""},
        {"", ""},
        {"trailing.", "."},
    };
    for (const auto& [url, extension] : cases) {
        EXPECT_EQ(UrlExtension(url), extension) << url;
    }
}

TEST(DecodeImageByExtension, ExtensionPicksDecoderIgnoringCase) {
    const Bytes png = SmallPng();
    const Bytes jpeg = SmallJpeg();
    struct Case {
        const char* url;
        const Bytes* bytes;
        int width;  // 0: nothing decoded
    };
    const Case cases[] = {
        {"http://h/skin/bg.png", &png, 9},   {"http://h/skin/bg.PNG", &png, 9},
        {"http://h/skin/bg.jpg", &jpeg, 37}, {"http://h/skin/bg.Jpeg", &jpeg, 37},
        {"http://h/skin/bg.JPG", &jpeg, 37}, {"http://h/skin/bg.png?v=2", &png, 0},
        {"http://h.example/skin", &png, 0},  {"http://h/skin/bg", &png, 0},
        {"http://h/skin/bg.gif", &png, 0},   {"http://h/skin/bg.jpg", &png, 0},
        {"http://h/skin/bg.png", &jpeg, 0},  {"http://h/skin/bg.jpe", &jpeg, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        Image image = DecodeImageByExtension(c.url, *c.bytes);
        if (c.width == 0) {
            ExpectEmpty(image);
        } else {
            EXPECT_EQ(image.width, c.width);
            EXPECT_FALSE(IsEmpty(image));
        }
    }
}

}  // namespace
