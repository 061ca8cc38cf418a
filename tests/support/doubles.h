#pragma once

// In-memory doubles of the platform services, for tests without a display:
// one header per interface, all of them here.

#include "doubles/active_window.h"
#include "doubles/alerts.h"
#include "doubles/autostart.h"
#include "doubles/clipboard.h"
#include "doubles/commands.h"
#include "doubles/global_hotkey.h"
#include "doubles/main_queue.h"
#include "doubles/notifications.h"
#include "doubles/paste_keystroke.h"
#include "doubles/state_file.h"
#include "doubles/tray.h"
#include "doubles/ui_languages.h"
#include "doubles/url_opener.h"
