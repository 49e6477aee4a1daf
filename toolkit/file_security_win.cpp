#include "toolkit/file_security_win.h"

#include <aclapi.h>
#include <sddl.h>

#include "toolkit/file_win.h"
#include "toolkit/path.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// Write and append are adding a file and a folder when the object is one.
// A folder further up may let users add entries (a system volume's root
// gives Authenticated Users the right to create folders by default): a new
// name there cannot take the place of one held on the way.
constexpr DWORD kProgramChangeRights =
    FILE_WRITE_DATA | FILE_APPEND_DATA | DELETE | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kFolderAboveChangeRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER;
constexpr DWORD kItsFolderChangeRights =
    kFolderAboveChangeRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;

// NT SERVICE\TrustedInstaller, owner of the system's own folders.
constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// What a descriptor of the chain belongs to.
enum class ChainPart { kProgram, kItsFolder, kFolderAbove };

DWORD ChangeRights(ChainPart part) {
    switch (part) {
        case ChainPart::kProgram:
            return kProgramChangeRights;
        case ChainPart::kItsFolder:
            return kItsFolderChangeRights;
        case ChainPart::kFolderAbove:
            break;
    }
    return kFolderAboveChangeRights;
}

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) {
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(known);
    return CreateWellKnownSid(type, nullptr, known, &size) && EqualSid(sid, known);
}

bool IsTrustedInstaller(PSID sid) {
    LocalMemory<PSID> trustedInstaller;
    return ConvertStringSidToSidW(kTrustedInstallerSid, trustedInstaller.Put()) &&
           EqualSid(sid, trustedInstaller.Get());
}

}  // namespace

// Whoever owns an object may have written it. An OWNER RIGHTS entry
// (S-1-3-4) replaces the owner's implicit right to change the access list,
// so an owner can lock a planted file against itself and pass any access
// check: an owner who is no administrator is never trusted.
bool IsOwnedByAdministrators(PSECURITY_DESCRIPTOR descriptor) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr) {
        return false;
    }
    return IsWellKnown(owner, WinLocalSystemSid) ||
           IsWellKnown(owner, WinBuiltinAdministratorsSid) || IsTrustedInstaller(owner);
}

namespace {

bool GrantsChange(HANDLE token, PSECURITY_DESCRIPTOR descriptor, ChainPart part) {
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping, &privileges, &privilegesSize,
                     &granted, &allowed)) {
        LogLastError("check the user's access");
        return true;
    }
    return allowed && (granted & ChangeRights(part)) != 0;
}

// Sharing is enforced only between handles that may touch data (read,
// write, append, execute or delete access): one holding no more than the
// security and the attributes keeps nobody out (so Wine does as well). Hence the listing here and
// the read of the program, and no delete sharing, so that it stays where it is.
FileHandle HoldFolder(const std::string& folder) {
    return OpenUnredirected(folder, FILE_LIST_DIRECTORY | READ_CONTROL,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FileKind::kFolder);
}

bool IsVolumeRoot(const std::string& folder) {
    return FolderOf(folder) == folder;
}

// The rule for the descriptor of the part at index of a chain: 0 the
// program, 1 its folder, then the folders above.
bool OnlyAdministratorsMayChangePart(HANDLE token, PSECURITY_DESCRIPTOR descriptor, size_t index) {
    ChainPart part = index == 0 ? ChainPart::kProgram
                                : (index == 1 ? ChainPart::kItsFolder : ChainPart::kFolderAbove);
    return IsOwnedByAdministrators(descriptor) && !GrantsChange(token, descriptor, part);
}

// The same for the part a handle holds, its descriptor read through it.
bool HeldPartPasses(HANDLE token, HANDLE held, size_t index) {
    constexpr SECURITY_INFORMATION kParts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    DWORD error = GetSecurityInfo(held, SE_FILE_OBJECT, kParts, nullptr, nullptr, nullptr, nullptr,
                                  descriptor.Put());
    if (error != ERROR_SUCCESS) {
        TraceError("read the security", error);
        return false;
    }
    return OnlyAdministratorsMayChangePart(token, descriptor.Get(), index);
}

}  // namespace

bool OnlyAdministratorsMayChange(HANDLE token, const std::vector<PSECURITY_DESCRIPTOR>& chain) {
    for (size_t i = 0; i < chain.size(); ++i) {
        if (!OnlyAdministratorsMayChangePart(token, chain[i], i)) {
            return false;
        }
    }
    return !chain.empty();
}

HeldProgram HoldProgram(const std::string& path, HANDLE token) {
    if (WithoutLongPrefix(path).rfind("\\\\", 0) == 0) {
        TraceStep("not held, on a network share: " + path);
        return {};
    }
    // No write sharing either: a handle opened for writing before the
    // access list was locked would still write.
    FileHandle handle =
        OpenUnredirected(path, FILE_READ_DATA | READ_CONTROL, FILE_SHARE_READ, OPEN_EXISTING);
    if (!handle.IsValid()) {
        TraceError("hold " + path, GetLastError());
        return {};
    }
    // The program's own part first: most programs that fail, fail there.
    if (token != nullptr && !HeldPartPasses(token, handle.Get(), 0)) {
        TraceStep("others may change " + path);
        return {};
    }
    const std::string finalPath = WithoutLongPrefix(FinalPath(handle.Get()));
    HeldProgram held;
    for (std::string name = finalPath;;) {
        if (token != nullptr && !held.chain.empty() &&
            !HeldPartPasses(token, handle.Get(), held.chain.size())) {
            TraceStep("others may change " + name);
            return {};
        }
        held.chain.push_back(std::move(handle));
        if (IsVolumeRoot(name)) {
            break;
        }
        name = FolderOf(name);
        handle = name.empty() ? FileHandle() : HoldFolder(name);
        if (!handle.IsValid()) {
            TraceError("hold the folders above " + path, GetLastError());
            return {};
        }
    }
    // Taken from the program up: a folder moved away before it was held
    // took the program along, and its final path tells.
    if (!SamePath(FinalPath(held.chain.front().Get()), finalPath)) {
        TraceStep("not held, moved: " + path);
        return {};
    }
    held.path = finalPath;
    return held;
}

}  // namespace kelto
