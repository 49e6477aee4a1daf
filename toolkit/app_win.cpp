#include "toolkit/app_win.h"

#include <utility>

#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

constexpr wchar_t kApplicationClass[] = L"TKelto2Application";

// Deleted only when replaced: a static destructor at exit would destroy the
// windows while the setup job's worker may still address them.
Application* gApplication = nullptr;

// Closing the application window from its taskbar button is a close
// request to the main window, which may refuse it; closing the owner
// directly would destroy the main window unasked. With no main window to
// ask, the window goes by itself, and the object lets go of it.
LRESULT CALLBACK ApplicationProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Application* app = TheApplication();
    bool ours = app && app->window.Get() == hwnd;
    if (msg == WM_CLOSE && ours && app->mainWindow) {
        PostMessageW(app->mainWindow, WM_CLOSE, 0, 0);
        return 0;
    }
    if (msg == WM_NCDESTROY && ours) {
        (void)app->window.Release();
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

WindowHandle MakeApplicationWindow(const std::string& caption) {
    HINSTANCE instance = RegisterTopLevelClass(kApplicationClass, ApplicationProc);
    // Without WS_THICKFRAME a popup keeps the 0 by 0 it is made with.
    DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
    std::wstring title = ToWide(caption);
    HWND made = CreateWindowExW(
        0, kApplicationClass, title.c_str(), style, GetSystemMetrics(SM_CXSCREEN) / 2,
        GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr, instance, nullptr);
    if (!made) {
        LogLastError("create the application window");
    }
    return WindowHandle(made);
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
    // The old window goes while its object is still the application: a
    // main window among those it owns ends the message loop as it goes.
    if (gApplication) {
        gApplication->window.Close();
    }
    auto* app = new Application();
    app->caption = std::move(caption);
    delete std::exchange(gApplication, app);
    return *app;
}

HWND ApplicationWindow(Application& app) {
    if (!app.window.IsValid()) {
        app.window = MakeApplicationWindow(app.caption);
    }
    return app.window.Get();
}

Application* TheApplication() {
    return gApplication;
}

int RunMessageLoop(Application& app) {
    if (app.mainWindow && !IsWindowVisible(app.mainWindow)) {
        if (app.window.IsValid()) {
            ShowWindow(app.window.Get(), SW_SHOWNOACTIVATE);
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
    return app.window.IsValid() && IsIconic(app.window.Get());
}

void MinimizeApplicationWindow(Application& app) {
    if (app.window.IsValid()) {
        ShowWindow(app.window.Get(), SW_SHOWMINNOACTIVE);
    }
}

void MoveApplicationWindow(Application& app, int left, int top) {
    if (app.window.IsValid()) {
        SetWindowPos(app.window.Get(), nullptr, left, top, 0, 0,
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
