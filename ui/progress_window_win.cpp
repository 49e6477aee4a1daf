#include "ui/progress_window_win.h"

namespace kelto {

ProgressWindow* CurrentProgressWindow = nullptr;

ProgressWindow& NewProgressWindow() {
    return *new ProgressWindow();
}

}  // namespace kelto
