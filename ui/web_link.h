// Links from the configuration that the window opens in a browser.
#pragma once

#include <string_view>

namespace kelto {

// Only an http:// or https:// URL (scheme in any case) is handed to the
// browser: the text comes from the server, and anything else, another
// scheme or a text starting with "-" that the browser would take for a
// switch, is not ours to start as administrator.
bool IsWebLink(std::string_view url);

}  // namespace kelto
