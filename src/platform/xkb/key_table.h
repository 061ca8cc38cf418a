#pragma once

// The program's key vocabulary (macOS virtual key codes) as keysyms, one
// table for every backend: X11 grabs and reads keys by it, the portal names
// its shortcuts and reads our windows' keys by it. X11 keysyms and XKB ones
// are the same numbers.

#include "core/keys.h"

#include <xkbcommon/xkbcommon.h>

#include <optional>

namespace quillet::xkb {

// The keysym a key code stands for (letters as lower-case keysyms, keypad
// digits as KP_0..KP_9); none for codes without a keysym.
std::optional<xkb_keysym_t> keysymForKeyCode(KeyCode keyCode);

// The name of a key code's keysym, as xkbcommon spells it ("v", "F12",
// "space"); none for codes without a keysym.
std::optional<QString> keysymName(KeyCode keyCode);

// The key code of a keysym, accepting every keysym such a key produces
// (upper- and lower-case letters, keypad keys with and without NumLock,
// ISO_Left_Tab); none for keysyms outside the vocabulary.
std::optional<KeyCode> keyCodeForKeysym(xkb_keysym_t keysym);

}  // namespace quillet::xkb
