#include "ui/image_types_win.h"

#include <windows.h>

#include <string>
#include <vector>

#include "toolkit/text_win.h"

namespace kelto {

namespace {

struct ImageType {
    std::wstring extension;
    ImageLoader loader;
};

std::vector<ImageType> gImageTypes;

void LoadJpeg(std::span<const uint8_t> stream, SkinImage& image) {
    image = {};
    image = DecodeJpeg(stream);
}

void LoadPng(std::span<const uint8_t> stream, SkinImage& image) {
    image = {};
    image = DecodePng(stream);
}

}  // namespace

void RegisterImageType(std::initializer_list<std::string_view> extensions, ImageLoader loader) {
    for (std::string_view extension : extensions) {
        gImageTypes.push_back({ToWide(extension), loader});
    }
}

ImageLoader FindImageLoader(std::string_view extension) {
    std::wstring wanted = ToWide(extension);
    for (const ImageType& type : gImageTypes) {
        if (CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, type.extension.c_str(),
                           static_cast<int>(type.extension.size()), wanted.c_str(),
                           static_cast<int>(wanted.size())) == CSTR_EQUAL) {
            return type.loader;
        }
    }
    return nullptr;
}

void LoadImageByExtension(std::string_view extension, std::span<const uint8_t> stream,
                          SkinImage& image) {
    if (ImageLoader loader = FindImageLoader(extension)) {
        loader(stream, image);
    }
}

void RegisterSkinImageTypes() {
    RegisterImageType({".jpg", ".jpeg"}, &LoadJpeg);
    RegisterImageType({".png"}, &LoadPng);
}

}  // namespace kelto
