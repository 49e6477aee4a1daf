// Stand-in for the Downloader's Setup package "mvsetup.exe": records its
// parameters and installs a Downloader stand-in where the launcher looks
// for it, copied from the folder of the built stand-ins.
//
// KELTO2_SETUP_SOURCE   Windows folder holding mvdown_<version>.exe and
//                       uninst.exe (the bench sets it)
// KELTO2_SETUP_VERSION  version to install (default 1.6.5.2288), "none"
//                       for the variant without a version resource
// KELTO2_SETUP_PRODUCT  product folder (default "Morvik下载器")
// KELTO2_SETUP_INSTALL  "0": install nothing, still exit as told
// KELTO2_SETUP_EXIT     exit code (default 0)
// KELTO2_SETUP_HANG     "1": sleep forever instead
// KELTO2_STANDIN_LOG    file that receives the lines, the stand-in's own
//                       path ("setup path ...") among them
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "standin_log.h"

namespace {

std::wstring EnvOr(const wchar_t* name, const wchar_t* fallback) {
    std::wstring value = standin::EnvText(name);
    return value.empty() ? fallback : value;
}

std::wstring InstallFolder() {
    wchar_t base[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, base, CSIDL_LOCAL_APPDATA, FALSE);
    return std::wstring(base) + L"\\Morvik网络\\" + EnvOr(L"KELTO2_SETUP_PRODUCT", L"Morvik下载器");
}

bool Install(const std::wstring& version, const std::wstring& folder) {
    std::wstring source = standin::EnvText(L"KELTO2_SETUP_SOURCE");
    std::wstring variant =
        version == L"none" ? L"mvdown_noversion.exe" : L"mvdown_" + version + L".exe";
    int created = SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS) {
        return false;
    }
    return CopyFileW((source + L"\\" + variant).c_str(), (folder + L"\\mvdown.exe").c_str(),
                     FALSE) &&
           CopyFileW((source + L"\\uninst.exe").c_str(), (folder + L"\\uninst.exe").c_str(), FALSE);
}

// Where the launcher stored the package it runs.
std::string OwnPath() {
    wchar_t path[MAX_PATH * 2] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    return standin::ToUtf8(std::wstring(path, length));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standin::AppendLogLine("setup args " + standin::ToUtf8(standin::RawArguments()));
    standin::AppendLogLine(standin::TokenLine("setup"));
    standin::AppendLogLine(standin::CurrentFolderLine("setup"));
    // The path comes after the lines that earlier readers count on.
    if (standin::EnvText(L"KELTO2_SETUP_HANG") == L"1") {
        standin::AppendLogLine("setup path " + OwnPath());
        standin::AppendLogLine("setup hang");
        Sleep(INFINITE);
    }
    if (standin::EnvText(L"KELTO2_SETUP_INSTALL") != L"0") {
        std::wstring version = EnvOr(L"KELTO2_SETUP_VERSION", L"1.6.5.2288");
        std::wstring folder = InstallFolder();
        bool installed = Install(version, folder);
        standin::AppendLogLine((installed ? "setup installed " : "setup failed ") +
                               standin::ToUtf8(version) + " " + standin::ToUtf8(folder));
    }
    standin::AppendLogLine("setup path " + OwnPath());
    standin::AppendLogLine("setup tmp " + standin::ToUtf8(standin::EnvText(L"TMP")));
    standin::AppendLogLine("setup temp " + standin::ToUtf8(standin::EnvText(L"TEMP")));
    return static_cast<int>(standin::EnvNumber(L"KELTO2_SETUP_EXIT", 0));
}
