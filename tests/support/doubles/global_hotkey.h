#pragma once

#include "platform/global_hotkey.h"

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace quillet {

// Holds a shortcut per action, none shared, like the real ones; shortcuts in
// `taken` belong to another program and cannot be grabbed.
class FakeGlobalHotkey final : public GlobalHotkey {
public:
    void setHandler(std::function<void(ShortcutAction)> onPress) override {
        onPress_ = std::move(onPress);
    }

    bool grab(ShortcutAction action, Shortcut shortcut) override {
        release(action);
        ++grabs_;
        const bool another = std::any_of(held_.begin(), held_.end(),
                                         [&](const auto& held) { return held == shortcut; });
        if (!grabbable || another ||
            std::find(taken.begin(), taken.end(), shortcut) != taken.end()) {
            return false;
        }
        held_[index(action)] = shortcut;
        return true;
    }

    void release(ShortcutAction action) override { held_[index(action)].reset(); }
    void releaseAll() override { held_ = {}; }
    bool canGrab() const override { return grabbable; }
    bool writesDesktopSettings() const override { return writesSettings; }

    // A press of the combination: whichever action holds it fires.
    void press(Shortcut shortcut) const {
        for (const ShortcutAction action : kShortcutActions) {
            if (held_[index(action)] == shortcut && onPress_) {
                onPress_(action);
            }
        }
    }
    void press() const {
        if (held()) {
            press(*held());
        }
    }

    const std::optional<Shortcut>& held(ShortcutAction action = ShortcutAction::PasteNext) const {
        return held_[index(action)];
    }
    int grabs() const { return grabs_; }

    std::vector<Shortcut> taken;
    bool grabbable = true;        // false: a desktop where the shortcut is the desktop's
    bool writesSettings = false;  // true: grabs write the desktop's settings (GNOME)

private:
    static std::size_t index(ShortcutAction action) { return static_cast<std::size_t>(action); }

    std::function<void(ShortcutAction)> onPress_;
    std::array<std::optional<Shortcut>, kShortcutActions.size()> held_;
    int grabs_ = 0;
};

}  // namespace quillet
