#include "toolkit/format.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "toolkit/text_win.h"

using namespace kelto;

namespace {

// The platform's own formatter on GBK text, its arguments laid out as the
// machine-word list that its va_list walks.
std::string PlatformFormat(const std::string& format, const std::vector<FormatArg>& args) {
    std::vector<std::string> gbkTexts;
    gbkTexts.reserve(args.size());
    std::vector<uintptr_t> slots;
    for (const FormatArg& arg : args) {
        if (arg.kind == FormatArg::Kind::Text) {
            gbkTexts.push_back(Utf8ToGbk(arg.text));
            slots.push_back(reinterpret_cast<uintptr_t>(gbkTexts.back().c_str()));
        } else {
            slots.push_back(static_cast<uintptr_t>(static_cast<uint32_t>(arg.number)));
        }
    }
    slots.push_back(0);  // never read: keeps data() valid for an empty list
    char buffer[1024] = {};
    wvsprintfA(buffer, Utf8ToGbk(format).c_str(), reinterpret_cast<va_list>(slots.data()));
    return GbkToUtf8(buffer);
}

TEST(FormatWin, SameAsThePlatformWithinTheContract) {
    // The argument list really reaches the platform (else both sides could
    // agree on nothing).
    ASSERT_EQ(PlatformFormat("%s|%d", {TextArg("下载"), IntArg(-60)}), "下载|-60");
    struct Case {
        std::string format;
        std::vector<FormatArg> args;
    };
    const std::string fill(1020, 'a');
    const Case cases[] = {
        {"下载速度: %s/s, 剩余时间 %d 秒", {TextArg("128.0 KB"), IntArg(60)}},
        {"下载速度: %s/s, 剩余时间 %d 秒", {TextArg("1024.0 MB"), IntArg(2147483647)}},
        {"正在准备下载 %s", {TextArg("Tamble")}},
        {"真的要取消下载%s吗？", {TextArg("Tamble")}},
        {"no conversion 100%%", {}},
        {"[%5s|%-5s|%05s|%-05s|%hs]",
         {TextArg("ab"), TextArg("ab"), TextArg("ab"), TextArg("ab"), TextArg("ab")}},
        {"[%.1s|%.0s|%.s|%5.1s|%-7.2s]",
         {TextArg("abc"), TextArg("abc"), TextArg("abc"), TextArg("abc"), TextArg("abc")}},
        {"[%6s|%-6s|%.2s|%.4s]",
         {TextArg("中文"), TextArg("中文"), TextArg("中文"), TextArg("中文")}},
        {"[%5d|%-5d|%05d|%-05d|%ld]", {IntArg(42), IntArg(42), IntArg(42), IntArg(42), IntArg(42)}},
        {"[%05d|%.5d|%8.5d|%08.5d|%-8.5d]",
         {IntArg(-42), IntArg(-42), IntArg(-42), IntArg(-42), IntArg(-42)}},
        {"[%d|%d|%.0d|%3d]", {IntArg(INT32_MIN), IntArg(INT32_MAX), IntArg(0), IntArg(-12345)}},
        {"%999999999s|", {TextArg("ab")}},
        {"%.99999d|", {IntArg(5)}},
        {std::string(1500, 'x'), {}},
        {std::string(1021, 'a') + "中a", {}},
        {fill + "%10s", {TextArg("bc")}},
        {fill + "%-10s", {TextArg("bc")}},
        {fill + "%d", {IntArg(-123456)}},
        {fill + "%010d", {IntArg(-123456)}},
        {fill + "%.10d", {IntArg(-1)}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatText(c.format, c.args), PlatformFormat(c.format, c.args)) << c.format;
    }
}

}  // namespace
