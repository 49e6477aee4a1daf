// The image type registry: which decoder takes a skin picture, by the
// extension of its URL. Filled once before start-up, read afterwards.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "toolkit/image_decode.h"

namespace kelto {

// A decoded skin picture; 0 by 0 when empty.
using SkinImage = Image;

// Decodes the stream into image by the type of the first registered
// extension equal to the given one, case ignored as the user's locale ignores
// it; leaves image empty when the data does not decode, and as it is when no
// extension matches.
void LoadImageByExtension(std::string_view extension, std::span<const uint8_t> stream,
                          SkinImage& image);

// The entries of kImageExtensions, in their order.
void RegisterSkinImageTypes();

}  // namespace kelto
