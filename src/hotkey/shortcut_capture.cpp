#include "hotkey/shortcut_capture.h"

namespace quillet {

namespace {

constexpr KeyCode kC = 0x08, kV = 0x09, kInsert = 0x72;

// Combinations every program copies or pastes with on Linux: taken as the
// shortcut, they would copy or paste nowhere else, and a paste key would
// set off the very shortcut that sends it.
struct Refusal {
    Shortcut chord;
    const Text& reason;
};
const Refusal kRefused[] = {
    {{kC, modifier::kControl}, text::kCopyDisabled},
    {{kC, modifier::kControl | modifier::kShift}, text::kCopyDisabled},  // terminals
    {{kInsert, modifier::kControl}, text::kCopyDisabled},
    {{kV, modifier::kControl}, text::kPasteDisabled},
    {{kV, modifier::kControl | modifier::kShift}, text::kPasteDisabled},
    {{kInsert, modifier::kShift}, text::kPasteDisabled},
};

const Text* refusalOf(Shortcut chord) {
    for (const Refusal& refusal : kRefused) {
        if (refusal.chord == chord) {
            return &refusal.reason;
        }
    }
    return nullptr;
}

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

    if (captured_) {
        // Letting go of modifiers, one by one or all at once, keeps what is
        // held: nobody lets go of several keys at the very same moment.
        const bool onlyReleases = (liveModifiers_ & ~previousModifiers) == 0;
        if (!keyDown && onlyReleases) {
            return Outcome{shortcutText(*captured_), true, false};
        }
        captured_.reset();
        pendingKeyCode_.reset();
    }
    // Keys outside the vocabulary are never taken. A key taken earlier stays
    // pending while the modifiers change.
    if (keyDown && lastKeyCode_ && !modifierKeyCodes.contains(*lastKeyCode_)) {
        pendingKeyCode_ = lastKeyCode_;
    }

    QString shown = placeholderText();
    bool hasError = false;
    if (!pendingKeyCode_ && liveModifiers_ != 0) {
        shown = modifierSymbols(liveModifiers_) + text::kKeyMissing.in(language_);
        hasError = true;
    } else if (pendingKeyCode_) {
        const Shortcut chord{*pendingKeyCode_, liveModifiers_};
        shown = shortcutText(chord);
        if (shown.isEmpty()) {
            shown = placeholderText();
        }
        // Shift alone types: it counts as no modifier, except with F1 to F16.
        const bool typing = (liveModifiers_ & ~modifier::kShift) == 0 &&
                            !standaloneKeyCodes.contains(*pendingKeyCode_);
        if (const Text* refusal = refusalOf(chord)) {
            shown += refusal->in(language_);
            hasError = true;
        } else if (typing) {
            shown += text::kModifierMissing.in(language_);
            hasError = true;
        } else {
            captured_ = chord;
        }
    }
    // With nothing pending and no modifier the field shows the placeholder.

    const bool accepted = pendingKeyCode_ && !hasError;
    return Outcome{shown, captured_.has_value(), keyDown && accepted};
}

std::optional<Shortcut> ShortcutCapture::captured() const {
    return captured_;
}

}  // namespace quillet
