// Opening a link from the configuration in the user's default browser.
#pragma once

#include <string>
#include <string_view>

namespace kelto {

// The open command of the user's browser for http pages: the program the
// user chose (UserChoice), else the one registered for http; "" when none.
std::string DefaultBrowserCommand();

// Opens the web page of link (WebPageUrl) in that browser, with the
// user's rights, shown, not waited for. False when the link is no web page
// or nothing was started.
bool OpenWebPage(std::string_view link);

}  // namespace kelto
