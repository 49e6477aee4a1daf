#include "transfer/http.h"

#include <algorithm>
#include <new>
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
