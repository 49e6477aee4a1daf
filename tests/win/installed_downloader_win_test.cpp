#include "launcher/installed_downloader_win.h"
#include "toolkit/file_win.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "win_test_support.h"

using namespace kelto;

namespace {

// ---- "InstallLocation" as the registry holds it ----

constexpr char kTestProduct[] = "Kelto2测试下载器";

class InstallLocationValue : public ::testing::Test {
protected:
    void SetUp() override { DeleteKey(kTestProduct); }
    void TearDown() override { DeleteKey(kTestProduct); }
};

std::string Bytes(std::wstring_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

TEST_F(InstallLocationValue, StringDataAsStored) {
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
        std::string expected;
    };
    const std::wstring path = L"C:\\Games\\Morvik\u7F51\u7EDC";  // "...Morvik网络"
    const std::string pathUtf8 = "C:\\Games\\Morvik网络";
    const Case cases[] = {
        {"with trailing NUL", REG_SZ, Bytes(path) + std::string(2, '\0'), pathUtf8},
        {"without trailing NUL", REG_SZ, Bytes(path), pathUtf8},
        {"odd byte count", REG_SZ, Bytes(path) + "x", pathUtf8},
        {"text after a NUL", REG_SZ, Bytes(path) + std::string(2, '\0') + Bytes(L"junk"), pathUtf8},
        {"trailing separator kept", REG_SZ, Bytes(path + L"\\"), pathUtf8 + "\\"},
        {"expandable, not expanded", REG_EXPAND_SZ, Bytes(L"%ProgramFiles%\\M"),
         "%ProgramFiles%\\M"},
        {"empty data", REG_SZ, "", ""},
        {"only a NUL", REG_SZ, std::string(2, '\0'), ""},
        {"one odd byte", REG_SZ, "x", ""},
        {"empty binary is empty, not a type error", REG_BINARY, "", ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetInstallLocation(kTestProduct, kView32, c.type, c.data.data(),
                                       static_cast<DWORD>(c.data.size())))
            << c.name;
        EXPECT_EQ(GetInstallLocation(kTestProduct), c.expected) << c.name;
    }
}

TEST_F(InstallLocationValue, OtherTypesRaiseTheTypeError) {
    struct Case {
        const char* name;
        DWORD type;
        std::string data;
    };
    const Case cases[] = {
        {"REG_DWORD", REG_DWORD, std::string("\x01\x00\x00\x00", 4)},
        {"REG_BINARY", REG_BINARY, Bytes(L"C:\\Games")},
        {"REG_MULTI_SZ", REG_MULTI_SZ, Bytes(L"C:\\Games") + std::string(4, '\0')},
        {"REG_QWORD", REG_QWORD, std::string(8, '\x01')},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetInstallLocation(kTestProduct, kView32, c.type, c.data.data(),
                                       static_cast<DWORD>(c.data.size())))
            << c.name;
        try {
            std::string location = GetInstallLocation(kTestProduct);
            ADD_FAILURE() << c.name << ": no error, got '" << location << "'";
        } catch (const RegistryError& e) {
            EXPECT_STREQ(e.what(), "Invalid data type for 'InstallLocation'") << c.name;
            EXPECT_EQ(e.code(), ERROR_UNSUPPORTED_TYPE) << c.name;
        }
    }
}

TEST_F(InstallLocationValue, KeyWithoutTheValueGivesEmpty) {
    ASSERT_TRUE(SetInstallLocationText(kTestProduct, "C:\\x"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKey(kTestProduct).c_str(), 0,
                            KEY_SET_VALUE | kView32, &key),
              ERROR_SUCCESS);
    RegDeleteValueW(key, L"InstallLocation");
    RegCloseKey(key);
    EXPECT_EQ(GetInstallLocation(kTestProduct), "");
}

TEST_F(InstallLocationValue, LookingUpAMissingProductCreatesNoKey) {
    ASSERT_FALSE(KeyExists(kTestProduct, kView32));
    EXPECT_EQ(GetInstallLocation(kTestProduct), "");
    EXPECT_FALSE(KeyExists(kTestProduct, kView32));
    EXPECT_FALSE(KeyExists(kTestProduct, kView64));
}

TEST_F(InstallLocationValue, ReadsThe32BitViewOnly) {
    std::wstring path = L"C:\\Only64";
    ASSERT_TRUE(SetInstallLocation(kTestProduct, kView64, REG_SZ, path.c_str(),
                                   static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
    if (KeyExists(kTestProduct, kView32)) {
        GTEST_SKIP() << "this system does not separate the registry views of Uninstall keys";
    }
    EXPECT_EQ(GetInstallLocation(kTestProduct), "");
    ASSERT_TRUE(SetInstallLocationText(kTestProduct, "C:\\Only32"));
    EXPECT_EQ(GetInstallLocation(kTestProduct), "C:\\Only32");
}

// ---- Special folders ----

TEST(SpecialFolder, KnownAndUnknownFolders) {
    std::string local = GetSpecialFolder(CSIDL_LOCAL_APPDATA);
    EXPECT_EQ(local, LocalAppData());
    ASSERT_GE(local.size(), 3u);
    EXPECT_EQ(local.substr(1, 2), ":\\");
    EXPECT_NE(local.back(), '\\');
    EXPECT_NE(GetSpecialFolder(CSIDL_PROGRAM_FILES), "");
    EXPECT_EQ(GetSpecialFolder(0x7FFF), "") << "an unknown CSIDL gives the empty text";
}

TEST(FileExistsTest, FilesOnlyNotFolders) {
    std::string dir = ScratchFolder("file-exists-下载");
    std::string file = dir + "\\mvdown.exe";
    ASSERT_TRUE(WriteBytes(file, "x"));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir));
    EXPECT_FALSE(FileExists(dir + "\\missing.exe"));
    EXPECT_FALSE(FileExists(""));
    RemoveTree(dir);
}

// ---- File versions ----

TEST(FileVersionText, OfStandinsAndOtherFiles) {
    REQUIRE_STANDIN_DIR(standins);
    std::string dir = ScratchFolder("file-version-网络");
    std::string textFile = dir + "\\notes.exe";
    ASSERT_TRUE(WriteBytes(textFile, "MZ but not really a program"));
    std::string chinesePath = dir + "\\下载器.exe";
    ASSERT_TRUE(CopyFileW(ToWide(standins + "\\mvdown_1.6.5.2288.exe").c_str(),
                          ToWide(chinesePath).c_str(), FALSE));
    struct Case {
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {standins + "\\mvdown_1.6.5.2282.exe", "1.6.5.2282"},
        {standins + "\\mvdown_1.6.5.2288.exe", "1.6.5.2288"},
        {chinesePath, "1.6.5.2288"},
        {standins + "\\mvdown_noversion.exe", ""},
        {textFile, ""},
        {dir + "\\missing.exe", ""},
        {dir, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetFileVersionText(c.path), c.expected) << c.path;
    }
    RemoveTree(dir);
}

TEST(FileVersionText, EmptyPathMeansOwnExecutable) {
    // This test program carries no version resource.
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(GetFileVersionText(""), GetFileVersionText(ToUtf8(self)));
    EXPECT_EQ(GetFileVersionText(""), "");
}

// ---- Detection of the installed Downloader ----

// Installs stand-ins where the Downloader's installer would put them, and
// removes every trace afterwards.
class InstalledDownloader : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<std::string> dir = StandinDir();
        if (!dir) {
            GTEST_SKIP() << "KELTO2_STANDIN_DIR is not set: it names the folder of the "
                            "mvdown stand-ins (build/<dir>/bin)";
        }
        standins_ = *dir;
        company_ = CompanyFolder();
        if (DownloaderAlreadyInstalled()) {
            GTEST_SKIP() << "this prefix already has a Downloader installed";
        }
        scratch_ = ScratchFolder("registry-install");
    }
    void TearDown() override {
        if (company_.empty() || scratch_.empty()) {
            return;
        }
        RemoveTree(company_);
        RemoveTree(scratch_);
        DeleteKey(kProductName);
        DeleteKey(kOldProductName);
    }

    std::string ProductFolder(std::string_view product) {
        return company_ + "\\" + std::string(product);
    }
    // Copies the stand-in of this version ("noversion" for none) to folder.
    void Install(const std::string& folder, const std::string& variant) {
        ASSERT_TRUE(MakeFolders(folder));
        std::string from = standins_ + "\\mvdown_" + variant + ".exe";
        ASSERT_TRUE(CopyFileW(ToWide(from).c_str(), ToWide(folder + "\\mvdown.exe").c_str(), FALSE))
            << from;
    }

    std::string standins_;
    std::string company_;
    std::string scratch_;
};

TEST_F(InstalledDownloader, NothingInstalled) {
    EXPECT_EQ(GetInstalledVersion(), "0");
    EXPECT_EQ(GetInstalledDir(), "");
    EXPECT_FALSE(KeyExists(kProductName, kView32));
    EXPECT_FALSE(KeyExists(kOldProductName, kView32));
}

TEST_F(InstalledDownloader, PerUserFolderOfTheCurrentName) {
    std::string folder = ProductFolder(kProductName);
    Install(folder, "1.6.5.2288");
    EXPECT_EQ(GetInstallLocation(kProductName), folder);
    EXPECT_EQ(GetInstalledVersion(), "1.6.5.2288");
    EXPECT_EQ(GetInstalledDir(), folder + "\\");
    EXPECT_FALSE(KeyExists(kProductName, kView32)) << "found without touching the registry";
}

TEST_F(InstalledDownloader, OlderNameOnly) {
    std::string folder = ProductFolder(kOldProductName);
    Install(folder, "1.6.5.2282");
    EXPECT_EQ(GetInstalledVersion(), "1.6.5.2282");
    EXPECT_EQ(GetInstalledDir(), folder + "\\");
}

TEST_F(InstalledDownloader, CurrentNameWinsOverOlderName) {
    Install(ProductFolder(kProductName), "1.6.5.2282");
    Install(ProductFolder(kOldProductName), "1.6.5.2288");
    EXPECT_EQ(GetInstalledVersion(), "1.6.5.2282");
    EXPECT_EQ(GetInstalledDir(), ProductFolder(kProductName) + "\\");
}

TEST_F(InstalledDownloader, ExecutableWithoutVersionGivesEmptyText) {
    Install(ProductFolder(kProductName), "noversion");
    EXPECT_EQ(GetInstalledVersion(), "");
    EXPECT_EQ(GetInstalledDir(), ProductFolder(kProductName) + "\\");
}

TEST_F(InstalledDownloader, FolderWithoutExecutableIsNotAnInstall) {
    ASSERT_TRUE(MakeFolders(ProductFolder(kProductName) + "\\mvdown.exe"));  // a folder
    EXPECT_EQ(GetInstalledVersion(), "0");
    EXPECT_EQ(GetInstalledDir(), "");
}

TEST_F(InstalledDownloader, ThroughTheUninstallKey) {
    std::string folder = scratch_ + "\\Morvik 下载器";
    Install(folder, "1.6.5.2288");
    ASSERT_TRUE(SetInstallLocationText(kOldProductName, folder));
    EXPECT_EQ(GetInstallLocation(kOldProductName), folder);
    EXPECT_EQ(GetInstalledVersion(), "1.6.5.2288");
    EXPECT_EQ(GetInstalledDir(), folder + "\\");
}

TEST_F(InstalledDownloader, UninstallKeyPointingAtNothing) {
    ASSERT_TRUE(SetInstallLocationText(kProductName, scratch_ + "\\gone"));
    ASSERT_TRUE(SetInstallLocationText(kOldProductName, ""));
    EXPECT_EQ(GetInstalledVersion(), "0");
    EXPECT_EQ(GetInstalledDir(), "");
}

TEST_F(InstalledDownloader, BadUninstallValueRaises) {
    DWORD number = 1;
    ASSERT_TRUE(SetInstallLocation(kProductName, kView32, REG_DWORD, &number, sizeof(number)));
    EXPECT_THROW(GetInstalledVersion(), RegistryError);
    // A Downloader in the per-user folder is found before the registry is read.
    Install(ProductFolder(kProductName), "1.6.5.2288");
    EXPECT_EQ(GetInstalledVersion(), "1.6.5.2288");
}

}  // namespace
