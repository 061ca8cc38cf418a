#pragma once

// In-memory doubles of the platform services, for tests without a display:
// one header per service, all of them here.

#include "doubles/clipboard.h"
#include "doubles/commands.h"
#include "doubles/desktop.h"
#include "doubles/global_hotkey.h"
#include "doubles/main_queue.h"
#include "doubles/paste_keystroke.h"
#include "doubles/state_file.h"
#include "doubles/tray.h"
