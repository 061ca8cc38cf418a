#pragma once

#include "core/keys.h"

#include <functional>

namespace quillet {

// One system-wide shortcut, in the program's own key vocabulary. UI thread only.
class GlobalHotkey {
public:
    virtual ~GlobalHotkey() = default;

    // Called on the UI thread once per physical press of the shortcut.
    virtual void setHandler(std::function<void()> onPress) = 0;

    // Releases any previous shortcut, then takes this one. False when it
    // could not be taken; nothing is held then.
    virtual bool grab(Shortcut shortcut) = 0;

    virtual void release() = 0;

    // False where the desktop lets no program take a system-wide shortcut:
    // its own shortcut settings run `quillet --paste-next` instead.
    virtual bool canGrab() const { return true; }
};

}  // namespace quillet
