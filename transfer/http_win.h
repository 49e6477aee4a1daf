// HTTP GET over WinInet, into a sink or into a file.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>
#include <vector>

#include "transfer/http.h"

namespace kelto {

// GET url into sink; returns the HTTP status (0: no response, or broken).
// headers, when given, receives the raw response header lines.
int32_t HttpGet(const std::string& url, ByteSink& sink, const std::string& agent,
                std::vector<std::string>* headers, ProgressCallback callback);

// GET url, streaming the body into "<path>.part"; at status 200 with the
// whole body received the file takes the place of path. Any other outcome
// leaves an existing file at path untouched, and no ".part" file behind.
// Neither file is written through a link (StagedFile).
int32_t DownloadToFile(const std::string& url, const std::string& path, const std::string& agent,
                       std::vector<std::string>* headers, ProgressCallback callback);

// One response header of a request as text; "" when absent.
std::string QueryInfoText(HINTERNET request, DWORD infoLevel);

// Test hook: replaces the pause after every read that delivered data, to
// count the pauses or to skip them; returns the previous one.
using HttpPauseFunction = void (*)(DWORD milliseconds);
HttpPauseFunction SetHttpPauseForTesting(HttpPauseFunction pause);

}  // namespace kelto
