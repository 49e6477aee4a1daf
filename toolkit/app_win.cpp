#include "toolkit/app_win.h"

#include <windows.h>

#include <memory>

#include "toolkit/text_win.h"

namespace kelto {

namespace {
std::unique_ptr<Application> gApplication;
}

Application& CreateApplication(std::string caption) {
    gApplication = std::make_unique<Application>(Application{std::move(caption)});
    return *gApplication;
}

Application* TheApplication() { return gApplication.get(); }

int RunMessageLoop(Application&) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void ShowFatalError(const std::string& message) {
    const Application* app = TheApplication();
    std::wstring caption = ToWide(app ? app->caption : std::string("Kelto2"));
    MessageBoxW(nullptr, ToWide(message).c_str(), caption.c_str(),
                MB_OK | MB_ICONERROR | MB_SYSTEMMODAL);
}

void DebugTrace(const std::string& line) {
    OutputDebugStringW(ToWide("Kelto2: " + line + "\n").c_str());
}

}  // namespace kelto
