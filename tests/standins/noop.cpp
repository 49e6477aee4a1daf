// A program that does nothing: the cost of starting any program under the
// same system, for comparison with the launcher's own start-up.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
