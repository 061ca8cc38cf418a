// Keeps a virtual keyboard on the seat for as long as the test session runs:
// a headless sway has no keyboard otherwise, and a window that starts before
// any keyboard exists gets no keys. Says "ready" once the keyboard is there.

#include "wayland_harness.h"

#include <cstdio>

#include <unistd.h>

int main() {
    const quillet::wlharness::KeyDriver keyboard;
    if (!keyboard.ready()) {
        std::fputs("quillet_wl_keyboard: no virtual keyboard on $WAYLAND_DISPLAY\n", stderr);
        return 1;
    }
    std::puts("ready");
    std::fflush(stdout);
    pause();  // until a signal ends us
    return 0;
}
