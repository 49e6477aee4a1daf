// Decoding of the skin images (PNG, JPEG) from memory into pixels that the
// window draws unscaled by plain copy.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kelto {

// A decoded picture: rows top-down, 4 bytes per pixel in the order B G R A
// (a top-down 32-bit DIB). Alpha is 255 for formats without transparency.
// Empty (0 by 0, no pixels) when nothing decoded.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;
};

// Pictures beyond these are refused before any pixel memory is taken: a few
// bytes of compressed data must not make the launcher allocate gigabytes.
inline constexpr int kMaxImageSide = 8192;
inline constexpr int64_t kMaxImagePixels = int64_t{16} << 20;

bool IsEmpty(const Image& image);

// Each gives an empty Image for data that is not a complete, valid picture of
// its format. A damaged JPEG (data cut short, corrupt entropy data) counts as
// not valid, even where libjpeg could fill the rest with grey.
Image DecodePng(std::span<const uint8_t> bytes);
Image DecodeJpeg(std::span<const uint8_t> bytes);

// The text from the URL's last "." to its end ("" without a "."): "/" and "?"
// do not end it, so "a.png?x=1" has the extension ".png?x=1".
std::string_view UrlExtension(std::string_view url);

enum class ImageFormat { Unknown, Jpeg, Png };

struct ImageExtension {
    std::string_view extension;
    ImageFormat format;
};

// The extensions a skin picture's URL may end with, in the order they are
// looked up.
inline constexpr ImageExtension kImageExtensions[] = {
    {".png", ImageFormat::Png},
    {".jpg", ImageFormat::Jpeg},
    {".jpeg", ImageFormat::Jpeg},
};

// The format of the first entry of kImageExtensions equal to the extension
// in ASCII case; Unknown when there is none.
ImageFormat ImageFormatForExtension(std::string_view extension);

// The decoder of the format; Unknown gives an empty Image.
Image DecodeImage(ImageFormat format, std::span<const uint8_t> bytes);

// Decodes by the URL's extension; an unknown extension gives an empty Image.
Image DecodeImageByExtension(std::string_view url, std::span<const uint8_t> bytes);

}  // namespace kelto
