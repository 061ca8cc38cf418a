#include "hotkey/hotkey_registration.h"

#include "platform/global_hotkey.h"

#include <limits>
#include <ostream>

namespace quillet {

bool HotkeyRegistration::registerGlobalHotkey(std::uint32_t keyCode, ModifierFlags modifiers) {
    bool ok = false;
    if (keyCode <= std::numeric_limits<KeyCode>::max()) {
        // Only the four shortcut modifiers take part; lock bits and the like are dropped.
        ok = hotkey_.registerHotkey(static_cast<KeyCode>(keyCode),
                                    modifiers & modifier::kShortcutMask);
    } else {
        hotkey_.unregisterHotkey();
    }
    registered_ = ok;
    if (!ok) {
        console_ << "Hotkey registration failed" << std::endl;
    }
    return ok;
}

bool HotkeyRegistration::registerDefaultHotkey() {
    storeShortcut(settings_, kDefaultShortcut);
    return registerGlobalHotkey(kDefaultShortcut.keyCode, kDefaultShortcut.modifiers);
}

bool HotkeyRegistration::registerStored() {
    const auto stored = readStoredShortcut(settings_);
    return stored && registerGlobalHotkey(stored->keyCode, stored->modifiers);
}

bool HotkeyRegistration::registerStoredOrDefault() {
    if (const auto stored = readStoredShortcut(settings_)) {
        return registerGlobalHotkey(stored->keyCode, stored->modifiers);
    }
    return registerDefaultHotkey();
}

void HotkeyRegistration::releaseHotkey() {
    hotkey_.unregisterHotkey();
    registered_ = false;
}

}  // namespace quillet
