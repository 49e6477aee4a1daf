// Process entry of Kelto2.exe.
#include <windows.h>

#include <exception>

#include "launcher/dll_search_win.h"
#include "launcher/installed_downloader.h"
#include "launcher/startup_win.h"
#include "toolkit/app_win.h"
#include "toolkit/preload_win.h"
#include "toolkit/product.h"
#include "toolkit/trace_win.h"
#include "transfer/package_check_win.h"
#include "ui/image_types_win.h"
#include "ui/progress_window_win.h"

namespace {

void TraceReleaseKey() {
    using namespace kelto;
    switch (LoadReleaseKey().state) {
        case ReleaseKeyState::kValid:
            TraceStep("keyed: a Setup package runs only with a signature that verifies");
            break;
        case ReleaseKeyState::kNone:
            TraceStep("not keyed: Setup packages run without a signature check");
            break;
        case ReleaseKeyState::kMalformed:
            TraceStep("keyed, but the release key is malformed: no Setup package runs");
            break;
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace kelto;
    RestrictDllSearchToSystem32();
    TraceStep("start");
    // An error that escapes start-up ends the run with a report and code 1;
    // a progress window that could not be made, with the trace and code 1.
    try {
        // The server is asked first: its answers are on their way while the
        // rest of the process gets ready.
        StartUpRequests requests = SendStartUpRequests();
        TraceReleaseKey();
        PreloadSystemLibraries();
        RegisterSkinImageTypes();
        Application& app = CreateApplication(std::string(kApplicationCaption));
        CurrentProgressWindow = StartUp(app, requests);
        if (!CurrentProgressWindow) {
            return 1;
        }
        RunMessageLoop(app);
        // A user who cancelled leaves no download behind.
        EndSetupJobWithTheWindow(*CurrentProgressWindow);
    } catch (const RegistryError& e) {
        TraceError(e.what(), static_cast<DWORD>(e.code()));
        ShowFatalError(e.what());
        return 1;
    } catch (const std::exception& e) {
        ShowFatalError(e.what());
        return 1;
    }
    return 0;
}
