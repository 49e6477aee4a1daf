// WM_SETUP_PROGRESS round trip (figures, not a test): a worker calls the
// progress callback with a new position each time and pauses 10 ms between
// calls, as the setup job's transfer does, while the main thread runs the
// progress window's message loop; each call sends the message and waits
// until the window has taken it.
// With "dpi": the time the window takes to lay out again, fonts, pictures
// (a 360 by 60 header, a 380 by 220 background) and all, when the platform
// tells it that it moved to a monitor of another DPI.
//
//   wine kelto2_progress_bench.exe [messages, default 1000]
//   wine kelto2_progress_bench.exe dpi [changes to each DPI, default 100]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <vector>

#include "toolkit/app_win.h"
#include "transfer/http.h"
#include "ui/image_types_win.h"
#include "ui/progress_window_win.h"

using namespace kelto;

namespace {

int gMessages = 1000;
std::vector<double> gTrips;

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

DWORD WINAPI Worker(void* parameter) {
    auto& pw = *static_cast<ProgressWindow*>(parameter);
    Sleep(500);  // let the window come up and paint
    const int32_t total = gMessages * 2 + 1;
    uint32_t start = GetTickCount() - 1000;
    for (int i = 1; i <= gMessages; ++i) {
        double before = NowMs();
        ReportSetupProgress(total, i * 2, start);  // a new position every time
        gTrips.push_back(NowMs() - before);
        Sleep(kReadPauseMs);
    }
    // The job's own close: accepted without the question.
    pw.Job.stage = SetupJobStage::Finished;
    PostMessageW(ProgressWindowHandle, WM_CLOSE, 0, 0);
    PostMessageW(ProgressWindowHandle, WM_QUIT, 0, 0);
    return 0;
}

SkinImage SolidPicture(int width, int height) {
    return {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4, 0x80)};
}

int DpiChanges(ProgressWindow& pw, int count) {
    pw.HeaderImage = SolidPicture(360, 60);
    pw.BackgroundImage = SolidPicture(380, 220);
    pw.Skin = {true, {360, 60}, false, {}, {380, 220}};
    const int dpis[] = {144, 120, 192, 96};
    std::vector<double> times[std::size(dpis)];
    for (int i = 0; i < count; ++i) {
        for (size_t d = 0; d < std::size(dpis); ++d) {
            Size outer = ScaleToDpi(Size{380, 220}, dpis[d]);
            RECT suggested{100, 100, 100 + outer.width, 100 + outer.height};
            double before = NowMs();
            SendMessageW(ProgressWindowHandle, WM_DPICHANGED, MAKEWPARAM(dpis[d], dpis[d]),
                         reinterpret_cast<LPARAM>(&suggested));
            times[d].push_back(NowMs() - before);
        }
    }
    for (size_t d = 0; d < std::size(dpis); ++d) {
        std::sort(times[d].begin(), times[d].end());
        std::printf("DPI change to %d: median %.3f ms, max %.3f ms over %d\n", dpis[d],
                    times[d][times[d].size() / 2], times[d].back(), count);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool dpi = argc > 1 && std::wstring_view(argv[1]) == L"dpi";
    if (argc > 1 + dpi) {
        gMessages = std::max(1, _wtoi(argv[1 + dpi]));
    }
    RegisterSkinImageTypes();
    Application& app = CreateApplication("bench");
    ProgressWindow& pw = NewProgressWindow();
    pw.Job.launched = true;  // the window's show must not start a real job
    if (!BuildProgressWindow(pw, app)) {
        std::fprintf(stderr, "the progress window could not be made\n");
        return 1;
    }
    LoadSkin(pw, RequestSkin(pw.Config));
    if (dpi) {
        return DpiChanges(pw, argc > 2 ? gMessages : 100);
    }
    CurrentProgressWindow = &pw;
    HANDLE worker = CreateThread(nullptr, 0, Worker, &pw, 0, nullptr);
    RunMessageLoop(app);
    WaitForSingleObject(worker, INFINITE);
    std::sort(gTrips.begin(), gTrips.end());
    std::printf(
        "WM_SETUP_PROGRESS round trips: %zu, median %.3f ms, p99 %.3f ms, max %.3f ms "
        "(target median <= 1 ms)\n",
        gTrips.size(), gTrips[gTrips.size() / 2],
        gTrips[std::min(gTrips.size() - 1, gTrips.size() * 99 / 100)], gTrips.back());
    return 0;
}
