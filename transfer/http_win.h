// WinInet details of the HTTP transfer that only the Windows layer and its
// tests see.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

// One response header of a request as text; "" when absent.
std::string QueryInfoText(HINTERNET request, DWORD infoLevel);

// The pause after every read that delivered data, given what is left of the
// read period (at most kReadPauseMs). Tests swap it to count the pauses or to
// skip them; returns the previous function.
using HttpPauseFunction = void (*)(DWORD milliseconds);
HttpPauseFunction SetHttpPauseForTesting(HttpPauseFunction pause);
