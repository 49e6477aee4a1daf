// One HTTP GET of one absolute URL, into memory or into a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Called after every received piece; return false to stop the transfer.
// contentLength is 0 when the response announced none. startTick is the
// GetTickCount() taken right after the URL was opened.
using ProgressCallback = bool (*)(int32_t contentLength, int32_t received, uint32_t startTick);

// Where the bytes of a response go.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // A hint from the announced length, already bounded; may be ignored.
    virtual void Reserve(size_t bytes) {}
    [[nodiscard]] virtual bool Append(const uint8_t* data, size_t size) = 0;
};

class MemorySink final : public ByteSink {
public:
    void Reserve(size_t bytes) override { bytes_.reserve(bytes); }
    [[nodiscard]] bool Append(const uint8_t* data, size_t size) override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Status 200 and only 200 is success; 0 means no (complete) response.
inline constexpr int32_t kHttpOk = 200;
inline constexpr int32_t kHttpNoResponse = 0;

inline constexpr size_t kReadChunk = 16184;
inline constexpr uint32_t kReadPauseMs = 10;
// The announced Content-Length is only a hint; never reserve more than this.
inline constexpr size_t kMaxReserve = 64u << 20;

// Reads the decimal number a header carries; 0 when absent or not a number.
int32_t ParseHeaderNumber(const std::string& text);

// What to reserve for an announced length.
size_t ReserveHint(int32_t contentLength);

// A transfer that stopped on a read error, or delivered fewer bytes than it
// announced, is broken: its status must not read as success.
bool TransferIsComplete(bool readFailed, int32_t contentLength, int64_t received);

// Splits the raw header block at CR LF, dropping the empty tail.
std::vector<std::string> SplitHeaderLines(const std::string& raw);

// --- Windows (http_win.cpp) ---

// GET url into sink; returns the HTTP status (0: no response, or broken).
int32_t HttpGet(const std::string& url, ByteSink& sink, const std::string& agent,
                std::vector<std::string>* headers, ProgressCallback callback);

// GET url and, at status 200 with the whole body received, replace the file
// at path with it. Any other outcome leaves an existing file untouched.
int32_t DownloadToFile(const std::string& url, const std::string& path, const std::string& agent,
                       std::vector<std::string>* headers, ProgressCallback callback);
