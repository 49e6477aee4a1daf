#include "toolkit/log_win.h"

#include <windows.h>

#include "toolkit/file_win.h"
#include "toolkit/text_win.h"

namespace kelto {

namespace {

// A log past 4 GiB still gets its lines at the end, never over its start.
bool SeekToEnd(HANDLE file) {
    LONG high = 0;
    SetLastError(NO_ERROR);  // a low part of all ones can be a real position
    DWORD low = SetFilePointer(file, 0, &high, FILE_END);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

}  // namespace

void WriteLog(std::string_view fileName, const std::string& text) {
    // The attribute query keeps a folder of that name from being opened;
    // the open itself takes only an existing file, so a log that vanishes
    // in between is not created anew. Sharing for reading only: while
    // another line is being written the open fails and this line is lost,
    // but lines never interleave. The current folder may be anybody's: a
    // link placed as the log would make the elevated append a write
    // elsewhere, so the line is lost instead.
    std::string name(fileName);
    if (!FileExists(name)) {
        return;
    }
    FileHandle file = OpenUnredirected(name, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file.IsValid() || !SeekToEnd(file.Get())) {
        return;
    }
    // The log's readers take it as ANSI text, like every other text file
    // of the product.
    std::string line = Utf8ToAnsi(text) + "\r\n";
    DWORD written = 0;
    (void)WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace kelto
