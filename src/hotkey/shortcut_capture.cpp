#include "hotkey/shortcut_capture.h"

#include "hotkey/hotkey_settings_delegate.h"
#include "platform/settings_store.h"

namespace quillet {

namespace {

// Command-C stays the copy command: refusing it keeps every program's Copy.
constexpr KeyCode kCopyKeyCode = 8;

}  // namespace

QString ShortcutCapture::placeholderText() const {
    return strings_.text(u"Press shortcut...", u"按下快捷键...");
}

std::optional<ShortcutCapture::Outcome> ShortcutCapture::handle(const KeyEvent& event,
                                                                bool inDialogWindow) {
    if (!inDialogWindow) {
        return std::nullopt;
    }
    const bool keyDown = event.type == KeyEventType::KeyDown;
    if (keyDown) {
        lastKeyCode_ = event.keyCode;
    }
    const ModifierFlags previousModifiers = liveModifiers_;
    liveModifiers_ = event.modifierFlags & modifier::kShortcutMask;

    if (capturedKeyCode_ != 0) {
        // Letting go of modifiers, one by one or all at once, keeps what is
        // held: nobody lets go of several keys at the very same moment.
        const bool onlyReleases = (liveModifiers_ & ~previousModifiers) == 0;
        if (!keyDown && onlyReleases) {
            return Outcome{shortcutText(capturedKeyCode_, capturedModifiers_), true, false};
        }
        capturedKeyCode_ = 0;
        capturedModifiers_ = 0;
        pendingKeyCode_ = 0;
    }
    // Key code 0 (the A key, and keys outside the vocabulary) is never taken.
    // A key taken earlier stays pending while the modifiers change.
    if (keyDown && lastKeyCode_ != 0 && !modifierKeyCodes.contains(lastKeyCode_)) {
        pendingKeyCode_ = lastKeyCode_;
    }

    QString text = placeholderText();
    bool hasError = false;
    if (pendingKeyCode_ == 0 && liveModifiers_ != 0) {
        text = stringRepresentation(liveModifiers_) +
               strings_.text(u" (Key missing)", u"（缺少非修饰键）");
        hasError = true;
    } else if (pendingKeyCode_ == kCopyKeyCode && liveModifiers_ == modifier::kCommand) {
        text = stringRepresentation(modifier::kCommand) +
               strings_.text(u"C (Copy disabled)", u"C (禁用复制键)");
        hasError = true;
    } else if (pendingKeyCode_ != 0) {
        text = shortcutText(pendingKeyCode_, liveModifiers_);
        if (text.isEmpty()) {
            text = placeholderText();
        }
        if (liveModifiers_ == 0 && !standaloneKeyCodes.contains(pendingKeyCode_)) {
            text += strings_.text(u" (Modifier missing)", u" (缺少修饰键)");
            hasError = true;
        } else {
            capturedKeyCode_ = pendingKeyCode_;
            capturedModifiers_ = liveModifiers_;
        }
    }
    // With nothing pending and no modifier the field shows the placeholder.

    const bool accepted = pendingKeyCode_ != 0 && !hasError;
    return Outcome{text, capturedKeyCode_ != 0, keyDown && accepted};
}

std::optional<Shortcut> ShortcutCapture::captured() const {
    if (capturedKeyCode_ == 0) {
        return std::nullopt;
    }
    return Shortcut{capturedKeyCode_, capturedModifiers_};
}

namespace {

void registerStoredAgain(HotkeySettingsDelegate& delegate, const SettingsStore& settings) {
    // Values another program wrote outside our ranges count as none stored.
    if (const auto stored = readStoredShortcut(settings)) {
        delegate.registerGlobalHotkey(stored->keyCode, stored->modifiers);
    } else {
        delegate.registerDefaultHotkey();
    }
}

}  // namespace

bool finishShortcutCapture(HotkeySettingsDelegate& delegate, SettingsStore& settings,
                           std::optional<Shortcut> confirmed) {
    if (confirmed && confirmed->keyCode != 0) {
        const QString codeKey = QString::fromUtf16(kHotkeyCodeKey);
        const QString modifiersKey = QString::fromUtf16(kHotkeyModifiersKey);
        const std::int64_t previousCode = settings.integer(codeKey);
        const std::int64_t previousModifiers = settings.integer(modifiersKey);
        storeShortcut(settings, *confirmed);
        if (delegate.registerHotkeyFromUserDefaults()) {
            return true;
        }
        // Keep the shortcut that worked rather than one nobody can press.
        settings.setInteger(codeKey, previousCode);
        settings.setInteger(modifiersKey, previousModifiers);
    }
    registerStoredAgain(delegate, settings);
    return false;
}

}  // namespace quillet
