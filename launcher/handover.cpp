#include "launcher/handover.h"

#include <cstdio>

namespace kelto {

std::string SendMessageLogLine(int64_t window, uint32_t message, int gameNumber) {
    // The original 32-bit program printed the handle with "%d": a 64-bit
    // handle keeps only its low 32 bits, read as signed, so that traces of
    // both builds look alike. Windows hands out window handles that fit.
    auto handle = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(window)));
    char line[64];
    std::snprintf(line, sizeof line, "SendMessage %d, %d, %d", static_cast<int>(handle),
                  static_cast<int>(message), gameNumber);
    return line;
}

std::string SoftwareXmlUrl(std::string_view serverRoot) {
    return std::string(serverRoot) + std::string(kSoftwareXmlPath);
}

}  // namespace kelto
