#pragma once

#include <cstdint>
#include <functional>

namespace quillet {

// One system-wide shortcut, in the program's own vocabulary: macOS virtual
// key codes and NSEventModifierFlags bits. Main thread only.
class GlobalHotkey {
public:
    virtual ~GlobalHotkey() = default;

    // Called on the main thread once per physical press of the shortcut.
    virtual void setHandler(std::function<void()> onPress) = 0;

    // Releases any previous shortcut, then takes this one. False when the
    // shortcut could not be taken; nothing is held then.
    virtual bool registerHotkey(std::uint16_t keyCode, std::uint64_t modifierFlags) = 0;

    virtual void unregisterHotkey() = 0;
};

}  // namespace quillet
