#include "launcher/single_install_win.h"

#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "toolkit/file_security_win.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"
#include "ui/progress_window_win.h"

namespace kelto {

namespace {

// Owned by the Administrators, whichever member made it; every right for
// SYSTEM and the Administrators, none for anybody else: no program without
// administrator rights can open the lock, so none can take it or keep it.
constexpr wchar_t kInstallLockSddl[] = L"O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr DWORD kLookEveryMs = 100;

LocalMemory<PSECURITY_DESCRIPTOR> InstallLockDescriptor() {
    LocalMemory<PSECURITY_DESCRIPTOR> sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kInstallLockSddl, SDDL_REVISION_1,
                                                              sd.Put(), nullptr)) {
        LogLastError("make the install lock's descriptor");
    }
    return sd;
}

// "Local\" names live in the session's own namespace, where every program
// of the session's user may make objects, without administrator rights
// too: one may have made the name first. CreateMutexEx then opens that
// object (ERROR_ALREADY_EXISTS) and leaves its descriptor as it is, so its
// owner decides: only an owner that no such program can give an object
// makes it a launcher's lock. Even a launcher's lock held for good costs a
// run no more than the bounded wait for a window.
bool IsLaunchersLock(HANDLE mutex) {
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    DWORD error = GetSecurityInfo(mutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, nullptr,
                                  nullptr, nullptr, nullptr, descriptor.Put());
    if (error != ERROR_SUCCESS) {
        TraceError("read the install lock's owner", error);
        return false;
    }
    return IsOwnedByAdministrators(descriptor.Get());
}

// A mutex belongs to a thread: it is this thread's once the wait succeeds,
// and when its holder ended without letting go, the wait gives it to this
// thread all the same (WAIT_ABANDONED).
InstallLockState TakeWithoutWaiting(HANDLE mutex) {
    switch (WaitForSingleObject(mutex, 0)) {
        case WAIT_OBJECT_0:
            TraceStep("install lock taken");
            return InstallLockState::kHeld;
        case WAIT_ABANDONED:
            TraceStep("install lock taken, left by a launcher that ended while installing");
            return InstallLockState::kHeld;
        case WAIT_TIMEOUT:
            TraceStep("another launcher of the session is installing");
            return InstallLockState::kHeldByAnother;
        default:
            LogLastError("take the install lock");
            return InstallLockState::kNone;
    }
}

// The first window of the progress window's class that another process
// made. FindWindowEx looks at this thread's desktop only, which belongs to
// a window station of this session alone.
HWND FindOtherProgressWindow() {
    std::wstring windowClass = ToWide(kProgressWindowClass);
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, windowClass.c_str(), nullptr)) != nullptr) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != GetCurrentProcessId()) {
            return window;
        }
    }
    return nullptr;
}

// The window, or the application window that owns it, when minimised:
// minimising the application's window hides the windows it owns.
HWND MinimisedOne(HWND window) {
    HWND owner = window ? GetWindow(window, GW_OWNER) : nullptr;
    if (owner && IsIconic(owner)) {
        return owner;
    }
    return window && IsIconic(window) ? window : nullptr;
}

// SetForegroundWindow succeeds only for a program that Windows lets set the
// foreground (the foreground one, one it started, the one that received
// the last input...): a launcher the user has just started usually is.
// Otherwise Windows flashes the window's taskbar button instead.
void BringToFront(HWND window) {
    if (SetForegroundWindow(window)) {
        TraceStep("the other launcher's window brought to the front");
    } else {
        TraceStep("Windows kept the foreground elsewhere: the other launcher's window flashes");
    }
}

}  // namespace

InstallLock TakeInstallLock(const wchar_t* name) {
    InstallLock lock;
    LocalMemory<PSECURITY_DESCRIPTOR> sd = InstallLockDescriptor();
    if (!sd.IsValid()) {
        return lock;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), sd.Get(), FALSE};
    // Not owned when made: the wait takes it, whoever made it. Access denied
    // or another kind of object under the name: not a launcher's either.
    lock.handle = MutexHandle(CreateMutexExW(&attributes, name, 0, SYNCHRONIZE | READ_CONTROL));
    if (!lock.handle.IsValid()) {
        LogLastError("open the install lock");
        return lock;
    }
    if (!IsLaunchersLock(lock.handle.Get())) {
        TraceStep("the install lock's name is another program's: installing without the lock");
        lock.handle.Close();
        return lock;
    }
    lock.state = TakeWithoutWaiting(lock.handle.Get());
    if (lock.state != InstallLockState::kHeld) {
        lock.handle.Close();
    }
    return lock;
}

bool BringOtherProgressWindowForward(uint32_t waitMs) {
    TraceStep("waiting for the other launcher's window");
    ULONGLONG deadline = GetTickCount64() + waitMs;
    bool restoring = false;
    for (;;) {
        HWND window = FindOtherProgressWindow();
        HWND minimised = MinimisedOne(window);
        if (minimised && !restoring) {
            // ShowWindowAsync: a window of another process answers when it
            // will, and this run waits for nobody unbounded.
            TraceStep("restoring the other launcher's minimised window");
            ShowWindowAsync(minimised, SW_RESTORE);
            restoring = true;
        } else if (!minimised && window && IsWindowVisible(window)) {
            BringToFront(window);
            return true;
        }
        if (GetTickCount64() >= deadline) {
            TraceStep("no window of the other launcher in time: installing all the same");
            return false;
        }
        Sleep(kLookEveryMs);
    }
}

}  // namespace kelto
