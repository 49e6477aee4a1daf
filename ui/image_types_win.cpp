#include "ui/image_types_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "toolkit/text_win.h"

namespace kelto {

namespace {

struct ImageType {
    std::wstring extension;
    ImageFormat format;
};

std::vector<ImageType> gImageTypes;

ImageFormat FindImageType(std::string_view extension) {
    std::wstring wanted = ToWide(extension);
    for (const ImageType& type : gImageTypes) {
        if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, type.extension.c_str(),
                           static_cast<int>(type.extension.size()), wanted.c_str(),
                           static_cast<int>(wanted.size())) == CSTR_EQUAL) {
            return type.format;
        }
    }
    return ImageFormat::Unknown;
}

}  // namespace

void LoadImageByExtension(std::string_view extension, std::span<const uint8_t> stream,
                          SkinImage& image) {
    ImageFormat format = FindImageType(extension);
    if (format != ImageFormat::Unknown) {
        image = DecodeImage(format, stream);
    }
}

void RegisterSkinImageTypes() {
    for (const ImageExtension& known : kImageExtensions) {
        gImageTypes.push_back({ToWide(known.extension), known.format});
    }
}

}  // namespace kelto
