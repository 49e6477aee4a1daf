#include "ui/web_link_win.h"

#include <windows.h>

#include <optional>

#include "toolkit/process_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "ui/web_link.h"

namespace kelto {

namespace {

constexpr wchar_t kUserChoiceKey[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";

std::wstring RegistryText(HKEY root, const std::wstring& key, const wchar_t* name) {
    wchar_t text[2048] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    // A REG_EXPAND_SZ command comes back expanded ("%ProgramFiles%\\...").
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &bytes) !=
        ERROR_SUCCESS) {
        return {};
    }
    return text;
}

// The class's open command, the user's own registration before the machine's.
std::wstring OpenCommandOf(const std::wstring& className) {
    std::wstring key = L"Software\\Classes\\" + className + L"\\shell\\open\\command";
    std::wstring command = RegistryText(HKEY_CURRENT_USER, key, nullptr);
    return command.empty() ? RegistryText(HKEY_LOCAL_MACHINE, key, nullptr) : command;
}

}  // namespace

std::string DefaultBrowserCommand() {
    std::wstring progId = RegistryText(HKEY_CURRENT_USER, kUserChoiceKey, L"ProgId");
    std::wstring command = progId.empty() ? std::wstring() : OpenCommandOf(progId);
    if (command.empty()) {
        command = OpenCommandOf(L"http");
    }
    return ToUtf8(command);
}

// Whatever the registry names runs with the user's rights only: the user
// could have put it there.
bool OpenWebPage(std::string_view link) {
    std::optional<std::string> url = WebPageUrl(link);
    if (!url) {
        TraceStep("no web page, not opened");
        return false;
    }
    std::optional<BrowserStart> browser = BrowserStartFor(DefaultBrowserCommand(), *url);
    if (!browser) {
        TraceStep("no browser for http pages");
        return false;
    }
    ProcessStart start;
    start.exe = browser->exe;
    start.parameters = browser->parameters;
    start.rights = StartRights::kUser;
    return Succeeded(RunProcess(start), 0);
}

}  // namespace kelto
