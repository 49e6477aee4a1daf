// Drawing decoded pictures.
#pragma once

#include <windows.h>

#include "toolkit/geometry.h"
#include "toolkit/image_decode.h"

namespace kelto {

// Copies the picture unscaled with its top-left corner at the point, as it
// is: transparency it may carry is not applied. An empty picture draws
// nothing.
void DrawPicture(HDC dc, const Image& picture, Point topLeft);

}  // namespace kelto
