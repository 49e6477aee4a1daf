#include "toolkit/log_win.h"

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include "win_test_support.h"

using namespace kelto;

namespace {

// Each test gets a scratch folder as its current folder, where "kelto2.log"
// resolves.
class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = ScratchFolder("log-file");
        current_ = std::make_unique<ScopedCurrentFolder>(folder_);
        ASSERT_TRUE(current_->ok());
        path_ = folder_ + "\\" + std::string(kLogFileName);
    }
    void TearDown() override {
        current_.reset();
        RemoveTree(folder_);
    }

    std::string folder_;
    std::string path_;
    std::unique_ptr<ScopedCurrentFolder> current_;
};

TEST_F(LogFile, AppendsTheLineAndCrLf) {
    struct Case {
        const char* name;
        std::string before;
        std::vector<std::string> lines;
        std::string after;
    };
    const Case cases[] = {
        {"empty file", "", {"Executing C:\\x\\mvdown.exe"}, "Executing C:\\x\\mvdown.exe\r\n"},
        {"two lines in order", "", {"a", "b"}, "a\r\nb\r\n"},
        {"after text without a line break", "old", {"x"}, "oldx\r\n"},
        {"after earlier lines", "one\r\n", {"two"}, "one\r\ntwo\r\n"},
        {"empty text is an empty line", "", {""}, "\r\n"},
        {"no placeholders filled", "", {"100% %s %d"}, "100% %s %d\r\n"},
        {"binary content kept", std::string("\0\xFF\n", 3), {"z"}, std::string("\0\xFF\nz\r\n", 6)},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(path_, c.before)) << c.name;
        for (const std::string& line : c.lines) {
            WriteLog(kLogFileName, line);
        }
        EXPECT_EQ(ReadBytes(path_), c.after) << c.name;
    }
}

TEST_F(LogFile, ShortFormWritesIntoTheCurrentFolder) {
    std::string other = folder_ + "\\other";
    ASSERT_TRUE(MakeFolders(other));
    ASSERT_TRUE(WriteBytes(path_, ""));
    ASSERT_TRUE(WriteBytes(other + "\\" + std::string(kLogFileName), ""));
    {
        ScopedCurrentFolder inOther(other);
        ASSERT_TRUE(inOther.ok());
        WriteLog("software.xml updated");
    }
    EXPECT_EQ(ReadBytes(path_), "");
    EXPECT_EQ(ReadBytes(other + "\\" + std::string(kLogFileName)), "software.xml updated\r\n");
}

TEST_F(LogFile, ChineseTextInTheAnsiCodePage) {
    ASSERT_TRUE(WriteBytes(path_, ""));
    const std::string text = "Executing C:\\Morvik网络\\Morvik下载器\\mvdown.exe";
    WriteLog(kLogFileName, text);
    std::optional<std::string> bytes = ReadBytes(path_);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->find("\xE7\xBD\x91"), std::string::npos) << "UTF-8 bytes in the log";
    if (GetACP() == kGbkCodePage) {
        // 网络 is CD F8 C2 E7, 下载器 is CF C2 D4 D8 C6 F7 in GBK.
        EXPECT_EQ(*bytes,
                  "Executing C:\\Morvik\xCD\xF8\xC2\xE7\\Morvik\xCF\xC2\xD4\xD8\xC6\xF7"
                  "\\mvdown.exe\r\n");
    } else {
        EXPECT_EQ(*bytes, CodePageFromWide(ToWide(text), GetACP()) + "\r\n");
    }
}

TEST_F(LogFile, NoFileNoLogAndNothingCreated) {
    WriteLog(kLogFileName, "lost");
    WriteLog("lost");
    EXPECT_FALSE(PathExists(path_));
    // Another name in the same folder is no log either.
    ASSERT_TRUE(WriteBytes(folder_ + "\\kelto.log", ""));
    WriteLog("kept out");
    EXPECT_FALSE(PathExists(path_));
    EXPECT_EQ(ReadBytes(folder_ + "\\kelto.log"), "");
}

TEST_F(LogFile, FolderOfThatNameIsLeftAlone) {
    ASSERT_TRUE(MakeFolders(path_));
    WriteLog(kLogFileName, "lost");
    DWORD attributes = GetFileAttributesW(ToWide(path_).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(PathExists(path_ + "\\" + std::string(kLogFileName)));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(ToWide(path_ + "\\*").c_str(), &data);
    int entries = 0;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            entries += (name != L"." && name != L"..") ? 1 : 0;
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    EXPECT_EQ(entries, 0);
}

// Whoever else holds the file decides whether the line can go in: the log
// shares for reading only, so a writer elsewhere (another WriteLog among
// them) or a reader that refuses writers makes the line lost, never mixed.
TEST_F(LogFile, LineLostWhileAnotherHandleForbidsIt) {
    struct Case {
        const char* name;
        DWORD access;
        DWORD share;
        bool written;
    };
    const Case cases[] = {
        {"reader sharing everything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"reader sharing read and delete", GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"reader refusing writers", GENERIC_READ, FILE_SHARE_READ, false},
        {"exclusive holder", GENERIC_READ | GENERIC_WRITE, 0, false},
        {"another log line being written", GENERIC_WRITE, FILE_SHARE_READ, false},
        {"writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(WriteBytes(path_, "first\r\n")) << c.name;
        HANDLE holder = CreateFileW(ToWide(path_).c_str(), c.access, c.share, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE) << c.name;
        WriteLog(kLogFileName, "second");
        CloseHandle(holder);
        EXPECT_EQ(ReadBytes(path_), c.written ? "first\r\nsecond\r\n" : "first\r\n") << c.name;
        // The next line, with nobody in the way, goes in whole.
        WriteLog(kLogFileName, "third");
        EXPECT_EQ(ReadBytes(path_),
                  c.written ? "first\r\nsecond\r\nthird\r\n" : "first\r\nthird\r\n")
            << c.name;
    }
}

// Past 4 GiB the end of the file no longer fits the low 32 bits of the file
// pointer: the line must still go to the end, not over the start.
TEST_F(LogFile, LogPastFourGibibytes) {
    const LONGLONG size = (LONGLONG{1} << 32) + 10;
    {
        ASSERT_TRUE(WriteBytes(path_, "head"));
        HANDLE file = CreateFileW(ToWide(path_).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD ignored = 0;
        // Sparse where the file system allows it: the test needs no 4 GiB.
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER end;
        end.QuadPart = size;
        bool grown = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
        CloseHandle(file);
        ASSERT_TRUE(grown);
    }
    WriteLog(kLogFileName, "tail");

    HANDLE file = CreateFileW(ToWide(path_).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER actual;
    GetFileSizeEx(file, &actual);
    char head[4] = {};
    char tail[6] = {};
    DWORD got = 0;
    ReadFile(file, head, sizeof head, &got, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = size;
    SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
    ReadFile(file, tail, sizeof tail, &got, nullptr);
    CloseHandle(file);
    DeleteFileW(ToWide(path_).c_str());

    EXPECT_EQ(actual.QuadPart, size + 6);
    EXPECT_EQ(std::string(head, 4), "head");
    EXPECT_EQ(std::string(tail, 6), "tail\r\n");
}

}  // namespace
