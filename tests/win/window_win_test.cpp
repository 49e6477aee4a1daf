#include "toolkit/window_win.h"

#include <windows.h>
#include <commctrl.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

using namespace kelto;

namespace {

constexpr DWORD kFramedStyle = 0x16CF0000;
constexpr UINT kCustomMessage = WM_APP + 7;

struct Recorder {
    int shown = 0;
    int closeRequests = 0;
    bool accept = false;
    int clicks = 0;
    std::vector<MouseEvent> downs;
    std::vector<MouseEvent> ups;
    std::vector<WindowMessage> swallowed;
};

void CountShown(Recorder& r) {
    ++r.shown;
}
void AnswerClose(Recorder& r, bool& accept) {
    ++r.closeRequests;
    accept = r.accept;
}
void CountClick(Recorder& r) {
    ++r.clicks;
}
void KeepDown(Recorder& r, const MouseEvent& e) {
    r.downs.push_back(e);
}
void KeepUp(Recorder& r, const MouseEvent& e) {
    r.ups.push_back(e);
}
bool SwallowCustomAndTitle(Recorder& r, const WindowMessage& m) {
    if (m.id != kCustomMessage && m.id != WM_SETTEXT) {
        return false;
    }
    r.swallowed.push_back(m);
    return true;
}
// A "background picture" over the left 100 pixels.
void PaintLeftRed(Recorder&, HDC dc) {
    RECT left{0, 0, 100, 200};
    SetDCBrushColor(dc, RGB(200, 0, 0));
    FillRect(dc, &left, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&msg);
    }
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = TheApplication() ? TheApplication() : &CreateApplication("下载器");
        ASSERT_TRUE(CreateTopWindow(window_, *app_,
                                    {"TKelto2TestWindow", "", kFramedStyle, {60, 60, 400, 200}}));
        window_.events = {.closeRequest = Bind<&AnswerClose>(rec_),
                          .mouseDown = Bind<&KeepDown>(rec_),
                          .mouseUp = Bind<&KeepUp>(rec_),
                          .shown = Bind<&CountShown>(rec_),
                          .paint = Bind<&PaintLeftRed>(rec_)};
    }

    Application* app_ = nullptr;
    Recorder rec_;
    TopWindow window_;
};

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

TEST_F(Window, ElementsHaveTheirClassStyleSizeAndText) {
    struct Case {
        ElementKind kind;
        std::wstring cls;
        DWORD style;
        Size size;
        std::string text;  // only labels take one
    };
    const Case cases[] = {
        {ElementKind::kLabel, L"STATIC", 0x5000018C, {64, 22}, "下载 label"},
        {ElementKind::kRightLabel, L"STATIC", 0x50000182, {64, 22}, "right"},
        {ElementKind::kPictureBox, L"STATIC", 0x5000018C, {64, 64}, ""},
        {ElementKind::kProgressBar, L"msctls_progress32", WS_CHILD | WS_VISIBLE, {300, 20}, ""},
    };
    for (const Case& c : cases) {
        Element e;
        ASSERT_TRUE(MakeElement(e, window_, c.kind, c.text.empty() ? "dropped" : c.text));
        EXPECT_EQ(lstrcmpiW(ClassOf(e.handle.Get()).c_str(), c.cls.c_str()), 0) << c.text;
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(e.handle.Get(), GWL_STYLE)), c.style) << c.text;
        EXPECT_EQ(ElementRect(e), (Rect{0, 0, c.size.width, c.size.height})) << c.text;
        wchar_t text[32] = {};
        GetWindowTextW(e.handle.Get(), text, 32);
        EXPECT_EQ(ToUtf8(text), c.text);
    }
    EXPECT_EQ(GetWindow(window_.handle.Get(), GW_OWNER), app_->window.Get());
    EXPECT_EQ(OuterRect(window_), (Rect{60, 60, 400, 200}));
}

TEST_F(Window, ElementRectsAreClampedToWhatThePlatformCarries) {
    Element e;
    MakeElement(e, window_, ElementKind::kLabel, "a");
    SetElementRect(e, {-7, 30, 10, -4});
    EXPECT_EQ(ElementRect(e), (Rect{-7, 30, 10, 0}));
    SetElementRect(e, {INT32_MAX, INT32_MIN, INT32_MAX, 5});
    EXPECT_EQ(ElementRect(e), (Rect{32767, -32768, 32767, 5}));
}

TEST_F(Window, SelfSizingLabelFollowsItsText) {
    Element label;
    MakeElement(label, window_, ElementKind::kRightLabel, "mid");
    SetElementFont(label, "SimSum", 12, false);
    SetSizesToText(label, true);
    Rect mid = ElementRect(label);
    SetElementText(label, "a much longer text");
    Rect longer = ElementRect(label);
    SetElementText(label, "");
    Rect empty = ElementRect(label);
    EXPECT_GT(mid.width, 0);
    EXPECT_GT(longer.width, mid.width);
    EXPECT_EQ(longer.height, mid.height);
    EXPECT_EQ(empty, (Rect{0, 0, 0, mid.height}));
    SetElementFont(label, "SimSum", 24, true);  // the font counts too
    EXPECT_GT(ElementRect(label).height, mid.height);
}

TEST_F(Window, ShownFiresOncePerHiddenToShown) {
    ShowTopWindow(window_);
    ShowTopWindow(window_);
    EXPECT_EQ(rec_.shown, 1);
    HideTopWindow(window_);
    ShowTopWindow(window_);
    EXPECT_EQ(rec_.shown, 2);
}

TEST_F(Window, MouseEventsCarrySignedClientCoordinates) {
    Element label;
    MakeElement(label, window_, ElementKind::kLabel, "link",
                {.click = Bind<&CountClick>(rec_), .mouseDown = Bind<&KeepDown>(rec_)});
    SendMessageW(window_.handle.Get(), WM_RBUTTONDOWN, 0, MAKELPARAM(-3, 40));
    SendMessageW(window_.handle.Get(), WM_LBUTTONUP, 0, MAKELPARAM(70, -32768));
    SendMessageW(window_.handle.Get(), WM_MBUTTONUP, 0, MAKELPARAM(0, 32767));
    ASSERT_EQ(rec_.downs.size(), 1u);
    EXPECT_EQ(rec_.downs[0].button, MouseButton::kRight);
    EXPECT_EQ(rec_.downs[0].x, -3);
    EXPECT_EQ(rec_.downs[0].y, 40);
    ASSERT_EQ(rec_.ups.size(), 2u);
    EXPECT_EQ(rec_.ups[0].button, MouseButton::kLeft);
    EXPECT_EQ(rec_.ups[0].y, -32768);
    EXPECT_EQ(rec_.ups[1].button, MouseButton::kMiddle);
    // A press on an element is the element's, not the window's.
    SendMessageW(label.handle.Get(), WM_LBUTTONDOWN, 0, MAKELPARAM(2, 3));
    SendMessageW(label.handle.Get(), WM_LBUTTONUP, 0, MAKELPARAM(2, 3));
    EXPECT_EQ(rec_.clicks, 1);
    ASSERT_EQ(rec_.downs.size(), 2u);
    EXPECT_EQ(rec_.downs[1].y, 3);
}

TEST_F(Window, MessageHookSwallowsWhatItHandles) {
    TopWindow hooked;
    ASSERT_TRUE(
        CreateTopWindow(hooked, *app_, {"TKelto2TestWindow", "", kFramedStyle, {0, 0, 300, 100}}));
    hooked.events.message = Bind<&SwallowCustomAndTitle>(rec_);
    SetTitle(hooked, "ignored");
    EXPECT_EQ(SendMessageW(hooked.handle.Get(), kCustomMessage, 12, 34), 0);
    ASSERT_EQ(rec_.swallowed.size(), 2u);
    EXPECT_EQ(rec_.swallowed[1].wParam, 12u);
    EXPECT_EQ(rec_.swallowed[1].lParam, 34);
    EXPECT_EQ(GetWindowTextLengthW(hooked.handle.Get()), 0);
}

// The windows of this class refuse to be made, as a platform short of
// resources would refuse them.
LRESULT CALLBACK RefuseCreation(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return msg == WM_NCCREATE ? FALSE : DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool RegisterRefusingClass(const wchar_t* name) {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.lpfnWndProc = RefuseCreation;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = name;
    return RegisterClassExW(&cls) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

std::vector<std::string> gTraced;

void KeepTrace(std::string_view line) {
    gTraced.emplace_back(line);
}

TEST_F(Window, WhatCannotBeMadeIsTracedAndHeldByNoRecord) {
    ASSERT_TRUE(RegisterRefusingClass(L"TKelto2RefusedWindow"));
    gTraced.clear();
    TraceSink previous = SetTraceSinkForTesting(KeepTrace);
    TopWindow refused;
    bool windowMade = CreateTopWindow(refused, *app_,
                                      {"TKelto2RefusedWindow", "", kFramedStyle, {0, 0, 300, 100}});
    // Without a parent window an element cannot be made either.
    Element orphan;
    bool elementMade = MakeElement(orphan, refused, ElementKind::kLabel, "a");
    SetTraceSinkForTesting(previous);
    EXPECT_FALSE(windowMade);
    EXPECT_FALSE(refused.handle.IsValid());
    EXPECT_FALSE(elementMade);
    EXPECT_FALSE(orphan.handle.IsValid());
    ASSERT_EQ(gTraced.size(), 2u);
    EXPECT_NE(gTraced[0].find(": create the window failed: error "), std::string::npos)
        << gTraced[0];
    EXPECT_NE(gTraced[1].find(": create an element failed: error "), std::string::npos)
        << gTraced[1];
}

TEST_F(Window, CloseRequestDecidesAndTheMainWindowEndsTheLoop) {
    SendMessageW(window_.handle.Get(), WM_CLOSE, 0, 0);
    EXPECT_EQ(rec_.closeRequests, 1);
    EXPECT_TRUE(window_.handle.IsValid());
    SetMainWindow(*app_, window_);
    rec_.accept = true;
    HWND closed = window_.handle.Get();
    SendMessageW(closed, WM_CLOSE, 0, 0);
    EXPECT_FALSE(window_.handle.IsValid());
    EXPECT_FALSE(IsWindow(closed));
    EXPECT_EQ(app_->mainWindow, nullptr);
    MSG msg;
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(Window, TransparentElementsShowTheWindowSurface) {
    SetBackgroundColor(window_, RGB(0, 0, 255));
    struct Case {
        Point at;
        bool transparent;
        COLORREF seen;
    };
    const Case cases[] = {
        {{20, 20}, true, RGB(200, 0, 0)},  // over the paint handler's picture
        {{150, 20}, true, RGB(0, 0, 255)},
        {{150, 60}, false, GetSysColor(COLOR_BTNFACE)},
    };
    Element elements[std::size(cases)];
    for (size_t i = 0; i < std::size(cases); ++i) {
        MakeElement(elements[i], window_, ElementKind::kPictureBox);
        SetElementRect(elements[i], {cases[i].at.x, cases[i].at.y, 64, 64});
        SetTransparent(elements[i], cases[i].transparent);
    }
    ShowTopWindow(window_);
    UpdateWindow(window_.handle.Get());
    Pump();
    WindowDc dc = GetWindowDc(window_.handle.Get());
    ASSERT_TRUE(dc.IsValid());
    for (const Case& c : cases) {
        EXPECT_EQ(GetPixel(dc.Get().dc, c.at.x + 30, c.at.y + 30), c.seen)
            << c.at.x << "," << c.at.y;
    }
}

// Wine answers 0 to GetGuiResources, but keeps the process's GDI handle
// table where Windows keeps its shared one (the PEB's GdiSharedHandleTable,
// 24 bytes an entry, a type other than 0 in use); -1: neither is readable.
int GdiObjectsInUse() {
    if (DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) {
        return static_cast<int>(count);
    }
#ifdef _WIN64
    struct Entry {
        uint64_t object;
        uint32_t owner;
        uint16_t unique;
        uint8_t type;
        uint8_t flags;
        uint64_t user;
    };
// GCC 12 takes the TEB's gs-relative read for an access to an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    auto* peb = reinterpret_cast<const unsigned char*>(NtCurrentTeb()->ProcessEnvironmentBlock);
#pragma GCC diagnostic pop
    const Entry* table = *reinterpret_cast<const Entry* const*>(peb + 0xF8);
    if (table) {
        return static_cast<int>(
            std::count_if(table, table + 0x10000, [](const Entry& e) { return e.type != 0; }));
    }
#endif
    return -1;
}

TEST_F(Window, PaintingLeaksNoGdiObjects) {
    Element label, bar;
    MakeElement(label, window_, ElementKind::kLabel, "0");
    SetElementFont(label, "SimSum", 13, true);
    SetTransparent(label, true);
    SetSizesToText(label, true);
    MakeElement(bar, window_, ElementKind::kProgressBar);
    SetProgressRange(bar, 10000);
    ShowTopWindow(window_);
    Pump();
    int before = GdiObjectsInUse();
    if (before < 0) {
        GTEST_SKIP() << "no count of GDI objects on this platform";
    }
    for (int i = 0; i < 100; ++i) {
        SetElementText(label, std::to_string(i * 7919));
        SetProgressPosition(bar, i * 100);
        RedrawWindow(window_.handle.Get(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    }
    Pump();
    EXPECT_LE(GdiObjectsInUse() - before, 2);
    EXPECT_EQ(SendMessageW(bar.handle.Get(), PBM_GETPOS, 0, 0), 9900);
}

}  // namespace
