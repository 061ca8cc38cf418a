#pragma once

#include "hotkey/stored_shortcut.h"

#include <cstdint>
#include <iosfwd>

namespace quillet {

class GlobalHotkey;
class SettingsStore;

// Takes the system-wide shortcut and keeps the stored one in the settings.
// Failures are printed as one line on the console and reported to the caller.
class HotkeyRegistration {
public:
    HotkeyRegistration(GlobalHotkey& hotkey, SettingsStore& settings, std::ostream& console)
        : hotkey_(hotkey), settings_(settings), console_(console) {}

    // Replaces the shortcut held so far; false (and the console line
    // "Hotkey registration failed") when it cannot be taken.
    bool registerGlobalHotkey(std::uint32_t keyCode, ModifierFlags modifiers);

    // Stores Control+Option+Command+V (Control+Alt+Super+V here) and takes it.
    bool registerDefaultHotkey();

    // The stored shortcut; false when none is stored or it cannot be taken.
    bool registerStored();

    // The stored shortcut, or the default stored first when none is.
    bool registerStoredOrDefault();

    void releaseHotkey();

    // Whether a shortcut is held now.
    bool registered() const { return registered_; }

private:
    GlobalHotkey& hotkey_;
    SettingsStore& settings_;
    std::ostream& console_;
    bool registered_ = false;
};

}  // namespace quillet
