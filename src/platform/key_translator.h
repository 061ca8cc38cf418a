#pragma once

#include "core/keys.h"

#include <optional>

class QKeyEvent;

namespace quillet {

// Reads the platform's key events of our own windows in the program's key
// vocabulary. UI thread only.
class KeyTranslator {
public:
    virtual ~KeyTranslator() = default;

    // None for events the capture does not watch (an ordinary key's release).
    virtual std::optional<KeyEvent> translate(const QKeyEvent& event) = 0;
};

}  // namespace quillet
