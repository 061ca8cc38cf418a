#pragma once

#include "platform/global_hotkey.h"

namespace quillet {

// wlroots compositors (sway, Hyprland, river) let no program take a
// system-wide shortcut: the user binds `quillet --paste-next` (and --back,
// --skip, --restart) in the compositor's own configuration, and the press
// reaches us as a command. So nothing here can be grabbed.
class GlobalHotkeyWayland final : public GlobalHotkey {
public:
    void setHandler(std::function<void(ShortcutAction)> /*onPress*/) override {}
    bool grab(ShortcutAction /*action*/, Shortcut /*shortcut*/) override { return false; }
    void release(ShortcutAction /*action*/) override {}
    void releaseAll() override {}
    bool canGrab() const override { return false; }
};

}  // namespace quillet
