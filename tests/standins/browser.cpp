// Stand-in for the web browser ("iexplore.exe") that the window's links
// start: records what it was given and ends.
//
// KELTO2_STANDIN_LOG    file that receives the line
#include <windows.h>

#include "standin_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    standin::AppendLogLine("browser args " + standin::ToUtf8(standin::RawArguments()));
    return 0;
}
