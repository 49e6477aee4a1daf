// One install at a time in a session: a user who saw nothing happen starts
// the launcher again, and the second run shows the first one's window
// instead of downloading and running the Setup package once more.
#pragma once

#include <windows.h>

#include <cstdint>

#include "toolkit/handles_win.h"

namespace kelto {

// The lock's name in the session's own namespace.
inline constexpr wchar_t kInstallLockName[] = L"Local\\Morvik.Kelto2.Install";
// How long a second run waits for the installing run's window to appear.
inline constexpr uint32_t kOtherWindowWaitMs = 5000;

enum class InstallLockState {
    kHeld,           // this thread holds it: no other launcher of the session installs
    kHeldByAnother,  // another launcher of the session holds it: that one installs
    kNone,           // none to be had (traced): the run installs without one
};

struct InstallLock {
    InstallLockState state = InstallLockState::kNone;
    MutexHandle handle;  // held while kHeld; the system lets go of it when the thread ends
};

// Takes the mutex of that name (made if missing, open to SYSTEM and the
// Administrators only, owned by the Administrators) without waiting. One
// that a launcher left when it ended is taken. One whose owner is no
// administrator is not a launcher's, whoever holds it: kNone.
[[nodiscard]] InstallLock TakeInstallLock(const wchar_t* name);

// Waits up to waitMs, looking every 100 ms, for the progress window of
// another launcher on this desktop to be shown (a minimised one is
// restored), then asks Windows to bring it to the front. False when none
// was shown in time.
bool BringOtherProgressWindowForward(uint32_t waitMs);

}  // namespace kelto
