#include "launcher/dll_search_win.h"

#include <windows.h>

namespace kelto {

// The launcher runs elevated and is mostly started from a download folder,
// where a web page may have dropped a wininet.dll or version.dll. Windows
// looks beside the exe, and in the current folder, for any library that is
// not a KnownDLL, so such a file would run with administrator rights.
// Imports of that kind are delay-loaded (cmake/DelayLoad.cmake): they are
// loaded at their first call, which comes after this restriction.
//
// SetDefaultDllDirectories exists from Windows 8 on, and on Windows 7 with
// update KB2533623; it is looked up at run time so that the exe still starts
// without it. The fallback only takes the current folder out of the search:
// the exe's own folder is still searched on such a system.
void RestrictDllSearchToSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    // kernel32 is a KnownDLL and already mapped: no search takes place.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        return;
    }
    SetDllDirectoryW(L"");
}

}  // namespace kelto
