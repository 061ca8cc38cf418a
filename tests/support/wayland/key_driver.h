#pragma once

#include "wait.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quillet::wlharness {

using harness::Clock;
using namespace std::chrono_literals;

// A virtual keyboard of the test's own, with the keymap of these XKB names,
// pressing keys like a user would.
class KeyDriver {
public:
    explicit KeyDriver(const std::string& layout = "us", const std::string& variant = {});
    ~KeyDriver();
    KeyDriver(const KeyDriver&) = delete;
    KeyDriver& operator=(const KeyDriver&) = delete;

    bool ready() const;
    // When the presses, and then the releases, went out to the compositor.
    struct Keystroke {
        Clock::time_point pressed;
        Clock::time_point released;
    };
    // Presses the keys (keysym names) in order, holds them, lets go in reverse.
    Keystroke chord(const std::vector<std::string>& keys, Clock::duration hold = 30ms);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillet::wlharness
