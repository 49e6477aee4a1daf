#include "toolkit/app_win.h"

#include <memory>

#include "toolkit/text_win.h"

namespace kelto {

namespace {

constexpr wchar_t kApplicationClass[] = L"TKelto2Application";

std::unique_ptr<Application> gApplication;

// Closing the application window from its taskbar button is a close
// request to the main window, which may refuse it; closing the owner
// directly would destroy the main window unasked.
LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const Application* app = TheApplication();
    if (msg == WM_CLOSE && app && app->window == hwnd && app->mainWindow) {
        PostMessageW(app->mainWindow, WM_CLOSE, 0, 0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND MakeApplicationWindow(const std::string& caption) {
    HINSTANCE instance = RegisterTopLevelClass(kApplicationClass, ApplicationProc);
    // Without WS_THICKFRAME a popup keeps the 0 by 0 it is made with.
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
    return CreateWindowExW(0, kApplicationClass, ToWide(caption).c_str(), style,
                           GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                           0, nullptr, nullptr, instance, nullptr);
}

}  // namespace

HINSTANCE RegisterTopLevelClass(const wchar_t* className, WNDPROC procedure) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = procedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.lpszClassName = className;
    RegisterClassExW(&cls);  // fails harmlessly when the class is registered already
    return instance;
}

Application& CreateApplication(std::string caption) {
    if (gApplication && gApplication->window) {
        DestroyWindow(gApplication->window);
    }
    gApplication = std::make_unique<Application>();
    gApplication->caption = std::move(caption);
    return *gApplication;
}

HWND ApplicationWindow(Application& app) {
    if (!app.window) {
        app.window = MakeApplicationWindow(app.caption);
    }
    return app.window;
}

Application* TheApplication() {
    return gApplication.get();
}

int RunMessageLoop(Application& app) {
    if (app.mainWindow && !IsWindowVisible(app.mainWindow)) {
        if (app.window) {
            ShowWindow(app.window, SW_SHOWNOACTIVATE);
        }
        ShowWindow(app.mainWindow, SW_SHOW);
    }
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool IsApplicationMinimized(const Application& app) {
    return app.window && IsIconic(app.window);
}

void MinimizeApplicationWindow(Application& app) {
    if (app.window) {
        ShowWindow(app.window, SW_SHOWMINNOACTIVE);
    }
}

void MoveApplicationWindow(Application& app, int left, int top) {
    if (app.window) {
        SetWindowPos(app.window, nullptr, left, top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void ShowFatalError(const std::string& message) {
    const Application* app = TheApplication();
    std::wstring caption = ToWide(app ? app->caption : std::string("Kelto2"));
    MessageBoxW(nullptr, ToWide(message).c_str(), caption.c_str(),
                MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
}

}  // namespace kelto
