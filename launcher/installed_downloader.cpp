#include "launcher/installed_downloader.h"

#include "toolkit/product.h"

namespace kelto {

std::string InstallCandidate(std::string_view baseFolder, std::string_view productName) {
    std::string path(baseFolder);
    path += kCompanyFolder;
    path += productName;
    return path;
}

std::string FolderOfPath(std::string_view path) {
    size_t last = path.find_last_of(":\\/");
    if (last == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(0, last + 1));
}

}  // namespace kelto
