// The image type registry: which loader decodes a skin picture, by the
// extension of its URL. Filled once before start-up, read afterwards.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "toolkit/image_decode.h"

namespace kelto {

// A decoded skin picture; 0 by 0 when empty.
using SkinImage = Image;

// Decodes the stream into image: empties it first, and leaves it empty when
// the data does not decode.
using ImageLoader = void (*)(std::span<const uint8_t> stream, SkinImage& image);

void RegisterImageType(std::initializer_list<std::string_view> extensions, ImageLoader loader);

// The loader of the first entry whose extension equals the given one, case
// ignored as the user's locale ignores it; nullptr when there is none.
ImageLoader FindImageLoader(std::string_view extension);

// Runs the loader for the extension; without one the image stays as it is.
void LoadImageByExtension(std::string_view extension, std::span<const uint8_t> stream,
                          SkinImage& image);

// ".jpg" and ".jpeg" for JPEG, ".png" for PNG, in that order.
void RegisterSkinImageTypes();

}  // namespace kelto
