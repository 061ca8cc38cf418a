#pragma once

#include "hotkey/key_names.h"

#include <optional>

class QKeyEvent;

namespace quillet {

// The two kinds of key event the shortcut capture watches: a key going down,
// and a change of the held modifiers (a modifier key's press or release).
enum class KeyEventType { KeyDown, FlagsChanged };

// A key event in the program's vocabulary. keyCode is 0 for keys outside the
// vocabulary; 0 is also the A key, which the capture never takes either.
// modifierFlags are the modifiers held after the event.
struct KeyEvent {
    KeyEventType type = KeyEventType::KeyDown;
    KeyCode keyCode = 0;
    ModifierFlags modifierFlags = 0;
};

// Reads the platform's key events of our own windows. Main thread only.
class KeyTranslator {
public:
    virtual ~KeyTranslator() = default;

    // None for events the capture does not watch (an ordinary key's release).
    virtual std::optional<KeyEvent> translate(const QKeyEvent& event) = 0;
};

}  // namespace quillet
