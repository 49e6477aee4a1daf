// Stand-in for the Downloader's "mvdown.exe": records how it was started
// and every hand-over message it gets, owns the message window that the
// launcher looks for, and ends by itself so that no test leaks a process.
//
// KELTO2_MVDOWN_WINDOW      "now" (default), "delay:<ms>" or "never"
// KELTO2_MVDOWN_LIFETIME_MS lifetime in milliseconds (default 20000)
// KELTO2_MVDOWN_HANG        "1": never return from the hand-over message
// KELTO2_MVDOWN_BUSY_MS     handle no message for this long once the window
//                           is there (a window made at once only)
// KELTO2_STANDIN_LOG        file that receives the lines
#include <windows.h>

#include <cstdio>
#include <string>

#include "standin_log.h"

namespace {

constexpr UINT kHandOverMessage = 0x13F4;
constexpr wchar_t kWindowClass[] = L"Tmvna_downloader_MsgWin";

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kHandOverMessage) {
        standin::AppendClockMark("handover");
        char line[96];
        std::snprintf(line, sizeof line, "msg 0x13F4 %lld %lld", static_cast<long long>(wParam),
                      static_cast<long long>(lParam));
        standin::AppendLogLine(line);
        if (standin::EnvText(L"KELTO2_MVDOWN_HANG") == L"1") {
            Sleep(INFINITE);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Top-level and hidden: FindWindow sees it, the user does not. A
// message-only window would be invisible to FindWindow.
HWND CreateMessageWindow(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MessageWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  instance, nullptr);
    char line[64];
    std::snprintf(line, sizeof line, "window %lld",
                  static_cast<long long>(reinterpret_cast<INT_PTR>(window)));
    standin::AppendLogLine(line);
    return window;
}

// Milliseconds before the window appears; negative for never.
long WindowDelay() {
    std::wstring mode = standin::EnvText(L"KELTO2_MVDOWN_WINDOW");
    if (mode.empty() || mode == L"now") {
        return 0;
    }
    if (mode == L"never") {
        return -1;
    }
    if (mode.rfind(L"delay:", 0) == 0) {
        long delay = _wtol(mode.c_str() + 6);
        return delay > 0 ? delay : 0;
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    standin::AppendLogLine("args " + standin::ToUtf8(standin::RawArguments()));
    standin::AppendLogLine(standin::TokenLine("mvdown"));
    standin::AppendLogLine(standin::CurrentFolderLine("mvdown"));

    long lifetime = standin::EnvNumber(L"KELTO2_MVDOWN_LIFETIME_MS", 20000);
    // Thread timers get their ids from the system; the loop tells them
    // apart by these.
    UINT_PTR lifetimeTimer =
        SetTimer(nullptr, 0, lifetime > 0 ? static_cast<UINT>(lifetime) : 1, nullptr);

    long delay = WindowDelay();
    UINT_PTR windowTimer = 0;
    if (delay == 0) {
        CreateMessageWindow(instance);
        long busy = standin::EnvNumber(L"KELTO2_MVDOWN_BUSY_MS", 0);
        if (busy > 0) {
            Sleep(static_cast<DWORD>(busy));
        }
    } else if (delay > 0) {
        windowTimer = SetTimer(nullptr, 0, static_cast<UINT>(delay), nullptr);
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) {
            if (windowTimer != 0 && message.wParam == windowTimer) {
                KillTimer(nullptr, windowTimer);
                windowTimer = 0;
                CreateMessageWindow(instance);
                continue;
            }
            if (message.wParam == lifetimeTimer) {
                break;
            }
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
