#pragma once

#include <chrono>

namespace quillet {

// Synthetic paste keystrokes sent to the focused application. Used from the
// paste worker thread, except available(), which any thread may ask.
class PasteKeystroke {
public:
    virtual ~PasteKeystroke() = default;

    // Whether keystrokes can be sent at all on this session.
    virtual bool available() = 0;

    // Waits until the user has let go of every key, up to the deadline;
    // false when keys were still held then.
    virtual bool waitForKeysReleased(std::chrono::milliseconds deadline) = 0;

    // Posts the paste chord (exactly its keys, nothing else held). Every key
    // pressed is released again on every path. False when nothing was posted.
    virtual bool postPasteChord() = 0;
};

}  // namespace quillet
