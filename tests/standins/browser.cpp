// Stand-in for the user's web browser that the window's links start:
// records its token and each argument as CommandLineToArgvW splits them,
// then ends.
//
// KELTO2_STANDIN_LOG    file that receives the lines
#include <windows.h>
#include <shellapi.h>

#include "standin_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standin::AppendLogLine(standin::TokenLine("browser"));
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; args && i < count; ++i) {
        standin::AppendLogLine("browser arg " + standin::ToUtf8(args[i]));
    }
    LocalFree(args);
    return 0;
}
