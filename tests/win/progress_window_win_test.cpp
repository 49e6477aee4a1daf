#include "ui/progress_window_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/trace_win.h"

using namespace kelto;

namespace {

// The class the progress window is made of.
constexpr wchar_t kProgressWindowClass[] = L"TKelto2Window";

// The windows of this class refuse to be made, as a platform short of
// resources would refuse them.
LRESULT CALLBACK RefuseCreation(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return msg == WM_NCCREATE ? FALSE : DefWindowProcW(hwnd, msg, wParam, lParam);
}

std::vector<std::string> gTraced;

void KeepTrace(std::string_view line) {
    gTraced.emplace_back(line);
}

// The progress window's class name is taken, before the window is built,
// by a class whose windows refuse to be made; the toolkit then finds it
// registered and uses it. Given back at the end.
class RefusedProgressWindow : public ::testing::Test {
protected:
    void SetUp() override {
        HINSTANCE module = GetModuleHandleW(nullptr);
        UnregisterClassW(kProgressWindowClass, module);  // an earlier test's
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = RefuseCreation;
        cls.hInstance = module;
        cls.lpszClassName = kProgressWindowClass;
        ASSERT_NE(RegisterClassExW(&cls), 0) << GetLastError();
    }
    void TearDown() override { UnregisterClassW(kProgressWindowClass, GetModuleHandleW(nullptr)); }
};

TEST_F(RefusedProgressWindow, BuildsNothingMoreAndSaysSo) {
    Application& app = TheApplication() ? *TheApplication() : CreateApplication("下载器");
    HWND mainWindow = app.mainWindow;
    ProgressWindowHandle = nullptr;
    ProgressWindow& pw = NewProgressWindow();
    gTraced.clear();
    TraceSink previous = SetTraceSinkForTesting(KeepTrace);
    bool built = BuildProgressWindow(pw, app);
    SetTraceSinkForTesting(previous);
    EXPECT_FALSE(built);
    EXPECT_FALSE(pw.Window.handle.IsValid());
    EXPECT_EQ(app.mainWindow, mainWindow);
    EXPECT_EQ(ProgressWindowHandle, nullptr);
    // No element was tried: each would have traced its own failure.
    ASSERT_EQ(gTraced.size(), 1u);
    EXPECT_NE(gTraced[0].find(": create the window failed: error "), std::string::npos)
        << gTraced[0];
}

}  // namespace
