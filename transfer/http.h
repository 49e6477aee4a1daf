// One HTTP GET of one absolute URL: what callers of the transfer share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kelto {

// Called after every received piece; return false to stop the transfer.
// contentLength is 0 when the response announced none. startTick is the
// GetTickCount() taken right after the URL was opened.
using ProgressCallback = bool (*)(int32_t contentLength, int32_t received, uint32_t startTick);

// Where the bytes of a response go, as they arrive.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // A hint from the announced length, already bounded; may be ignored.
    virtual void Reserve(size_t bytes) {}
    [[nodiscard]] virtual bool Append(const uint8_t* data, size_t size) = 0;
};

// Keeps the body in memory, up to a limit: a body beyond it fails the
// transfer instead of exhausting memory.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(size_t limit = SIZE_MAX) : limit_(limit) {}
    void Reserve(size_t bytes) override;
    [[nodiscard]] bool Append(const uint8_t* data, size_t size) override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    size_t limit_;
    std::vector<uint8_t> bytes_;
};

// The length of the scheme that starts url when it is "http://" or
// "https://", exactly so (lower case); 0 for any other start.
size_t WebSchemeLength(std::string_view url);

// The statuses whose Location a GET follows: 301, 302, 303, 307 and 308.
bool IsRedirectStatus(int32_t status);

// A redirect is followed unless it would leave TLS: from an https URL only
// to another https URL. A request follows at most kMaxRedirects of them.
bool MayRedirect(std::string_view from, std::string_view to);
inline constexpr int kMaxRedirects = 10;

// Status 200 and only 200 is success; 0 means no (complete) response.
inline constexpr int32_t kHttpOk = 200;
inline constexpr int32_t kHttpNoResponse = 0;

// Each read asks for this much, and the transfer pauses this long after
// every read that delivered data; the pause also bounds how often the
// progress callback runs.
inline constexpr size_t kReadChunk = 16184;
inline constexpr uint32_t kReadPauseMs = 10;

}  // namespace kelto
