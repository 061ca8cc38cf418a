#pragma once

#include "platform/global_hotkey.h"

#include <optional>
#include <set>
#include <utility>

namespace quillet {

// Holds at most one shortcut, like the real one; combinations in `taken`
// belong to another program and cannot be registered.
class FakeGlobalHotkey final : public GlobalHotkey {
public:
    using Combination = std::pair<std::uint16_t, std::uint64_t>;

    void setHandler(std::function<void()> onPress) override { onPress_ = std::move(onPress); }

    bool registerHotkey(std::uint16_t keyCode, std::uint64_t modifierFlags) override {
        held_.reset();
        ++registrations_;
        if (taken.contains({keyCode, modifierFlags})) {
            return false;
        }
        held_ = Combination{keyCode, modifierFlags};
        return true;
    }

    void unregisterHotkey() override { held_.reset(); }

    void press() const {
        if (held_ && onPress_) {
            onPress_();
        }
    }

    const std::optional<Combination>& held() const { return held_; }
    int registrations() const { return registrations_; }

    std::set<Combination> taken;

private:
    std::function<void()> onPress_;
    std::optional<Combination> held_;
    int registrations_ = 0;
};

}  // namespace quillet
