#include "transfer/http.h"

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>

#include "toolkit/text.h"
#include "transfer/http_internal.h"

namespace kelto {

void MemorySink::Reserve(size_t bytes) {
    bytes_.reserve(std::min(bytes, limit_));
}

bool MemorySink::Append(const uint8_t* data, size_t size) {
    if (size == 0) {
        return true;
    }
    if (size > limit_ - bytes_.size()) {
        return false;
    }
    // A body too big for memory is a failed transfer, not a crash.
    try {
        bytes_.insert(bytes_.end(), data, data + size);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool MemorySink::Restart() {
    bytes_.clear();
    return true;
}

size_t WebSchemeLength(std::string_view url) {
    for (std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (url.starts_with(scheme)) {
            return scheme.size();
        }
    }
    return 0;
}

bool IsRedirectStatus(int32_t status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool MayRedirect(std::string_view from, std::string_view to) {
    auto secure = [](std::string_view url) {
        return EqualsIgnoreAsciiCase(url.substr(0, 6), "https:");
    };
    return !secure(from) || secure(to);
}

std::string_view HttpFailureText(HttpFailure failure) {
    switch (failure) {
        case HttpFailure::kNone:
            return "no failure";
        case HttpFailure::kOpen:
            return "no answer";
        case HttpFailure::kRefusedRedirect:
            return "redirect not followed";
        case HttpFailure::kStalled:
            return "nothing received within the stall limit";
        case HttpFailure::kTimedOut:
            return "the request outlasted its time limit";
        case HttpFailure::kStopped:
            return "stopped";
        case HttpFailure::kTooLong:
            return "more than the request may bring";
        case HttpFailure::kWrite:
            return "the body could not be kept";
        case HttpFailure::kIncomplete:
            return "the body broke off";
        case HttpFailure::kPackageCheck:
            return "the package failed its check";
    }
    return "unknown failure";
}

int32_t ParseHeaderNumber(const std::string& text) {
    return ParseLeadingInt(TrimBlanks(text));
}

size_t ReserveHint(int32_t contentLength) {
    if (contentLength <= 0) {
        return 0;
    }
    return std::min(static_cast<size_t>(contentLength), kMaxReserve);
}

bool TransferIsComplete(bool readFailed, int32_t contentLength, int64_t received) {
    if (readFailed) {
        return false;
    }
    return contentLength <= 0 || received >= contentLength;
}

bool BodyWithinLimits(int64_t received, int32_t contentLength, const RequestLimits& limits) {
    return received <= limits.maxBytes && (contentLength <= 0 || received <= contentLength);
}

namespace {

// A validator goes back to the server in a header: one line of printable
// characters, and not a long one.
constexpr size_t kMaxValidatorLength = 1024;

bool FitsInHeader(std::string_view text) {
    if (text.empty() || text.size() > kMaxValidatorLength) {
        return false;
    }
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F; });
}

// Reads the unsigned decimal number at the start of text and moves past it;
// nothing when there is none or it does not fit.
std::optional<int64_t> TakeNumber(std::string_view& text) {
    size_t digits = 0;
    int64_t value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (value > (INT64_MAX - 9) / 10) {
            return std::nullopt;
        }
        value = value * 10 + (text[digits] - '0');
        ++digits;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    text.remove_prefix(digits);
    return value;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

}  // namespace

bool CanResume(const ResumePoint& point) {
    return point.kept > 0 && point.kept < point.total && FitsInHeader(point.validator) &&
           !point.url.empty() && !point.source.empty();
}

bool ResumesFrom(const ResumePoint& point, std::string_view url) {
    return CanResume(point) && url == point.url;
}

std::string ResumeRequestHeaders(const ResumePoint& point, std::string_view url) {
    if (!ResumesFrom(point, url)) {
        return {};
    }
    return "Range: bytes=" + std::to_string(point.kept) + "-\r\nIf-Range: " + point.validator +
           "\r\n";
}

std::string AnswerValidator(std::string_view etag, std::string_view lastModified) {
    etag = TrimBlanks(etag);
    lastModified = TrimBlanks(lastModified);
    if (etag.substr(0, 2) != "W/" && FitsInHeader(etag)) {
        return std::string(etag);
    }
    return FitsInHeader(lastModified) ? std::string(lastModified) : std::string();
}

bool AnswerContinues(const ResumePoint& point, const AnswerOrigin& origin, int32_t status,
                     std::string_view contentRange, int32_t contentLength) {
    constexpr int32_t kHttpPartialContent = 206;
    if (!ResumesFrom(point, origin.url) || origin.finalUrl != point.source ||
        status != kHttpPartialContent) {
        return false;
    }
    // "bytes first-last/total", as a server writes it for one range.
    std::string_view text = contentRange;
    constexpr std::string_view kUnit = "bytes ";
    if (text.substr(0, kUnit.size()) != kUnit) {
        return false;
    }
    text.remove_prefix(kUnit.size());
    std::optional<int64_t> first = TakeNumber(text);
    if (!first || !TakeChar(text, '-')) {
        return false;
    }
    std::optional<int64_t> last = TakeNumber(text);
    if (!last || !TakeChar(text, '/')) {
        return false;
    }
    std::optional<int64_t> total = TakeNumber(text);
    if (!total || !text.empty()) {
        return false;
    }
    return *first == point.kept && *total == point.total && *last == point.total - 1 &&
           (contentLength <= 0 || contentLength == point.total - point.kept);
}

ResumePoint ResumePointAfter(const ResumePoint& before, bool continued, int32_t status,
                             int32_t contentLength, std::string validator, int64_t received,
                             const AnswerOrigin& origin) {
    ResumePoint after;
    if (continued) {
        after = before;
        after.kept += received;
    } else if (status == kHttpOk && contentLength > 0) {
        after =
            ResumePoint{received, contentLength, std::move(validator), origin.url, origin.finalUrl};
    }
    return CanResume(after) ? after : ResumePoint{};
}

std::vector<std::string> SplitHeaderLines(const std::string& raw) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(raw.substr(start));
            break;
        }
        lines.push_back(raw.substr(start, end - start));
        start = end + 2;
    }
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

}  // namespace kelto
