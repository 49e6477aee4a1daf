#include "launcher/single_install_win.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "toolkit/file_security_win.h"
#include "win_test_support.h"

using namespace kelto;

namespace {

// A name of the test's own: a launcher at work beside it is left alone.
std::wstring LockName(const wchar_t* which) {
    return std::wstring(L"Local\\Kelto2Test.") + which + L"." +
           std::to_wstring(GetCurrentProcessId());
}

// A mutex belongs to a thread: a second launcher is another thread here.
// keep, when given, receives that thread's handle, so that the object
// outlives the thread.
InstallLockState TakeOnAnotherThread(const std::wstring& name, MutexHandle* keep = nullptr) {
    InstallLockState state = InstallLockState::kNone;
    std::thread([&] {
        InstallLock lock = TakeInstallLock(name.c_str());
        state = lock.state;
        if (keep) {
            *keep = std::move(lock.handle);
        }
    }).join();
    return state;
}

TEST(InstallLock, HeldByOneThreadAnotherFindsItHeld) {
    std::wstring name = LockName(L"held");
    InstallLock first = TakeInstallLock(name.c_str());
    ASSERT_EQ(first.state, InstallLockState::kHeld);
    EXPECT_EQ(TakeOnAnotherThread(name), InstallLockState::kHeldByAnother);
    first.handle.Close();
    EXPECT_EQ(TakeOnAnotherThread(name), InstallLockState::kHeld) << "gone with its last handle";
}

TEST(InstallLock, OneLeftByAThreadThatEndedIsTaken) {
    std::wstring name = LockName(L"abandoned");
    MutexHandle left;
    ASSERT_EQ(TakeOnAnotherThread(name, &left), InstallLockState::kHeld);
    EXPECT_EQ(TakeInstallLock(name.c_str()).state, InstallLockState::kHeld);
}

// Made first and held by a program of the user without administrator
// rights: its owner is the user, whatever its list says.
TEST(InstallLock, OneMadeByAUserWhoIsNoAdministratorIsNotALaunchers) {
    std::wstring me = OwnUserSid();
    ASSERT_FALSE(me.empty());
    for (const wchar_t* list : {L"D:(A;;GA;;;WD)", L"D:(D;;GA;;;WD)"}) {
        std::wstring name = LockName(L"squatted");
        LocalMemory<PSECURITY_DESCRIPTOR> sd;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
            (L"O:" + me + list).c_str(), SDDL_REVISION_1, sd.Put(), nullptr));
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), sd.Get(), FALSE};
        MutexHandle squatter(CreateMutexW(&attributes, TRUE, name.c_str()));
        ASSERT_TRUE(squatter.IsValid()) << GetLastError();
        LocalMemory<PSECURITY_DESCRIPTOR> made;
        ASSERT_EQ(GetSecurityInfo(squatter.Get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, made.Put()),
                  ERROR_SUCCESS);
        ASSERT_FALSE(IsOwnedByAdministrators(made.Get())) << "the user's owner did not hold";
        EXPECT_EQ(TakeOnAnotherThread(name), InstallLockState::kNone) << list;
    }
}

}  // namespace
