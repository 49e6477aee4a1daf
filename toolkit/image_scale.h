// Resampling decoded pictures to another size, for screens denser or
// sparser than the one the pictures were made for.
#pragma once

#include "toolkit/geometry.h"
#include "toolkit/image_decode.h"

namespace kelto {

// The picture resampled to size with a bilinear filter (pixel centres
// aligned, edges repeated), all four channels alike; the same size gives a
// copy. Empty when the picture is empty, when a side of size is 0 or less,
// or when size goes beyond kMaxImageSide or kMaxImagePixels.
Image ResizeImage(const Image& picture, Size size);

}  // namespace kelto
