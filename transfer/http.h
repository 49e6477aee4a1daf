// One HTTP GET of one absolute URL: what callers of the transfer share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "toolkit/product.h"

namespace kelto {

// Called after every received piece; return false to stop the transfer.
// contentLength is 0 when the response announced none. startTick is the
// GetTickCount() taken right after the URL was opened.
using ProgressCallback =
    std::function<bool(int32_t contentLength, int32_t received, uint32_t startTick)>;

// Where the bytes of a response go, as they arrive.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // A hint from the announced length, already bounded; may be ignored.
    virtual void Reserve(size_t bytes) {}
    [[nodiscard]] virtual bool Append(const uint8_t* data, size_t size) = 0;
    // Drops what was kept so far: the body starts again from its first byte.
    [[nodiscard]] virtual bool Restart() { return false; }
};

// Keeps the body in memory, up to a limit: a body beyond it fails the
// transfer instead of exhausting memory.
class MemorySink final : public ByteSink {
public:
    explicit MemorySink(size_t limit = SIZE_MAX) : limit_(limit) {}
    void Reserve(size_t bytes) override;
    [[nodiscard]] bool Append(const uint8_t* data, size_t size) override;
    [[nodiscard]] bool Restart() override;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // Hands the body over and leaves the sink empty.
    std::vector<uint8_t> TakeBytes() { return std::exchange(bytes_, {}); }

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

// What ended a request short of a whole answer; kNone when it brought one,
// whatever its status.
enum class HttpFailure {
    kNone,
    kOpen,             // no answer: the URL not opened, or what answered had no status
    kRefusedRedirect,  // a redirect out of TLS, or one too many, was not followed
    kStalled,          // nothing arrived within the stall limit
    kTimedOut,         // the request outlasted its time limit
    kStopped,          // the progress callback or the transfer stop ended it
    kTooLong,          // more body than the limit or the announced length
    kWrite,            // the body could not be kept where it was to go
    kIncomplete,       // the body broke off before its end, or a read failed
    kPackageCheck,     // the Setup package arrived whole and failed its check
};

// A few words for the trace on what failed; "unknown failure" for a value
// outside the enum.
std::string_view HttpFailureText(HttpFailure failure);

// Each read asks for this much, and the transfer pauses this long after
// every read that delivered data; the pause also bounds how often the
// progress callback runs. Both are the system's own values, odd as 16184
// looks: kept as they are, since the pace of a download depends on them.
inline constexpr size_t kReadChunk = 16184;
inline constexpr uint32_t kReadPauseMs = 10;

// No body is ever longer: the progress counters are signed 32-bit.
inline constexpr int64_t kMaxBodyBytes = INT32_MAX;

// What one request may take. A request that receives nothing for stallMs,
// or lasts more than totalMs in all (0: no such limit), or brings more than
// maxBytes of body, or more than it announced, has failed.
struct RequestLimits {
    uint32_t stallMs = 0;
    uint32_t totalMs = 0;
    int64_t maxBytes = kMaxBodyBytes;
};

// The configuration files and software.xml: small files that the
// windowless launcher waits for.
inline constexpr uint32_t kServerFileStallMs = 10000;
inline constexpr uint32_t kServerFileTotalMs = 30000;
inline constexpr RequestLimits kServerFileLimits{kServerFileStallMs, kServerFileTotalMs,
                                                 kMaxServerFileBytes};
// The Setup package: the user watches it arrive, so only a silent server is
// given up on; one that keeps sending may take its time.
inline constexpr uint32_t kPackageStallMs = 30000;
inline constexpr RequestLimits kPackageLimits{kPackageStallMs, 0, kMaxBodyBytes};

// Whether received bytes of body are still within the request's limit and
// the length it announced (0: none).
bool BodyWithinLimits(int64_t received, int32_t contentLength, const RequestLimits& limits);

// What a broken download kept on disk, so that the next request asks only
// for the rest: kept bytes of a file of total bytes, as the answer with the
// validator (its strong ETag, else its Last-Modified) described it. Two
// servers may well agree on a validator and a length, so the kept bytes
// are continued only by the URL that was asked for them (url), and only
// when that still leads, after its redirects, to the one that sent them
// (source).
struct ResumePoint {
    int64_t kept = 0;
    int64_t total = 0;
    std::string validator;
    std::string url;
    std::string source;
};

// True when the point is worth asking for: part of a file, a validator
// that tells the server which file, and the URLs it came from.
bool CanResume(const ResumePoint& point);

// True when a request for url may ask for the rest of point: it can resume
// and url is, as text, the one its bytes were asked from. A request for any
// other URL starts the file again.
bool ResumesFrom(const ResumePoint& point, std::string_view url);

// The request headers of a request for url from point: a Range for the
// rest and an If-Range with the validator, CR LF ended; "" unless
// ResumesFrom.
std::string ResumeRequestHeaders(const ResumePoint& point, std::string_view url);

// The validator of an answer: its ETag unless that is weak (a weak one may
// not stand in an If-Range), else its Last-Modified; "" when neither fits in
// a request header.
std::string AnswerValidator(std::string_view etag, std::string_view lastModified);

// Where an answer came from: the URL asked for, and the one that answered
// it after the redirects followed.
struct AnswerOrigin {
    std::string url;
    std::string finalUrl;
};

// Whether an answer to ResumeRequestHeaders(point, origin.url) continues
// the kept file: a request that ResumesFrom point, answered from its
// source, with a 206 whose Content-Range starts right after the kept bytes
// and runs to the end of the same total, and whose length, when it
// announces one, is the rest. Any other answer starts the file again.
bool AnswerContinues(const ResumePoint& point, const AnswerOrigin& origin, int32_t status,
                     std::string_view contentRange, int32_t contentLength);

// What a broken transfer leaves to resume. continued: the answer continued
// before; received: the body bytes of this answer that were kept; origin:
// where a new file's bytes came from.
ResumePoint ResumePointAfter(const ResumePoint& before, bool continued, int32_t status,
                             int32_t contentLength, std::string validator, int64_t received,
                             const AnswerOrigin& origin);

}  // namespace kelto
