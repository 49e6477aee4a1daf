// Pieces of the transfer that the Win32 layer and the unit tests share;
// callers of the transfer use http.h and http_win.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelto {

// The announced Content-Length is only a hint; never reserve more than this.
inline constexpr size_t kMaxReserve = 64u << 20;

// Reads the decimal number a header carries; 0 when absent or not a number.
int32_t ParseHeaderNumber(const std::string& text);

// What to reserve for an announced length.
size_t ReserveHint(int32_t contentLength);

// A transfer that stopped on a read error, or delivered fewer bytes than it
// announced, is broken: its status must not read as success.
bool TransferIsComplete(bool readFailed, int32_t contentLength, int64_t received);

// Splits the raw header block at CR LF, dropping the empty tail.
std::vector<std::string> SplitHeaderLines(const std::string& raw);

}  // namespace kelto
