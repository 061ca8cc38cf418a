#pragma once

#include "core/texts.h"

#include <array>

namespace quillet {

// What a system-wide shortcut does: the paste, or one of the moves in the run.
enum class ShortcutAction { PasteNext, Back, Skip, StartOver };

inline constexpr std::array kShortcutActions{ShortcutAction::PasteNext, ShortcutAction::Back,
                                             ShortcutAction::Skip, ShortcutAction::StartOver};
inline constexpr std::array kMoveActions{ShortcutAction::Back, ShortcutAction::Skip,
                                         ShortcutAction::StartOver};

// The two settings keys an action's shortcut is stored under, like
// "hotkeyCode" and "hotkeyModifiers" for the paste.
struct ShortcutKeys {
    const char16_t* code;
    const char16_t* modifiers;
};
ShortcutKeys shortcutKeys(ShortcutAction action);

// The action's name as the menu shows it.
const Text& actionName(ShortcutAction action);

}  // namespace quillet
