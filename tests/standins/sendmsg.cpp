// Test probe: finds the Downloader's message window the way the launcher
// does and sends it the hand-over message.
//
//   sendmsg.exe <wParam> [lParam] [--wait-ms N] [--class NAME]
//
// Exit code 0 after the message was sent, 2 when no window was found
// within the wait, 3 on bad arguments. Prints the window handle and the
// result in decimal.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr UINT kHandOverMessage = 0x13F4;

bool ReadNumber(const wchar_t* text, long long* value) {
    wchar_t* end = nullptr;
    *value = std::wcstoll(text, &end, 0);
    return end != text && *end == L'\0';
}

std::string Narrow(const wchar_t* wide) {
    char buffer[256];
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, buffer, sizeof buffer, nullptr, nullptr);
    return n > 0 ? std::string(buffer) : std::string();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::string windowClass = "Tmvna_downloader_MsgWin";
    long long wait = 0;
    long long numbers[2] = {0, 0};
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--wait-ms" && i + 1 < argc) {
            if (!ReadNumber(argv[++i], &wait)) {
                return 3;
            }
        } else if (arg == L"--class" && i + 1 < argc) {
            windowClass = Narrow(argv[++i]);
        } else if (count < 2 && ReadNumber(argv[i], &numbers[count])) {
            ++count;
        } else {
            std::fprintf(stderr, "usage: sendmsg <wParam> [lParam] [--wait-ms N] [--class NAME]\n");
            return 3;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "usage: sendmsg <wParam> [lParam] [--wait-ms N] [--class NAME]\n");
        return 3;
    }

    // FindWindowA, as the launcher asks: class name only, no title.
    DWORD start = GetTickCount();
    HWND window = FindWindowA(windowClass.c_str(), nullptr);
    while (!window && GetTickCount() - start < static_cast<DWORD>(wait)) {
        Sleep(50);
        window = FindWindowA(windowClass.c_str(), nullptr);
    }
    if (!window) {
        std::printf("no window\n");
        return 2;
    }
    LRESULT result = SendMessageA(window, kHandOverMessage, static_cast<WPARAM>(numbers[0]),
                                  static_cast<LPARAM>(numbers[1]));
    std::printf("window %lld result %lld\n",
                static_cast<long long>(reinterpret_cast<INT_PTR>(window)),
                static_cast<long long>(result));
    return 0;
}
