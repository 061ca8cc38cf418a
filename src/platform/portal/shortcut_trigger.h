#pragma once

// The shortcut as the portal's GlobalShortcuts interface names it: modifiers
// and an XKB keysym name joined by '+', "CTRL+ALT+LOGO+v" for ⌃⌥⌘V.
//
// It lives here, at the portal's edge, and not with the key vocabulary in
// core: the key part is a keysym name, and the program's one table from its
// key codes to keysyms is xkb's key table, which the X11 grabs use too. A
// second table in core, of names, could drift from it; so the trigger takes
// the keysym from that table and lets xkbcommon name it.

#include "core/keys.h"

#include <QString>

#include <optional>

namespace quillet::portal {

// None for key codes without a keysym.
std::optional<QString> shortcutTrigger(Shortcut shortcut);

}  // namespace quillet::portal
