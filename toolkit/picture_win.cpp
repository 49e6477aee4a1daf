#include "toolkit/picture_win.h"

namespace kelto {

void DrawPicture(HDC dc, const Image& picture, Point topLeft) {
    if (IsEmpty(picture)) {
        return;
    }
    // The decoders give top-down rows of 4-byte B G R A pixels: a 32-bit
    // DIB with a negative height.
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    StretchDIBits(dc, topLeft.x, topLeft.y, picture.width, picture.height, 0, 0, picture.width,
                  picture.height, picture.bgra.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace kelto
