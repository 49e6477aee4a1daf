#include "toolkit/process_tree_win.h"

#include <tlhelp32.h>

#include <algorithm>

#include "toolkit/trace_win.h"

namespace kelto {

namespace {

// A snapshot of all processes costs more than a job's count: looked at
// less often.
constexpr DWORD kPollMs = 50;

// 0 when it cannot be read: no process of the tree is then older.
uint64_t CreationTime(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        LogLastError("read the creation time of a process");
        return 0;
    }
    return (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

DWORD Remaining(DWORD start, DWORD waitMs) {
    DWORD elapsed = GetTickCount() - start;
    return elapsed >= waitMs ? 0 : waitMs - elapsed;
}

}  // namespace

ProcessTree::ProcessTree(HANDLE root) : root_(root) {
    followed_.push_back({GetProcessId(root), 0, CreationTime(root)});
}

DWORD ProcessTree::WaitForRoot(DWORD start, DWORD waitMs) {
    for (;;) {
        FollowNew();
        DWORD left = Remaining(start, waitMs);
        DWORD wait = WaitForSingleObject(root_, std::min(kPollMs, left));
        if (wait != WAIT_TIMEOUT || left == 0) {
            return wait;
        }
    }
}

bool ProcessTree::WaitForAll(DWORD start, DWORD waitMs) {
    for (;;) {
        // Ended first, then looked at: what a process started before its
        // end is in the snapshot taken after it.
        bool ended = AllEnded();
        if (!FollowNew() && ended) {
            return true;
        }
        DWORD left = Remaining(start, waitMs);
        if (left == 0) {
            return false;
        }
        Sleep(std::min(kPollMs, left));
    }
}

// Opens and follows what the followed processes started since the last
// look; true when it found some or could not look.
bool ProcessTree::FollowNew() {
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) {
        LogLastError("take a snapshot of the processes");
        return true;
    }
    std::vector<ProcessRecord> found;
    std::vector<ProcessHandle> opened;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        if (!MayFollow(followed_, entry.th32ProcessID, entry.th32ParentProcessID)) {
            continue;
        }
        ProcessHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                          entry.th32ProcessID));
        if (!process.IsValid()) {
            LogLastError("open a process that it started");
            continue;
        }
        found.push_back(
            {entry.th32ProcessID, entry.th32ParentProcessID, CreationTime(process.Get())});
        opened.push_back(std::move(process));
    }
    std::vector<ProcessRecord> next = ProcessesToFollow(followed_, found);
    for (const ProcessRecord& record : next) {
        size_t i = std::find_if(found.begin(), found.end(),
                                [&](const ProcessRecord& r) { return r.id == record.id; }) -
                   found.begin();
        followed_.push_back(record);
        held_.push_back(std::move(opened[i]));
    }
    return !next.empty();
}

bool ProcessTree::AllEnded() const {
    auto ended = [](HANDLE process) { return WaitForSingleObject(process, 0) != WAIT_TIMEOUT; };
    return ended(root_) && std::all_of(held_.begin(), held_.end(),
                                       [&](const ProcessHandle& h) { return ended(h.Get()); });
}

}  // namespace kelto
