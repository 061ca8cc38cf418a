#pragma once

#include "hotkey/key_names.h"

#include <optional>

namespace quillet {

class SettingsStore;

inline constexpr auto kHotkeyCodeKey = u"hotkeyCode";
inline constexpr auto kHotkeyModifiersKey = u"hotkeyModifiers";

struct Shortcut {
    KeyCode keyCode = 0;
    ModifierFlags modifiers = 0;
    friend bool operator==(const Shortcut&, const Shortcut&) = default;
};

inline constexpr Shortcut kDefaultShortcut{kDefaultHotkeyCode, kDefaultHotkeyModifiers};

// The stored shortcut, or none when nothing usable is stored: a key code of 0
// means none, and values another program wrote outside the ranges this
// program writes (key code above 0xFFFF or negative, negative modifiers) are
// treated as none too.
std::optional<Shortcut> readStoredShortcut(const SettingsStore& settings);

// Stores both keys; false when the store could not be written.
bool storeShortcut(SettingsStore& settings, Shortcut shortcut);

}  // namespace quillet
