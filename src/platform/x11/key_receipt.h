#pragma once

// Whether an application has read the keys sent to it. A client turns a
// keycode into a character with the mapping it holds when it gets to the
// event, which may be long after the key was sent (a busy or stopped
// program): a keycode lent a keysym for typing may only get its old mapping
// back once the application has read every key typed with it.

#include "platform/x11/connection.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillet::x11 {

enum class Receipt {
    Came,        // the application has handled every key event sent before
    Late,        // no answer by the deadline: still busy, or stopped
    Impossible,  // no window to ask, or nothing there that answers
};

// Asks on a connection of its own, after the keys reached the server: the
// question then waits in the application's queue behind them. Applications
// that take _NET_WM_PING answer a ping; the others are sent an Expose of one
// pixel per window, and their redrawing it (which DAMAGE reports) answers.
class KeyReceipts {
public:
    KeyReceipts();
    KeyReceipts(const KeyReceipts&) = delete;
    KeyReceipts& operator=(const KeyReceipts&) = delete;

    // The window of the application with the keyboard focus (the one that
    // carries WM_PROTOCOLS, else the focus's top-level window); 0 for none.
    std::uint32_t focusedApplication();

    // Asks the application of that window and waits for its answer until the
    // deadline.
    Receipt ask(std::uint32_t window, std::chrono::steady_clock::time_point deadline);

private:
    // The window's WM_PROTOCOLS; none when it has no such property.
    std::optional<std::vector<std::uint32_t>> protocolsOf(std::uint32_t window);
    Receipt ping(std::uint32_t window, std::chrono::steady_clock::time_point deadline);
    Receipt redraw(std::uint32_t window, std::chrono::steady_clock::time_point deadline);
    // Waits for one event that `answers`; false at the deadline.
    template <typename Answers>
    bool waitForEvent(std::chrono::steady_clock::time_point deadline, Answers answers);

    XcbConnection connection_;
    std::uint32_t root_ = 0;
    std::uint32_t protocolsAtom_ = 0;
    std::uint32_t pingAtom_ = 0;
    int damageEvent_ = -1;  // DAMAGE's first event code; -1 without it
    std::uint32_t stamp_ = 0;
};

}  // namespace quillet::x11
