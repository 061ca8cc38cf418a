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

    // Called on the UI thread when the shortcut was pressed but never
    // reached the program, because another one held the whole keyboard (a
    // window manager that takes the Super key, say). Where the platform
    // cannot tell, it is never called.
    virtual void setBlockedHandler(std::function<void()> onBlocked) {
        static_cast<void>(onBlocked);
    }

    // False where the desktop lets no program take a system-wide shortcut:
    // its own shortcut settings run `quillet --paste-next` instead.
    virtual bool canGrab() const { return true; }
};

}  // namespace quillet
