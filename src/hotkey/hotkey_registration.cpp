#include "hotkey/hotkey_registration.h"

#include "platform/global_hotkey.h"
#include "platform/settings_store.h"

#include <ostream>

namespace quillet {

namespace {

const QString kCodeKey = QString::fromUtf16(kHotkeyCodeKey);
const QString kModifiersKey = QString::fromUtf16(kHotkeyModifiersKey);

}  // namespace

std::optional<Shortcut> readStoredShortcut(const SettingsStore& settings) {
    return shortcutFromStored(settings.integer(kCodeKey), settings.integer(kModifiersKey));
}

bool HotkeyRegistration::grab(Shortcut shortcut) {
    // Only the four shortcut modifiers take part; lock bits and the like are dropped.
    held_ = hotkey_.grab({shortcut.keyCode, shortcut.modifiers & modifier::kShortcutMask});
    if (!held_) {
        console_ << "Hotkey registration failed" << std::endl;
    }
    return held_;
}

bool HotkeyRegistration::store(std::int64_t keyCode, std::int64_t modifiers) {
    const bool codeStored = settings_.setInteger(kCodeKey, keyCode);
    return settings_.setInteger(kModifiersKey, modifiers) && codeStored;
}

bool HotkeyRegistration::registerStoredOrDefault() {
    if (const auto stored = readStoredShortcut(settings_)) {
        return grab(*stored);
    }
    store(kDefaultShortcut.keyCode, static_cast<std::int64_t>(kDefaultShortcut.modifiers));
    return grab(kDefaultShortcut);
}

bool HotkeyRegistration::change(Shortcut shortcut) {
    const std::int64_t previousCode = settings_.integer(kCodeKey);
    const std::int64_t previousModifiers = settings_.integer(kModifiersKey);
    store(shortcut.keyCode, static_cast<std::int64_t>(shortcut.modifiers));
    if (grab(shortcut)) {
        return true;
    }
    // Keep the shortcut that worked rather than one nobody can press.
    store(previousCode, previousModifiers);
    registerStoredOrDefault();
    return false;
}

void HotkeyRegistration::release() {
    hotkey_.release();
    held_ = false;
}

Shortcut HotkeyRegistration::current() const {
    return readStoredShortcut(settings_).value_or(kDefaultShortcut);
}

}  // namespace quillet
