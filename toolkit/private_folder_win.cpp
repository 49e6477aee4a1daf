#include "toolkit/private_folder_win.h"

#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include <vector>

#include "toolkit/file_win.h"
#include "toolkit/path.h"
#include "toolkit/text_win.h"
#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// Owned by the Administrators, whichever member made it; full access for
// SYSTEM and the Administrators, passed on to everything made inside. "P"
// keeps the parent's entries out: those that let users add files to the
// temporary folder must not flow in.
constexpr wchar_t kPrivateFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// With 128 random bits a taken name means someone else is at work in the
// parent; a few more names are tried, then the folder is given up.
constexpr uint32_t kPrivateFolderTries = 4;
constexpr NTSTATUS kObjectNameCollision = static_cast<NTSTATUS>(0xC0000035);

// The final path of a folder as given, links on the way followed.
std::string FolderFinalPath(const std::string& folder) {
    FileHandle handle(CreateFileW(WidePath(folder).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.IsValid()) {
        DWORD error = GetLastError();
        TraceError("open folder " + folder, error);
        return {};
    }
    return FinalPath(handle.Get());
}

bool IsGone(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The names of the files (not folders) directly in the folder that folder
// holds, read through that handle.
std::vector<std::wstring> FileNamesIn(HANDLE folder) {
    std::vector<std::wstring> names;
    alignas(LONGLONG) uint8_t buffer[16 * 1024];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, buffer, sizeof(buffer))) {
        kind = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            // Subfolders are not ours to make, so not ours to empty either.
            if (!(entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.emplace_back(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        LogLastError("list a folder");
    }
    return names;
}

// Deletes the file name in the folder that folder holds (whose final path
// is folderPath), opened relative to that handle: a link is deleted
// itself, never what it leads to, and one that the open follows all the
// same (Unix links under Wine) stays. What another program holds without
// delete sharing stays.
bool DeleteFileIn(HANDLE folder, const std::string& folderPath, std::wstring name) {
    USHORT bytes = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    UNICODE_STRING relative{bytes, bytes, name.data()};
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &relative, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    FileHandle file;
    NTSTATUS status = NtCreateFile(
        file.Put(), DELETE | SYNCHRONIZE, &object, &io, nullptr, 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
        FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr,
        0);
    if (!NT_SUCCESS(status)) {
        TraceStatus("open " + ToUtf8(name) + " to delete it", status);
        return false;
    }
    std::string path = JoinPath(folderPath, ToUtf8(name));
    if (!SamePath(path, FinalPath(file.Get()))) {
        TraceStep("refused " + path + ": reached through a link");
        return false;
    }
    if (!MarkForDeletion(file.Get())) {
        LogLastError("delete a file");
        return false;
    }
    return true;
}

// Held without delete sharing, nobody can rename the folder away and put a
// link in its place: its files are found and deleted through this handle
// (RemoveHeldFolder), never through the folder's name.
FileHandle OpenFolderToRemove(const std::string& folder) {
    return OpenUnredirected(folder, DELETE | FILE_LIST_DIRECTORY | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FileKind::kFolder);
}

// Deletes the files directly in the folder that held holds, then marks the
// folder itself.
bool RemoveHeldFolder(HANDLE held, const std::string& folder) {
    std::string folderPath = FinalPath(held);
    for (const std::wstring& name : FileNamesIn(held)) {
        DeleteFileIn(held, folderPath, name);
    }
    if (!MarkForDeletion(held)) {
        DWORD error = GetLastError();
        TraceError("remove folder " + folder, error);
        return false;
    }
    return true;
}

// The descriptor that kPrivateFolderSddl says; invalid when it cannot be
// made.
LocalMemory<PSECURITY_DESCRIPTOR> PrivateFolderDescriptor() {
    LocalMemory<PSECURITY_DESCRIPTOR> sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPrivateFolderSddl, SDDL_REVISION_1,
                                                              sd.Put(), nullptr)) {
        LogLastError("make the private folder's descriptor");
    }
    return sd;
}

// A folder name of prefix and random digits drawn from the system's
// generator; "" when it draws none.
std::string DrawFolderName(const std::string& prefix) {
    uint8_t random[kFolderRandomBytes];
    NTSTATUS status =
        BCryptGenRandom(nullptr, random, sizeof(random), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (!BCRYPT_SUCCESS(status)) {
        TraceStatus("draw a folder name", status);
        return {};
    }
    return RandomFolderName(prefix, random);
}

// Makes the folder at path with descriptor sd and opens it into handle, in
// one call: whoever may delete in the parent could otherwise put a folder
// of their own in its place between the two. FILE_CREATE never opens what
// is there already (kObjectNameCollision).
NTSTATUS CreateHeldFolder(const std::string& path, PSECURITY_DESCRIPTOR sd, FileHandle& handle) {
    std::wstring native = ToWide(NtPathFor(path));
    USHORT bytes = static_cast<USHORT>(native.size() * sizeof(wchar_t));
    UNICODE_STRING name{bytes, bytes, native.data()};
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &name, OBJ_CASE_INSENSITIVE, nullptr, sd);
    IO_STATUS_BLOCK io{};
    return NtCreateFile(
        handle.Put(), FILE_LIST_DIRECTORY | SYNCHRONIZE, &object, &io, nullptr,
        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE,
        FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

// True when the volume of the folder held keeps access control lists (not
// FAT, exFAT).
bool KeepsAccessControlLists(HANDLE folder) {
    DWORD volumeFlags = 0;
    return GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, &volumeFlags,
                                         nullptr, 0) &&
           (volumeFlags & FILE_PERSISTENT_ACLS);
}

}  // namespace

PrivateFolder CreatePrivateFolder(const std::string& parent, const std::string& prefix) {
    PrivateFolder folder;
    std::string base = parent.empty() ? std::string() : FolderFinalPath(parent);
    if (base.empty()) {
        return folder;
    }
    LocalMemory<PSECURITY_DESCRIPTOR> sd = PrivateFolderDescriptor();
    if (!sd.IsValid()) {
        return folder;
    }
    for (uint32_t i = 0; i < kPrivateFolderTries; ++i) {
        std::string name = DrawFolderName(prefix);
        if (name.empty()) {
            return folder;
        }
        std::string path = JoinPath(base, name);
        NTSTATUS status = CreateHeldFolder(path, sd.Get(), folder.handle);
        if (status == kObjectNameCollision) {
            continue;
        }
        if (!NT_SUCCESS(status)) {
            TraceStatus("create folder " + path, status);
            return folder;  // no such parent, no right to it: no name helps
        }
        // What is held is the folder made here; it is checked all the same.
        if (const char* refusal = LinkRefusal(folder.handle.Get(), path, FileKind::kFolder)) {
            TraceStep("refused " + path + ": " + refusal);
            folder.handle.Close();
            return folder;
        }
        if (!KeepsAccessControlLists(folder.handle.Get())) {
            TraceStep("no access control lists on the volume of " + path);
            folder.handle.Close();
            RemoveDirectoryW(WidePath(path).c_str());
            return folder;
        }
        folder.path = path;  // its final path: the check compared them
        return folder;
    }
    return folder;
}

void RemoveAbandonedFolders(const std::string& parent, const std::string& prefix) {
    std::string base = parent.empty() ? std::string() : FolderFinalPath(parent);
    if (base.empty()) {
        return;
    }
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW(WidePath(JoinPath(base, prefix + "*")).c_str(),
                                     FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0));
    if (!find.IsValid()) {
        return;
    }
    do {
        std::string name = ToUtf8(entry.cFileName);
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !IsRunFolderName(name, prefix)) {
            continue;
        }
        // A run holds its folder without delete sharing, so asking for
        // delete access fails while it runs. No run takes up a folder it
        // did not make, so one found unused stays so.
        std::string path = JoinPath(base, name);
        FileHandle held = OpenFolderToRemove(path);
        if (held.IsValid()) {
            TraceStep("remove abandoned folder " + path);
            RemoveHeldFolder(held.Get(), path);
        }
    } while (FindNextFileW(find.Get(), &entry));
}

bool RemoveFolderAndFiles(const std::string& folder) {
    if (folder.empty()) {
        return false;  // would name the current drive's root
    }
    FileHandle held = OpenFolderToRemove(folder);
    if (!held.IsValid()) {
        DWORD error = GetLastError();
        if (IsGone(WidePath(folder))) {
            return true;
        }
        TraceError("open folder " + folder + " to remove it", error);
        return false;
    }
    return RemoveHeldFolder(held.Get(), folder);
}

}  // namespace kelto
