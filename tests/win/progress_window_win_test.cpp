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

// The DPI of a monitor the window moved to: the window takes the suggested
// rectangle, and its elements, fonts and pictures follow, there and back.
TEST(ProgressWindowDpi, LaysOutAgainWhenTheDpiChanges) {
    Application& app = TheApplication() ? *TheApplication() : CreateApplication("下载器");
    HWND mainWindow = app.mainWindow;
    ProgressWindow& pw = NewProgressWindow();
    ASSERT_TRUE(BuildProgressWindow(pw, app));
    LoadSkin(pw, RequestSkin(pw.Config));  // no picture URLs: nothing is requested
    ASSERT_EQ(pw.Dpi, 96);
    pw.HeaderImage = {2, 1, std::vector<uint8_t>(8, 0x80)};
    const struct {
        int dpi;
        Rect suggested, close, header;
        LONG captionFont, lineFont;
        Size picture;
    } steps[] = {
        {144, {100, 50, 600, 300}, {0, 0, 96, 96}, {0, 42, 96, 120}, 18, 20, {3, 2}},
        {96, {100, 50, 400, 200}, {0, 0, 64, 64}, {0, 28, 64, 80}, 12, 13, {0, 0}},
    };
    for (const auto& step : steps) {
        const Rect& r = step.suggested;
        RECT suggested{r.left, r.top, r.Right(), r.Bottom()};
        SendMessageW(pw.Window.handle.Get(), WM_DPICHANGED, MAKEWPARAM(step.dpi, step.dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(OuterRect(pw.Window), step.suggested) << step.dpi;
        EXPECT_EQ(ElementRect(pw.CloseArea), step.close) << step.dpi;
        EXPECT_EQ(ElementRect(pw.HeaderBox), step.header) << step.dpi;
        LOGFONTW caption{}, line{};
        GetObjectW(pw.CaptionLabel.font.Get(), sizeof caption, &caption);
        GetObjectW(pw.StatusLine.font.Get(), sizeof line, &line);
        EXPECT_EQ(caption.lfHeight, step.captionFont) << step.dpi;
        EXPECT_EQ(line.lfHeight, step.lineFont) << step.dpi;
        EXPECT_EQ((Size{pw.ScaledHeader.width, pw.ScaledHeader.height}), step.picture);
    }
    // Gone without ending a message loop, so that the class can go too.
    app.mainWindow = mainWindow;
    pw.Window.handle.Close();
}

}  // namespace
