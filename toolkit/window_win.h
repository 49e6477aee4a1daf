// Top-level windows and their child elements as plain records over USER32,
// GDI32 and the common controls. A record's address is handed to the
// platform, so records stay where they are made: no copies, no moves.
// Everything here runs on the thread that made the window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "toolkit/app_win.h"
#include "toolkit/geometry.h"
#include "toolkit/handles_win.h"

namespace kelto {

// ---- Events: a free function bound to the record it acts on ----

template <typename Signature>
struct Handler;

template <typename R, typename... Args>
struct Handler<R(Args...)> {
    R (*call)(void* record, Args... args) = nullptr;
    void* record = nullptr;
};

template <auto Fn>
struct HandlerThunk;

template <typename T, typename R, typename... Args, R (*Fn)(T&, Args...)>
struct HandlerThunk<Fn> {
    using Record = T;
    using Bound = Handler<R(Args...)>;
    static R Call(void* record, Args... args) { return Fn(*static_cast<T*>(record), args...); }
};

// Bind<&OpenLink1>(pw): OpenLink1 must take exactly that record type first.
template <auto Fn, typename T>
typename HandlerThunk<Fn>::Bound Bind(T& record) {
    static_assert(std::is_same_v<T, typename HandlerThunk<Fn>::Record>,
                  "the handler must take this record type first");
    return {&HandlerThunk<Fn>::Call, &record};
}

enum class MouseButton { kLeft, kRight, kMiddle };

// X and Y in the client coordinates of the window or element pressed, as
// the platform's mouse messages carry them: signed 16-bit.
struct MouseEvent {
    MouseButton button = MouseButton::kLeft;
    int16_t x = 0;
    int16_t y = 0;
};

struct WindowMessage {
    UINT id = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

struct WindowEvents {
    // WM_CLOSE. The flag starts false; true lets the window be destroyed.
    // Without a handler every close request is accepted.
    Handler<void(bool& accept)> closeRequest{};
    // Presses and releases on the window's own surface, not on its elements.
    Handler<void(const MouseEvent&)> mouseDown{};
    Handler<void(const MouseEvent&)> mouseUp{};
    // Every message before any other handling; true means handled: the
    // message then gets the result 0 and nothing else.
    Handler<bool(const WindowMessage&)> message{};
    // From hidden to shown only.
    Handler<void()> shown{};
    // Draws into the off-screen buffer over the background colour, in client
    // coordinates. Transparent elements call it too, for what lies beneath
    // them, so it must draw the same whatever part it is asked for.
    Handler<void(HDC)> paint{};
    Handler<void()> moved{};
    // WM_DPICHANGED, once the window has taken the place and size the
    // platform suggests: the new DPI.
    Handler<void(int dpi)> dpiChanged{};
    // WM_KEYDOWN with the virtual key; true means handled.
    Handler<bool(UINT key)> keyDown{};
};

struct TopWindowSpec {
    std::string className = "TKelto2Window";
    std::string title;
    DWORD style = WS_OVERLAPPEDWINDOW;
    Rect outer;  // screen position and outer size
};

struct TopWindow {
    // Held from the window's first message (WM_NCCREATE) to its last
    // (WM_NCDESTROY), whichever way it goes; destroyed with the record.
    WindowHandle handle;
    // Wired once the window exists; until then no handler runs.
    WindowEvents events;
    COLORREF background = RGB(255, 255, 255);

    TopWindow() = default;
    TopWindow(const TopWindow&) = delete;
    TopWindow& operator=(const TopWindow&) = delete;
    ~TopWindow();
};

// Made hidden whatever spec.style says, and with no events: the caller
// wires window.events once the window exists, and ShowTopWindow, or the
// message loop for the main window, shows it. Owned by the application's
// window. A window the record held before is destroyed first. False, with
// the error traced, when the window could not be made: the record then holds
// none, which the operations below take safely (nothing done, empty sizes).
bool CreateTopWindow(TopWindow& window, Application& app, const TopWindowSpec& spec);
void ShowTopWindow(TopWindow& window);
void HideTopWindow(TopWindow& window);
void SetTitle(TopWindow& window, std::string_view utf8);
void SetOuterSize(TopWindow& window, Size size);
// The visibility bit stays as it is and WS_CHILD is never set: show and hide
// are their own operations, and a top-level window stays one.
void SetStyle(TopWindow& window, DWORD style);
void SetBackgroundColor(TopWindow& window, COLORREF color);
Rect OuterRect(const TopWindow& window);  // on the screen
Size ClientSize(const TopWindow& window);
// On the screen; the size clamped as SetOuterSize clamps it.
void SetOuterRect(TopWindow& window, const Rect& r);
// The window's DPI: its monitor's where the platform scales per monitor,
// else the system's (the screen's LOGPIXELSY); 96 without a window.
int WindowDpi(const TopWindow& window);
void SetMainWindow(Application& app, const TopWindow& window);

// ---- Elements: child windows of a TopWindow ----

struct ElementEvents {
    Handler<void()> click{};
    Handler<void(const MouseEvent&)> mouseDown{};
    // Draws into the off-screen buffer before the text, in the element's
    // client coordinates.
    Handler<void(HDC)> paint{};
};

struct Element {
    // Held until the element or its parent is destroyed, whichever goes first.
    WindowHandle handle;
    TopWindow* parent = nullptr;
    ElementKind kind = ElementKind::kLabel;
    ElementEvents events;
    GdiFont font;                       // none: the platform's default
    std::optional<COLORREF> textColor;  // none: the platform's window text colour
    HCURSOR cursor = nullptr;           // none: the arrow
    bool transparent = false;
    bool sizesToText = false;
    bool focusMarked = false;  // a focus rectangle around its client area

    Element() = default;
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;
    ~Element();
};

// At the parent's top-left corner in SizeWhenMade(kind); its place is the
// caller's to set. Picture boxes and progress bars take no text. A window
// the record held before is destroyed first. False, with the error traced,
// when the control could not be made: the record then holds no window,
// which the operations below take safely.
bool MakeElement(Element& element, TopWindow& parent, ElementKind kind, std::string_view text = {},
                 ElementEvents events = {});
Rect ElementRect(const Element& element);  // in the parent's client coordinates
void SetElementRect(Element& element, const Rect& r);
void SetElementVisible(Element& element, bool visible);
void SetElementText(Element& element, std::string_view utf8);
// cellHeight is the character cell height in pixels (a positive lfHeight);
// 0 or less takes the platform's default height.
void SetElementFont(Element& element, std::string_view face, int cellHeight, bool bold);
void SetElementTextColor(Element& element, std::optional<COLORREF> color);
void SetHandPointer(Element& element);
// A transparent element paints nothing of its own: the window's background
// and paint handler show beneath its text.
void SetTransparent(Element& element, bool transparent);
// The element takes the size of its text now and whenever the text or the
// font changes. An empty text is 0 wide and one line of the font high, so
// that the element keeps its line.
void SetSizesToText(Element& element, bool sizesToText);
Size MeasureText(const Element& element);
// Shows or takes away the focus rectangle; the keyboard focus itself stays
// with the parent, which moves the mark.
void SetFocusMark(Element& element, bool marked);
// What a click on the element does: its click handler, if it has one.
void ClickElement(Element& element);
// The bar's window text, which it does not draw: the name assistive
// technology reads for it. Nothing for other kinds.
void SetBarName(Element& bar, std::string_view utf8);
void SetProgressRange(Element& bar, int high);  // 0..high
void SetProgressPosition(Element& bar, int position);

}  // namespace kelto
