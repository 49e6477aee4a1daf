// Throughput and peak memory of HttpGet, against the canned test server.
//
//   http_proxy=http://127.0.0.1:PORT KELTO2_TEST_URL=http://dl.test.example
//   wine kelto2_http_bench.exe
//   wine kelto2_http_bench.exe pause   (only what Sleep(10) lasts here)
//
// (a) a 4 MiB body with the production pause, after a first request: the
//     share of the time that the prescribed pauses take, (reads that
//     delivered data x what Sleep(10) really lasts here) / total time
//     (target >= 0.95);
// (b) the private memory that a 64 MiB body with a Content-Length costs,
//     as a ratio to the body (target <= 1.25);
// (c) the same 64 MiB through DownloadToFile, which streams to disk: the
//     private memory it costs beyond the baseline.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "toolkit/text_win.h"
#include "transfer/http_win.h"

using namespace kelto;

namespace {

constexpr size_t kThroughputBody = 4u << 20;
constexpr size_t kMemoryBody = 64u << 20;

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

PROCESS_MEMORY_COUNTERS_EX MemoryCounters() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters;
}

// Committed private memory, counted region by region. Wine leaves
// PrivateUsage at 0 and does not track PeakPagefileUsage, so this is the
// figure that means something there; on Windows it matches PrivateUsage.
SIZE_T CommittedPrivateBytes() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* address = nullptr;
    while (VirtualQuery(address, &info, sizeof(info)) == sizeof(info)) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) {
            total += info.RegionSize;
        }
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= address) {
            break;
        }
        address = next;
    }
    return total;
}

// The highest private commit seen between pieces of the transfer; sampled
// every 64 pieces (about 1 MiB) and at the end.
SIZE_T g_peakPrivateSeen = 0;
int g_pieces = 0;
void SamplePrivate() {
    SIZE_T now = CommittedPrivateBytes();
    if (now > g_peakPrivateSeen) {
        g_peakPrivateSeen = now;
    }
}
bool SamplePrivateUsage(int32_t, int32_t, uint32_t) {
    if (++g_pieces % 64 == 0) {
        SamplePrivate();
    }
    return true;
}

void NoPause(DWORD) {}

int g_reads = 0;
bool CountRead(int32_t, int32_t, uint32_t) {
    ++g_reads;
    return true;
}

// What one Sleep(10) lasts on this machine, averaged over a few hundred.
double MeasuredPauseSeconds() {
    constexpr int kSamples = 200;
    double start = Seconds();
    for (int i = 0; i < kSamples; ++i) {
        Sleep(kReadPauseMs);
    }
    return (Seconds() - start) / kSamples;
}

double MiB(double bytes) {
    return bytes / (1024.0 * 1024.0);
}

int Throughput(const std::string& base) {
    std::string url = base + "/canned/ok?size=" + std::to_string(kThroughputBody);
    double pause = MeasuredPauseSeconds();
    // The process's first request loads WinInet and, over https, the TLS
    // provider and the trusted roots: paid once per run, so timed apart.
    MemorySink first;
    double start = Seconds();
    int32_t firstStatus = HttpGet(base + "/canned/ok?size=1", first, "", nullptr, nullptr).status;
    std::printf("    first request of the process (1 byte): %.3f s, status %d\n", Seconds() - start,
                firstStatus);
    MemorySink sink;
    g_reads = 0;
    start = Seconds();
    int32_t status = HttpGet(url, sink, "", nullptr, &CountRead).status;
    double elapsed = Seconds() - start;
    if (status != kHttpOk || sink.Bytes().size() != kThroughputBody) {
        std::printf("(a) failed: status %d, %zu bytes\n", status, sink.Bytes().size());
        return 1;
    }
    double paused = g_reads * pause;
    std::printf(
        "(a) HttpGet of %.0f MiB: %.3f s, %.3f MB/s; %d reads delivered data; Sleep(%u) "
        "lasts %.3f ms here, so the pauses take %.3f s; beyond them %.3f s; "
        "ratio pauses / total %.3f (target >= 0.95)\n",
        MiB(kThroughputBody), elapsed, kThroughputBody / elapsed / 1e6, g_reads, kReadPauseMs,
        pause * 1000, paused, elapsed - paused, paused / elapsed);

    HttpPauseFunction previous = SetHttpPauseForTesting(&NoPause);
    MemorySink unpaused;
    start = Seconds();
    status = HttpGet(url, unpaused, "", nullptr, nullptr).status;
    elapsed = Seconds() - start;
    SetHttpPauseForTesting(previous);
    std::printf("    same without the pause (transport alone): %.3f s, %.3f MB/s, status %d\n",
                elapsed, static_cast<double>(kThroughputBody) / elapsed / 1e6, status);
    return 0;
}

int Memory(const std::string& base) {
    std::string url = base + "/canned/ok?size=" + std::to_string(kMemoryBody);
    // The pause bounds speed, not memory: leave it out so that the 64 MiB
    // run takes seconds rather than most of a minute.
    HttpPauseFunction previous = SetHttpPauseForTesting(&NoPause);
    PROCESS_MEMORY_COUNTERS_EX before = MemoryCounters();
    SIZE_T baseline = CommittedPrivateBytes();
    int32_t status;
    size_t bodySize;
    {
        MemorySink sink;
        g_peakPrivateSeen = baseline;
        status = HttpGet(url, sink, "", nullptr, &SamplePrivateUsage).status;
        SamplePrivate();
        bodySize = sink.Bytes().size();
    }
    PROCESS_MEMORY_COUNTERS_EX after = MemoryCounters();
    SetHttpPauseForTesting(previous);
    if (status != kHttpOk || bodySize != kMemoryBody) {
        std::printf("(b) failed: status %d, %zu bytes\n", status, bodySize);
        return 1;
    }
    double body = static_cast<double>(kMemoryBody);
    double sampledDelta = static_cast<double>(g_peakPrivateSeen - baseline);
    double peakDelta =
        static_cast<double>(after.PeakPagefileUsage) - static_cast<double>(before.PrivateUsage);
    std::printf("(b) HttpGet of %.0f MiB with Content-Length:\n", MiB(body));
    std::printf(
        "    committed private memory (VirtualQuery): baseline %.2f MiB, peak %.2f MiB, "
        "delta %.2f MiB, ratio to body %.3f (target <= 1.25); after the call %.2f MiB\n",
        MiB(baseline), MiB(g_peakPrivateSeen), MiB(sampledDelta), sampledDelta / body,
        MiB(CommittedPrivateBytes()));
    std::printf(
        "    GetProcessMemoryInfo: PrivateUsage before %.2f MiB, after %.2f MiB; "
        "PeakPagefileUsage before %.2f MiB, after %.2f MiB, delta over baseline "
        "PrivateUsage %.2f MiB, ratio %.3f\n",
        MiB(before.PrivateUsage), MiB(after.PrivateUsage), MiB(before.PeakPagefileUsage),
        MiB(after.PeakPagefileUsage), MiB(peakDelta), peakDelta / body);
    std::printf("    PeakWorkingSetSize before %.2f MiB, after %.2f MiB\n",
                MiB(before.PeakWorkingSetSize), MiB(after.PeakWorkingSetSize));
    return 0;
}

int StreamingMemory(const std::string& base) {
    std::string url = base + "/canned/ok?size=" + std::to_string(kMemoryBody);
    wchar_t folder[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, folder);
    std::string path = ToUtf8(folder) + "kelto2-bench.bin";
    HttpPauseFunction previous = SetHttpPauseForTesting(&NoPause);
    SIZE_T baseline = CommittedPrivateBytes();
    g_peakPrivateSeen = baseline;
    g_pieces = 0;
    int32_t status = DownloadToFile(url, path, "", nullptr, &SamplePrivateUsage).status;
    SamplePrivate();
    SetHttpPauseForTesting(previous);
    DeleteFileW(ToWide(path).c_str());
    if (status != kHttpOk) {
        std::printf("(c) failed: status %d\n", status);
        return 1;
    }
    std::printf(
        "(c) DownloadToFile of %.0f MiB: committed private memory baseline %.2f MiB, peak "
        "%.2f MiB, delta %.2f MiB\n",
        MiB(kMemoryBody), MiB(baseline), MiB(g_peakPrivateSeen),
        MiB(static_cast<double>(g_peakPrivateSeen - baseline)));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && std::wstring(argv[1]) == L"pause") {
        std::printf("Sleep(%u) lasts %.3f ms\n", kReadPauseMs, MeasuredPauseSeconds() * 1000);
        return 0;
    }
    wchar_t buffer[2048];
    DWORD len = GetEnvironmentVariableW(L"KELTO2_TEST_URL", buffer, 2048);
    if (len == 0 || len >= 2048) {
        std::printf(
            "KELTO2_TEST_URL is not set: point it (and http_proxy) at the canned "
            "test server\n");
        return 2;
    }
    std::string base = ToUtf8(std::wstring_view(buffer, len));
    int failed = Throughput(base);
    failed |= Memory(base);
    failed |= StreamingMemory(base);
    return failed;
}
