#pragma once

// The X session shared by the end-to-end tests and the benchmarks: a client
// that acts as the user and other programs, the clipboard as they use it,
// the program under test and the window it pastes into.

#include "x/client.h"
#include "x/clipboard.h"
#include "x/program.h"
#include "x/session_bus.h"
#include "x/target_window.h"
