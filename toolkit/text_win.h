// The one place where UTF-8 text meets UTF-16 and code pages. Invalid input
// never fails: undecodable bytes become U+FFFD, unencodable characters the
// code page's default character.
#pragma once

#include <string>
#include <string_view>

namespace kelto {

inline constexpr unsigned kGbkCodePage = 936;

std::wstring ToWide(std::string_view utf8);
std::string ToUtf8(std::wstring_view wide);

std::wstring WideFromCodePage(std::string_view bytes, unsigned codePage);
std::string CodePageFromWide(std::wstring_view wide, unsigned codePage);

// Configuration files and the program's Chinese texts are GBK whatever the
// system code page.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);
// The system ANSI code page, for files that other programs read as ANSI.
std::string Utf8ToAnsi(std::string_view utf8);

}  // namespace kelto
