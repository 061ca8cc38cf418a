#include "hotkey/hotkey_registration.h"

#include "platform/global_hotkey.h"
#include "platform/settings_store.h"

#include <ostream>

namespace quillet {

namespace {

std::size_t indexOf(ShortcutAction action) {
    return static_cast<std::size_t>(action);
}

// Only the four shortcut modifiers take part; lock bits and the like are dropped.
Shortcut grabbed(Shortcut shortcut) {
    return {shortcut.keyCode, shortcut.modifiers & modifier::kShortcutMask};
}

}  // namespace

std::optional<Shortcut> readStoredShortcut(const SettingsStore& settings, ShortcutAction action) {
    const ShortcutKeys keys = shortcutKeys(action);
    return shortcutFromStored(settings.integer(QString::fromUtf16(keys.code)),
                              settings.integer(QString::fromUtf16(keys.modifiers)));
}

bool HotkeyRegistration::grab(ShortcutAction action, Shortcut shortcut) {
    const bool held = hotkey_.grab(action, grabbed(shortcut));
    held_[indexOf(action)] = held;
    if (!held) {
        console_ << "Hotkey registration failed";
        if (action != ShortcutAction::PasteNext) {
            // The console speaks English, like the commands it goes with.
            console_ << ": " << actionName(action).in(Language::English).toStdString();
        }
        console_ << std::endl;
    }
    return held;
}

bool HotkeyRegistration::store(ShortcutAction action, std::int64_t keyCode,
                               std::int64_t modifiers) {
    const ShortcutKeys keys = shortcutKeys(action);
    const bool codeStored = settings_.setInteger(QString::fromUtf16(keys.code), keyCode);
    return settings_.setInteger(QString::fromUtf16(keys.modifiers), modifiers) && codeStored;
}

bool HotkeyRegistration::registerStoredOrDefault() {
    if (const auto stored = readStoredShortcut(settings_)) {
        return grab(ShortcutAction::PasteNext, *stored);
    }
    store(ShortcutAction::PasteNext, kDefaultShortcut.keyCode,
          static_cast<std::int64_t>(kDefaultShortcut.modifiers));
    return grab(ShortcutAction::PasteNext, kDefaultShortcut);
}

void HotkeyRegistration::registerStoredMoves() {
    for (const ShortcutAction action : kMoveActions) {
        registerStored(action);
    }
}

void HotkeyRegistration::registerStored(ShortcutAction action) {
    if (action == ShortcutAction::PasteNext) {
        registerStoredOrDefault();
        return;
    }
    // Settings edited by hand may give one shortcut to two actions: the
    // platform refuses it to the second.
    if (const auto stored = readStoredShortcut(settings_, action)) {
        grab(action, *stored);
    }
}

HotkeyRegistration::Change HotkeyRegistration::change(ShortcutAction action, Shortcut shortcut) {
    if (actionWith(shortcut, action)) {
        return Change::Duplicate;
    }
    const auto previous = shortcutFor(action);
    const bool stored =
        store(action, shortcut.keyCode, static_cast<std::int64_t>(shortcut.modifiers));
    if (grab(action, shortcut)) {
        return stored ? Change::Set : Change::Unsaved;
    }
    // Keep the shortcut that worked rather than one nobody can press.
    if (previous) {
        store(action, previous->keyCode, static_cast<std::int64_t>(previous->modifiers));
        grab(action, *previous);
    } else {
        clear(action);
    }
    return Change::Failed;
}

bool HotkeyRegistration::clear(ShortcutAction action) {
    release(action);
    const ShortcutKeys keys = shortcutKeys(action);
    const bool code = settings_.remove(QString::fromUtf16(keys.code));
    return settings_.remove(QString::fromUtf16(keys.modifiers)) && code;
}

void HotkeyRegistration::release(ShortcutAction action) {
    hotkey_.release(action);
    held_[indexOf(action)] = false;
}

void HotkeyRegistration::release() {
    hotkey_.releaseAll();
    held_ = {};
}

Shortcut HotkeyRegistration::current() const {
    return readStoredShortcut(settings_).value_or(kDefaultShortcut);
}

std::optional<Shortcut> HotkeyRegistration::shortcutFor(ShortcutAction action) const {
    if (action == ShortcutAction::PasteNext) {
        return current();
    }
    return readStoredShortcut(settings_, action);
}

std::optional<ShortcutAction> HotkeyRegistration::actionWith(Shortcut shortcut,
                                                             ShortcutAction except) const {
    for (const ShortcutAction action : kShortcutActions) {
        const auto other = shortcutFor(action);
        if (action != except && other && grabbed(*other) == grabbed(shortcut)) {
            return action;
        }
    }
    return std::nullopt;
}

}  // namespace quillet
