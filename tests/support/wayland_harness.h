#pragma once

// A Wayland session for end-to-end tests and benchmarks, on the headless sway
// the test script started: the session itself, a keyboard, this process as
// another program on the desktop, windows to paste into and the program.

#include "wayland/desktop.h"
#include "wayland/key_driver.h"
#include "wayland/program.h"
#include "wayland/session.h"
#include "wayland/windows.h"
