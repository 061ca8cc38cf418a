#pragma once

#include "core/paste_method.h"

#include <QString>

#include <chrono>

namespace quillet {

// Synthetic keystrokes sent to the focused application. Used from the paste
// worker thread, except available(), which any thread may ask.
class PasteKeystroke {
public:
    PasteKeystroke() = default;
    virtual ~PasteKeystroke() = default;
    PasteKeystroke(const PasteKeystroke&) = delete;
    PasteKeystroke& operator=(const PasteKeystroke&) = delete;

    // Whether keystrokes can be sent at all on this session.
    virtual bool available() = 0;

    // Waits until the user has let go of every key, up to the deadline;
    // false when keys were still held then. Where a client cannot see the
    // keys held (Wayland), there is nothing to wait for.
    virtual bool waitForKeysReleased(std::chrono::milliseconds deadline) {
        static_cast<void>(deadline);
        return true;
    }

    // Posts the paste chord of the method, Control+V or Control+Shift+V
    // (exactly its keys, nothing else held). Every key pressed is released
    // again on every path. False when nothing was posted.
    virtual bool postPasteChord(PasteMethod method) = 0;

    // Whether a paste chord posted while the user still holds the shortcut's
    // modifiers runs that shortcut again instead of pasting (GNOME: one
    // modifier state for every keyboard). Where it does not, every press is
    // the user's, even one quick after another.
    virtual bool pressesEcho() const { return false; }

    // Posts Tab or Enter alone, nothing else held. False when nothing was posted.
    virtual bool postFollowKey(FollowKey key) = 0;

    // Types the text as keystrokes: every character, in any layout. False
    // when nothing could be typed.
    virtual bool typeText(const QString& text) = 0;
};

}  // namespace quillet
