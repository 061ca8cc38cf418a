#pragma once

#include "core/keys.h"
#include "core/shortcut_action.h"

#include <functional>

namespace quillet {

// The system-wide shortcuts, one per action at most, in the program's own
// key vocabulary. UI thread only.
class GlobalHotkey {
public:
    GlobalHotkey() = default;
    virtual ~GlobalHotkey() = default;
    GlobalHotkey(const GlobalHotkey&) = delete;
    GlobalHotkey& operator=(const GlobalHotkey&) = delete;

    // Called on the UI thread once per physical press of a shortcut held,
    // with the action it was taken for.
    virtual void setHandler(std::function<void(ShortcutAction)> onPress) = 0;

    // Releases the action's previous shortcut, then takes this one; the other
    // actions keep theirs. False when it could not be taken, or another
    // action holds it: the action holds nothing then.
    virtual bool grab(ShortcutAction action, Shortcut shortcut) = 0;

    virtual void release(ShortcutAction action) = 0;
    virtual void releaseAll() = 0;

    // Called on the UI thread when a shortcut was pressed but never
    // reached the program, because another one held the whole keyboard (a
    // window manager that takes the Super key, say). Where the platform
    // cannot tell, it is never called.
    virtual void setBlockedHandler(std::function<void()> onBlocked) {
        static_cast<void>(onBlocked);
    }

    // False where the desktop lets no program take a system-wide shortcut:
    // its own shortcut settings run `quillet --paste-next` instead.
    virtual bool canGrab() const { return true; }

    // True where a grab writes into the desktop's own settings (GNOME's
    // keybindings): the user agrees to that first.
    virtual bool writesDesktopSettings() const { return false; }
};

}  // namespace quillet
