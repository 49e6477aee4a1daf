#include "transfer/setup_job.h"

namespace kelto {

std::string SetupFilePathFor(const std::string& tempFile) {
    // A dot in a folder name is no extension: look in the last part only.
    size_t nameStart = tempFile.find_last_of("\\/");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = tempFile.rfind('.');
    std::string stem =
        dot != std::string::npos && dot >= nameStart ? tempFile.substr(0, dot) : tempFile;
    return stem + std::string(kSetupFileExtension);
}

}  // namespace kelto
