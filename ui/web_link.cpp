#include "ui/web_link.h"

#include "toolkit/text.h"

namespace kelto {

bool IsWebLink(std::string_view url) {
    for (std::string_view scheme : {"http://", "https://"}) {
        if (url.size() > scheme.size() &&
            EqualsIgnoreAsciiCase(url.substr(0, scheme.size()), scheme)) {
            return true;
        }
    }
    return false;
}

}  // namespace kelto
