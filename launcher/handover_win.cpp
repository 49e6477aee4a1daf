#include "launcher/handover.h"

#include <windows.h>

bool DownloaderWindowExists() { return FindWindowA(kDownloaderWindowClass, nullptr) != nullptr; }
