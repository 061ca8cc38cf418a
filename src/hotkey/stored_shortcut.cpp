#include "hotkey/stored_shortcut.h"

#include "platform/settings_store.h"

namespace quillet {

namespace {
constexpr std::int64_t kMaxKeyCode = 0xFFFF;
}  // namespace

std::optional<Shortcut> readStoredShortcut(const SettingsStore& settings) {
    const std::int64_t code = settings.integer(QString::fromUtf16(kHotkeyCodeKey));
    const std::int64_t modifiers = settings.integer(QString::fromUtf16(kHotkeyModifiersKey));
    // Another program may have written anything; only the ranges we write count.
    if (code <= 0 || code > kMaxKeyCode || modifiers < 0) {
        return std::nullopt;
    }
    return Shortcut{static_cast<KeyCode>(code), static_cast<ModifierFlags>(modifiers)};
}

bool storeShortcut(SettingsStore& settings, Shortcut shortcut) {
    const bool codeStored =
        settings.setInteger(QString::fromUtf16(kHotkeyCodeKey), shortcut.keyCode);
    const bool modifiersStored = settings.setInteger(QString::fromUtf16(kHotkeyModifiersKey),
                                                     static_cast<std::int64_t>(shortcut.modifiers));
    return codeStored && modifiersStored;
}

}  // namespace quillet
