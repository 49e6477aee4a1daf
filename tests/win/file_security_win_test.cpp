#include "toolkit/file_security_win.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include "toolkit/file_win.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

// The test's own token with the Administrators for denying only: a user
// who is no administrator, as the identification token AccessCheck takes.
TokenHandle NonAdministratorToken() {
    TokenHandle own, restricted, check;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(admins);
    SID_AND_ATTRIBUTES disabled{admins, 0};
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.Put()) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) &&
        CreateRestrictedToken(own.Get(), 0, 1, &disabled, 0, nullptr, 0, nullptr,
                              restricted.Put())) {
        (void)DuplicateToken(restricted.Get(), SecurityIdentification, check.Put());
    }
    return check;
}

TEST(OnlyAdministratorsMayChange, OwnerAndRightsOfTheProgramAndEveryFolderAbove) {
    TokenHandle user = NonAdministratorToken();
    std::wstring me = OwnUserSid();
    ASSERT_TRUE(user.IsValid());
    ASSERT_FALSE(me.empty());
    // Program Files and what the installer put there: the users read and run.
    const std::wstring adminFile = L"O:BAG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
    const std::wstring adminFolder =
        L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SYD:P"
        L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    // A system volume's root: any user may make a folder in it.
    const std::wstring root = L"O:SYG:SYD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x4;;;AU)";
    // Planted by the user, then locked: read-only for all, the owner's own
    // right to change the list withdrawn by an OWNER RIGHTS entry.
    const std::wstring lockedFile = L"O:" + me + L"G:SYD:P(A;;0x1200a9;;;WD)(A;;0x1200a9;;;OW)";
    const std::wstring lockedFolder =
        L"O:" + me + L"G:SYD:P(A;OICI;0x1200a9;;;WD)(A;OICI;0x1200a9;;;OW)";
    const std::wstring profileFolder = L"O:" + me + L"G:SYD:P(A;OICI;FA;;;" + me + L")";
    const std::wstring addFiles = L"O:BAG:SYD:P(A;;FA;;;BA)(A;;0x1200a9;;;BU)(A;;0x2;;;BU)";
    const struct {
        const char* name;
        std::vector<std::wstring> chain;
        bool onlyAdministrators;
    } cases[] = {
        {"Program Files", {adminFile, adminFolder, adminFolder, root}, true},
        {"planted and locked", {lockedFile, lockedFolder, profileFolder, adminFolder, root}, false},
        {"in a folder of the user", {adminFile, adminFolder, profileFolder, root}, false},
        {"files may be added beside it", {adminFile, addFiles, adminFolder, root}, false},
        {"files may be added further up", {adminFile, adminFolder, addFiles, root}, true},
        {"owned by a user, unchangeable",
         {adminFile, L"O:BUG:SY" + adminFolder.substr(adminFolder.find(L"D:")), root},
         false},
        {"nothing", {}, false},
    };
    for (const auto& c : cases) {
        std::vector<LocalMemory<PSECURITY_DESCRIPTOR>> owned(c.chain.size());
        std::vector<PSECURITY_DESCRIPTOR> chain;
        for (size_t i = 0; i < c.chain.size(); ++i) {
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
                c.chain[i].c_str(), SDDL_REVISION_1, owned[i].Put(), nullptr))
                << c.name << " " << i;
            chain.push_back(owned[i].Get());
        }
        EXPECT_EQ(OnlyAdministratorsMayChange(user.Get(), chain), c.onlyAdministrators) << c.name;
    }
}

// While held, no folder on the way can be renamed away, and the program is
// named by its final path; links are not held.
TEST(HoldProgram, PinsTheProgramAndItsFolders) {
    std::string scratch = ScratchFolder("hold-program");
    const std::string exe = scratch + "\\产品 a\\b\\mvdown.exe";
    ASSERT_TRUE(MakeFolders(scratch + "\\产品 a\\b"));
    ASSERT_TRUE(WriteBytes(exe, "MZ"));
    {
        HeldProgram held = HoldProgram(exe);
        ASSERT_FALSE(held.path.empty());
        EXPECT_TRUE(SamePath(held.path, exe)) << held.path;
        EXPECT_GE(held.chain.size(), 4u);
        EXPECT_FALSE(MoveFileW(WidePath(scratch + "\\产品 a").c_str(),
                               WidePath(scratch + "\\moved").c_str()));
        EXPECT_FALSE(DeleteFileW(WidePath(exe).c_str()));
    }
    TokenHandle user = NonAdministratorToken();
    EXPECT_TRUE(HoldProgram(exe, user.Get()).path.empty()) << "the user's own file";
    EXPECT_TRUE(
        MoveFileW(WidePath(scratch + "\\产品 a").c_str(), WidePath(scratch + "\\moved").c_str()));
    EXPECT_TRUE(HoldProgram(exe).path.empty()) << "gone";
    if (std::optional<std::string> links = EnvVar(L"KELTO2_LINK_DIR")) {
        EXPECT_TRUE(HoldProgram(*links + "\\symlink").path.empty());
        EXPECT_TRUE(HoldProgram(*links + "\\hardlink").path.empty());
    }
    RemoveTree(scratch);
}

}  // namespace
