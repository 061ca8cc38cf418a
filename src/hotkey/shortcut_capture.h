#pragma once

#include "app/localized_strings.h"
#include "hotkey/key_names.h"
#include "hotkey/stored_shortcut.h"
#include "platform/key_translator.h"

#include <QString>

#include <optional>

namespace quillet {

class HotkeySettingsDelegate;
class SettingsStore;

// What the shortcut dialog makes of the key events it sees, with no display:
// it shows the combination while it is pressed, refuses those that cannot
// serve as the shortcut (the reason goes into the field) and holds an
// acceptable one until a new key or a new modifier press drops it. One
// instance per opening of the dialog.
class ShortcutCapture {
public:
    // What the dialog shows after an event, at once.
    struct Outcome {
        QString text;         // for the capture field
        bool confirmEnabled;  // whether Confirm can be pressed now
        bool consumed;        // whether the event stops here
    };

    explicit ShortcutCapture(LocalizedStrings strings) : strings_(strings) {}

    // The field's placeholder, also shown when no key is taken.
    QString placeholderText() const;

    // Judges one event. None for events of another window: they pass on
    // untouched and change nothing.
    std::optional<Outcome> handle(const KeyEvent& event, bool inDialogWindow);

    // The acceptable combination held now, if any.
    std::optional<Shortcut> captured() const;

    KeyCode lastKeyCode() const { return lastKeyCode_; }
    ModifierFlags liveModifiers() const { return liveModifiers_; }
    KeyCode pendingKeyCode() const { return pendingKeyCode_; }
    KeyCode capturedKeyCode() const { return capturedKeyCode_; }
    ModifierFlags capturedModifiers() const { return capturedModifiers_; }

private:
    LocalizedStrings strings_;
    KeyCode lastKeyCode_ = 0;          // of the latest key-down
    ModifierFlags liveModifiers_ = 0;  // held at the latest event, shortcut bits only
    KeyCode pendingKeyCode_ = 0;       // latest ordinary key taken; 0 = none
    KeyCode capturedKeyCode_ = 0;      // the combination held; 0 = none
    ModifierFlags capturedModifiers_ = 0;
};

// The way out of the dialog. With a confirmed combination: stores it and has
// the delegate register it and tell the user; when that fails, the values
// stored before come back and are registered again. Otherwise (Cancel, the
// window closed, Confirm with nothing held): registers the stored shortcut
// again, or stores and registers the default when none is stored. True when
// the confirmed combination was taken.
bool finishShortcutCapture(HotkeySettingsDelegate& delegate, SettingsStore& settings,
                           std::optional<Shortcut> confirmed);

}  // namespace quillet
