#pragma once

// The shortcut as the portal's GlobalShortcuts interface names it: modifiers
// and an XKB keysym name joined by '+', "CTRL+ALT+LOGO+v" for ⌃⌥⌘V.
//
// It lives here, at the portal's edge, and not with the key vocabulary in
// core: the key part is a keysym name, and the program's one table from its
// key codes to keysyms is the X11 one (X11 and XKB keysyms are the same
// numbers). A second table in core, of names, could drift from the keysyms
// the X11 grabs use; so the trigger takes the keysym from that table and lets
// xkbcommon name it.

#include "core/keys.h"

#include <QString>

#include <optional>

namespace quillet::portal {

// None for key codes without a keysym.
std::optional<QString> shortcutTrigger(Shortcut shortcut);

}  // namespace quillet::portal
