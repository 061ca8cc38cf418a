#pragma once

#include "app/link_alert.h"
#include "app/localized_strings.h"

namespace quillet {

// Where to read how to run Quillet in a session that allows synthetic keys.
inline constexpr auto kInputHelpUrl = u"https://tarnwick.example/Quillet/#x11-session";

// Told once at start-up when this session cannot send synthetic keystrokes,
// so no line could ever be pasted.
LinkAlertSpec permissionAlert(const LocalizedStrings& strings);

}  // namespace quillet
