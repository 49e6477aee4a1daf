#include "toolkit/private_folder_win.h"

#include <windows.h>
#include <sddl.h>

#include <initializer_list>

#include <gtest/gtest.h>

#include "toolkit/file_win.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

// Wine keeps of a descriptor only what Unix permissions can say, and
// reports the owner in place of the Administrators.
bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string FolderDacl(const std::string& folder) {
    char descriptor[4096];
    DWORD size = 0;
    LocalMemory<wchar_t*> text;
    if (!GetFileSecurityW(ToWide(folder).c_str(), DACL_SECURITY_INFORMATION, descriptor,
                          sizeof(descriptor), &size) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.Put(), nullptr)) {
        return "unreadable";
    }
    return ToUtf8(text.Get());
}

TEST(PrivateFolder, OnlyAdministratorsAndSystem) {
    std::string parent = ScratchFolder("private-folder");
    PrivateFolder a = CreatePrivateFolder(parent, "kelto2-test-");
    PrivateFolder b = CreatePrivateFolder(parent + "\\", "kelto2-test-");
    ASSERT_FALSE(a.path.empty());
    EXPECT_NE(a.path, b.path);
    std::string dacl = FolderDacl(a.path);
    if (UnderWine()) {
        for (const char* others : {";;;WD)", ";;;BU)", ";;;AU)", ";;;IU)"}) {
            EXPECT_EQ(dacl.find(others), std::string::npos) << dacl;
        }
    } else {
        EXPECT_EQ(dacl, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    }
    EXPECT_FALSE(MoveFileW(ToWide(a.path).c_str(), ToWide(parent + "\\moved").c_str()))
        << "renamed while in use";
    ASSERT_TRUE(WriteBytes(a.path + "\\mvs1.tmp", ""));
    a.handle.Close();
    EXPECT_TRUE(RemoveFolderAndFiles(a.path));
    EXPECT_FALSE(PathExists(a.path));
    EXPECT_TRUE(CreatePrivateFolder(parent + "\\missing", "x").path.empty());
    b.handle.Close();
    RemoveTree(parent);
}

// Names come from the system's generator: nothing of the process, the
// time or an earlier name lets anybody make them beforehand.
TEST(PrivateFolder, NamesAreRandomAndHeldOnesStay) {
    const std::string prefix = "kelto2-test-";
    std::string parent = ScratchFolder("folder-names");
    PrivateFolder held = CreatePrivateFolder(parent, prefix);
    std::string previous = held.path;
    for (int i = 0; i < 8; ++i) {
        PrivateFolder ended = CreatePrivateFolder(parent, prefix);
        std::string name = ended.path.substr(ended.path.rfind('\\') + 1);
        ASSERT_EQ(name.size(), prefix.size() + 32) << name;
        // Two random names agree in about 2 of their 32 digits.
        int same = 0;
        for (size_t k = prefix.size(); k < name.size(); ++k) {
            same += name[k] == previous[previous.size() - name.size() + k] ? 1 : 0;
        }
        EXPECT_LT(same, 12) << name << " after " << previous;
        previous = ended.path;
    }
    ASSERT_TRUE(MakeFolders(parent + "\\" + prefix + "other"));
    RemoveAbandonedFolders(parent, prefix);
    EXPECT_TRUE(PathExists(held.path));
    EXPECT_FALSE(PathExists(previous));
    EXPECT_TRUE(PathExists(parent + "\\" + prefix + "other"));
    held.handle.Close();
    RemoveTree(parent);
}

TEST(RemoveFolderAndFiles, DeletesLinksNotWhatTheyLeadTo) {
    REQUIRE_LINK_DIR(links);
    const std::string doomed = links + "\\doomed";
    // A link is deleted itself where the platform can open it so; where
    // the open follows it (Unix links under Wine), it stays, and so does
    // the folder.
    bool removed = RemoveFolderAndFiles(doomed);
    EXPECT_EQ(removed, !PathExists(doomed));
    EXPECT_FALSE(PathExists(doomed + "\\plain"));
    EXPECT_FALSE(RemoveFolderAndFiles(links + "\\folder-symlink"));
    EXPECT_TRUE(PathExists(links + "\\folder"));
    EXPECT_TRUE(FileExists(links + "\\victim"));
}

}  // namespace
