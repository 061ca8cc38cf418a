#include "hotkey/shortcut_capture.h"

namespace quillet {

namespace {

// Command-C stays the copy command: refusing it keeps every program's Copy.
constexpr KeyCode kCopyKeyCode = 8;

}  // namespace

QString ShortcutCapture::placeholderText() const {
    return text::kCapturePlaceholder.in(language_);
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

    QString shown = placeholderText();
    bool hasError = false;
    if (pendingKeyCode_ == 0 && liveModifiers_ != 0) {
        shown = modifierSymbols(liveModifiers_) + text::kKeyMissing.in(language_);
        hasError = true;
    } else if (pendingKeyCode_ == kCopyKeyCode && liveModifiers_ == modifier::kCommand) {
        shown = modifierSymbols(modifier::kCommand) + text::kCopyDisabled.in(language_);
        hasError = true;
    } else if (pendingKeyCode_ != 0) {
        shown = shortcutText(pendingKeyCode_, liveModifiers_);
        if (shown.isEmpty()) {
            shown = placeholderText();
        }
        if (liveModifiers_ == 0 && !standaloneKeyCodes.contains(pendingKeyCode_)) {
            shown += text::kModifierMissing.in(language_);
            hasError = true;
        } else {
            capturedKeyCode_ = pendingKeyCode_;
            capturedModifiers_ = liveModifiers_;
        }
    }
    // With nothing pending and no modifier the field shows the placeholder.

    const bool accepted = pendingKeyCode_ != 0 && !hasError;
    return Outcome{shown, capturedKeyCode_ != 0, keyDown && accepted};
}

std::optional<Shortcut> ShortcutCapture::captured() const {
    if (capturedKeyCode_ == 0) {
        return std::nullopt;
    }
    return Shortcut{capturedKeyCode_, capturedModifiers_};
}

}  // namespace quillet
