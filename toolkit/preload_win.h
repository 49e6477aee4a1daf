// Loading system libraries ahead of their first use.
#pragma once

namespace kelto {

// Loads, on a thread of its own and from System32 only, the system
// libraries that starting the Downloader needs (user32, shell32, ole32 and
// what they pull in), while the main thread waits for the server. Their
// first use then finds them mapped instead of paying for the load. Does
// nothing where the platform cannot restrict the search to System32.
void PreloadSystemLibraries();

}  // namespace kelto
