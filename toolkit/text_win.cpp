#include "toolkit/text_win.h"

#include <windows.h>

#include <climits>

namespace kelto {

namespace {

// MultiByteToWideChar and WideCharToMultiByte take int lengths; longer input
// is cut rather than wrapped.
int ClampedLength(size_t size) {
    return size > INT_MAX ? INT_MAX : static_cast<int>(size);
}

}  // namespace

std::wstring WideFromCodePage(std::string_view bytes, unsigned codePage) {
    if (bytes.empty()) {
        return {};
    }
    int srcLen = ClampedLength(bytes.size());
    int len = MultiByteToWideChar(codePage, 0, bytes.data(), srcLen, nullptr, 0);
    if (len <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(len), L'\0');
    len = MultiByteToWideChar(codePage, 0, bytes.data(), srcLen, wide.data(), len);
    wide.resize(len > 0 ? static_cast<size_t>(len) : 0);
    return wide;
}

std::string CodePageFromWide(std::wstring_view wide, unsigned codePage) {
    if (wide.empty()) {
        return {};
    }
    int srcLen = ClampedLength(wide.size());
    int len = WideCharToMultiByte(codePage, 0, wide.data(), srcLen, nullptr, 0, nullptr, nullptr);
    if (len <= 0) {
        return {};
    }
    std::string bytes(static_cast<size_t>(len), '\0');
    len =
        WideCharToMultiByte(codePage, 0, wide.data(), srcLen, bytes.data(), len, nullptr, nullptr);
    bytes.resize(len > 0 ? static_cast<size_t>(len) : 0);
    return bytes;
}

std::wstring ToWide(std::string_view utf8) {
    return WideFromCodePage(utf8, CP_UTF8);
}

std::string ToUtf8(std::wstring_view wide) {
    return CodePageFromWide(wide, CP_UTF8);
}

std::string GbkToUtf8(std::string_view gbk) {
    return ToUtf8(WideFromCodePage(gbk, kGbkCodePage));
}

std::string Utf8ToGbk(std::string_view utf8) {
    return CodePageFromWide(ToWide(utf8), kGbkCodePage);
}

std::string Utf8ToAnsi(std::string_view utf8) {
    return CodePageFromWide(ToWide(utf8), CP_ACP);
}

}  // namespace kelto
