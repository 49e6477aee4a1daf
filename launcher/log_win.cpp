#include "launcher/log.h"

#include <windows.h>

#include "toolkit/handles_win.h"
#include "toolkit/text_win.h"

namespace {

bool IsExistingFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A log past 4 GiB still gets its lines at the end, never over its start.
bool SeekToEnd(HANDLE file) {
    LONG high = 0;
    SetLastError(NO_ERROR);  // a low part of all ones can be a real position
    DWORD low = SetFilePointer(file, 0, &high, FILE_END);
    return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

}  // namespace

void WriteLog(const std::string& fileName, const std::string& text) {
    std::wstring path = ToWide(fileName);
    if (!IsExistingFile(path)) {
        return;
    }
    // Sharing for reading only: while another line is being written the
    // open fails and this line is lost, but lines never interleave.
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() || !SeekToEnd(file.Get())) {
        return;
    }
    // The log's readers take it as ANSI text, like every other text file
    // of the product.
    std::string line = Utf8ToAnsi(text) + "\r\n";
    DWORD written = 0;
    (void)WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
