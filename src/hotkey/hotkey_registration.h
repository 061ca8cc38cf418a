#pragma once

#include "core/keys.h"

#include <iosfwd>
#include <optional>

namespace quillet {

class GlobalHotkey;
class SettingsStore;

// The stored shortcut ("hotkeyCode", "hotkeyModifiers"), or none.
std::optional<Shortcut> readStoredShortcut(const SettingsStore& settings);

// Takes the system-wide shortcut and keeps the stored one in the settings:
// the one place that stores a shortcut, grabs it and rolls back. A shortcut
// that cannot be taken prints "Hotkey registration failed" on the console.
// UI thread only.
class HotkeyRegistration {
public:
    HotkeyRegistration(GlobalHotkey& hotkey, SettingsStore& settings, std::ostream& console)
        : hotkey_(hotkey), settings_(settings), console_(console) {}

    // The stored shortcut, or the default stored first when none is.
    bool registerStoredOrDefault();

    // Stores and takes a new shortcut. When it cannot be taken, the one
    // stored before comes back and is taken again, and this answers false.
    bool change(Shortcut shortcut);

    void release();

    // The shortcut in use, or the default's when none is stored.
    Shortcut current() const;
    // Whether a shortcut is held now.
    bool held() const { return held_; }

private:
    bool grab(Shortcut shortcut);
    bool store(std::int64_t keyCode, std::int64_t modifiers);

    GlobalHotkey& hotkey_;
    SettingsStore& settings_;
    std::ostream& console_;
    bool held_ = false;
};

}  // namespace quillet
