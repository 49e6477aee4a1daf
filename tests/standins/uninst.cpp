// Stand-in for the Downloader's uninstaller "uninst.exe": records its
// parameters, removes the installation it sits in and ends with the exit
// code the test chose, or hangs so that the caller's time-out can be tried.
//
// KELTO2_UNINST_EXIT  exit code (default 0)
// KELTO2_UNINST_HANG  "1": sleep forever instead of uninstalling
// KELTO2_UNINST_COPY_MS  hand the work to a copy of itself that sleeps this
//                     long first, and end at once (as NSIS uninstallers do)
// KELTO2_STANDIN_LOG  file that receives the lines
#include <windows.h>

#include <string>

#include "standin_log.h"

namespace {

constexpr wchar_t kCopyArguments[] = L"/copy";

std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length);
    return path;
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Deletes everything below folder except the file keep; returns how many
// entries could not be removed.
int RemoveTree(const std::wstring& folder, const std::wstring& keep) {
    int failures = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return 0;
    }
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        std::wstring path = folder + L"\\" + name;
        if (lstrcmpiW(path.c_str(), keep.c_str()) == 0) {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            failures += RemoveTree(path, keep);
            failures += RemoveDirectoryW(path.c_str()) ? 0 : 1;
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            failures += DeleteFileW(path.c_str()) ? 0 : 1;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return failures;
}

// Windows refuses to delete a running image, and so does Wine. Deleting
// it at the next restart (MoveFileEx) is no good here: the bench restarts
// the Wine server between tests, and the pending delete would then hit the
// next test's freshly installed files. So the uninstaller stays behind,
// alone in its folder, and says so.
const char* RemoveSelf(const std::wstring& self, const std::wstring& folder) {
    if (DeleteFileW(self.c_str())) {
        RemoveDirectoryW(folder.c_str());
        return "deleted";
    }
    return "kept";
}

// The same file again, told by its parameters that it is the copy.
int StartCopy(const std::wstring& self) {
    std::wstring commandLine = L"\"" + self + L"\" " + kCopyArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        standin::AppendLogLine("uninst copy not started");
        return 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standin::AppendLogLine("uninst args " + standin::ToUtf8(standin::RawArguments()));
    if (standin::EnvText(L"KELTO2_UNINST_HANG") == L"1") {
        standin::AppendLogLine("uninst hang");
        Sleep(INFINITE);
    }
    std::wstring self = OwnPath();
    long copyMs = standin::EnvNumber(L"KELTO2_UNINST_COPY_MS", -1);
    if (copyMs >= 0 && standin::RawArguments() != kCopyArguments) {
        return StartCopy(self);
    }
    if (copyMs >= 0) {
        Sleep(static_cast<DWORD>(copyMs));
    }
    std::wstring folder = FolderOf(self);
    int failures = RemoveTree(folder, self);
    std::string outcome = RemoveSelf(self, folder);
    standin::AppendLogLine("uninst removed failures=" + std::to_string(failures) +
                           " self=" + outcome);
    return static_cast<int>(standin::EnvNumber(L"KELTO2_UNINST_EXIT", 0));
}
