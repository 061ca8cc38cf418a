#pragma once

#include "core/keys.h"
#include "core/shortcut_action.h"

#include <array>
#include <iosfwd>
#include <optional>

namespace quillet {

class GlobalHotkey;
class SettingsStore;

// The action's stored shortcut ("hotkeyCode", "hotkeyModifiers" for the
// paste; "backHotkeyCode" and so on for the moves), or none.
std::optional<Shortcut> readStoredShortcut(const SettingsStore& settings,
                                           ShortcutAction action = ShortcutAction::PasteNext);

// Takes the system-wide shortcuts and keeps them in the settings: the one
// place that stores a shortcut, grabs it and rolls back. The paste always has
// one (the default when none is stored); a move has one only once the user
// chose it. No two actions share a shortcut. A shortcut that cannot be taken
// prints "Hotkey registration failed" on the console. UI thread only.
class HotkeyRegistration {
public:
    enum class Change {
        Set,
        Unsaved,    // taken, but the settings could not be written: lost at quitting
        Failed,     // another program holds it; the one before is back
        Duplicate,  // another action has it; nothing changed
    };

    HotkeyRegistration(GlobalHotkey& hotkey, SettingsStore& settings, std::ostream& console)
        : hotkey_(hotkey), settings_(settings), console_(console) {}

    // The stored paste shortcut, or the default stored first when none is.
    bool registerStoredOrDefault();
    // Each move's stored shortcut, where there is one.
    void registerStoredMoves();
    // Takes the action's stored shortcut again, after a dialog left it as it was.
    void registerStored(ShortcutAction action);

    // Stores and takes a new shortcut. When it cannot be taken, the one
    // stored before comes back and is taken again.
    Change change(ShortcutAction action, Shortcut shortcut);
    bool change(Shortcut shortcut) {
        const Change change = this->change(ShortcutAction::PasteNext, shortcut);
        return change == Change::Set || change == Change::Unsaved;
    }
    // A move has no shortcut any more; false when that could not be stored.
    bool clear(ShortcutAction action);

    void release(ShortcutAction action);
    void release();

    // The paste's shortcut, or the default's when none is stored.
    Shortcut current() const;
    // The action's shortcut; always one for the paste.
    std::optional<Shortcut> shortcutFor(ShortcutAction action) const;
    // The action that has this shortcut, if any but `except`.
    std::optional<ShortcutAction> actionWith(Shortcut shortcut, ShortcutAction except) const;
    // Whether the paste's shortcut is held now.
    bool held() const { return held_[static_cast<std::size_t>(ShortcutAction::PasteNext)]; }

private:
    bool grab(ShortcutAction action, Shortcut shortcut);
    bool store(ShortcutAction action, std::int64_t keyCode, std::int64_t modifiers);

    GlobalHotkey& hotkey_;
    SettingsStore& settings_;
    std::ostream& console_;
    std::array<bool, kShortcutActions.size()> held_{};  // indexed by the action
};

}  // namespace quillet
