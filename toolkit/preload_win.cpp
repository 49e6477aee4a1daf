#include "toolkit/preload_win.h"

#include <windows.h>

#include "toolkit/handles_win.h"

namespace kelto {

namespace {

// In the order the hand-over first calls into them.
constexpr const wchar_t* kLibraries[] = {L"user32.dll", L"shell32.dll", L"ole32.dll"};

DWORD WINAPI LoadLibraries(void*) {
    for (const wchar_t* name : kLibraries) {
        // Never a plain search: the exe's folder may hold a planted copy.
        // The libraries stay loaded for the life of the process.
        if (!LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            return 1;  // the flag is unknown here: leave loading to first use
        }
    }
    return 0;
}

}  // namespace

void PreloadSystemLibraries() {
    // Nobody waits for it: the handle goes at once, the thread runs on.
    ThreadHandle loader(CreateThread(nullptr, 0, LoadLibraries, nullptr, 0, nullptr));
}

}  // namespace kelto
