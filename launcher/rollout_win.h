// This machine's place in a staged rollout.
#pragma once

#include <string_view>

namespace kelto {

// The bucket a machine is put in when its MachineGuid cannot be read: the
// last one, so that it gets a staged release only once it goes to every
// machine, and a share never reaches more machines than it says.
inline constexpr int kUnknownMachineBucket = 99;

// This machine's bucket (0..99) for latest: RolloutBucket of the SHA-256 of
// RolloutStatement(MachineGuid, latest), MachineGuid read from the 64-bit
// view of HKLM\SOFTWARE\Microsoft\Cryptography. kUnknownMachineBucket when
// that value is missing, is no string of 1 to 64 characters, or the hash
// fails; why goes to the debugger trace.
int MachineRolloutBucket(std::string_view latest);

}  // namespace kelto
