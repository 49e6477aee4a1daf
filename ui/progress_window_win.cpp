#include "ui/progress_window_win.h"

#include "toolkit/format.h"
#include "toolkit/image_scale.h"
#include "toolkit/picture_win.h"
#include "toolkit/product.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "transfer/http_pending_win.h"
#include "transfer/http_win.h"
#include "transfer/package_check_win.h"
#include "ui/progress_text.h"
#include "ui/web_link.h"
#include "ui/web_link_win.h"

namespace kelto {

ProgressWindow* CurrentProgressWindow = nullptr;
HWND ProgressWindowHandle = nullptr;

namespace {

// The window's own style: framed, until a background picture takes the
// frame off.
constexpr DWORD kProgressWindowStyle =
    WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
static_assert(kProgressWindowStyle == 0x16CF0000);

constexpr int kProgressRange = 10000;
// The system's own face name, kept as it is although no font of that name
// exists: the font mapper picks the face it always has picked.
constexpr std::string_view kFontFace = "SimSum";
// Character cell heights at 96 DPI.
constexpr int kLinkFontHeight = 12;
constexpr int kCaptionFontHeight = 12;
constexpr int kLineFontHeight = 13;
constexpr std::string_view kCancelQuestion = "真的要取消下载%s吗？";

// The progress value of the last message sent; only the worker reads and
// writes it, and nothing resets it.
int32_t LastProgress = 0;

// ---- interaction ----

void OpenUrl(std::string_view url) {
    (void)OpenWebPage(url);
}

void OpenHeaderLink(ProgressWindow& pw) {
    OpenUrl(pw.Config.headerurl);
}

void OpenLink1(ProgressWindow& pw) {
    OpenUrl(pw.Config.webLink1URL);
}

void OpenLink2(ProgressWindow& pw) {
    OpenUrl(pw.Config.webLink2URL);
}

void RequestClose(ProgressWindow& pw) {
    PostMessageW(pw.Window.handle.Get(), WM_CLOSE, 0, 0);
}

void MinimizeApplication(ProgressWindow& pw) {
    if (pw.Owner && !IsApplicationMinimized(*pw.Owner)) {
        MinimizeApplicationWindow(*pw.Owner);
    }
}

void FollowWindowMove(ProgressWindow& pw) {
    if (pw.Owner) {
        Rect outer = OuterRect(pw.Window);
        MoveApplicationWindow(*pw.Owner, outer.left, outer.top);
    }
}

// Any button, on the window's surface or on the caption, moves the window
// as a press on a title bar would.
void BeginWindowDrag(ProgressWindow& pw, const MouseEvent&) {
    ReleaseCapture();
    SendMessageW(pw.Window.handle.Get(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

void CloseAreaMouseUp(ProgressWindow& pw, const MouseEvent& event) {
    if (event.button == MouseButton::kLeft &&
        InCloseRectangle(pw.Config, pw.Dpi, {event.x, event.y})) {
        PostMessageW(pw.Window.handle.Get(), WM_CLOSE, 0, 0);
    }
}

void ConfirmCancel(ProgressWindow& pw, bool& accept) {
    accept = false;
    // The job's own close at its end is not a question to the user.
    if (pw.Job.stage == SetupJobStage::Finished) {
        accept = true;
        return;
    }
    HideTopWindow(pw.Window);
    const FormatArg game[] = {TextArg(kGameTitle)};
    std::wstring question = ToWide(FormatText(kCancelQuestion, game));
    std::wstring title = ToWide(pw.Owner ? pw.Owner->caption : std::string(kApplicationCaption));
    int answer = MessageBoxW(nullptr, question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION);
    if (answer == IDYES || pw.Job.stage == SetupJobStage::Finished) {
        TraceStep("cancel accepted");
        accept = true;
        return;
    }
    if (IsWindow(pw.Window.handle.Get())) {
        ShowTopWindow(pw.Window);
        SetForegroundWindow(pw.Window.handle.Get());
        SetFocus(pw.Window.handle.Get());
    }
}

Element* LinkElement(ProgressWindow& pw, int link) {
    return link == 1 ? &pw.Link1 : link == 2 ? &pw.Link2 : nullptr;
}

void MarkFocusedLink(ProgressWindow& pw, int link) {
    if (Element* before = LinkElement(pw, pw.FocusedLink)) {
        SetFocusMark(*before, false);
    }
    pw.FocusedLink = link;
    if (Element* now = LinkElement(pw, link)) {
        SetFocusMark(*now, true);
    }
}

// Esc asks as the close area does; Tab and Shift+Tab move the mark between
// the links, and Enter or Space clicks the marked one.
bool HandleProgressKey(ProgressWindow& pw, UINT key) {
    const LauncherConfig& c = pw.Config;
    switch (key) {
        case VK_ESCAPE:
            RequestClose(pw);
            return true;
        case VK_TAB:
            MarkFocusedLink(pw, NextFocusedLink(pw.FocusedLink,
                                                TakesKeyboardFocus(c.webLink1Text, c.webLink1URL),
                                                TakesKeyboardFocus(c.webLink2Text, c.webLink2URL),
                                                GetKeyState(VK_SHIFT) < 0));
            return true;
        case VK_RETURN:
        case VK_SPACE:
            if (Element* link = LinkElement(pw, pw.FocusedLink)) {
                ClickElement(*link);
                return true;
            }
            return false;
        default:
            return false;
    }
}

bool HandleProgressMessage(ProgressWindow& pw, const WindowMessage& message) {
    if (message.id != WM_SETUP_PROGRESS) {
        return false;
    }
    SetProgressPosition(pw.ProgressBar, static_cast<int>(message.wParam));
    auto text = reinterpret_cast<const char*>(message.lParam);
    SetElementText(pw.StatusLine, text ? GbkToUtf8(text) : std::string());
    PostMessageW(pw.StatusLine.handle.Get(), WM_PAINT, 0, 0);
    PostMessageW(pw.Window.handle.Get(), WM_PAINT, 0, 0);
    PostMessageW(pw.ProgressBar.handle.Get(), WM_PAINT, 0, 0);
    return true;
}

void StartSetupJob(ProgressWindow& pw) {
    TraceStep("window shown");
    if (pw.SetupJobStarted || pw.Job.launched) {
        return;
    }
    SetupJob& job = pw.Job;
    job.setupUrl = SetupPackageUrl(pw.Config);
    job.defaultSetupUrl = DefaultSetupUrl(kServerRoot);
    job.checks = PackageChecksFor(pw.Config);
    job.releaseKey = LoadReleaseKey();
    job.progress = &ReportSetupProgress;
    job.handOver = pw.HandOver;
    job.window = ProgressWindowHandle;
    job.started = &pw.SetupJobStarted;
    StartSetupJob(job);
}

// ---- skin ----

const SkinImage& PictureAtDpi(const ProgressWindow& pw, const SkinImage& decoded,
                              const SkinImage& scaled) {
    return pw.Dpi == kBaseDpi ? decoded : scaled;
}

void PaintBackground(ProgressWindow& pw, HDC dc) {
    DrawPicture(dc, PictureAtDpi(pw, pw.BackgroundImage, pw.ScaledBackground), {0, 0});
}

void PaintHeader(ProgressWindow& pw, HDC dc) {
    DrawPicture(dc, PictureAtDpi(pw, pw.HeaderImage, pw.ScaledHeader), {0, 0});
}

bool StopPastSkinLimit(int32_t, int32_t received, uint32_t) {
    return received <= kMaxServerFileBytes;
}

// The request for a picture, on its way; none for an empty URL.
std::shared_ptr<PendingGet> StartImageFetch(const std::string& url) {
    if (url.empty()) {
        return nullptr;
    }
    // Fetched before the window shows: a server that keeps it waiting is
    // given up on as for the configuration, and the picture is not shown.
    const RequestLimits waits{kServerFileStallMs, kServerFileTotalMs};
    return StartGet(url, waits, &StopPastSkinLimit);
}

// True when the server answered 200. An oversized body counts as fetched
// and not decodable.
bool FinishImageFetch(PendingGet* fetch, const std::string& url, SkinImage& image) {
    if (fetch == nullptr) {
        return false;
    }
    GetAnswer answer = AwaitGet(*fetch);
    if (answer.result.status != kHttpOk) {
        return false;
    }
    if (answer.body.size() <= static_cast<size_t>(kMaxServerFileBytes)) {
        LoadImageByExtension(UrlExtension(url), answer.body, image);
    }
    return true;
}

Size SizeOf(const SkinImage& image) {
    return {image.width, image.height};
}

SkinImage ScaledPicture(const SkinImage& decoded, int dpi) {
    return dpi == kBaseDpi ? SkinImage{} : ResizeImage(decoded, ScaleToDpi(SizeOf(decoded), dpi));
}

// Once per DPI, never at a paint; a copy too large to make is not drawn.
void ScalePictures(ProgressWindow& pw) {
    pw.ScaledHeader = ScaledPicture(pw.HeaderImage, pw.Dpi);
    pw.ScaledBackground = ScaledPicture(pw.BackgroundImage, pw.Dpi);
}

// ---- construction ----

std::optional<COLORREF> ColorFrom(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    return static_cast<COLORREF>(parseColor(text));
}

void StyleLabel(Element& label, const std::string& color) {
    SetTransparent(label, true);
    SetElementTextColor(label, ColorFrom(color));
}

void MakeLink(ProgressWindow& pw, Element& link, const std::string& text, const std::string& url,
              const std::string& color, Handler<void()> open) {
    ElementEvents events;
    if (!url.empty()) {
        events.click = open;
    }
    MakeElement(link, pw.Window, ElementKind::kRightLabel, text, events);
    SetSizesToText(link, true);
    SetTransparent(link, true);
    SetHandPointer(link);
    SetElementTextColor(link, ColorFrom(color));
}

std::string DescriptionText(const LauncherConfig& c) {
    const FormatArg game[] = {TextArg(kGameTitle)};
    return FormatText(c.description, game);
}

// The fonts' cell heights at the window's DPI.
void ApplyFonts(ProgressWindow& pw) {
    auto height = [&pw](int cellHeight) { return ClampExtent(ScaleToDpi(cellHeight, pw.Dpi)); };
    SetElementFont(pw.Link1, kFontFace, height(kLinkFontHeight), false);
    SetElementFont(pw.Link2, kFontFace, height(kLinkFontHeight), false);
    SetElementFont(pw.CaptionLabel, kFontFace, height(kCaptionFontHeight), true);
    SetElementFont(pw.DescriptionLine, kFontFace, height(kLineFontHeight), true);
    SetElementFont(pw.StatusLine, kFontFace, height(kLineFontHeight), true);
}

void ApplyFrame(ProgressWindow& pw, const WindowFrame& frame) {
    if (!frame.framed) {
        SetOuterSize(pw.Window, frame.outer);
        // Without a frame the client area is the whole picture.
        SetStyle(pw.Window, 0);
    }
}

// The window has taken the place the platform suggests for the new DPI:
// fonts, pictures, the frameless window's size and every element follow.
void FollowDpiChange(ProgressWindow& pw, int dpi) {
    pw.Dpi = dpi;
    ApplyFonts(pw);
    ScalePictures(pw);
    ApplyFrame(pw, SkinnedWindowFrame(pw.Skin, dpi));
    LayoutProgressWindow(pw);
    RedrawWindow(pw.Window.handle.Get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void WireWindowEvents(ProgressWindow& pw) {
    WindowEvents& events = pw.Window.events;
    events.closeRequest = Bind<&ConfirmCancel>(pw);
    events.mouseDown = Bind<&BeginWindowDrag>(pw);
    events.mouseUp = Bind<&CloseAreaMouseUp>(pw);
    events.message = Bind<&HandleProgressMessage>(pw);
    SetBackgroundColor(pw.Window, RGB(255, 255, 255));
    // The show handler shares its name with the job's own starter below it.
    events.shown = Bind<static_cast<void (*)(ProgressWindow&)>(&StartSetupJob)>(pw);
    events.paint = Bind<&PaintBackground>(pw);
    events.moved = Bind<&FollowWindowMove>(pw);
    events.dpiChanged = Bind<&FollowDpiChange>(pw);
    events.keyDown = Bind<&HandleProgressKey>(pw);
}

// An element that could not be made (traced) is left out: the window works
// without it, and what is done to an element without a window does nothing.
void MakeElements(ProgressWindow& pw) {
    const LauncherConfig& c = pw.Config;
    MakeElement(pw.HeaderBox, pw.Window, ElementKind::kPictureBox, {},
                {.click = Bind<&OpenHeaderLink>(pw), .paint = Bind<&PaintHeader>(pw)});

    MakeElement(pw.CloseArea, pw.Window, ElementKind::kPictureBox, {},
                {.click = Bind<&RequestClose>(pw)});
    SetTransparent(pw.CloseArea, true);
    SetHandPointer(pw.CloseArea);
    MakeElement(pw.MinimizeArea, pw.Window, ElementKind::kPictureBox, {},
                {.click = Bind<&MinimizeApplication>(pw)});
    SetTransparent(pw.MinimizeArea, true);
    SetHandPointer(pw.MinimizeArea);

    MakeLink(pw, pw.Link1, c.webLink1Text, c.webLink1URL, c.webLink1Color, Bind<&OpenLink1>(pw));
    MakeLink(pw, pw.Link2, c.webLink2Text, c.webLink2URL, c.webLink2Color, Bind<&OpenLink2>(pw));

    MakeElement(pw.CaptionLabel, pw.Window, ElementKind::kLabel, c.caption,
                {.mouseDown = Bind<&BeginWindowDrag>(pw)});
    StyleLabel(pw.CaptionLabel, c.CaptionColor);

    MakeElement(pw.ProgressBar, pw.Window, ElementKind::kProgressBar);
    SetProgressRange(pw.ProgressBar, kProgressRange);
    SetProgressPosition(pw.ProgressBar, 0);

    std::string description = DescriptionText(c);
    MakeElement(pw.DescriptionLine, pw.Window, ElementKind::kLabel, description);
    StyleLabel(pw.DescriptionLine, c.descriptionColor);
    // Screen readers name the bar by what is being downloaded.
    SetBarName(pw.ProgressBar, description.empty() ? c.caption : description);

    MakeElement(pw.StatusLine, pw.Window, ElementKind::kLabel);
    StyleLabel(pw.StatusLine, c.ProgressColor);
    SetSizesToText(pw.StatusLine, true);
    ApplyFonts(pw);
}

}  // namespace

ProgressWindow& NewProgressWindow() {
    return *new ProgressWindow();
}

bool BuildProgressWindow(ProgressWindow& pw, Application& owner) {
    pw.Owner = &owner;
    TopWindowSpec spec;
    spec.className = std::string(kProgressWindowClass);
    spec.style = kProgressWindowStyle;
    const Size screen{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    spec.outer = CenteredWindowRect(screen);
    if (!CreateTopWindow(pw.Window, owner, spec)) {
        return false;
    }
    // The DPI is known once the window is: it takes its scaled size then.
    pw.Dpi = WindowDpi(pw.Window);
    if (pw.Dpi != kBaseDpi) {
        SetOuterRect(pw.Window, CenteredWindowRect(screen, pw.Dpi));
    }
    WireWindowEvents(pw);
    SetMainWindow(owner, pw.Window);
    ProgressWindowHandle = pw.Window.handle.Get();
    MakeElements(pw);
    return true;
}

SkinRequests RequestSkin(const LauncherConfig& c) {
    return {StartImageFetch(c.headerImg), StartImageFetch(c.closeImg),
            StartImageFetch(c.backgroundMask), StartImageFetch(c.backgroundImg)};
}

void LoadSkin(ProgressWindow& pw, const SkinRequests& requests) {
    const LauncherConfig& c = pw.Config;
    // Each answer is taken and applied in turn, as if it had been fetched
    // alone.
    SkinFacts& skin = pw.Skin;
    skin.headerShown = FinishImageFetch(requests.header.get(), c.headerImg, pw.HeaderImage) &&
                       pw.HeaderImage.width != 0;
    if (skin.headerShown) {
        skin.header = SizeOf(pw.HeaderImage);
    } else {
        SetElementVisible(pw.HeaderBox, false);
    }
    skin.closeFetched = FinishImageFetch(requests.close.get(), c.closeImg, pw.CloseImage);
    if (skin.closeFetched) {
        skin.close = SizeOf(pw.CloseImage);
    }
    // Fetched and kept, never applied: the window stays a rectangle.
    (void)FinishImageFetch(requests.mask.get(), c.backgroundMask, pw.MaskImage);
    (void)FinishImageFetch(requests.background.get(), c.backgroundImg, pw.BackgroundImage);
    skin.background = SizeOf(pw.BackgroundImage);
    ApplyFrame(pw, SkinnedWindowFrame(skin, pw.Dpi));
    ScalePictures(pw);
    LayoutProgressWindow(pw);
}

void LayoutProgressWindow(ProgressWindow& pw) {
    TextSizes text{MeasureText(pw.Link1), MeasureText(pw.Link2)};
    ProgressLayout layout =
        LayoutProgressWindow(pw.Config, pw.Skin, text, ClientSize(pw.Window).width, pw.Dpi);
    SetElementRect(pw.HeaderBox, layout.header);
    SetElementRect(pw.CloseArea, layout.close);
    SetElementRect(pw.MinimizeArea, layout.minimize);
    SetElementRect(pw.CaptionLabel, layout.caption);
    SetElementRect(pw.Link1, layout.link1);
    SetElementRect(pw.Link2, layout.link2);
    SetElementRect(pw.ProgressBar, layout.progressBar);
    SetElementRect(pw.DescriptionLine, layout.description);
    SetElementRect(pw.StatusLine, layout.status);
}

void EndSetupJobWithTheWindow(ProgressWindow& pw) {
    if (pw.Job.launched && pw.Job.stage != SetupJobStage::Finished) {
        AbandonSetupJob(pw.Job);
    }
}

bool ReportSetupProgress(int32_t total, int32_t done, uint32_t startTick) {
    const ProgressWindow* pw = CurrentProgressWindow;
    if (!pw) {
        return true;
    }
    ProgressReport report = NextProgressReport(total, done, GetTickCount() - startTick,
                                               LastProgress, pw->Config.progress);
    if (report.send) {
        // The window takes ANSI text in GBK, the product's own encoding.
        std::string text = Utf8ToGbk(report.status);
        SendMessageW(ProgressWindowHandle, WM_SETUP_PROGRESS, static_cast<WPARAM>(report.position),
                     text.empty() ? 0 : reinterpret_cast<LPARAM>(text.c_str()));
    }
    return true;
}

}  // namespace kelto
