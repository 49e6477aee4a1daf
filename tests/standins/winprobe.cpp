// Test probe: answers questions about the Windows side of the bench, so
// that fixtures ask Wine itself instead of guessing.
//
//   winprobe.exe acp            the ANSI code page
//   winprobe.exe localappdata   SHGetSpecialFolderPathW(CSIDL_LOCAL_APPDATA)
//   winprobe.exe programfiles   SHGetSpecialFolderPathW(CSIDL_PROGRAM_FILES)
//   winprobe.exe temp           GetTempPathW
//   winprobe.exe version FILE   the file version of FILE, "%d.%d.%d.%d",
//                               or exit code 2 without a version resource
//   winprobe.exe downloader     for each product name, where the launcher
//                               looks below the local application data
//                               folder and the version found there
//   winprobe.exe regloc NAME    InstallLocation of the Uninstall key NAME
//                               in the 32-bit and the 64-bit registry view
//   winprobe.exe fetch URL      GET through WinInet with the system proxy:
//                               "status S length L received R"
//   winprobe.exe run FILE [PARAMS]
//                               ShellExecuteEx (no verb, hidden), waits
//                               for the program and exits with its exit
//                               code
//   winprobe.exe show TEXT      a message box with TEXT, until closed or
//                               killed: for looking at font rendering
//   winprobe.exe resource FILE TYPE NAME LANG OUT
//                               copies the raw bytes of one resource of
//                               FILE into OUT (TYPE and NAME: a number or
//                               a name; LANG: a decimal language id), exit
//                               code 2 when it is missing
//   winprobe.exe boxes [close|yes|no]
//                               every message box on the desktop as
//                               "box <caption>|<text>|topmost=<0|1>";
//                               with an answer, each gets that button
//   winprobe.exe ping NAME MS COUNT
//                               sends WM_NULL to the window of class NAME
//                               every MS milliseconds, COUNT times, and
//                               prints the round trips' median, 99th
//                               percentile and maximum in milliseconds
//   winprobe.exe click NAME INDEX
//                               a click on the INDEXth child (Z order,
//                               from 0) of the window of class NAME, as a
//                               label reports it to its parent
//   winprobe.exe release NAME left|right X Y
//                               posts a mouse button release at client
//                               point X, Y to the window of class NAME
//   winprobe.exe keys NAME VK[+VK]...
//                               brings the window of class NAME to the
//                               front and types the virtual keys (0x1B;
//                               0x12+0x73 held together) through the input
//                               queue
//   winprobe.exe tree NAME      the top-level window of class NAME (else of
//                               title NAME) as one JSON object: class,
//                               title, style, rect and client (screen),
//                               visible, owner {title, style} or null, and
//                               children in Z order (class, style, rect in
//                               the client area, text, visible; progress
//                               bars also position and high); exit code 2
//                               when there is no such window
//
// Paths are printed as UTF-8 followed by a line break.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <wininet.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& wide) {
    int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(std::char_traits<char>::length(utf8.c_str()));
    return utf8;
}

void PrintUtf8(const wchar_t* wide) {
    std::printf("%s\n", Utf8(wide).c_str());
}

int PrintFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) {
        return 2;
    }
    PrintUtf8(path);
    return 0;
}

std::string VersionText(const std::wstring& file) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<unsigned char> data(size ? size : 1);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(file.c_str(), 0, size, data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
        return "";
    }
    char text[64];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS),
                  LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                  LOWORD(info->dwFileVersionLS));
    return text;
}

// The same path the launcher builds, in UTF-16 from start to end.
int PrintDownloaders() {
    wchar_t base[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, base, CSIDL_LOCAL_APPDATA, FALSE);
    for (const wchar_t* product : {L"Morvik下载器", L"Morvik下载器 2010"}) {
        std::wstring exe = std::wstring(base) + L"\\Morvik网络\\" + product + L"\\mvdown.exe";
        bool exists = GetFileAttributesW(exe.c_str()) != INVALID_FILE_ATTRIBUTES;
        std::string found = exists ? "version=" + VersionText(exe) : "missing";
        std::printf("%s\t%s\t%s\n", Utf8(product).c_str(), Utf8(exe).c_str(), found.c_str());
    }
    return 0;
}

int PrintInstallLocations(const std::wstring& product) {
    std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + product;
    for (auto [name, view] : {std::pair{"32", KEY_WOW64_32KEY}, std::pair{"64", KEY_WOW64_64KEY}}) {
        HKEY handle = nullptr;
        std::string text = "absent";
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | view, &handle) ==
            ERROR_SUCCESS) {
            wchar_t data[1024] = {};
            DWORD size = sizeof data - sizeof(wchar_t);
            DWORD type = 0;
            if (RegQueryValueExW(handle, L"InstallLocation", nullptr, &type,
                                 reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
                text = "type=" + std::to_string(type) + " " + Utf8(data);
            } else {
                text = "novalue";
            }
            RegCloseKey(handle);
        }
        std::printf("%s\t%s\n", name, text.c_str());
    }
    return 0;
}

// What the launcher does for every download, minus the file: the system
// proxy settings, a plain GET, the body read to the end.
int Fetch(const std::wstring& url) {
    HINTERNET root = InternetOpenW(L"", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!root) {
        std::printf("status 0 open failed %lu\n", GetLastError());
        return 2;
    }
    HINTERNET request = InternetOpenUrlW(root, url.c_str(), nullptr, 0, 0, 0);
    if (!request) {
        std::printf("status 0 url failed %lu\n", GetLastError());
        InternetCloseHandle(root);
        return 2;
    }
    wchar_t status[32] = L"0";
    wchar_t length[32] = L"0";
    DWORD size = sizeof status;
    HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE, status, &size, nullptr);
    size = sizeof length;
    HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, length, &size, nullptr);
    unsigned long long received = 0;
    static char buffer[16184];
    DWORD read = 0;
    while (InternetReadFile(request, buffer, sizeof buffer, &read) && read > 0) {
        received += read;
    }
    std::printf("status %s length %s received %llu\n", Utf8(status).c_str(), Utf8(length).c_str(),
                received);
    InternetCloseHandle(request);
    InternetCloseHandle(root);
    return 0;
}

int RunProgram(const wchar_t* file, const wchar_t* parameters) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info) || !info.hProcess) {
        std::printf("start failed %lu\n", GetLastError());
        return 255;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    std::printf("exit %lu\n", code);
    return static_cast<int>(code);
}

// "#24"-style numbers and plain names, as FindResource takes them.
std::wstring ResourceId(const wchar_t* text, WORD& number) {
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(text, &end, 10);
    if (*text && end && *end == L'\0' && value <= 0xFFFF) {
        number = static_cast<WORD>(value);
        return {};
    }
    number = 0;
    return text;
}

int DumpResource(const wchar_t* file, const wchar_t* type, const wchar_t* name, const wchar_t* lang,
                 const wchar_t* out) {
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) {
        std::fprintf(stderr, "cannot load %lu\n", GetLastError());
        return 3;
    }
    WORD typeNumber = 0;
    WORD nameNumber = 0;
    std::wstring typeText = ResourceId(type, typeNumber);
    std::wstring nameText = ResourceId(name, nameNumber);
    HRSRC found =
        FindResourceExW(module, typeNumber ? MAKEINTRESOURCEW(typeNumber) : typeText.c_str(),
                        nameNumber ? MAKEINTRESOURCEW(nameNumber) : nameText.c_str(),
                        static_cast<WORD>(wcstoul(lang, nullptr, 10)));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        FreeLibrary(module);
        return 2;
    }
    HANDLE target =
        CreateFileW(out, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD size = SizeofResource(module, found);
    DWORD written = 0;
    bool ok = target != INVALID_HANDLE_VALUE && WriteFile(target, bytes, size, &written, nullptr) &&
              written == size;
    if (target != INVALID_HANDLE_VALUE) {
        CloseHandle(target);
    }
    FreeLibrary(module);
    return ok ? 0 : 3;
}

BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    // The message text is the box's static control with the id 0xFFFF.
    if (lstrcmpiW(cls, L"Static") == 0 && GetDlgCtrlID(child) == 0xFFFF) {
        wchar_t text[1024] = {};
        GetWindowTextW(child, text, 1024);
        *reinterpret_cast<std::wstring*>(param) += text;
    }
    return TRUE;
}

BOOL CALLBACK ReportBox(HWND window, LPARAM close) {
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (std::wstring(cls) != L"#32770" || !IsWindowVisible(window)) {
        return TRUE;
    }
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    std::wstring text;
    EnumChildWindows(window, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    bool topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    std::printf("box %s|%s|topmost=%d\n", Utf8(caption).c_str(), Utf8(text).c_str(),
                topmost ? 1 : 0);
    if (close) {
        PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(close), 0);
    }
    return TRUE;
}

// Through the window itself: GetWindowText leaves the text of another
// process's captionless windows (the labels) empty.
std::wstring TextOf(HWND window) {
    wchar_t text[1024] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        2000, &ignored);
    return text;
}

LRESULT Ask(HWND window, UINT msg, WPARAM wParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, msg, wParam, 0, SMTO_ABORTIFHUNG, 2000, &result);
    return static_cast<LRESULT>(result);
}

std::string Json(const std::wstring& text) {
    std::string out = "\"";
    for (char c : Utf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Json(const RECT& r) {
    char text[128];
    std::snprintf(text, sizeof text, "{\"left\":%ld,\"top\":%ld,\"width\":%ld,\"height\":%ld}",
                  r.left, r.top, r.right - r.left, r.bottom - r.top);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::string StyleOf(HWND window) {
    return std::to_string(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)));
}

int PrintTree(const std::wstring& name) {
    HWND window = FindWindowW(name.c_str(), nullptr);
    if (!window) {
        window = FindWindowW(nullptr, name.c_str());
    }
    if (!window) {
        return 2;
    }
    RECT rect{};
    GetWindowRect(window, &rect);
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    HWND owner = GetWindow(window, GW_OWNER);
    std::string json =
        "{\"class\":" + Json(ClassOf(window)) + ",\"title\":" + Json(TextOf(window)) +
        ",\"style\":" + StyleOf(window) + ",\"rect\":" + Json(rect) +
        ",\"client\":" + Json(client) +
        ",\"visible\":" + (IsWindowVisible(window) ? "true" : "false") + ",\"owner\":" +
        (owner ? "{\"title\":" + Json(TextOf(owner)) + ",\"style\":" + StyleOf(owner) + "}"
               : std::string("null")) +
        ",\"children\":[";
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        std::wstring cls = ClassOf(child);
        json += std::string(json.back() == '[' ? "" : ",") + "{\"class\":" + Json(cls) +
                ",\"style\":" + StyleOf(child) + ",\"rect\":" + Json(r) +
                ",\"text\":" + Json(TextOf(child)) +
                ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false");
        if (lstrcmpiW(cls.c_str(), PROGRESS_CLASSW) == 0) {
            json += ",\"position\":" + std::to_string(Ask(child, PBM_GETPOS, 0)) +
                    ",\"high\":" + std::to_string(Ask(child, PBM_GETRANGE, FALSE));
        }
        json += "}";
    }
    std::printf("%s]}\n", json.c_str());
    return 0;
}

// How long the window takes to answer, sampled while it works.
int Ping(const wchar_t* name, int intervalMs, int count) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> trips;
    for (int i = 0; i < count; ++i) {
        HWND window = FindWindowW(name, nullptr);
        if (!window) {
            break;
        }
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
        QueryPerformanceCounter(&end);
        trips.push_back(static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
                        static_cast<double>(frequency.QuadPart));
        Sleep(static_cast<DWORD>(intervalMs));
    }
    if (trips.empty()) {
        return 2;
    }
    std::sort(trips.begin(), trips.end());
    std::printf("pings %zu median %.3f p99 %.3f max %.3f\n", trips.size(), trips[trips.size() / 2],
                trips[std::min(trips.size() - 1, trips.size() * 99 / 100)], trips.back());
    return 0;
}

INPUT KeyStroke(WORD key, DWORD flags) {
    INPUT stroke{};
    stroke.type = INPUT_KEYBOARD;
    stroke.ki.wVk = key;
    stroke.ki.dwFlags = flags;
    return stroke;
}

// One virtual key (a number, as 0x1B), or keys held together ("0x12+0x73"
// is Alt+F4): pressed in order, released in reverse.
bool TypeChord(const wchar_t* chord) {
    std::vector<WORD> keys;
    for (const wchar_t* at = chord; *at;) {
        wchar_t* end = nullptr;
        keys.push_back(static_cast<WORD>(std::wcstol(at, &end, 0)));
        if (end == at || (*end != L'+' && *end != L'\0')) {
            return false;
        }
        at = *end ? end + 1 : end;
    }
    std::vector<INPUT> strokes;
    for (WORD key : keys) {
        strokes.push_back(KeyStroke(key, 0));
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        strokes.push_back(KeyStroke(*key, KEYEVENTF_KEYUP));
    }
    UINT count = static_cast<UINT>(strokes.size());
    return SendInput(count, strokes.data(), sizeof(INPUT)) == count;
}

// Brings the window to the front and types the chords into it through the
// system's input queue, as a keyboard would.
int TypeKeys(const wchar_t* name, int count, wchar_t** chords) {
    HWND window = FindWindowW(name, nullptr);
    if (!window) {
        return 2;
    }
    SetForegroundWindow(window);
    Sleep(200);
    for (int i = 0; i < count; ++i) {
        if (!TypeChord(chords[i])) {
            return 3;
        }
        Sleep(150);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"acp") {
        std::printf("%u\n", GetACP());
        return 0;
    }
    if (command == L"localappdata") {
        return PrintFolder(CSIDL_LOCAL_APPDATA);
    }
    if (command == L"programfiles") {
        return PrintFolder(CSIDL_PROGRAM_FILES);
    }
    if (command == L"temp") {
        wchar_t path[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, path);
        PrintUtf8(path);
        return 0;
    }
    if (command == L"version" && argc > 2) {
        std::string version = VersionText(argv[2]);
        if (version.empty()) {
            return 2;
        }
        std::printf("%s\n", version.c_str());
        return 0;
    }
    if (command == L"downloader") {
        return PrintDownloaders();
    }
    if (command == L"regloc" && argc > 2) {
        return PrintInstallLocations(argv[2]);
    }
    if (command == L"fetch" && argc > 2) {
        return Fetch(argv[2]);
    }
    if (command == L"run" && argc > 2) {
        return RunProgram(argv[2], argc > 3 ? argv[3] : nullptr);
    }
    if (command == L"show" && argc > 2) {
        MessageBoxW(nullptr, argv[2], L"winprobe", MB_OK);
        return 0;
    }
    if (command == L"resource" && argc > 6) {
        return DumpResource(argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    if (command == L"boxes") {
        std::wstring answer = argc > 2 ? argv[2] : L"";
        LPARAM button = answer == L"close" ? IDOK
                        : answer == L"yes" ? IDYES
                        : answer == L"no"  ? IDNO
                                           : 0;
        EnumWindows(ReportBox, button);
        return 0;
    }
    if (command == L"ping" && argc > 4) {
        return Ping(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
    }
    if (command == L"click" && argc > 3) {
        HWND window = FindWindowW(argv[2], nullptr);
        HWND child = window ? GetWindow(window, GW_CHILD) : nullptr;
        for (int i = _wtoi(argv[3]); child && i > 0; --i) {
            child = GetWindow(child, GW_HWNDNEXT);
        }
        if (!child) {
            return 2;
        }
        WPARAM id = static_cast<WPARAM>(GetDlgCtrlID(child));
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                     reinterpret_cast<LPARAM>(child));
        return 0;
    }
    if (command == L"release" && argc > 5) {
        HWND window = FindWindowW(argv[2], nullptr);
        if (!window) {
            return 2;
        }
        UINT msg = std::wstring(argv[3]) == L"right" ? WM_RBUTTONUP : WM_LBUTTONUP;
        LPARAM point =
            MAKELPARAM(static_cast<short>(_wtoi(argv[4])), static_cast<short>(_wtoi(argv[5])));
        PostMessageW(window, msg, 0, point);
        return 0;
    }
    if (command == L"keys" && argc > 3) {
        return TypeKeys(argv[2], argc - 3, argv + 3);
    }
    if (command == L"tree" && argc > 2) {
        return PrintTree(argv[2]);
    }
    std::fprintf(
        stderr,
        "usage: winprobe acp|localappdata|programfiles|temp|version FILE|downloader|"
        "regloc NAME|fetch URL|run FILE [PARAMS]|show TEXT|resource FILE TYPE NAME LANG OUT|"
        "boxes [close|yes|no]|release NAME left|right X Y|keys NAME VK[+VK]...|tree NAME\n");
    return 3;
}
