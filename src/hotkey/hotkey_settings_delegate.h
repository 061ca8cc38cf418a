#pragma once

#include "hotkey/key_names.h"

#include <cstdint>

namespace quillet {

// What the shortcut dialog asks of the application when it closes. The hot
// key is released before the dialog opens, so every way out ends in one of
// these registrations. Main thread only.
//
// A confirmed shortcut is stored by the dialog before it calls
// registerHotkeyFromUserDefaults(), which registers what is stored and tells
// the user the outcome. When that answers false, the dialog itself puts the
// previously stored values back and registers them again through the other
// two operations, exactly as on Cancel. So the delegate needs no memory of
// the previous shortcut; it only reports, and must not show a notice from
// registerGlobalHotkey() or registerDefaultHotkey().
class HotkeySettingsDelegate {
public:
    virtual ~HotkeySettingsDelegate() = default;

    // Registers the stored shortcut and tells the user whether it was taken.
    // False when it was not (taken by another program, or none stored).
    virtual bool registerHotkeyFromUserDefaults() = 0;

    // Registers this shortcut, silently; false when it could not be taken.
    virtual bool registerGlobalHotkey(std::uint32_t keyCode, ModifierFlags modifiers) = 0;

    // Stores Control+Option+Command+V and registers it, silently.
    virtual bool registerDefaultHotkey() = 0;
};

}  // namespace quillet
