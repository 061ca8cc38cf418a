#pragma once

#include "core/keys.h"
#include "core/texts.h"

#include <QString>

#include <optional>

namespace quillet {

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

    explicit ShortcutCapture(Language language) : language_(language) {}

    // The field's placeholder, also shown when no key is taken.
    QString placeholderText() const;

    // Judges one event. None for events of another window: they pass on
    // untouched and change nothing.
    std::optional<Outcome> handle(const KeyEvent& event, bool inDialogWindow);

    // The acceptable combination held now, if any.
    std::optional<Shortcut> captured() const;

private:
    Language language_;
    std::optional<KeyCode> lastKeyCode_;     // of the latest key-down
    ModifierFlags liveModifiers_ = 0;        // held at the latest event, shortcut bits only
    std::optional<KeyCode> pendingKeyCode_;  // latest ordinary key taken
    std::optional<Shortcut> captured_;       // the combination held
};

}  // namespace quillet
