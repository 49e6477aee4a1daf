// A library planted beside an exe under the name of a system library
// (wininet.dll, version.dll): it records that it was loaded, and every
// function it exports fails.
//
// On load it appends "<its name> loaded by <exe path>" and a line break to
// the file named by KELTO2_PLANTED_MARKER, or else to "<its path>.loaded".
// Its exports are the real library's names (made from the toolchain's
// import library), so that an exe importing the real one starts with it.
#include <windows.h>

#include <string>

namespace {

std::wstring ModulePath(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

std::wstring MarkerPath(HMODULE self) {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableW(L"KELTO2_PLANTED_MARKER", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        return path;
    }
    return ModulePath(self) + L".loaded";
}

std::string Utf8(const std::wstring& wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

std::wstring FileName(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

void RecordLoad(HMODULE self) {
    std::string line =
        Utf8(FileName(ModulePath(self))) + " loaded by " + Utf8(ModulePath(nullptr)) + "\n";
    HANDLE file =
        CreateFileW(MarkerPath(self).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

// Every export of the library is bound to this. The probes never call it:
// on i686 it would also leave a stdcall caller's arguments on the stack.
extern "C" ULONG_PTR PlantedFail() {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        RecordLoad(instance);
    }
    return TRUE;
}
