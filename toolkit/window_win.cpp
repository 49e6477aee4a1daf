#include "toolkit/window_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

constexpr DWORD kLabelStyle = WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_NOPREFIX | SS_LEFTNOWORDWRAP;
constexpr DWORD kRightLabelStyle = WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_NOPREFIX | SS_RIGHT;
constexpr DWORD kProgressBarStyle = WS_CHILD | WS_VISIBLE;
static_assert(kLabelStyle == 0x5000018C && kRightLabelStyle == 0x50000182);

// Taller text than this fits no screen; the cap keeps the font engine from
// rendering absurd glyphs for a hostile height.
constexpr int kMaxFontHeight = 1024;

template <typename... Args>
void Fire(const Handler<void(Args...)>& handler, std::type_identity_t<Args>... args) {
    if (handler.call) {
        handler.call(handler.record, args...);
    }
}

Rect RectOf(const RECT& r) {
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

std::wstring WindowTextOf(HWND hwnd) {
    int length = GetWindowTextLengthW(hwnd);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int got = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::optional<MouseButton> ButtonPressed(UINT msg) {
    switch (msg) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            return MouseButton::kLeft;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
            return MouseButton::kRight;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
            return MouseButton::kMiddle;
        default:
            return std::nullopt;
    }
}

std::optional<MouseButton> ButtonReleased(UINT msg) {
    switch (msg) {
        case WM_LBUTTONUP:
            return MouseButton::kLeft;
        case WM_RBUTTONUP:
            return MouseButton::kRight;
        case WM_MBUTTONUP:
            return MouseButton::kMiddle;
        default:
            return std::nullopt;
    }
}

MouseEvent MouseEventOf(MouseButton button, LPARAM lParam) {
    return {button, static_cast<int16_t>(GET_X_LPARAM(lParam)),
            static_cast<int16_t>(GET_Y_LPARAM(lParam))};
}

// ---- Painting ----

// A bitmap the size of the part being painted, so that the screen only
// ever receives finished pictures. It deletes everything it makes.
struct OffscreenBuffer {
    MemoryDc dc;
    GdiBitmap bitmap;
    // The bitmap in dc; held only when both were made and it is selected.
    // Declared last, so gone first: the bitmap is deselected before it is
    // deleted, and the DC goes last.
    GdiSelection selection;
};

OffscreenBuffer MakeOffscreenBuffer(HDC target, int width, int height) {
    OffscreenBuffer buffer;
    buffer.dc = MemoryDc(CreateCompatibleDC(target));
    buffer.bitmap = GdiBitmap(CreateCompatibleBitmap(target, width, height));
    if (buffer.dc.IsValid() && buffer.bitmap.IsValid()) {
        buffer.selection = SelectIntoDc(buffer.dc.Get(), buffer.bitmap.Get());
    }
    return buffer;
}

// Paints the invalid part of hwnd into a buffer, which draw receives in
// hwnd's client coordinates, and copies the result to the screen. A
// WM_PAINT with nothing invalid was posted by someone who wants the whole
// window painted again, so it gets that.
template <typename Draw>
void PaintBuffered(HWND hwnd, Draw draw) {
    if (!GetUpdateRect(hwnd, nullptr, FALSE)) {
        InvalidateRect(hwnd, nullptr, FALSE);
    }
    PaintCycle cycle = BeginPaintCycle(hwnd);
    HDC target = cycle.Get().paint.hdc;
    RECT invalid = cycle.Get().paint.rcPaint;
    RECT client{};
    GetClientRect(hwnd, &client);
    RECT box{};
    if (target && IntersectRect(&box, &invalid, &client)) {
        int width = box.right - box.left;
        int height = box.bottom - box.top;
        OffscreenBuffer buffer = MakeOffscreenBuffer(target, width, height);
        if (buffer.selection.IsValid()) {
            SetViewportOrgEx(buffer.dc.Get(), -box.left, -box.top, nullptr);
            draw(buffer.dc.Get());
            BitBlt(target, box.left, box.top, width, height, buffer.dc.Get(), box.left, box.top,
                   SRCCOPY);
        }
    }
}

// A handler that leaves objects selected or modes changed must not spoil
// what is drawn after it.
void FirePaint(const Handler<void(HDC)>& handler, HDC dc) {
    if (handler.call) {
        SavedDcState saved = SaveDcState(dc);
        handler.call(handler.record, dc);
    }
}

// The window's surface: the background colour, then the paint handler.
void PaintSurface(const TopWindow& window, HDC dc) {
    RECT client{};
    GetClientRect(window.handle.Get(), &client);
    SetDCBrushColor(dc, window.background);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    FirePaint(window.events.paint, dc);
}

// The element's own font, when it has one, until the selection goes.
GdiSelection SelectElementFont(HDC dc, const Element& element) {
    return element.font.IsValid() ? SelectIntoDc(dc, element.font.Get()) : GdiSelection();
}

// STATIC's own formats for these styles, so that text looks as the
// control itself would draw it.
UINT TextFormat(ElementKind kind) {
    return kind == ElementKind::kRightLabel ? DT_RIGHT | DT_EXPANDTABS | DT_WORDBREAK | DT_NOPREFIX
                                            : DT_LEFT | DT_EXPANDTABS | DT_NOPREFIX;
}

void DrawElementText(const Element& element, HDC dc, RECT client) {
    std::wstring text = WindowTextOf(element.handle.Get());
    if (text.empty()) {
        return;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, element.textColor.value_or(GetSysColor(COLOR_WINDOWTEXT)));
    GdiSelection font = SelectElementFont(dc, element);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, TextFormat(element.kind));
}

void DrawElement(const Element& element, HDC dc) {
    if (element.kind == ElementKind::kProgressBar) {
        SendMessageW(element.handle.Get(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc),
                     PRF_CLIENT);
        return;
    }
    RECT client{};
    GetClientRect(element.handle.Get(), &client);
    if (element.transparent && element.parent) {
        // The parent's surface, shifted so that the part beneath the element
        // lands in the buffer.
        POINT offset{0, 0};
        MapWindowPoints(element.handle.Get(), element.parent->handle.Get(), &offset, 1);
        POINT old{};
        OffsetViewportOrgEx(dc, -offset.x, -offset.y, &old);
        PaintSurface(*element.parent, dc);
        SetViewportOrgEx(dc, old.x, old.y, nullptr);
    } else {
        FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    }
    FirePaint(element.events.paint, dc);
    DrawElementText(element, dc, client);
    if (element.focusMarked) {
        DrawFocusRect(dc, &client);
    }
}

// ---- Window procedures ----

LRESULT CALLBACK ElementProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR ref) {
    Element& element = *reinterpret_cast<Element*>(ref);
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintBuffered(hwnd, [&](HDC dc) { DrawElement(element, dc); });
            return 0;
        case WM_SETTEXT:
            // STATIC paints new text at once, straight to the screen and
            // without the buffer; the text is stored as the window's own,
            // so take that path and repaint through WM_PAINT.
            if (element.kind != ElementKind::kProgressBar) {
                LRESULT result = DefWindowProcW(hwnd, msg, wParam, lParam);
                InvalidateRect(hwnd, nullptr, FALSE);
                return result;
            }
            break;
        case WM_SETCURSOR:
            if (element.cursor && LOWORD(lParam) == HTCLIENT) {
                SetCursor(element.cursor);
                return TRUE;
            }
            break;
        case WM_NCDESTROY:
            RemoveWindowSubclass(hwnd, ElementProc, 0);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            // Gone, whichever way: the record lets go without destroying it.
            (void)element.handle.Release();
            break;
        default:
            if (std::optional<MouseButton> button = ButtonPressed(msg)) {
                Fire(element.events.mouseDown, MouseEventOf(*button, lParam));
            }
            break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

// Every child of a TopWindow that lives on our thread was made by
// MakeElement, which keeps the record in GWLP_USERDATA (STATIC and the
// progress bar keep their own data elsewhere). A WM_COMMAND naming any other
// window never reaches a record.
Element* ElementOf(HWND child, HWND parent) {
    if (!child || GetParent(child) != parent ||
        GetWindowThreadProcessId(child, nullptr) != GetCurrentThreadId()) {
        return nullptr;
    }
    return reinterpret_cast<Element*>(GetWindowLongPtrW(child, GWLP_USERDATA));
}

// ---- The top-level window's messages; true: handled, with the result 0 ----

// WM_CLOSE: the handler decides; without one the platform's default
// destroys the window.
bool AnswerCloseRequest(TopWindow& window) {
    if (!window.events.closeRequest.call) {
        return false;
    }
    bool accept = false;
    Fire(window.events.closeRequest, accept);
    if (accept) {
        window.handle.Close();
    }
    return true;
}

// WM_SHOWWINDOW is sent before the visibility changes, so the window still
// tells whether it was hidden.
void NoteShowWindow(TopWindow& window, HWND hwnd, WPARAM showing) {
    if (showing && !IsWindowVisible(hwnd)) {
        Fire(window.events.shown);
    }
}

void ForwardElementClick(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == STN_CLICKED) {
        if (Element* element = ElementOf(reinterpret_cast<HWND>(lParam), hwnd)) {
            Fire(element->events.click);
        }
    }
}

// The owner is the application window: minimising the program minimises
// it, and the owned windows leave the screen with it.
bool MinimizeTheOwner(HWND hwnd, WPARAM command) {
    if ((command & 0xFFF0) != SC_MINIMIZE) {
        return false;
    }
    HWND owner = GetWindow(hwnd, GW_OWNER);
    if (!owner) {
        return false;
    }
    PostMessageW(owner, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return true;
}

// WM_DPICHANGED: the window takes the rectangle the platform suggests, then
// its handler lays it out for the new DPI.
void FollowDpiChange(TopWindow& window, HWND hwnd, WPARAM wParam, LPARAM lParam) {
    if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Fire(window.events.dpiChanged, static_cast<int>(HIWORD(wParam)));
}

bool AnswerKey(TopWindow& window, WPARAM key) {
    const Handler<bool(UINT)>& handler = window.events.keyDown;
    return handler.call && handler.call(handler.record, static_cast<UINT>(key));
}

void EndTheLoopWithTheMainWindow(HWND hwnd) {
    if (Application* app = TheApplication(); app && app->mainWindow == hwnd) {
        app->mainWindow = nullptr;
        PostQuitMessage(0);
    }
}

void FireMouseButton(TopWindow& window, UINT msg, LPARAM lParam) {
    if (std::optional<MouseButton> pressed = ButtonPressed(msg)) {
        Fire(window.events.mouseDown, MouseEventOf(*pressed, lParam));
    } else if (std::optional<MouseButton> released = ButtonReleased(msg)) {
        Fire(window.events.mouseUp, MouseEventOf(*released, lParam));
    }
}

LRESULT HandleTopMessage(TopWindow& window, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    bool handled = false;
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            PaintBuffered(hwnd, [&](HDC dc) { PaintSurface(window, dc); });
            return 0;
        case WM_PRINTCLIENT:
            PaintSurface(window, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_CLOSE:
            handled = AnswerCloseRequest(window);
            break;
        case WM_SHOWWINDOW:
            NoteShowWindow(window, hwnd, wParam);
            break;
        case WM_MOVE:
            Fire(window.events.moved);
            break;
        case WM_COMMAND:
            ForwardElementClick(hwnd, wParam, lParam);
            break;
        case WM_SYSCOMMAND:
            handled = MinimizeTheOwner(hwnd, wParam);
            break;
        case WM_DPICHANGED:
            FollowDpiChange(window, hwnd, wParam, lParam);
            return 0;
        case WM_KEYDOWN:
            handled = AnswerKey(window, wParam);
            break;
        case WM_DESTROY:
            EndTheLoopWithTheMainWindow(hwnd);
            break;
        default:
            FireMouseButton(window, msg, lParam);
            break;
    }
    return handled ? 0 : DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK TopWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* created = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (auto* window = static_cast<TopWindow*>(created->lpCreateParams)) {
            window->handle = WindowHandle(hwnd);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
        }
    }
    auto* window = reinterpret_cast<TopWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window) {
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    const Handler<bool(const WindowMessage&)>& hook = window->events.message;
    bool handled = hook.call && hook.call(hook.record, WindowMessage{msg, wParam, lParam});
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        // Gone, whichever way: the record lets go without destroying it.
        (void)window->handle.Release();
    }
    if (handled) {
        return 0;
    }
    return HandleTopMessage(*window, hwnd, msg, wParam, lParam);
}

// A label that sizes itself to its text is measured whenever the text
// changes, which the progress line does several times a second while the
// setup job's worker waits for each change: measuring in a memory DC of
// our own spares the window's DC, and an unchanged size moves nothing.
HDC MeasuringDc() {
    static MemoryDc dc(CreateCompatibleDC(nullptr));
    return dc.Get();
}

// Keeps the top-left corner; see SetElementRect.
void ResizeElement(Element& element, Size size) {
    SetWindowPos(element.handle.Get(), nullptr, 0, 0, ClampExtent(size.width),
                 ClampExtent(size.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

void FitToText(Element& element) {
    Size size = MeasureText(element);
    Rect now = ElementRect(element);
    if (element.handle.IsValid() && size != Size{now.width, now.height}) {
        ResizeElement(element, size);
    }
}

void Repaint(const Element& element) {
    if (element.handle.IsValid()) {
        InvalidateRect(element.handle.Get(), nullptr, FALSE);
    }
}

}  // namespace

// ---- Top-level windows ----

// The events go before the window, so that no handler runs while it is
// destroyed.
TopWindow::~TopWindow() {
    events = {};
    handle.Close();
}

// The record takes the window at its first message, WM_NCCREATE, so that
// the handle is known to everything the window does while it is made.
bool CreateTopWindow(TopWindow& window, Application& app, const TopWindowSpec& spec) {
    window.handle.Close();
    std::wstring className = ToWide(spec.className);
    HINSTANCE instance = RegisterTopLevelClass(className.c_str(), TopWindowProc);
    window.events = {};
    DWORD style = spec.style & ~(WS_VISIBLE | WS_CHILD);
    std::wstring title = ToWide(spec.title);
    HWND owner = ApplicationWindow(app);
    HWND made = CreateWindowExW(0, className.c_str(), title.c_str(), style,
                                ClampCoordinate(spec.outer.left), ClampCoordinate(spec.outer.top),
                                ClampExtent(spec.outer.width), ClampExtent(spec.outer.height),
                                owner, nullptr, instance, &window);
    if (!made) {
        LogLastError("create the window");
        return false;
    }
    return true;
}

void ShowTopWindow(TopWindow& window) {
    if (window.handle.IsValid()) {
        ShowWindow(window.handle.Get(), SW_SHOW);
    }
}

void HideTopWindow(TopWindow& window) {
    if (window.handle.IsValid()) {
        ShowWindow(window.handle.Get(), SW_HIDE);
    }
}

void SetTitle(TopWindow& window, std::string_view utf8) {
    if (window.handle.IsValid()) {
        SetWindowTextW(window.handle.Get(), ToWide(utf8).c_str());
    }
}

void SetOuterSize(TopWindow& window, Size size) {
    if (window.handle.IsValid()) {
        SetWindowPos(window.handle.Get(), nullptr, 0, 0, ClampExtent(size.width),
                     ClampExtent(size.height), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void SetStyle(TopWindow& window, DWORD style) {
    if (!window.handle.IsValid()) {
        return;
    }
    LONG_PTR visible = GetWindowLongPtrW(window.handle.Get(), GWL_STYLE) & WS_VISIBLE;
    SetWindowLongPtrW(window.handle.Get(), GWL_STYLE,
                      static_cast<LONG_PTR>(style & ~(WS_VISIBLE | WS_CHILD)) | visible);
    SetWindowPos(window.handle.Get(), nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetBackgroundColor(TopWindow& window, COLORREF color) {
    window.background = color;
    if (window.handle.IsValid()) {
        // Transparent elements show the background too.
        RedrawWindow(window.handle.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    }
}

Rect OuterRect(const TopWindow& window) {
    RECT r{};
    GetWindowRect(window.handle.Get(), &r);
    return RectOf(r);
}

Size ClientSize(const TopWindow& window) {
    RECT r{};
    GetClientRect(window.handle.Get(), &r);
    return {r.right, r.bottom};
}

void SetOuterRect(TopWindow& window, const Rect& r) {
    if (window.handle.IsValid()) {
        SetWindowPos(window.handle.Get(), nullptr, ClampCoordinate(r.left), ClampCoordinate(r.top),
                     ClampExtent(r.width), ClampExtent(r.height), SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// GetDpiForWindow exists from Windows 10 1607 on; it is looked up at run
// time so that the exe still starts on older systems, which scale the
// whole desktop alike: their DPI is the screen's.
int WindowDpi(const TopWindow& window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (!window.handle.IsValid()) {
        return USER_DEFAULT_SCREEN_DPI;
    }
    if (getDpi) {
        if (UINT dpi = getDpi(window.handle.Get())) {
            return static_cast<int>(dpi);
        }
    }
    WindowDc screen = GetWindowDc(nullptr);
    int dpi = screen.IsValid() ? GetDeviceCaps(screen.Get().dc, LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

void SetMainWindow(Application& app, const TopWindow& window) {
    app.mainWindow = window.handle.Get();
}

// ---- Elements ----

Element::~Element() {
    events = {};
    handle.Close();
}

bool MakeElement(Element& element, TopWindow& parent, ElementKind kind, std::string_view text,
                 ElementEvents events) {
    const wchar_t* cls = L"STATIC";
    DWORD style = kind == ElementKind::kRightLabel ? kRightLabelStyle : kLabelStyle;
    if (kind == ElementKind::kProgressBar) {
        INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        cls = PROGRESS_CLASSW;
        style = kProgressBarStyle;
    }
    bool takesText = kind == ElementKind::kLabel || kind == ElementKind::kRightLabel;
    std::wstring wideText = ToWide(takesText ? text : "");
    element.handle.Close();
    element.parent = &parent;
    element.kind = kind;
    element.events = events;
    Size size = SizeWhenMade(kind);
    HWND made = CreateWindowExW(0, cls, wideText.c_str(), style, 0, 0, size.width, size.height,
                                parent.handle.Get(), nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!made) {
        LogLastError("create an element");
        return false;
    }
    element.handle = WindowHandle(made);
    SetWindowLongPtrW(made, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&element));
    SetWindowSubclass(made, ElementProc, 0, reinterpret_cast<DWORD_PTR>(&element));
    return true;
}

Rect ElementRect(const Element& element) {
    RECT r{};
    if (element.handle.IsValid()) {
        GetWindowRect(element.handle.Get(), &r);
        MapWindowPoints(nullptr, GetParent(element.handle.Get()), reinterpret_cast<POINT*>(&r), 2);
    }
    return RectOf(r);
}

// SWP_NOCOPYBITS: a transparent element's old pixels belong to where it
// was, so it is painted afresh rather than copied along.
void SetElementRect(Element& element, const Rect& r) {
    if (element.handle.IsValid()) {
        SetWindowPos(element.handle.Get(), nullptr, ClampCoordinate(r.left), ClampCoordinate(r.top),
                     ClampExtent(r.width), ClampExtent(r.height),
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    }
}

void SetElementVisible(Element& element, bool visible) {
    if (element.handle.IsValid()) {
        ShowWindow(element.handle.Get(), visible ? SW_SHOWNA : SW_HIDE);
    }
}

void SetElementText(Element& element, std::string_view utf8) {
    if (!element.handle.IsValid() || element.kind == ElementKind::kProgressBar) {
        return;
    }
    std::wstring text = ToWide(utf8);
    if (text == WindowTextOf(element.handle.Get())) {
        return;
    }
    SetWindowTextW(element.handle.Get(), text.c_str());
    if (element.sizesToText) {
        FitToText(element);
    }
}

void SetElementFont(Element& element, std::string_view face, int cellHeight, bool bold) {
    LOGFONTW look{};
    look.lfHeight = std::clamp(cellHeight, 0, kMaxFontHeight);
    look.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    look.lfCharSet = DEFAULT_CHARSET;
    std::wstring wideFace = ToWide(face);
    wideFace.copy(look.lfFaceName, LF_FACESIZE - 1);
    GdiFont font(CreateFontIndirectW(&look));
    if (!font.IsValid()) {
        LogLastError("create font");
        return;
    }
    if (element.handle.IsValid()) {
        SendMessageW(element.handle.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    }
    // The control has let go of the old font: it goes now.
    element.font = std::move(font);
    if (element.sizesToText) {
        FitToText(element);
    }
    Repaint(element);
}

void SetElementTextColor(Element& element, std::optional<COLORREF> color) {
    element.textColor = color;
    Repaint(element);
}

void SetHandPointer(Element& element) {
    element.cursor = LoadCursorW(nullptr, IDC_HAND);
}

void SetTransparent(Element& element, bool transparent) {
    element.transparent = transparent;
    Repaint(element);
}

void SetSizesToText(Element& element, bool sizesToText) {
    element.sizesToText = sizesToText;
    if (sizesToText) {
        FitToText(element);
    }
}

Size MeasureText(const Element& element) {
    if (!element.handle.IsValid()) {
        return {};
    }
    HDC dc = MeasuringDc();
    if (!dc) {
        return {};
    }
    GdiSelection font = SelectElementFont(dc, element);
    std::wstring text = WindowTextOf(element.handle.Get());
    Size size;
    if (text.empty()) {
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        size = {0, ClampExtent(metrics.tmHeight)};
    } else {
        // Unwrapped: the width the text wants, which then never wraps.
        RECT r{};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                  DT_CALCRECT | (TextFormat(element.kind) & ~DT_WORDBREAK));
        size = {ClampExtent(r.right - r.left), ClampExtent(r.bottom - r.top)};
    }
    return size;
}

void SetFocusMark(Element& element, bool marked) {
    element.focusMarked = marked;
    Repaint(element);
}

void ClickElement(Element& element) {
    Fire(element.events.click);
}

void SetBarName(Element& bar, std::string_view utf8) {
    if (bar.handle.IsValid() && bar.kind == ElementKind::kProgressBar) {
        SetWindowTextW(bar.handle.Get(), ToWide(utf8).c_str());
    }
}

void SetProgressRange(Element& bar, int high) {
    if (bar.handle.IsValid() && bar.kind == ElementKind::kProgressBar) {
        SendMessageW(bar.handle.Get(), PBM_SETRANGE32, 0, high);
    }
}

void SetProgressPosition(Element& bar, int position) {
    if (bar.handle.IsValid() && bar.kind == ElementKind::kProgressBar) {
        // Some progress bars (Wine's) repaint inside PBM_SETPOS. A caller
        // on another thread may be waiting for each new position, so the
        // repaint is left to the message queue.
        SendMessageW(bar.handle.Get(), WM_SETREDRAW, FALSE, 0);
        SendMessageW(bar.handle.Get(), PBM_SETPOS, static_cast<WPARAM>(position), 0);
        SendMessageW(bar.handle.Get(), WM_SETREDRAW, TRUE, 0);
        InvalidateRect(bar.handle.Get(), nullptr, FALSE);
    }
}

}  // namespace kelto
